// The launcher's configuration: the keys of ".\launcher.ini" with their
// defaults, the two server bases fixed at build time, and the fixed remote
// suffixes and local working paths of every kind of procedure. The launcher
// never writes the configuration file. Everything here may be used from any
// thread; the readers read the file afresh on every call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The configuration file, relative to the current folder (the launcher's own).
inline constexpr const char* kLauncherConfigPath = ".\\launcher.ini";

// Text values are read into a buffer of this size: at most 259 characters.
inline constexpr size_t kConfigValueBufferSize = 260;

// The primary update server's root and the game code joined with "/".
std::string PrimaryServerBase();
// The backup update server's root followed by "/KVMETRA".
std::string BackupServerBase();
// The public key (64 hex digits) that signed server files must verify with;
// empty in a launcher built without one, which requests no signatures.
std::string_view SigningPublicKey();

// A text key and what its default is.
struct ConfigUrlKey {
  const char* section;
  const char* key;
  bool defaultsToBackupBase;  // false: the default is the empty text
};

inline constexpr ConfigUrlKey kLauncherUrlKey{"launcher", "launcherUrl", true};  // self-update, at Init
inline constexpr ConfigUrlKey kGameUrlKey{"game", "gameUrl", false};             // patch and repairs, at Init
inline constexpr ConfigUrlKey kInstallUrlKey{"install", "installUrl", true};     // game install
inline constexpr ConfigUrlKey kUpdateUrlKey{"update", "updateUrl", true};        // before StartGamePatch
inline constexpr ConfigUrlKey kRepaireUrlKey{"repaire", "repaireUrl", true};     // before StartGameRepair

// The key's value exactly as the private-profile read returns it (at most 259
// characters; no trimming, check or separator of our own), or its default
// when the read yields no characters: file or key missing, or value empty.
std::string ReadConfigUrl(const ConfigUrlKey& key, const std::string& configPath = kLauncherConfigPath);

// True when [debug] debug is 1: the self-update worker then skips its run.
// Any other value, or none (default 0), does not skip.
[[nodiscard]] bool IsSelfPatchSkipped(const std::string& configPath = kLauncherConfigPath);

// The downloaders' receive-speed limit in bytes per second, from
// [download] maxKiBps (KiB per second): 0, when the key is missing, 0 or
// negative, means no limit.
[[nodiscard]] uint64_t ReadDownloadSpeedLimit(const std::string& configPath = kLauncherConfigPath);

// The fixed remote suffixes and local working paths of one kind of procedure.
// All keep the system's "\" form.
struct ProcedurePaths {
  std::string_view firstDownloadSuffix;  // base + this: address of the first download
  std::string_view folderSuffix;         // base + this: prefix of the later remote names
  std::string_view firstDownloadCopy;    // local copy of the first download
  std::string_view listCopy;             // local copy of the downloaded version file list; empty: none
  std::string_view tempFolder;           // staging folder
  std::string_view targetFolder;         // folder brought up to date; empty: the package applier decides
};

inline constexpr ProcedurePaths kSelfPatchPaths{"\\LauncherVersion\\version", "\\LauncherVersion\\Launcher_",
                                                "temp_launcher\\version",     "temp_launcher\\GameInfo.ini",
                                                "temp_launcher\\launcher",    ".\\"};
// Both game repairs.
inline constexpr ProcedurePaths kGameRepairPaths{"\\GameVersion\\version", "\\GameVersion\\Game_",
                                                 "temp_game\\version",     "temp_game\\GameInfo.ini",
                                                 "temp_game\\game",        "..\\"};
// The page folders lie below the staging folder.
inline constexpr ProcedurePaths kGameInstallPaths{"\\InstallVersion\\version",  "\\InstallVersion\\InstallPage_",
                                                  "temp_game_install\\version", "",
                                                  "temp_game_install",          ""};
// The patch folders lie below the staging folder.
inline constexpr ProcedurePaths kGamePatchPaths{
    "\\AutoPatch\\AutoPatch.ini", "\\AutoPatch\\AutoPatch_", "temp_patch\\AutoPatch.ini", "", "temp_patch", "..\\"};

// One server base and the two addresses derived from it.
struct ServerAddresses {
  std::string base;
  std::string firstDownload;  // base + firstDownloadSuffix
  std::string folderPrefix;   // base + folderSuffix
};

// Plain concatenation: a base ending with "/" gives "/\..." (DownloadFile later
// turns that into "//"), an empty base gives the bare suffixes.
ServerAddresses MakeServerAddresses(const ProcedurePaths& paths, std::string base);

// The installed game's version file list and the launcher's own.
inline constexpr const char* kGameListPath = "..\\GameInfo.ini";
inline constexpr const char* kLauncherListPath = ".\\GameInfo.ini";
// The downloader's scratch folder.
inline constexpr const char* kDownloadScratchFolder = "temp_d";

// The launcher's own files in its folder: the installed launcher, the copy
// that runs, and the lock that one running launcher holds.
inline constexpr const char* kInstalledLauncherName = "TovaLauncher.exe";
inline constexpr const char* kRunningCopyName = "TovaLaunch.bin";
inline constexpr const char* kLauncherLockName = "TovaLauncher.lock";

// True when `name`, relative to the launcher folder ("\" or "/" separated),
// is or lies in something the launcher writes itself while it runs: the
// running copy, the launch log and its backup, the configuration, its own
// version file list, the lock, the applier's "TempUpdata" or a "temp_" folder.
// Letter case does not matter. Such a name in the launcher's list would be
// replaced on every run (and so relaunch every run) or would replace the
// launcher's state; the installed launcher itself is not one of them.
bool IsLauncherWorkingName(std::string_view name);
// The name of the deciphered version file list in the temporary folder.
inline constexpr const char* kDecipheredListName = "GameInfo.ini.UnCypt";

// The temporary folder + "\" + "GameInfo.ini.UnCypt" (the separator is added
// although the folder already ends with one). Empty when there is no usable
// temporary folder, rather than a name at the root of the file system.
std::string DecipheredListPath();
