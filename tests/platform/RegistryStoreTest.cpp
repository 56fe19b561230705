#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <latch>
#include <thread>
#include <vector>

#include "platform/RegistryStore.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestUser.h"

using testsupport::ReadFile;
using testsupport::SwapEnv;
using testsupport::TestUser;
using testsupport::WriteFile;

namespace {

constexpr const char* kKey = "SOFTWARE\\fernway\\meadow_jp";

std::string Text(const RegistryStore& store, const char* name) {
  std::string out = "<none>";
  store.ReadText(kKey, name, out);
  return out;
}

std::string Binary(const RegistryStore& store, const char* name) {
  std::string out = "<none>";
  store.ReadBinary(kKey, name, out);
  return out;
}

}  // namespace

TEST(RegistryStore, DefaultPathFollowsXdgConfigHomeElseHome) {
  struct Case {
    std::optional<std::string> xdg;
    std::string expected;
  } cases[] = {
      {"/cfg", "/cfg/TovaLauncher/registry.txt"},
      {std::nullopt, "/home/u/.config/TovaLauncher/registry.txt"},
      {"", "/home/u/.config/TovaLauncher/registry.txt"},
      {"relative/cfg", "/home/u/.config/TovaLauncher/registry.txt"},
  };
  auto savedHome = SwapEnv("HOME", "/home/u");
  for (const Case& c : cases) {
    auto savedXdg = SwapEnv("XDG_CONFIG_HOME", c.xdg);
    EXPECT_EQ(RegistryStore::DefaultPath(), c.expected) << c.xdg.value_or("<unset>");
    SwapEnv("XDG_CONFIG_HOME", savedXdg);
  }
  SwapEnv("HOME", savedHome);
}

TEST(RegistryStore, TextAndBinaryValuesAreKeptApart) {
  TestUser user;
  RegistryStore store = user.store();
  EXPECT_EQ(store.path(), (user.configDir() / "TovaLauncher" / "registry.txt").string());
  EXPECT_FALSE(store.Query(kKey, "text").has_value());

  ASSERT_TRUE(store.WriteText(kKey, "text", "abc"));
  ASSERT_TRUE(store.WriteBinary(kKey, "bin", "abc"));
  EXPECT_EQ(Text(store, "text"), "abc");
  EXPECT_EQ(Binary(store, "text"), "<none>");
  EXPECT_EQ(Binary(store, "bin"), "abc");
  EXPECT_EQ(Text(store, "bin"), "<none>");
  EXPECT_EQ(store.Query(kKey, "bin")->type, RegistryType::Binary);

  // Writing the other type replaces the value and its type.
  ASSERT_TRUE(store.WriteBinary(kKey, "text", "xyz"));
  EXPECT_EQ(Text(store, "text"), "<none>");
  EXPECT_EQ(Binary(store, "text"), "xyz");
}

TEST(RegistryStore, ValuesRoundTripEveryByte) {
  TestUser user;
  RegistryStore store = user.store();
  std::string allBytes;
  for (int i = 0; i < 256; ++i) allBytes += static_cast<char>(i);
  const std::string texts[] = {"",
                               "a \"quoted\" \\ path\\",
                               "line\nbreak\r\n",
                               "ctl\x01\x02\x7f",
                               "日本語 ÄÖ",
                               "[not a key]",
                               "\"name\"=\"value\""};
  for (const std::string& text : texts) {
    ASSERT_TRUE(store.WriteText(kKey, "t", text));
    EXPECT_EQ(Text(RegistryStore(store.path()), "t"), text);
  }
  for (const std::string& bytes : {std::string(), allBytes, std::string("\0\0", 2)}) {
    ASSERT_TRUE(store.WriteBinary(kKey, "b", bytes));
    EXPECT_EQ(Binary(RegistryStore(store.path()), "b"), bytes);
  }
  // Names need the same care as values.
  ASSERT_TRUE(store.WriteText("K\\with]bracket", "n\"a=m\\e", "v"));
  std::string out;
  EXPECT_TRUE(store.ReadText("K\\with]bracket", "n\"a=m\\e", out));
  EXPECT_EQ(out, "v");
}

TEST(RegistryStore, KeysAndNamesIgnoreLetterCase) {
  TestUser user;
  RegistryStore store = user.store();
  ASSERT_TRUE(store.WriteText(kKey, "GclidShort", "one"));
  ASSERT_TRUE(store.WriteText("software\\FERNWAY\\meadow_JP", "gclidshort", "two"));
  EXPECT_EQ(Text(store, "GCLIDSHORT"), "two");
  EXPECT_EQ(ReadFile(store.path()).find("one"), std::string::npos);
  std::string out;
  EXPECT_FALSE(store.ReadText("SOFTWARE\\fernway", "gclidshort", out));
}

TEST(RegistryStore, ReadsWhatAnotherProgramWroteAndKeepsItsLines) {
  TestUser user;
  RegistryStore store = user.store();
  const std::string original =
      "; written by the installer\r\n"
      "[SOFTWARE\\other]\r\n"
      "\"gclidshort\"=\"wrong key\"\r\n"
      "\r\n"
      "[SOFTWARE\\fernway\\meadow_jp]\r\n"
      "\"count\"=dword:00000001\r\n"
      "\"gclidshort\"=\"xyz\"\r\n"
      "\"raw\"=hex:5A, 41 ,52\r\n"
      "\"broken\"=hex:5Z\r\n"
      "\"open\"=\"no end\r\n";
  WriteFile(store.path(), original);
  EXPECT_EQ(Text(store, "gclidshort"), "xyz");
  EXPECT_EQ(Binary(store, "raw"), "ZAR");
  for (const char* unreadable : {"count", "broken", "open", "missing"})
    EXPECT_FALSE(store.Query(kKey, unreadable).has_value()) << unreadable;

  ASSERT_TRUE(store.WriteBinary(kKey, "deviceid_h1602965840", "ZA"));
  ASSERT_TRUE(store.WriteText("SOFTWARE\\new", "v", "1"));
  std::string rewritten = ReadFile(store.path());
  for (const char* kept : {"; written by the installer", "\"gclidshort\"=\"wrong key\"", "\"count\"=dword:00000001",
                           "\"broken\"=hex:5Z", "\"open\"=\"no end"})
    EXPECT_NE(rewritten.find(kept), std::string::npos) << kept;
  EXPECT_EQ(Text(store, "gclidshort"), "xyz");
  EXPECT_EQ(Binary(store, "deviceid_h1602965840"), "ZA");
  // The new value joins its key's section, before the next key.
  EXPECT_LT(rewritten.find("deviceid_h1602965840"), rewritten.find("[SOFTWARE\\new]"));
  EXPECT_GT(rewritten.find("deviceid_h1602965840"), rewritten.find("\"open\""));
}

TEST(RegistryStore, AValueWrittenByOneProcessIsReadByTheNext) {
  TestUser user;
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    RegistryStore store;
    _exit(store.WriteBinary(kKey, "deviceid_h1602965840", "ZARIRER\x02id") ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Binary(RegistryStore(), "deviceid_h1602965840"), "ZARIRER\x02id");
  // Only the store itself and its lock file are left; no temporary files.
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(user.configDir() / "TovaLauncher"))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"registry.txt", "registry.txt.lock"}));
}

TEST(RegistryStore, ConcurrentWritersLoseNoValue) {
  TestUser user;
  constexpr int kWriters = 8;
  constexpr int kRounds = 10;
  std::latch start(kWriters);
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      RegistryStore store;
      start.arrive_and_wait();
      // Built piece by piece: GCC 12 at -O3 warns (-Wrestrict) about "v" + text.
      const std::string name = std::string("v").append(std::to_string(w));
      for (int r = 0; r < kRounds; ++r) EXPECT_TRUE(store.WriteText(kKey, name.c_str(), std::to_string(r)));
    });
  }
  for (auto& writer : writers) writer.join();
  RegistryStore store;
  for (int w = 0; w < kWriters; ++w)
    EXPECT_EQ(Text(store, std::string("v").append(std::to_string(w)).c_str()), std::to_string(kRounds - 1));
}

TEST(RegistryStore, AFailedWriteReportsFalse) {
  TestUser user;
  WriteFile(user.dir() / "blocker", "a file where a folder should be");
  RegistryStore store((user.dir() / "blocker" / "registry.txt").string());
  EXPECT_FALSE(store.WriteText(kKey, "v", "1"));
  EXPECT_FALSE(RegistryStore("").WriteText(kKey, "v", "1"));
  RegistryStore good = user.store();
  EXPECT_FALSE(good.WriteText("SOFTWARE\\a\n[SOFTWARE\\b]", "v", "1"));
  EXPECT_FALSE(good.WriteText("", "v", "1"));
  EXPECT_FALSE(std::filesystem::exists(good.path()));
  EXPECT_FALSE(RegistryStore("").Query(kKey, "v").has_value());
}
