#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "patch/UnzipPackage.h"
#include "tests/patch/PatchMaterial.h"
#include "tests/support/ScopedMount.h"
#include "tests/support/TempDir.h"

using patchtest::MakeZip;
using patchtest::PatchBytes;
using patchtest::SampleBytes;
using testsupport::CurrentDirScope;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
namespace fs = std::filesystem;

namespace {

class UnzipPackageTest : public ::testing::Test {
 protected:
  UnzipPackageTest() : cwd_(dir_.path()) { fs::create_directories(dir_.path() / "src"); }

  // Zips `files` (name -> content) into "pkg.zip".
  void Zip(const std::map<std::string, std::string>& files) {
    std::vector<std::string> names;
    for (const auto& [name, content] : files) {
      WriteFile(dir_.path() / "src" / name, content);
      names.push_back(name);
    }
    MakeZip(dir_.path() / "pkg.zip", dir_.path() / "src", names);
  }

  TempDir dir_;
  CurrentDirScope cwd_;
};

TEST_F(UnzipPackageTest, ExtractsFilesFoldersAndEmptyFilesInPieces) {
  // Just over two 10 MiB pieces, so the piece loop runs three times.
  const std::string big = SampleBytes(2 * 0xA00000 + 3, 7);
  Zip({{"data/a.txt", "alpha"}, {"top.bin", big}, {"data/deep/empty.txt", ""}});

  std::vector<std::string> extracted;
  ASSERT_TRUE(UnzipPackage("pkg.zip", "out\\dest", &extracted));

  EXPECT_EQ(extracted, (std::vector<std::string>{"data/a.txt", "data/deep/empty.txt", "top.bin"}));
  EXPECT_EQ(ReadFile("out/dest/data/a.txt"), "alpha");
  EXPECT_EQ(ReadFile("out/dest/top.bin"), big);
  ASSERT_TRUE(fs::is_regular_file("out/dest/data/deep/empty.txt"));
  EXPECT_EQ(fs::file_size("out/dest/data/deep/empty.txt"), 0u);
  EXPECT_TRUE(fs::is_directory("out/dest/data"));
}

TEST_F(UnzipPackageTest, OverwritesExistingFilesButNotReadOnlyOnes) {
  Zip({{"a.txt", "new"}});
  WriteFile("dest/a.txt", "old content that is longer");
  ASSERT_TRUE(UnzipPackage("pkg.zip", "dest"));
  EXPECT_EQ(ReadFile("dest/a.txt"), "new");

  WriteFile("locked/a.txt", "kept");
  chmod("locked/a.txt", 0444);
  EXPECT_FALSE(UnzipPackage("pkg.zip", "locked"));
  EXPECT_EQ(ReadFile("locked/a.txt"), "kept");
}

TEST_F(UnzipPackageTest, EntriesWhoseNamesDifferInCaseKeepTheirOwnBytes) {
  Zip({{"Data/A.txt", "upper"}, {"data/a.txt", "lower"}, {"DATA/a.TXT", "mixed"}});
  ASSERT_TRUE(UnzipPackage("pkg.zip", "dest"));
  EXPECT_EQ(ReadFile("dest/Data/A.txt"), "upper");
  EXPECT_EQ(ReadFile("dest/data/a.txt"), "lower");
  EXPECT_EQ(ReadFile("dest/DATA/a.TXT"), "mixed");
}

// Entry names are code page 936 text, as in lists and descriptions; files get
// their UTF-8 names. The second byte of a character may be "\" and is no
// separator.
TEST_F(UnzipPackageTest, EntriesNamedInCodePage936GetTheirUtf8Names) {
  Zip({{"xxxxxx/xxxx.txt", "explained"}, {"yy.txt", "ride"}});
  PatchBytes(dir_.path() / "pkg.zip", "xxxxxx/xxxx.txt", "\xA5\xC7\xA9\x60\xA5\xBF/\xD5\x68\xC3\xF7.txt");
  PatchBytes(dir_.path() / "pkg.zip", "yy.txt", "\x81\x5C.txt");
  std::vector<std::string> extracted;
  ASSERT_TRUE(UnzipPackage("pkg.zip", "dest", &extracted));
  EXPECT_EQ(ReadFile(dir_.path() / "dest/\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF/\xE8\xAA\xAC\xE6\x98\x8E.txt"),
            "explained");                                              // データ/説明.txt
  EXPECT_EQ(ReadFile(dir_.path() / "dest/\xE4\xB9\x97.txt"), "ride");  // 乗.txt
  EXPECT_EQ(extracted.size(), 2u);
}

TEST_F(UnzipPackageTest, RefusesUnusableEntriesBeforeWritingAnything) {
  // `zip` will not store such names, so stored names of the same length are
  // rewritten in the archive.
  struct Case {
    const char* stored;
    const char* hostile;
  } cases[] = {
      {"xx/outside.txt", "../outside.txt"},
      {"a/yy/zz/outside.txt", "a/../../outside.txt"},
      {"xoutside.txt", "/outside.txt"},
      {"xx\\outside.txt", "..\\outside.txt"},
      {"cutx.txt", "cut\xD5.txt"},  // not code page 936 text
      // Not outside, but a second entry of one name cannot be opened as itself.
      {"b_safe.txt", "a_safe.txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.hostile);
    fs::remove_all(dir_.path() / "src");
    fs::remove(dir_.path() / "pkg.zip");
    fs::remove_all(dir_.path() / "dest");
    WriteFile(dir_.path() / "outside.txt", "untouched");
    Zip({{"a_safe.txt", "safe"}, {c.stored, "evil"}});
    PatchBytes(dir_.path() / "pkg.zip", c.stored, c.hostile);

    EXPECT_FALSE(UnzipPackage("pkg.zip", "dest"));

    EXPECT_EQ(ReadFile(dir_.path() / "outside.txt"), "untouched");
    EXPECT_FALSE(fs::exists(dir_.path() / "dest"));
  }
}

// Three entries of zeros, each declaring what it holds, in an archive of a
// few KiB: together they declare more than the small file system has free,
// so nothing is written (entry by entry, the first would fit).
TEST_F(UnzipPackageTest, AnArchiveDeclaringMoreThanTheFreeSpaceWritesNothing) {
  testsupport::ScopedMount small(dir_.path() / "small", 1024 * 1024);
  if (!small.ok()) GTEST_SKIP() << small.problem() << " (the test needs to mount file systems)";
  const std::string zeros(600 * 1024, '\0');
  Zip({{"a.txt", "alpha"}, {"zero0.bin", zeros}, {"zero1.bin", zeros}, {"zero2.bin", zeros}});
  ASSERT_LT(fs::file_size(dir_.path() / "pkg.zip"), 16u * 1024);

  std::vector<std::string> extracted;
  EXPECT_FALSE(UnzipPackage("pkg.zip", "small\\dest", &extracted));

  EXPECT_TRUE(extracted.empty());
  EXPECT_TRUE(fs::is_empty(dir_.path() / "small"));
}

TEST_F(UnzipPackageTest, FailsOnBadArgumentsArchivesAndEntries) {
  EXPECT_FALSE(UnzipPackage("", "dest"));
  EXPECT_FALSE(UnzipPackage("pkg.zip", ""));
  EXPECT_FALSE(UnzipPackage("missing.zip", "dest"));
  WriteFile("notzip.zip", "this is not an archive at all");
  EXPECT_FALSE(UnzipPackage("notzip.zip", "dest"));

  // A deflated entry whose first block has the reserved type cannot be read.
  Zip({{"a.txt", std::string(4096, 'a')}});
  std::string bytes = ReadFile("pkg.zip");
  ASSERT_EQ(bytes.compare(0, 4, "PK\3\4"), 0);
  ASSERT_EQ(bytes[8], 8) << "entry must be deflated";
  size_t nameLength = static_cast<uint8_t>(bytes[26]) | static_cast<uint8_t>(bytes[27]) << 8;
  size_t extraLength = static_cast<uint8_t>(bytes[28]) | static_cast<uint8_t>(bytes[29]) << 8;
  std::string unreadable = bytes;
  unreadable[30 + nameLength + extraLength] = static_cast<char>(0xFF);
  WriteFile("unreadable.zip", unreadable);
  EXPECT_FALSE(UnzipPackage("unreadable.zip", "dest"));

  // An entry in a compression method zziplib does not know cannot be opened.
  std::string unopenable = bytes;
  size_t central = unopenable.find(std::string("PK\1\2", 4));
  ASSERT_NE(central, std::string::npos);
  unopenable[central + 10] = 12;  // bzip2
  WriteFile("unopenable.zip", unopenable);
  EXPECT_FALSE(UnzipPackage("unopenable.zip", "dest"));
}

}  // namespace
