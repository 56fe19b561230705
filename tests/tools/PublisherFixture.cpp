#include "tests/tools/PublisherFixture.h"

#include "patch/QoPatchUser.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestBytes.h"
#include "tools/publisher/ServerLayout.h"

namespace fs = std::filesystem;
using testsupport::RandomBytes;

namespace publishtest {

namespace {

// Where a downloaded page or patch folder is kept until the applier takes
// it (and deletes it).
fs::path DownloadCopy(const fs::path& base, const std::string& relative, const fs::path& game) {
  fs::path copy = game / "launcher" / "download" / fs::path(relative).filename();
  fs::create_directories(copy.parent_path());
  fs::copy(base / relative, copy, fs::copy_options::recursive);
  return copy;
}

}  // namespace

std::vector<VersionInput> ThreeGameVersions() {
  std::string table;
  for (int i = 0; i < 3000; ++i) table += "row " + std::to_string(i) + ",value " + std::to_string(i * 7) + "\n";
  std::string changedTable = table;
  changedTable.replace(changedTable.find("row 1500,"), 9, "ROW 1500,");
  std::string large = RandomBytes(1536 * 1024, 7);
  std::string changedLarge = large;
  changedLarge.replace(700000, 6, "edited");

  VersionFiles v1 = {
      {"GameInfo.ini", "stale list of another tool\n"},
      {"readme.txt", "first\n"},
      {"data/table.csv", table},
      {"old/moved.dat", "moving\n"},
      {"empty.txt", ""},
      {"gone.txt", "deleted in 1.1\n"},
      {"foo", "a file whose name becomes a folder\n"},
      {"magic/lzma.bin", std::string("LZMA") + RandomBytes(40, 1)},
  };
  VersionFiles v2 = {
      {"readme.txt", "first\n"},
      {"data/table.csv", changedTable},
      {"new/moved.dat", "moving\n"},
      {"empty.txt", ""},
      {"foo/bar.txt", "now a folder\n"},
      {"magic/lzma.bin", std::string("LZMA") + RandomBytes(40, 2)},
      {"magic/qocp.bin", std::string("QOCP\0payload", 12)},
      {"magic/qoxd.bin", std::string("QOXD\0payload", 12)},
      {"magic/qors.bin", std::string("QORS\0payload", 12)},
      {"large.bin", large},
      {"case/Note.txt", "lower\n"},
      {"case/NOTE.txt", "upper\n"},
      {"zero.bin", ""},
  };
  VersionFiles v3 = v2;
  v3.erase("readme.txt");
  v3["empty.txt"] = "now filled\n";
  v3["new/moved.dat"] = "";
  v3["large.bin"] = changedLarge;
  return {{"1.0", v1}, {"1.1", v2}, {"1.2", v3}};
}

VersionInput LauncherVersion() {
  return {"2.0", {{"TovaLauncher.exe", "#!/bin/sh\nexit 0\n"}, {"skin/back.png", RandomBytes(3000, 3)}}};
}

void WriteVersion(const fs::path& folder, const VersionFiles& files) {
  fs::create_directories(folder);
  for (const auto& [name, bytes] : files) testsupport::WriteFile(folder / name, bytes);
}

std::vector<VersionSource> WriteVersions(const fs::path& root, const std::vector<VersionInput>& versions) {
  std::vector<VersionSource> sources;
  for (const VersionInput& input : versions) {
    WriteVersion(root / input.version, input.files);
    sources.push_back({input.version, (root / input.version).string()});
  }
  return sources;
}

PublishSettings SmallLimits(PublishSettings settings) {
  settings.maxPackageSize = 64 * 1024;
  settings.lzmaThreshold = 32 * 1024;
  settings.lzmaChunkSize = 512 * 1024;
  return settings;
}

CpUserResult InstallPages(const fs::path& base, const std::string& version, const fs::path& game) {
  fs::create_directories(game / "launcher");
  fs::path pages = DownloadCopy(base, InstallTreeLayout().Folder(version), game);
  testsupport::CurrentDirScope cwd(game / "launcher");
  QoPatchUser user(nullptr);
  user.SetInstallFile((pages / InstallDescriptionName(version)).string(), pages.string());
  return user.InstallGamePage();
}

CpUserResult ApplyPatch(const fs::path& base, const std::string& from, const std::string& to, const fs::path& game) {
  fs::create_directories(game / "launcher");
  fs::path patch = DownloadCopy(base, PatchFolder(from, to), game);
  testsupport::CurrentDirScope cwd(game / "launcher");
  QoPatchUser user(nullptr);
  user.SetGameFolder("..\\");
  user.SetPatchFile(PatchDescriptionName(from, to), patch.string());
  return user.UpdatePatchFile();
}

}  // namespace publishtest
