#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "patch/FileListMessages.h"
#include "patch/ProtectedFile.h"
#include "patch/QoVersionRepairInfo.h"
#include "platform/MessageWindow.h"
#include "tests/support/TempDir.h"

using testsupport::CurrentDirScope;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

struct Seen {
  MessageId id;
  WParam wParam;
  std::string text;  // lParam read as text during the call
};

// A window on the test thread that records what it receives; sends from the
// owner thread are delivered at once.
class RecordingWindow {
 public:
  RecordingWindow()
      : window_([this](const Message& m) {
          std::string text;
          if (m.id == UM_FILELIST_PARSE_PERCENT) text = reinterpret_cast<const char*>(m.lParam);
          seen_.push_back({m.id, m.wParam, text});
        }) {}
  MessageWindow* get() { return &window_; }
  const std::vector<Seen>& seen() const { return seen_; }

 private:
  std::vector<Seen> seen_;
  MessageWindow window_;
};

std::string Protected(const std::string& plain) {
  ProtectionKey key;
  BuildProtectionKey(key);
  return ProtectBuffer(key, plain);
}

const char kEmptyMd5[] = "D41D8CD98F00B204E9800998ECF8427E";

// Works in a fresh current folder with $TMPDIR pointing into it, so the
// deciphered copy can be watched.
class QoVersionRepairInfoTest : public testing::Test {
 protected:
  QoVersionRepairInfoTest() : cwd_(dir_.path()) {
    const char* old = std::getenv("TMPDIR");
    if (old != nullptr) oldTmpdir_ = old;
    hadTmpdir_ = old != nullptr;
    std::filesystem::create_directory(dir_.path() / "tmp");
    setenv("TMPDIR", (dir_.path() / "tmp").c_str(), 1);
  }
  ~QoVersionRepairInfoTest() override {
    if (hadTmpdir_)
      setenv("TMPDIR", oldTmpdir_.c_str(), 1);
    else
      unsetenv("TMPDIR");
  }

  std::filesystem::path TempFolder() const {
    return dir_.path() / "tmp" / ("tovalauncher-" + std::to_string(geteuid()));
  }
  // The fixed name the deciphered copy once had.
  std::filesystem::path TempCopy() const { return TempFolder() / "GameInfo.ini.UnCypt"; }
  // The deciphered copies in the temporary folder, by name.
  std::vector<std::string> TempCopies() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(TempFolder())) {
      const std::string name = entry.path().filename().string();
      if (name.starts_with("GameInfo.ini.UnCypt")) names.push_back(name);
    }
    return names;
  }

  TempDir dir_;
  CurrentDirScope cwd_;
  RecordingWindow window_;
  std::string oldTmpdir_;
  bool hadTmpdir_ = false;
};

TEST_F(QoVersionRepairInfoTest, ReadsProtectedAndPlainListsAlikeAndLeavesThemUnchanged) {
  const std::string plain = std::string("[Version]\nVersion=1.0.3\n[FileList]\nFileCount=2\n") + "File0=data/x.bin," +
                            kEmptyMd5 + ",00000000,0,1\n" +
                            "File1=client\\meadow_jp.exe,0CC175B9C0F1B6A831C399E269772661,"
                            "E8B7BE43,1,0\n";
  for (const std::string& stored : {plain, Protected(plain)}) {
    WriteFile("GameInfo.ini", stored);
    QoVersionRepairInfo info;
    ASSERT_TRUE(info.InputVerRepairFileList("GameInfo.ini"));
    EXPECT_EQ(info.version(), "1.0.3");
    ASSERT_EQ(info.files().size(), 2u);
    const VersionFileRecord& x = info.files()[0];
    EXPECT_EQ(x.fileName, "data/x.bin");
    EXPECT_EQ(x.md5, kEmptyMd5);
    EXPECT_EQ(x.crc, "00000000");
    EXPECT_EQ(x.size, 0);
    EXPECT_EQ(x.checkFlag, 1);
    EXPECT_EQ(info.files()[1].fileName, "client\\meadow_jp.exe");
    EXPECT_EQ(info.files()[1].size, 1);

    EXPECT_EQ(ReadFile("GameInfo.ini"), stored);
    EXPECT_TRUE(TempCopies().empty());
    EXPECT_EQ(std::filesystem::status(TempFolder()).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
  }
}

TEST_F(QoVersionRepairInfoTest, ProgressMessagesAndSkippedEntries) {
  WriteFile("GameInfo.ini",
            "[FileList]\nFileCount=4\n"
            "File0=a,M,C,1,0\n"
            "File1=b,M,C,2,0\n"
            "File2=c,M,C,3,0\n"
            "File3=d,M,C,4,0\n");
  QoVersionRepairInfo info(window_.get());
  ASSERT_TRUE(info.InputVerRepairFileList("GameInfo.ini"));
  std::vector<WParam> percents;
  std::vector<std::string> names;
  for (const Seen& s : window_.seen()) {
    if (s.id != UM_FILELIST_PARSE_PERCENT) continue;
    percents.push_back(s.wParam);
    names.push_back(s.text);
  }
  EXPECT_EQ(percents, (std::vector<WParam>{0, 25, 50, 75}));
  EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "c", "d"}));
  ASSERT_EQ(window_.seen().size(), 6u);
  EXPECT_EQ(window_.seen().front().id, UM_FILELIST_PARSE_BEGIN);
  EXPECT_EQ(window_.seen().back().id, UM_FILELIST_PARSE_END);
  EXPECT_EQ(info.version(), "");
}

TEST_F(QoVersionRepairInfoTest, EntryShapes) {
  struct Case {
    const char* list;  // [FileList] body
    std::vector<std::string> names;
    std::vector<WParam> percents;
  } cases[] = {
      // Empty pieces are dropped, leaving four: skipped.
      {"FileCount=4\nFile0=a,M,C,1,0\nFile3=a.dll,,00000000,0,0\n", {"a"}, {0}},
      {"FileCount=3\nFile0=only,M,C,1,0\n", {"only"}, {0}},
      {"FileCount=2\nFile0=six,M,C,1,0,extra\nFile1=x,M,C,1,0\n", {"x"}, {50}},
      {"FileCount=3\nFile2=last,M,C,1,0\n", {"last"}, {66}},
      // Keys are "File" and the index without padding; the first duplicate wins.
      {"FileCount=2\nFile01=pad,M,C,1,0\nFile1=one,M,C,1,0\nFile1=dup,M,C,1,0\n", {"one"}, {50}},
      {"FileCount=0\nFile0=a,M,C,1,0\n", {}, {}},
      {"FileCount=-3\nFile0=a,M,C,1,0\n", {}, {}},
      {"File0=a,M,C,1,0\n", {}, {}},
      // A huge count over a short list ends once no announced key is left.
      {"FileCount=2147483647\nFile1=far,M,C,1,0\n", {"far"}, {0}},
      // ... and visits only the keys present, however far apart.
      {"FileCount=2147483647\nFile2147483646=last,M,C,1,0\nFile2=two,M,C,1,0\n", {"two", "last"}, {0, 99}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.list);
    WriteFile("GameInfo.ini", std::string("[FileList]\n") + c.list);
    RecordingWindow window;
    QoVersionRepairInfo info(window.get());
    ASSERT_TRUE(info.InputVerRepairFileList("GameInfo.ini"));
    std::vector<std::string> names;
    for (const auto& record : info.files()) names.push_back(record.fileName);
    EXPECT_EQ(names, c.names);
    std::vector<WParam> percents;
    for (const Seen& s : window.seen())
      if (s.id == UM_FILELIST_PARSE_PERCENT) percents.push_back(s.wParam);
    EXPECT_EQ(percents, c.percents);
    EXPECT_EQ(window.seen().size(), c.percents.size() + 2);
  }
}

TEST_F(QoVersionRepairInfoTest, NumbersAndVersionFollowTheInputsLoosely) {
  WriteFile("GameInfo.ini",
            "[Version]\nVersion= 2.0 beta # build 7\n"
            "[FileList]\nFileCount=2x\nFile0=a,M,C,12abc,x\n"
            "broken line\nFile1=late,M,C,1,1\n");
  QoVersionRepairInfo info;
  ASSERT_TRUE(info.InputVerRepairFileList("GameInfo.ini"));
  EXPECT_EQ(info.version(), "2.0 beta");
  ASSERT_EQ(info.files().size(), 1u);
  EXPECT_EQ(info.files()[0].size, 12);
  EXPECT_EQ(info.files()[0].checkFlag, 0);
}

TEST_F(QoVersionRepairInfoTest, ASecondReadAppends) {
  WriteFile("GameInfo.ini", "[FileList]\nFileCount=1\nFile0=a,M,C,1,0\n");
  QoVersionRepairInfo info;
  ASSERT_TRUE(info.InputVerRepairFileList("GameInfo.ini"));
  ASSERT_TRUE(info.InputVerRepairFileList("GameInfo.ini"));
  EXPECT_EQ(info.files().size(), 2u);
}

TEST_F(QoVersionRepairInfoTest, RefusedListsChangeNothingAndSendNothing) {
  const std::string good = "[Version]\nVersion=1.0\n[FileList]\nFileCount=1\nFile0=a,M,C,1,0\n";
  std::string badCrc = Protected("[Version]\nVersion=9\n");
  badCrc[30] = static_cast<char>(badCrc[30] ^ 1);  // one digit of the CRC text
  struct Case {
    const char* name;
    std::string stored;  // "" = no file
    const char* logged;
  } cases[] = {
      {"missing", "", nullptr},
      {"bad CRC", badCrc, "memcmp Error"},
      {"parent name",
       "[Version]\nVersion=9\n[FileList]\nFileCount=2\nFile0=ok,M,C,1,0\n"
       "File1=..\\..\\evil.dll,M,C,1,0\n",
       "InputVerRepairFileList unsafe file name =..\\..\\evil.dll"},
      {"absolute name", "[FileList]\nFileCount=1\nFile0=/etc/passwd,M,C,1,0\n",
       "InputVerRepairFileList unsafe file name =/etc/passwd"},
      {"name that is not code page 936 text", "[FileList]\nFileCount=1\nFile0=cut\xD5,M,C,1,0\n",
       "InputVerRepairFileList unsafe file name =cut\xD5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile("good.ini", good);
    RecordingWindow window;
    QoVersionRepairInfo info(window.get());
    ASSERT_TRUE(info.InputVerRepairFileList("good.ini"));
    size_t seenBefore = window.seen().size();

    std::filesystem::remove("list.ini");
    std::filesystem::remove("Launch.log");
    if (!c.stored.empty()) WriteFile("list.ini", c.stored);
    EXPECT_FALSE(info.InputVerRepairFileList("list.ini"));
    EXPECT_EQ(info.version(), "1.0");
    EXPECT_EQ(info.files().size(), 1u);
    EXPECT_EQ(window.seen().size(), seenBefore);
    EXPECT_TRUE(TempCopies().empty());
    std::string log = ReadFile("Launch.log");
    if (c.logged == nullptr)
      EXPECT_EQ(log, "");
    else
      EXPECT_NE(log.find(c.logged), std::string::npos) << log;
  }
}

// Every read has a copy of its own: a read made while another one holds its
// copy (here from inside the first read's progress report) neither changes
// nor removes that copy, and both are gone afterwards.
TEST_F(QoVersionRepairInfoTest, TwoReadsAtOnceEachReadTheirOwnCopy) {
  WriteFile("first.ini", Protected("[Version]\nVersion=1.0\n[FileList]\nFileCount=1\nFile0=a,M,C,1,0\n"));
  WriteFile("second.ini", Protected("[Version]\nVersion=2.0\n[FileList]\nFileCount=0\n"));
  std::vector<std::string> held;
  std::string heldBytes;
  bool heldAfterSecond = false;
  QoVersionRepairInfo second;
  MessageWindow window([&](const Message& m) {
    if (m.id != UM_FILELIST_PARSE_BEGIN) return;
    held = TempCopies();
    if (held.size() != 1) return;
    heldBytes = ReadFile(TempFolder() / held[0]);
    EXPECT_TRUE(second.InputVerRepairFileList("second.ini"));
    heldAfterSecond = TempCopies() == held && ReadFile(TempFolder() / held[0]) == heldBytes;
  });
  QoVersionRepairInfo first(&window);
  ASSERT_TRUE(first.InputVerRepairFileList("first.ini"));

  ASSERT_EQ(held.size(), 1u);
  EXPECT_NE(heldBytes.find("Version=1.0"), std::string::npos);
  EXPECT_TRUE(heldAfterSecond);
  EXPECT_EQ(first.version(), "1.0");
  EXPECT_EQ(second.version(), "2.0");
  EXPECT_TRUE(TempCopies().empty());
}

// A copy whose removal failed stays only while its process runs: the next
// copy made deletes those of processes that have ended, and no other file.
TEST_F(QoVersionRepairInfoTest, CopiesOfEndedProcessesGoWhenTheNextCopyIsMade) {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  ASSERT_EQ(waitpid(child, nullptr, 0), child);
  const std::string ended = "GameInfo.ini.UnCypt." + std::to_string(child) + ".a1b2c3";
  const std::string running = "GameInfo.ini.UnCypt." + std::to_string(getpid()) + ".a1b2c3";
  const std::vector<std::string> kept = {running, "GameInfo.ini.UnCypt.a1b2c3", "GameInfo.ini.UnCypt.x.a1b2c3",
                                         "GameInfo.ini.UnCypt." + std::to_string(child) + ".a1b2"};
  // A first read makes the private temporary folder, as an earlier run did.
  WriteFile("GameInfo.ini", Protected("[Version]\nVersion=1.0\n[FileList]\nFileCount=0\n"));
  ASSERT_TRUE(QoVersionRepairInfo().InputVerRepairFileList("GameInfo.ini"));
  WriteFile(TempFolder() / ended, "left over");
  for (const std::string& name : kept) WriteFile(TempFolder() / name, "kept");

  QoVersionRepairInfo info;
  ASSERT_TRUE(info.InputVerRepairFileList("GameInfo.ini"));
  std::vector<std::string> left = TempCopies();
  std::sort(left.begin(), left.end());
  std::vector<std::string> expected = kept;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(left, expected);
}

TEST_F(QoVersionRepairInfoTest, AnEarlierCopyIsNeverReadForAMissingFile) {
  WriteFile(TempCopy(), "[Version]\nVersion=stale\n");
  QoVersionRepairInfo info;
  EXPECT_FALSE(info.InputVerRepairInfoFile("missing.ini"));
  EXPECT_FALSE(info.InputVerRepairFileList("missing.ini"));
  EXPECT_EQ(info.version(), "");
}

TEST_F(QoVersionRepairInfoTest, VersionOnlyRead) {
  const std::string plain = "[version]\nversion=2.5\n[FileList]\nFileCount=1\nFile0=a,M,C,1,0\n";
  for (const std::string& stored : {plain, Protected(plain)}) {
    WriteFile("GameInfo.ini", stored);
    QoVersionRepairInfo info(window_.get());
    ASSERT_TRUE(info.InputVerRepairInfoFile("..\\" + dir_.path().filename().string() + "\\GameInfo.ini"));
    EXPECT_EQ(info.version(), "2.5");  // private-profile names ignore case
    EXPECT_TRUE(info.files().empty());
    EXPECT_EQ(ReadFile("GameInfo.ini"), stored);
    EXPECT_TRUE(TempCopies().empty());
  }
  EXPECT_TRUE(window_.seen().empty());

  WriteFile("long.ini", "[Version]\nVersion=" + std::string(300, 'v') + "\n");
  QoVersionRepairInfo info;
  ASSERT_TRUE(info.InputVerRepairInfoFile("long.ini"));
  EXPECT_EQ(info.version(), std::string(259, 'v'));
}

}  // namespace
