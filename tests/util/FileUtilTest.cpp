// File and folder helpers on real files in a temporary current folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/SystemPath.h"
#include "tests/support/TempDir.h"
#include "util/FileUtil.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

class FileUtilTest : public ::testing::Test {
 protected:
  TempDir dir_;
  CurrentDirScope inDir_{dir_.path()};
};

mode_t ModeOf(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

void MakeReadOnly(const fs::path& path) { ASSERT_EQ(chmod(path.c_str(), 0444), 0); }

}  // namespace

TEST_F(FileUtilTest, GetFileLengthGivesSizeOrMinusOne) {
  WriteFile("empty", "");
  fs::create_directories("sub");
  WriteFile("sub/five", "12345");
  EXPECT_EQ(GetFileLength(""), -1);
  EXPECT_EQ(GetFileLength("missing"), -1);
  EXPECT_EQ(GetFileLength("sub"), -1);  // a folder cannot be opened as a file
  EXPECT_EQ(GetFileLength("empty"), 0);
  EXPECT_EQ(GetFileLength("sub\\five"), 5);
  EXPECT_EQ(GetFileLength(".\\sub/five"), 5);
}

TEST_F(FileUtilTest, GetFileLengthKeepsTheLow32BitsSigned) {
  // Sparse files: no disk space is used.
  WriteFile("big", "");
  WriteFile("huge", "");
  fs::resize_file("big", (uintmax_t{1} << 32) + 7);
  fs::resize_file("huge", uintmax_t{0xFFFFFFFE});
  EXPECT_EQ(GetFileLength("big"), 7);
  EXPECT_EQ(GetFileLength("huge"), -2);
}

TEST(FolderOfFileTest, CutsBeforeTheLastSeparatorOfEitherKind) {
  const struct {
    const char* path;
    const char* folder;
  } cases[] = {
      {"..\\GameInfo.ini", ".."},
      {".\\GameInfo.ini", "."},
      {"a\\b/c.txt", "a\\b"},
      {"a/b\\c.txt", "a/b"},
      {"GameInfo.ini", "."},
      {"\\x", "\\"},
      {"/x", "/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(FolderOfFile(c.path), c.folder);
  }
}

TEST_F(FileUtilTest, IsPathExistSeesFilesAndFolders) {
  WriteFile("f", "x");
  fs::create_directories("d/e");
  EXPECT_TRUE(IsPathExist("f"));
  EXPECT_TRUE(IsPathExist("d\\e"));
  EXPECT_TRUE(IsPathExist("d\\e\\"));
  EXPECT_FALSE(IsPathExist("d\\f"));
  EXPECT_FALSE(IsPathExist(""));
}

TEST_F(FileUtilTest, CreateDirectoryForPathCases) {
  struct Case {
    const char* path;
    bool namesFile;
    bool result;
    const char* made;     // folder that exists afterwards, or null
    const char* notMade;  // path that must not exist afterwards, or null
  };
  const Case cases[] = {
      {"a/b/c/", false, true, "a/b/c", nullptr},
      {"p/q/file.zip", true, true, "p/q", "p/q/file.zip"},
      {"x", false, false, nullptr, "x"},
      {"x", true, false, nullptr, "x"},
      {"m\\n", false, true, "m/n", nullptr},
      {"..\\up\\deep\\f.txt", true, true, "../up/deep", "../up/deep/f.txt"},
      {"GameInfo.ini", true, true, nullptr, "GameInfo.ini"},  // a file of the current folder
      {"a/b/c", false, true, "a/b/c", nullptr},               // already there
  };
  fs::create_directories("sub");
  CurrentDirScope inSub("sub");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(CreateDirectoryForPath(c.path, c.namesFile), c.result);
    if (c.made != nullptr) {
      EXPECT_TRUE(fs::is_directory(c.made));
    }
    if (c.notMade != nullptr) {
      EXPECT_FALSE(fs::exists(c.notMade));
    }
  }
}

TEST_F(FileUtilTest, CreateDirectoryTreeRules) {
  WriteFile("file", "x");
  EXPECT_TRUE(CreateDirectoryTree("file"));  // exists, even though not a folder
  EXPECT_TRUE(fs::is_regular_file("file"));
  EXPECT_TRUE(CreateDirectoryTree("t\\u\\v"));
  EXPECT_TRUE(fs::is_directory("t/u/v"));
  EXPECT_TRUE(CreateDirectoryTree(dir_.str() + "/abs/olute"));
  EXPECT_TRUE(fs::is_directory("abs/olute"));
  EXPECT_FALSE(CreateDirectoryTree("file\\below"));  // a file is in the way
  EXPECT_FALSE(CreateDirectoryTree(""));
}

TEST_F(FileUtilTest, DeleteDirectoryTreeRemovesEverythingBelow) {
  fs::create_directories("tree/a/b");
  fs::create_directories("tree/empty");
  WriteFile("tree/top", "1");
  WriteFile("tree/.hidden", "2");
  WriteFile("tree/a/b/deep", "3");
  EXPECT_TRUE(DeleteDirectoryTree("tree"));
  EXPECT_FALSE(fs::exists("tree"));
  EXPECT_FALSE(DeleteDirectoryTree("tree"));  // cannot be listed any more
  WriteFile("plain", "x");
  EXPECT_FALSE(DeleteDirectoryTree("plain"));
  EXPECT_TRUE(fs::exists("plain"));
}

TEST_F(FileUtilTest, DeleteDirectoryTreeNeverFollowsLinks) {
  fs::create_directories("outside/inner");
  WriteFile("outside/keep", "k");
  WriteFile("outside/inner/keep", "k");
  fs::create_directories("tree/sub");
  fs::create_directory_symlink(dir_.path() / "outside", "tree/sub/link");
  fs::create_symlink(dir_.path() / "outside/keep", "tree/filelink");
  fs::create_directory_symlink(dir_.path() / "outside", "toplink");

  EXPECT_TRUE(DeleteDirectoryTree("tree\\"));
  EXPECT_FALSE(fs::exists("tree"));
  // The link given as the folder is removed itself.
  EXPECT_TRUE(DeleteDirectoryTree("toplink"));
  EXPECT_FALSE(fs::is_symlink("toplink"));
  EXPECT_EQ(ReadFile("outside/keep"), "k");
  EXPECT_EQ(ReadFile("outside/inner/keep"), "k");
}

TEST_F(FileUtilTest, DeleteDirectoryTreeStopsAtAReadOnlyFile) {
  fs::create_directories("tree");
  WriteFile("tree/locked", "x");
  MakeReadOnly("tree/locked");
  EXPECT_FALSE(DeleteDirectoryTree("tree"));
  EXPECT_TRUE(fs::exists("tree/locked"));
}

TEST_F(FileUtilTest, DeleteFileRemovesOneFileOrLinkNeverAFolder) {
  fs::create_directories("sub");
  fs::create_directories("folder");
  for (const char* name : {"plain", "sub/plain", "locked", "lockedToo", "target"}) WriteFile(name, "x");
  MakeReadOnly("locked");
  MakeReadOnly("lockedToo");
  fs::create_symlink(dir_.path() / "target", "fileLink");
  fs::create_directory_symlink(dir_.path() / "folder", "folderLink");
  fs::create_symlink(dir_.path() / "nowhere", "dangling");

  const struct {
    const char* path;
    ReadOnlyFile readOnly;
    bool deleted;
    int error;  // errno after a failure
  } cases[] = {
      {"plain", ReadOnlyFile::kRefuse, true, 0},        {"sub\\plain", ReadOnlyFile::kRefuse, true, 0},
      {"locked", ReadOnlyFile::kRefuse, false, EACCES}, {"lockedToo", ReadOnlyFile::kDelete, true, 0},
      {"fileLink", ReadOnlyFile::kRefuse, true, 0},  // the link goes, "target" stays
      {"folderLink", ReadOnlyFile::kRefuse, true, 0},   {"dangling", ReadOnlyFile::kRefuse, true, 0},
      {"folder", ReadOnlyFile::kDelete, false, EISDIR}, {"missing", ReadOnlyFile::kDelete, false, ENOENT},
      {"", ReadOnlyFile::kDelete, false, ENOENT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    errno = 0;
    EXPECT_EQ(DeleteFile(c.path, c.readOnly), c.deleted);
    if (!c.deleted) {
      EXPECT_EQ(errno, c.error);
    }
    if (*c.path != '\0' && c.error != ENOENT) {
      EXPECT_EQ(fs::exists(fs::symlink_status(ToSystemPath(c.path))), !c.deleted);
    }
  }
  EXPECT_EQ(ReadFile("target"), "x");
  EXPECT_TRUE(fs::is_directory("folder"));
}

TEST_F(FileUtilTest, CopyFileOverwriteReplacesAReadOnlyTarget) {
  WriteFile("source", "new contents");
  ASSERT_EQ(chmod("source", 0751), 0);
  WriteFile("target", "old");
  MakeReadOnly("target");
  EXPECT_TRUE(CopyFileOverwrite("source", "target"));
  EXPECT_EQ(ReadFile("target"), "new contents");
  EXPECT_EQ(ModeOf("target"), 0751u);  // the source's permissions come along
  EXPECT_EQ(fs::last_write_time("target"), fs::last_write_time("source"));

  fs::create_directories("dir");
  EXPECT_TRUE(CopyFileOverwrite("source", "dir\\copy"));
  EXPECT_EQ(ReadFile("dir/copy"), "new contents");
}

TEST_F(FileUtilTest, CopyFileOverwriteFailuresLeaveTheTarget) {
  WriteFile("target", "old");
  fs::create_directories("folder");
  EXPECT_FALSE(CopyFileOverwrite("missing", "target"));
  EXPECT_FALSE(CopyFileOverwrite("folder", "target"));
  EXPECT_FALSE(CopyFileOverwrite("target", ".\\target"));  // same file: would empty it
  EXPECT_EQ(ReadFile("target"), "old");
  EXPECT_FALSE(CopyFileOverwrite("target", "folder"));
  EXPECT_TRUE(fs::is_directory("folder"));
  EXPECT_FALSE(CopyFileOverwrite("target", "nofolder\\x"));
}

TEST_F(FileUtilTest, ReadSmallFileReadsToTheEndWithinItsBound) {
  WriteFile("f", std::string(10000, 'x'));
  const struct {
    const char* path;
    uint64_t maxBytes;
    bool read;
  } cases[] = {
      {"f", 10000, true},
      {"f", 9999, false},
      {"missing", 10000, false},
      {".", 10000, false},
      // The kernel's own files report a size of 0 but hold more.
      {"/proc/self/cmdline", 1 << 20, true},
      {"/proc/self/cmdline", 1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " within " + std::to_string(c.maxBytes));
    std::string text = "unchanged";
    EXPECT_EQ(ReadSmallFile(c.path, c.maxBytes, text), c.read);
    if (c.read) {
      EXPECT_FALSE(text.empty());
    } else {
      EXPECT_EQ(text, "unchanged");
    }
  }
  std::string text;
  ASSERT_TRUE(ReadSmallFile("f", 10000, text));
  EXPECT_EQ(text, std::string(10000, 'x'));
}

TEST_F(FileUtilTest, RewriteFileReplacesExistingContents) {
  WriteFile("f", "a much longer old text");
  MakeReadOnly("f");
  EXPECT_TRUE(RewriteFile("f", "new", 3));
  EXPECT_EQ(ReadFile("f"), "new");
  EXPECT_NE(ModeOf("f") & S_IWUSR, 0u);
  EXPECT_TRUE(RewriteFile("f", nullptr, 0));
  EXPECT_EQ(ReadFile("f"), "");
}

TEST_F(FileUtilTest, RewriteFileNeedsAnExistingFile) {
  EXPECT_FALSE(RewriteFile("missing", "x", 1));
  EXPECT_FALSE(fs::exists("missing"));
  fs::create_directories("folder");
  EXPECT_FALSE(RewriteFile("folder", "x", 1));
  WriteFile("f", "keep");
  EXPECT_FALSE(RewriteFile("f", nullptr, 1));
  EXPECT_EQ(ReadFile("f"), "keep");
}

TEST_F(FileUtilTest, RewriteFileReportsAFullDisk) {
  // /dev/full accepts the open and fails every write.
  if (!fs::exists("/dev/full")) {
    GTEST_SKIP() << "no /dev/full";
  }
  const std::string data(1 << 16, 'x');
  EXPECT_FALSE(RewriteFile("/dev/full", data.data(), data.size()));
}
