// What the publisher writes, read back with the launcher's own readers:
// version files, lists (QoVersionRepairInfo) and descriptions (QoPatchInfo)
// in the protected and the plain form, and the analysis files inside the
// patch packages.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "patch/ProtectedFile.h"
#include "patch/QoPatchInfo.h"
#include "patch/QoVersionRepairInfo.h"
#include "patch/UnzipPackage.h"
#include "patch/checksum/QoChecksum.h"
#include "platform/PrivateProfile.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestBytes.h"
#include "tests/tools/PublisherFixture.h"
#include "tools/publisher/ServerLayout.h"
#include "tools/publisher/ServerTreePublisher.h"
#include "tools/publisher/TreeCompare.h"
#include "util/LzmaRecord.h"

namespace fs = std::filesystem;
using publishtest::VersionFiles;
using testsupport::CrcOf;
using testsupport::CurrentDirScope;
using testsupport::Md5Of;
using testsupport::ReadFile;
using testsupport::TempDir;

namespace {

const std::string kGuard("QOCP\0QORS\0", 10);

bool IsProtected(const fs::path& path) {
  std::string bytes = ReadFile(path);
  ProtectionKey key;
  BuildProtectionKey(key);
  return ReadProtectedHeader({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}, key, nullptr);
}

// A description read by QoPatchInfo from a copy (the reader unprotects in place).
std::unique_ptr<QoPatchInfo> ReadDescription(const fs::path& path, const fs::path& scratch, bool withFiles) {
  fs::path copy = scratch / ("copy-" + path.filename().string());
  fs::copy_file(path, copy, fs::copy_options::overwrite_existing);
  auto info = std::make_unique<QoPatchInfo>();
  int result = withFiles ? info->InputPatchInfoFile(copy.string()) : info->InputPackageList(copy.string());
  EXPECT_EQ(result, 0) << path;
  return info;
}

// The decoded lengths of the records of an LZMA chunk container; empty when
// `bytes` is not one.
std::vector<size_t> LzmaRecordLengths(const std::string& bytes) {
  std::vector<size_t> lengths;
  for (size_t at = 0; at < bytes.size();) {
    if (bytes.compare(at, 4, "LZMA") != 0 || bytes.size() - at < 17) return {};
    uint32_t recordLength = 0;
    std::memcpy(&recordLength, bytes.data() + at + 8, 4);
    const uint8_t* data = nullptr;
    size_t length = 0;
    if (recordLength > bytes.size() - at ||
        !UnLzmaBuffer(reinterpret_cast<const uint8_t*>(bytes.data()) + at, recordLength, &data, &length))
      return {};
    lengths.push_back(length);
    at += recordLength;
  }
  return lengths;
}

// One tree per form, published once for the suite.
class ServerTreeContentTest : public testing::TestWithParam<bool> {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    versions_ = new std::vector<publishtest::VersionInput>(publishtest::ThreeGameVersions());
    for (bool protect : {false, true}) {
      PublishSettings settings;
      settings.outputFolder = (dir_->path() / (protect ? "protected" : "plain")).string();
      settings.gameVersions = publishtest::WriteVersions(dir_->path() / "input", *versions_);
      settings.launcherVersions =
          publishtest::WriteVersions(dir_->path() / "launcher", {publishtest::LauncherVersion()});
      settings.protect = protect;
      std::string error;
      ASSERT_TRUE(PublishServerTree(publishtest::SmallLimits(settings), error)) << error;
      fs::remove_all(dir_->path() / "input");
      fs::remove_all(dir_->path() / "launcher");
    }
  }
  static void TearDownTestSuite() {
    delete versions_;
    delete dir_;
  }

  ServerTreeContentTest() : cwd_(scratch_.path()) {}

  fs::path Base() const { return dir_->path() / (GetParam() ? "protected" : "plain"); }
  static const VersionFiles& Files(size_t index) { return (*versions_)[index].files; }

  // Every file of the packages of a patch, extracted.
  fs::path Unzipped(const std::string& from, const std::string& to) {
    fs::path target = scratch_.path() / ("unzipped-" + from + "-" + to);
    auto info =
        ReadDescription(Base() / PatchFolder(from, to) / PatchDescriptionName(from, to), scratch_.path(), false);
    for (const PackageInfo& package : info->packages())
      EXPECT_TRUE(UnzipPackage((Base() / PatchFolder(from, to) / package.fileName).string(), target.string()));
    return target;
  }

  static TempDir* dir_;
  static std::vector<publishtest::VersionInput>* versions_;
  TempDir scratch_;
  CurrentDirScope cwd_;
};

TempDir* ServerTreeContentTest::dir_ = nullptr;
std::vector<publishtest::VersionInput>* ServerTreeContentTest::versions_ = nullptr;

TEST_P(ServerTreeContentTest, VersionFilesNameTheLastVersions) {
  EXPECT_EQ(ReadFile(Base() / GameTreeLayout().versionFile), "1.2\r\n");
  EXPECT_EQ(ReadFile(Base() / InstallTreeLayout().versionFile), "1.2\r\n");
  EXPECT_EQ(ReadFile(Base() / LauncherTreeLayout().versionFile), "2.0\r\n");
  EXPECT_EQ(ReadFile(Base() / PatchListPath()),
            "[PatchHistory]\r\nPatchNum=2\r\nVersionNow=1.2\r\n"
            "[Patch_0]\r\nVersionFrom=1.0\r\nVersionTo=1.1\r\n"
            "[Patch_1]\r\nVersionFrom=1.1\r\nVersionTo=1.2\r\n");
}

TEST_P(ServerTreeContentTest, ListsReadBackWithExactSizesAndChecksums) {
  std::vector<std::pair<std::string, VersionFiles>> trees = {
      {GameTreeLayout().Folder("1.0"), Files(0)},
      {GameTreeLayout().Folder("1.2"), Files(2)},
      {LauncherTreeLayout().Folder("2.0"), publishtest::LauncherVersion().files},
  };
  for (auto& [folder, files] : trees) {
    SCOPED_TRACE(folder);
    const fs::path list = Base() / folder / kVersionListName;
    EXPECT_EQ(IsProtected(list), GetParam());
    QoVersionRepairInfo info(nullptr);
    ASSERT_TRUE(info.InputVerRepairFileList(list.string()));
    EXPECT_EQ(info.version(), folder.substr(folder.rfind('_') + 1));

    files.erase(kVersionListName);  // the stale list of the input is not published
    ASSERT_EQ(info.files().size(), files.size());
    auto expected = files.begin();
    for (const VersionFileRecord& record : info.files()) {
      const auto& [name, bytes] = *expected++;
      EXPECT_EQ(record.fileName, name);
      EXPECT_EQ(record.size, static_cast<int32_t>(bytes.size())) << name;
      EXPECT_EQ(record.md5, Md5Of(bytes)) << name;
      EXPECT_EQ(record.crc, CrcOf(bytes)) << name;
      EXPECT_EQ(record.checkFlag, 1) << name;
      EXPECT_EQ(ReadFile(Base() / folder / name), bytes) << name;
    }
  }
}

TEST_P(ServerTreeContentTest, PatchDescriptionListsEveryChangeWithDeletionsFirstAndTheListLast) {
  const fs::path folder = Base() / PatchFolder("1.0", "1.1");
  const fs::path description = folder / PatchDescriptionName("1.0", "1.1");
  EXPECT_EQ(IsProtected(description), GetParam());
  auto info = ReadDescription(description, scratch_.path(), true);
  EXPECT_EQ(info->versionOld(), "1.0");
  EXPECT_EQ(info->versionNew(), "1.1");

  std::vector<PatchFileInfo> files;
  for (const PackageInfo& package : info->packages()) {
    SCOPED_TRACE(package.fileName);
    const std::string path = (folder / package.fileName).string();
    std::string md5;
    ASSERT_TRUE(GetMd5Checksum().MakeFileHex(path, md5));
    EXPECT_EQ(package.packageMd5, md5);
    EXPECT_EQ(package.extra, static_cast<int32_t>(fs::file_size(path)));
    EXPECT_EQ(package.fileCount, static_cast<int32_t>(package.files.size()));
    // Several entries share a package only within the limit.
    if (package.files.size() > 1) {
      EXPECT_LE(fs::file_size(path), 64u * 1024);
    }
    files.insert(files.end(), package.files.begin(), package.files.end());
  }

  const VersionFiles& old = Files(0);
  const VersionFiles& now = Files(1);
  struct Expected {
    std::string name;
    int32_t type;
  };
  const std::vector<Expected> expected = {
      {"foo", PATCH_FILE_DELETE},         {"gone.txt", PATCH_FILE_DELETE},    {"old/moved.dat", PATCH_FILE_DELETE},
      {"case/NOTE.txt", PATCH_FILE_NEW},  {"case/Note.txt", PATCH_FILE_NEW},  {"data/table.csv", PATCH_FILE_UPDATE},
      {"foo/bar.txt", PATCH_FILE_NEW},    {"large.bin", PATCH_FILE_NEW},      {"magic/lzma.bin", PATCH_FILE_UPDATE},
      {"magic/qocp.bin", PATCH_FILE_NEW}, {"magic/qors.bin", PATCH_FILE_NEW}, {"magic/qoxd.bin", PATCH_FILE_NEW},
      {"new/moved.dat", PATCH_FILE_NEW},  {"zero.bin", PATCH_FILE_NEW},       {kVersionListName, PATCH_FILE_UPDATE},
  };
  ASSERT_EQ(files.size(), expected.size());
  for (size_t i = 0; i < files.size(); ++i) {
    const PatchFileInfo& file = files[i];
    SCOPED_TRACE(file.fileName);
    EXPECT_EQ(file.fileName, expected[i].name);
    EXPECT_EQ(file.fileType, expected[i].type);
    EXPECT_EQ(file.extra, 0);
    if (file.fileName == kVersionListName) {
      EXPECT_EQ(file.m_md5Check, Md5Of(ReadFile(Base() / GameTreeLayout().Folder("1.1") / kVersionListName)));
      EXPECT_EQ(file.sourceMd5, Md5Of(ReadFile(Base() / GameTreeLayout().Folder("1.0") / kVersionListName)));
    } else if (file.fileType == PATCH_FILE_DELETE) {
      EXPECT_EQ(file.m_md5Check, "0");
      EXPECT_EQ(file.sourceMd5, Md5Of(old.at(file.fileName)));
    } else {
      EXPECT_EQ(file.m_md5Check, Md5Of(now.at(file.fileName)));
      EXPECT_EQ(file.sourceMd5, file.fileType == PATCH_FILE_NEW ? "0" : Md5Of(old.at(file.fileName)));
    }
  }
}

TEST_P(ServerTreeContentTest, InstallDescriptionIsPlainAndEndsWithTheList) {
  const fs::path folder = Base() / InstallTreeLayout().Folder("1.1");
  const fs::path description = folder / InstallDescriptionName("1.1");
  EXPECT_FALSE(IsProtected(description));
  auto info = ReadDescription(description, scratch_.path(), true);
  ASSERT_GE(info->packages().size(), 2u);
  // The install procedure reads the page list from the file as it is.
  EXPECT_EQ(GetPrivateProfileInt("Packages", "PackageNum", 0, description.string()),
            static_cast<int>(info->packages().size()));

  fs::path installed = scratch_.path() / "installed";
  size_t files = 0;
  for (const PackageInfo& package : info->packages()) {
    ASSERT_TRUE(UnzipPackage((folder / package.fileName).string(), installed.string()));
    files += package.files.size();
  }
  EXPECT_EQ(info->packages().back().files.back().fileName, kVersionListName);
  EXPECT_EQ(files, Files(1).size() + 1);
  EXPECT_EQ(CompareFolders((Base() / GameTreeLayout().Folder("1.1")).string(), installed.string()),
            std::vector<std::string>{});
}

TEST_P(ServerTreeContentTest, PackagesCarryDeltasGuardedWholeFilesAndLzmaChunks) {
  const fs::path first = Unzipped("1.0", "1.1");
  EXPECT_EQ(ReadFile(first / "data/table.csv").substr(0, 5), std::string("QOXD\0", 5));
  EXPECT_LT(fs::file_size(first / "data/table.csv"), 1000u);
  for (const char* name : {"magic/qocp.bin", "magic/qoxd.bin", "magic/qors.bin"})
    EXPECT_EQ(ReadFile(first / name), kGuard + Files(1).at(name)) << name;
  EXPECT_EQ(ReadFile(first / "case/Note.txt"), "lower\n");
  EXPECT_EQ(ReadFile(first / "case/NOTE.txt"), "upper\n");
  EXPECT_TRUE(fs::exists(first / "zero.bin"));
  EXPECT_EQ(fs::file_size(first / "zero.bin"), 0u);
  // 1.5 MiB of new random bytes: three chunks of at most 512 KiB.
  EXPECT_EQ(LzmaRecordLengths(ReadFile(first / "large.bin")),
            (std::vector<size_t>{512 * 1024, 512 * 1024, 512 * 1024}));

  // A small edit of the large file travels as a delta; a file emptied or
  // filled travels whole.
  const fs::path second = Unzipped("1.1", "1.2");
  EXPECT_EQ(ReadFile(second / "large.bin").substr(0, 5), std::string("QOXD\0", 5));
  EXPECT_LT(fs::file_size(second / "large.bin"), 1000u);
  EXPECT_EQ(ReadFile(second / "empty.txt"), "now filled\n");
  EXPECT_EQ(fs::file_size(second / "new/moved.dat"), 0u);
}

INSTANTIATE_TEST_SUITE_P(ProtectedAndPlain, ServerTreeContentTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "Protected" : "Plain"; });

TEST(ServerTreeDeterminismTest, SameInputsGiveTheSameBytes) {
  TempDir dir;
  CurrentDirScope cwd(dir.path());
  PublishSettings settings;
  settings.gameVersions = publishtest::WriteVersions(dir.path() / "input", publishtest::ThreeGameVersions());
  settings = publishtest::SmallLimits(settings);
  std::string error;
  settings.outputFolder = (dir.path() / "first").string();
  ASSERT_TRUE(PublishServerTree(settings, error)) << error;
  // Other times and permission bits of the inputs change nothing.
  fs::permissions(dir.path() / "input/1.1/data/table.csv", fs::perms::owner_read);
  fs::last_write_time(dir.path() / "input/1.0/readme.txt", fs::file_time_type::clock::now() - std::chrono::hours(50));
  settings.outputFolder = (dir.path() / "second").string();
  ASSERT_TRUE(PublishServerTree(settings, error)) << error;

  std::map<std::string, std::string> files;
  ASSERT_TRUE(ListFolderFiles((dir.path() / "first").string(), files));
  EXPECT_GT(files.size(), 40u);
  EXPECT_EQ(CompareFolders((dir.path() / "first").string(), (dir.path() / "second").string()),
            std::vector<std::string>{});
  EXPECT_EQ(fs::status(dir.path() / "second/GameVersion/Game_1.1/data/table.csv").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
}

// A name outside ASCII is written in code page 936 in lists, descriptions and
// zip entries; the server keeps the file under its UTF-8 name, and the
// launcher's readers give the UTF-8 name again.
TEST(ServerTreeNamesTest, NamesOutsideAsciiAreListedInCodePage936) {
  const std::string utf8 = "\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF/\xE8\xAA\xAC\xE6\x98\x8E.txt";  // データ/説明.txt
  const std::string cp936 = "\xA5\xC7\xA9\x60\xA5\xBF/\xD5\x68\xC3\xF7.txt";
  TempDir dir;
  CurrentDirScope cwd(dir.path());
  PublishSettings settings;
  settings.outputFolder = (dir.path() / "tree").string();
  settings.gameVersions = publishtest::WriteVersions(dir.path() / "input", {{"1.0", {{utf8, "explained\n"}}}});
  std::string error;
  ASSERT_TRUE(PublishServerTree(settings, error)) << error;

  const fs::path game = dir.path() / "tree" / GameTreeLayout().Folder("1.0");
  EXPECT_EQ(ReadFile(game / utf8), "explained\n");
  QoVersionRepairInfo list;
  ASSERT_TRUE(list.InputVerRepairFileList((game / kVersionListName).string()));
  ASSERT_EQ(list.files().size(), 1u);
  EXPECT_EQ(list.files()[0].fileName, utf8);
  EXPECT_EQ(list.files()[0].serverName, cp936);

  const fs::path pages = dir.path() / "tree" / InstallTreeLayout().Folder("1.0");
  const std::string description = ReadFile(pages / InstallDescriptionName("1.0"));
  EXPECT_NE(description.find(cp936), std::string::npos) << description;
  bool found = false;
  for (const auto& entry : fs::directory_iterator(pages)) {
    if (entry.path().extension() != ".zip") continue;
    const std::string page = ReadFile(entry.path());
    found = found || page.find(cp936) != std::string::npos;
    EXPECT_EQ(page.find(utf8), std::string::npos) << entry.path();
  }
  EXPECT_TRUE(found);
}

}  // namespace
