// The chain against servers that fail, and against game folders the user has
// changed: each case ends with its result, events and dialog answers, and a
// follow-up run against healthy servers leaves the game and the launcher
// folder exactly as published.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/FaultChainFixture.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using e2e::FaultChainTest;
using e2e::InOrder;
using e2e::Joined;
using testsupport::ReadFile;
using testsupport::WriteFile;

constexpr const char* kSelfUpdateFailed =
    "バージョンアップデートに失敗しました。しばらくしてからもう一度お試しください。";
constexpr const char* kInstallQuestion = "ゲームのインストールに失敗しました。他の方法でインストールしますか？";
constexpr const char* kPatchQuestion = "アップデートに失敗しました。 ゲームデータの復元を行いますか?";
constexpr const char* kRunningQuestion = "ゲームを起動中!\n終了しますか?";

// The events of a whole chain from an empty game folder: installation of the
// first version, both patches, the client.
const std::vector<std::string> kFreshChain = {"LE_UpdateSelfNoNeed", "LE_InstallWithMode", "LE_InstallSuccess",
                                              "LE_GameCheckUpdate",  "LE_StartGamePatch",  "LE_StartGamePatch",
                                              "LE_GamePatchNoNeed"};
// The events of both patches applied to an installed first version.
const std::vector<std::string> kPatchChain = {"LE_UpdateSelfNoNeed", "LE_GameCheckUpdate", "LE_StartGamePatch",
                                              "LE_StartGamePatch", "LE_GamePatchNoNeed"};

// The zip of page 0 cut short past its local headers, and its entry in the
// installation description following it: it downloads and verifies, but
// cannot be unpacked.
void DamagePageZip(const fs::path& server) {
  const fs::path pages = server / "InstallVersion" / "InstallPage_1.0";
  std::string bytes = ReadFile(pages / "page0.zip");
  bytes.resize(bytes.size() - 30);
  WriteFile(pages / "page0.zip", bytes);
  e2e::RewritePackageEntry(pages, "page0.zip", "intallinfo_1.0.ini");
}

// Serves server `server`'s launcher list as a plain list of `names`, files of
// its launcher version folder with their MD5 and size but the CRC text
// 00000000, which no file has: every run finds each of them changed.
void ServeLauncherListMatchingNoFile(const fs::path& server, const std::string& names) {
  const fs::path folder = server / "LauncherVersion" / "Launcher_1.0.0";
  ASSERT_EQ(
      testsupport::RunShell("cd '" + folder.string() + "' && set -- " + names +
                            " && { printf '[Version]\\r\\nVersion=1.0.0\\r\\n[FileList]\\r\\nFileCount=%d\\r\\n' $#; "
                            "i=0; for f; do printf 'File%d=%s,%s,00000000,%s,1\\r\\n' $i $f "
                            "$(md5sum $f | cut -c1-32 | tr a-f A-F) $(stat -c %s $f); i=$((i+1)); done; } "
                            "> GameInfo.ini"),
      0);
}

class ServerFaultTest : public FaultChainTest {
 protected:
  // One case: how the servers and the game folder are prepared (`name` is the
  // case's server, a copy of the pristine tree served by nginx at `base`),
  // what is answered, and how the first run ends.
  struct Case {
    const char* what;
    bool installed;  // the first version is installed; otherwise the game folder is empty
    std::function<void(const std::string& name, const std::string& base)> prepare;
    const char* answers;
    int status;
    // In this order among the run's events; the events sent without waiting
    // for the upload may overtake later ones, so they are only ever last.
    std::vector<std::string> events;
    std::vector<std::pair<std::string, std::string>> texts;  // such an event with that text came
    std::vector<std::string> shown;                          // texts the front-end showed
    std::vector<std::string> logged;                         // texts of the launch log
  };

  void RunCase(const Case& c, const std::string& name, const std::string& pristineBase) {
    SCOPED_TRACE(c.what);
    const std::string base = CopyOfPristine(name);
    ResetGameTree(name);
    ServePrimary("");
    if (c.installed) InstallGameVersion(name, kVersions.front());
    c.prepare(name, base);
    if (HasFatalFailure()) return;

    size_t mark = Events().size();
    EXPECT_EQ(Run({}, c.answers), c.status) << output << LaunchLog();
    const std::vector<std::string> names = EventNamesSince(mark);
    EXPECT_TRUE(InOrder(names, c.events)) << Joined(names);
    for (const auto& [event, text] : c.texts) {
      const std::vector<std::string> texts = EventTextsSince(mark, event);
      EXPECT_NE(std::find(texts.begin(), texts.end(), text), texts.end()) << event << " without " << text;
    }
    for (const std::string& text : c.shown) EXPECT_NE(output.find(text), std::string::npos) << text << "\n" << output;
    const std::string log = LaunchLog();
    for (const std::string& text : c.logged) EXPECT_NE(log.find(text), std::string::npos) << text << "\n" << log;
    const bool started = c.status == 0;
    EXPECT_EQ(EventTextsSince(mark, "LE_GameStartSuccess").size(), started ? 1u : 0u);
    if (started) {
      ExpectClientStarted();
      ExpectPublished(name, kLatest);
    }

    // Healthy servers: whatever the first run left, this one ends with the
    // published game and the client started.
    WaitForProcessesInGameTree();
    RemoveClientRecords();
    WriteBases({pristineBase, pristineBase, pristineBase, pristineBase});
    ServePrimary("");
    mark = Events().size();
    EXPECT_EQ(Run({}, "y\ny\n"), 0) << output;
    EXPECT_TRUE(InOrder(EventNamesSince(mark), {"LE_GamePatchNoNeed"})) << Joined(EventNamesSince(mark));
    ExpectClientStarted();
    ExpectPublished("pristine", kLatest);
    WaitForProcessesInGameTree();
  }
};

TEST_F(ServerFaultTest, EachFaultEndsAsItShouldAndAFollowUpRunLeavesThePublishedGame) {
  const std::string pristine = PublishPristine();
  const auto allBases = [this](const std::string& base) { WriteBases({base, base, base, base}); };
  const Case cases[] = {
      {"backup server down: everything comes from the primary",
       false,
       [&](const std::string& name, const std::string&) {
         allBases(ClosedBase());
         ServePrimary(name);
       },
       "",
       0,
       kFreshChain,
       {},
       {},
       {"start file download fail: 1 temp_launcher\\version"}},
      {"primary server down: everything comes from the backup",
       false,
       [&](const std::string&, const std::string& base) { allBases(base); },
       "",
       0,
       kFreshChain,
       {{"LE_InstallWithMode", "compression"}},
       {},
       {}},
      {"both servers down: the self-update fails",
       false,
       [&](const std::string&, const std::string&) { allBases(ClosedBase()); },
       "",
       1,
       {"LE_UpdateSelfStart", "LE_UpdateSelfFail"},
       {{"LE_UpdateSelfFail", "down version"}},
       {kSelfUpdateFailed},
       {"start file download fail: 1 temp_launcher\\version"}},
      {"a package corrupted in transit: MD5 retry, then the next address",
       true,
       [&](const std::string& name, const std::string& base) {
         // The backup's patch packages arrive damaged; it has nothing else,
         // so everything else comes from the primary.
         PartialMirror(name, name + "-packages", {".zip"});
         WriteBases({base, base, FaultBase("__corrupt", name + "-packages"), base});
         ServePrimary(name);
       },
       "",
       0,
       kPatchChain,
       {},
       {},
       {"DownFile Md5 Warning"}},
      {"a truncated page: the next address",
       false,
       [&](const std::string& name, const std::string& base) {
         PartialMirror(name, name + "-pages", {"page0.zip"});
         WriteBases({base, FaultBase("__short", name + "-pages"), base, base});
         ServePrimary(name);
       },
       "",
       0,
       kFreshChain,
       {},
       {},
       {"start file download fail: 5 temp_game_install\\InstallPage_1.0\\page0.zip"}},
      {"a backup server without Content-Length: every answer refused by its length, the primary",
       false,
       [&](const std::string& name, const std::string&) {
         allBases(FaultBase("__nolength", name));
         ServePrimary(name);
       },
       "",
       0,
       kFreshChain,
       {},
       {},
       {"file len not mate httpLen = -1,downedlen = 7"}},
      {"a page whose zip is corrupt: installation through the repair",
       false,
       [&](const std::string& name, const std::string& base) {
         DamagePageZip(ServerBase(name));
         allBases(base);
       },
       "y\n",
       0,
       {"LE_InstallWithMode", "LE_InstallByCPFail", "LE_RPInstallVersion", "LE_GameCheckUpdate", "LE_GamePatchNoNeed"},
       {{"LE_InstallByCPFail", "unzip pageinner"}, {"LE_StartRPInstall", ""}, {"LE_RPInstallSuccess", ""}},
       {kInstallQuestion},
       {}},
      {"a delta whose source was changed locally: patch failure, repair, patch",
       true,
       [&](const std::string& name, const std::string& base) {
         // The repair brings the middle version, so the last patch follows it.
         WriteFile(ServerBase(name) / "GameVersion" / "version", "1.1\r\n");
         std::string bytes = ReadFile(gameDir() / "data" / "big.bin");
         bytes[5000] = static_cast<char>(bytes[5000] ^ 0x5A);
         WriteFile(gameDir() / "data" / "big.bin", bytes);
         allBases(base);
       },
       "y\n",
       0,
       {"LE_StartGamePatch", "LE_GamePatchFail", "LE_GameRepaireVersion", "LE_GameCheckUpdate", "LE_StartGamePatch",
        "LE_GamePatchNoNeed"},
       {{"LE_GamePatchFail", "file update"}, {"LE_StartRepire", ""}, {"LE_GameRepaireSuccess", ""}},
       {kPatchQuestion},
       {}},
      {"a read-only game file: patch failure, repair",
       true,
       [&](const std::string&, const std::string& base) {
         chmod((gameDir() / "data" / "a.txt").c_str(), 0444);
         allBases(base);
       },
       "y\n",
       0,
       {"LE_StartGamePatch", "LE_GamePatchFail", "LE_GameRepaireVersion", "LE_GamePatchNoNeed"},
       {{"LE_GamePatchFail", "file update"}, {"LE_StartRepire", ""}, {"LE_GameRepaireSuccess", ""}},
       {kPatchQuestion},
       {}},
      {"a file where the patch needs a folder, a folder where it needs a file: patch failure, repair",
       true,
       [&](const std::string&, const std::string& base) {
         WriteFile(gameDir() / "data" / "new", "a file where a folder belongs");
         WriteFile(gameDir() / "data" / "movie.bin" / "inside.txt", "a folder where a file belongs");
         allBases(base);
       },
       "y\n",
       0,
       {"LE_StartGamePatch", "LE_GamePatchFail", "LE_GameRepaireVersion", "LE_GamePatchNoNeed"},
       {{"LE_StartRepire", ""}, {"LE_GameRepaireSuccess", ""}},
       {kPatchQuestion},
       {"removed ..\\data\\new, which stands in the way of data/new/added.txt",
        "removed ..\\data\\movie.bin, which stands in the way of data/movie.bin"}},
  };
  int index = 0;
  for (const Case& c : cases) RunCase(c, "case" + std::to_string(index++), pristine);
}

// Launcher lists that would make every run replace launcher files: the
// self-update relaunches at most once per start, and a list naming one of the
// launcher's working files is refused.
TEST_F(ServerFaultTest, LauncherListsThatWouldRelaunchEveryRun) {
  const std::string pristine = PublishPristine();
  const Case cases[] = {
      {"files that no list entry matches: one relaunch, then the game",
       true,
       [&](const std::string& name, const std::string& base) {
         ServeLauncherListMatchingNoFile(ServerBase(name), "TovaLauncher.exe launcher.dat");
         WriteBases({base, base, base, base});
       },
       "",
       0,
       {"LE_UpdateSelfStart", "LE_UpdateSelfSuccess", "LE_UpdateSelfStart", "LE_UpdateSelfSuccess",
        "LE_GameCheckUpdate", "LE_GamePatchNoNeed"},
       {},
       {},
       {"no second relaunch"}},
      {"a list naming the running copy: refused, the launcher update fails",
       true,
       [&](const std::string& name, const std::string& base) {
         WriteFile(ServerBase(name) / "LauncherVersion" / "Launcher_1.0.0" / "TovaLaunch.bin", "stray copy");
         ServeLauncherListMatchingNoFile(ServerBase(name), "TovaLauncher.exe launcher.dat TovaLaunch.bin");
         WriteBases({base, base, base, base});
       },
       "",
       1,
       {"LE_UpdateSelfStart", "LE_UpdateSelfFail"},
       {{"LE_UpdateSelfFail", "cmp gameinfo"}},
       {kSelfUpdateFailed},
       {"CompareFileLists refused file name =TovaLaunch.bin"}},
  };
  int index = 0;
  for (const Case& c : cases) RunCase(c, "relaunch" + std::to_string(index++), pristine);
}

// The backup floods the version files and the patch list (the file, then
// zeros, without a length): every attempt is cut off at the size such a file
// can have and leaves nothing on the disk, and the primary serves the run. A following run
// against the backup alone leaves the published game.
TEST_F(ServerFaultTest, AFloodedVersionFileIsCutOffAndLeavesNothingBehind) {
  const std::string base = PublishPristine();
  ResetGameTree("pristine");
  InstallGameVersion("pristine", kVersions.front());
  PartialMirror("pristine", "flood", {"version", "AutoPatch.ini"});
  const std::string flood = FaultBase("__flood", "flood");
  WriteBases({flood, flood, flood, flood});
  ServePrimary("pristine");

  size_t mark = Events().size();
  EXPECT_EQ(Run({}, ""), 0) << output << LaunchLog();
  EXPECT_TRUE(InOrder(EventNamesSince(mark), kPatchChain)) << Joined(EventNamesSince(mark));
  const std::string log = LaunchLog();
  EXPECT_NE(log.find("start file download fail: 1 temp_launcher\\version"), std::string::npos) << log;
  EXPECT_NE(log.find("start file download fail: 3 temp_patch\\AutoPatch.ini"), std::string::npos) << log;
  EXPECT_EQ(log.find("file len not mate"), std::string::npos) << log;
  EXPECT_TRUE(fs::is_empty(launcherDir() / "temp_d"));
  ExpectClientStarted();
  ExpectPublished("pristine", kLatest);
  WaitForProcessesInGameTree();

  RemoveClientRecords();
  InstallGameVersion("pristine", kVersions.front());
  WriteBases({base, base, base, base});
  ServePrimary("");
  mark = Events().size();
  EXPECT_EQ(Run({}, ""), 0) << output << LaunchLog();
  EXPECT_TRUE(InOrder(EventNamesSince(mark), kPatchChain)) << Joined(EventNamesSince(mark));
  ExpectClientStarted();
  ExpectPublished("pristine", kLatest);
  WaitForProcessesInGameTree();
}

// No server answers: before each retry of a download the status line says
// that the launcher waits for the server, with the attempt, and the speed
// that nothing arrives; the self-update then fails as without the texts.
TEST_F(ServerFaultTest, WhileNoServerAnswersTheStatusLineSaysThatTheLauncherWaitsAndRetries) {
  PublishPristine();
  ResetGameTree("pristine");
  const std::string closed = ClosedBase();
  WriteBases({closed, closed, closed, closed});
  ServePrimary("");

  EXPECT_EQ(Run({}, ""), 1) << output << LaunchLog();
  for (int attempt = 2; attempt <= 6; ++attempt) {
    const std::string waiting = "サーバーの応答を待っています（再試行 " + std::to_string(attempt) + "/6）";
    EXPECT_NE(output.find(waiting), std::string::npos) << waiting << "\n" << output;
  }
  EXPECT_NE(output.find("DL速度: 0B/s"), std::string::npos) << output;
  EXPECT_NE(output.find(kSelfUpdateFailed), std::string::npos) << output;
}

// The launcher's private temporary folder was made first by someone else
// (anyone can, in a shared temporary folder): each run makes a fresh private
// folder of its own, says so in the log, and ends with the published game.
TEST_F(ServerFaultTest, ATemporaryFolderTakenByAnotherUserIsReplacedByAFreshOne) {
  const std::string base = PublishPristine();
  ResetGameTree("pristine");
  InstallGameVersion("pristine", kVersions.front());
  WriteBases({base, base, base, base});
  const fs::path taken = root() / "tmp" / ("tovalauncher-" + std::to_string(geteuid()));
  fs::create_directories(taken);
  fs::permissions(taken, fs::perms::all);
  if (geteuid() == 0) {
    ASSERT_EQ(chown(taken.c_str(), 65534, 65534), 0);
  }

  for (const std::vector<std::string>& events : {kPatchChain, std::vector<std::string>{"LE_GamePatchNoNeed"}}) {
    RemoveClientRecords();
    const size_t mark = Events().size();
    EXPECT_EQ(Run({}, ""), 0) << output << LaunchLog();
    EXPECT_TRUE(InOrder(EventNamesSince(mark), events)) << Joined(EventNamesSince(mark));
    EXPECT_NE(LaunchLog().find("temporary folder " + taken.string() + " cannot be used ("), std::string::npos)
        << LaunchLog();
    ExpectClientStarted();
    ExpectPublished("pristine", kLatest);
    WaitForProcessesInGameTree();
  }
}

TEST_F(ServerFaultTest, ClientRunningDuringAPatchAnsweredNoThenYes) {
  const std::string base = PublishPristine();
  ResetGameTree("pristine");
  InstallGameVersion("pristine", kVersions.front());
  WriteBases({base, base, base, base});
  e2e::FakeClient client(gameDir() / "client");

  size_t mark = Events().size();
  EXPECT_EQ(Run({}, "n\n"), 1) << output;
  EXPECT_NE(output.find(kRunningQuestion), std::string::npos) << output;
  EXPECT_TRUE(InOrder(EventNamesSince(mark), {"LE_GameCheckUpdate", "LE_GamePatchFail"}))
      << Joined(EventNamesSince(mark));
  EXPECT_EQ(EventTextsSince(mark, "LE_GamePatchFail"), std::vector<std::string>{"game running"});
  EXPECT_TRUE(client.Running());
  ExpectPublished("pristine", kVersions.front());

  mark = Events().size();
  EXPECT_EQ(Run({}, "y\n"), 0) << output;
  EXPECT_NE(output.find(kRunningQuestion), std::string::npos) << output;
  EXPECT_FALSE(client.Running());
  EXPECT_TRUE(InOrder(EventNamesSince(mark), kPatchChain)) << Joined(EventNamesSince(mark));
  ExpectClientStarted();
  ExpectPublished("pristine", kLatest);
  WaitForProcessesInGameTree();
}

}  // namespace
