#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "patch/ProtectedFile.h"
#include "patch/QoPatchInfo.h"
#include "tests/support/TempDir.h"

using testsupport::CurrentDirScope;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

std::string Protected(const std::string& plain) {
  ProtectionKey key;
  BuildProtectionKey(key);
  return ProtectBuffer(key, plain);
}

const char kDescription[] =
    "[PatchVersion]\n"
    "VersionOld=1.0.2\n"
    "VersionNew=1.0.3\n"
    "[Packages]\n"
    "PackageNum=2\n"
    "Package0=p1.zip,3,1024,0CC175B9C0F1B6A831C399E269772661\n"
    "Package1=\n"
    "Package2=p3.zip,1,5,X\n"
    "[Package0]\n"
    "File0=bin/a.dll,2,,X,Y\n"
    "File1=data\\new.bin,1,0,92EB5FFEE6AE2FEC3AD71C777531578F,0\n"
    "File2=old.txt,3,0,0,0\n"
    "File3=not_counted.txt,1,0,0,0\n";

class QoPatchInfoTest : public testing::Test {
 protected:
  QoPatchInfoTest() : cwd_(dir_.path()) {}
  TempDir dir_;
  CurrentDirScope cwd_;  // the launch log is written here
};

TEST_F(QoPatchInfoTest, ReadsVersionsPackagesAndFiles) {
  WriteFile("patchinfo_1.0.2_1.0.3.ini", kDescription);
  QoPatchInfo info;
  ASSERT_EQ(info.InputPatchInfoFile("patchinfo_1.0.2_1.0.3.ini"), 0);
  EXPECT_EQ(info.versionOld(), "1.0.2");
  EXPECT_EQ(info.versionNew(), "1.0.3");
  ASSERT_EQ(info.packages().size(), 2u);  // Package2 lies beyond PackageNum

  const PackageInfo& p1 = info.packages()[0];
  EXPECT_EQ(p1.fileName, "p1.zip");
  EXPECT_EQ(p1.fileCount, 3);
  EXPECT_EQ(p1.extra, 1024);
  EXPECT_EQ(p1.packageMd5, "0CC175B9C0F1B6A831C399E269772661");
  ASSERT_EQ(p1.files.size(), 3u);

  // The empty third field collapses: later fields move one place left.
  const PatchFileInfo& shifted = p1.files[0];
  EXPECT_EQ(shifted.fileName, "bin/a.dll");
  EXPECT_EQ(shifted.fileType, PATCH_FILE_UPDATE);
  EXPECT_EQ(shifted.extra, 0);  // from "X"
  EXPECT_EQ(shifted.m_md5Check, "Y");
  EXPECT_EQ(shifted.sourceMd5, "");

  EXPECT_EQ(p1.files[1].fileName, "data\\new.bin");
  EXPECT_EQ(p1.files[1].fileType, PATCH_FILE_NEW);
  EXPECT_EQ(p1.files[1].m_md5Check, "92EB5FFEE6AE2FEC3AD71C777531578F");
  EXPECT_EQ(p1.files[1].sourceMd5, "0");
  EXPECT_EQ(p1.files[2].fileType, PATCH_FILE_DELETE);

  const PackageInfo& empty = info.packages()[1];
  EXPECT_EQ(empty.fileName, "");
  EXPECT_EQ(empty.fileCount, 0);
  EXPECT_EQ(empty.packageMd5, "");
  EXPECT_TRUE(empty.files.empty());
}

TEST_F(QoPatchInfoTest, ProtectedDescriptionsBecomePlainAndReadTwice) {
  WriteFile("desc.ini", Protected(kDescription));
  for (int round = 0; round < 2; ++round) {
    QoPatchInfo info;
    ASSERT_EQ(info.InputPatchInfoFile("desc.ini"), 0) << round;
    EXPECT_EQ(info.versionNew(), "1.0.3");
    ASSERT_EQ(info.packages().size(), 2u);
    EXPECT_EQ(info.packages()[0].files.size(), 3u);
    EXPECT_EQ(ReadFile("desc.ini"), kDescription);
  }
}

TEST_F(QoPatchInfoTest, PackageListLeavesFilesEmpty) {
  WriteFile("sub/intallinfo_1.0.3.ini", Protected(kDescription));
  QoPatchInfo info;
  ASSERT_EQ(info.InputPackageList("sub\\intallinfo_1.0.3.ini"), 0);
  EXPECT_EQ(info.versionOld(), "1.0.2");
  ASSERT_EQ(info.packages().size(), 2u);
  EXPECT_EQ(info.packages()[0].fileCount, 3);
  EXPECT_TRUE(info.packages()[0].files.empty());
  EXPECT_EQ(ReadFile("sub/intallinfo_1.0.3.ini"), kDescription);
}

TEST_F(QoPatchInfoTest, FieldShapes) {
  struct Case {
    const char* value;
    std::string fileName;
    int fileCount;
    int extra;
    std::string md5;
  } cases[] = {
      {",,p.zip,,2,,7,M,extra", "p.zip", 2, 7, "M"},
      {"p.zip", "p.zip", 0, 0, ""},
      // The value is trimmed as a whole, its tokens are not; atoi skips blanks.
      {" p.zip , 4 ,x", "p.zip ", 4, 0, ""},
      {"p.zip,3abc,-5,M", "p.zip", 3, -5, "M"},
      {",,,", "", 0, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    WriteFile("d.ini", std::string("[Packages]\nPackageNum=1\nPackage0=") + c.value + "\n");
    QoPatchInfo info;
    ASSERT_EQ(info.InputPatchInfoFile("d.ini"), 0);
    ASSERT_EQ(info.packages().size(), 1u);
    const PackageInfo& p = info.packages()[0];
    EXPECT_EQ(p.fileName, c.fileName);
    EXPECT_EQ(p.fileCount, c.fileCount);
    EXPECT_EQ(p.extra, c.extra);
    EXPECT_EQ(p.packageMd5, c.md5);
  }
}

TEST_F(QoPatchInfoTest, ValuesAreCutAt519Characters) {
  std::string longName(600, 'n');
  WriteFile("d.ini", "[PatchVersion]\nVersionOld=" + longName + "\n[Packages]\nPackageNum=1\n" +
                         "Package0=" + longName + ",1\n[Package0]\nFile0=" + std::string(515, 'f') + ",1,2,MD5\n");
  QoPatchInfo info;
  ASSERT_EQ(info.InputPatchInfoFile("d.ini"), 0);
  EXPECT_EQ(info.versionOld(), std::string(519, 'n'));
  ASSERT_EQ(info.packages().size(), 1u);
  // The cut falls inside the name, so no further fields remain.
  EXPECT_EQ(info.packages()[0].fileName, std::string(519, 'n'));
  EXPECT_EQ(info.packages()[0].fileCount, 0);

  WriteFile("e.ini",
            "[Packages]\nPackageNum=1\nPackage0=p,1\n[Package0]\nFile0=" + std::string(515, 'f') + ",1,2,MD5\n");
  QoPatchInfo cut;
  ASSERT_EQ(cut.InputPatchInfoFile("e.ini"), 0);
  const PatchFileInfo& file = cut.packages()[0].files.at(0);
  EXPECT_EQ(file.fileType, 1);
  EXPECT_EQ(file.extra, 2);
  EXPECT_EQ(file.m_md5Check, "");  // the cut leaves ",1,2" after the name
}

TEST_F(QoPatchInfoTest, FileCountsReadOnlyTheKeysPresent) {
  // A huge announced count over a few keys (found by fuzzing: it used to read
  // the file once per announced entry). Key names match without regard to
  // case; only indices written without padding and below the count are keys.
  WriteFile("d.ini",
            "[packages]\nPACKAGENUM=2\npackage1=b.zip,0,1,M\nPACKAGE0=a.zip,2147483647,1,M\n"
            "[Package0]\nFile7=seven.txt,1,0,M,S\nfile0=zero.txt,2,0,M,S\nFile07=padded.txt,1,0,M,S\n"
            "File2147483647=beyond.txt,1,0,M,S\nFILE0=second.txt,1,0,M,S\n");
  QoPatchInfo info;
  ASSERT_EQ(info.InputPatchInfoFile("d.ini"), 0);
  ASSERT_EQ(info.packages().size(), 2u);
  EXPECT_EQ(info.packages()[0].fileName, "a.zip");
  EXPECT_EQ(info.packages()[1].fileName, "b.zip");
  EXPECT_EQ(info.packages()[0].fileCount, 2147483647);
  ASSERT_EQ(info.packages()[0].files.size(), 2u);
  EXPECT_EQ(info.packages()[0].files[0].fileName, "zero.txt");
  EXPECT_EQ(info.packages()[0].files[0].fileType, PATCH_FILE_UPDATE);
  EXPECT_EQ(info.packages()[0].files[1].fileName, "seven.txt");
}

TEST_F(QoPatchInfoTest, FailuresReadNothing) {
  std::string badCrc = Protected(kDescription);
  badCrc[24] = static_cast<char>(badCrc[24] ^ 0x20);
  struct Case {
    const char* name;
    std::string path;
    std::string stored;  // written to `path` unless empty
    const char* logged;
  } cases[] = {
      {"empty path", "", "", nullptr},
      {"missing file", "missing.ini", "", nullptr},
      {"bad CRC", "bad.ini", badCrc, "memcmp Error"},
      {"parent package name", "up.ini", "[Packages]\nPackageNum=1\nPackage0=../p.zip,0,1,M\n",
       "InputPatchInfoFile unsafe file name =../p.zip"},
      {"absolute file name", "abs.ini",
       "[Packages]\nPackageNum=1\nPackage0=p.zip,1,1,M\n[Package0]\nFile0=\\x.dll,1,0,M,M\n",
       "InputPatchInfoFile unsafe file name =\\x.dll"},
      {"file name that is not code page 936 text", "cut.ini",
       "[Packages]\nPackageNum=1\nPackage0=p.zip,1,1,M\n[Package0]\nFile0=cut\xD5,1,0,M,M\n",
       "InputPatchInfoFile unsafe file name =cut\xD5"},
      // An announced package that is not listed has nothing to fetch or apply.
      {"package beyond the list", "many.ini", "[Packages]\nPackageNum=2147483647\nPackage0=p.zip,0,1,M\n",
       "InputPatchInfoFile Package1 missing, PackageNum=2147483647"},
      {"package missing inside the list", "hole.ini",
       "[Packages]\nPackageNum=3\nPackage0=a.zip,0,1,M\nPackage2=c.zip,0,1,M\n",
       "InputPatchInfoFile Package1 missing, PackageNum=3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove("Launch.log");
    if (!c.stored.empty()) WriteFile(c.path, c.stored);
    QoPatchInfo info;
    WriteFile("good.ini", kDescription);
    ASSERT_EQ(info.InputPackageList("good.ini"), 0);
    EXPECT_EQ(info.InputPatchInfoFile(c.path), -1);
    EXPECT_EQ(info.versionOld(), "1.0.2");
    EXPECT_EQ(info.packages().size(), 2u);
    std::string log = ReadFile("Launch.log");
    if (c.logged == nullptr)
      EXPECT_EQ(log, "");
    else
      EXPECT_NE(log.find(c.logged), std::string::npos) << log;
  }
}

}  // namespace
