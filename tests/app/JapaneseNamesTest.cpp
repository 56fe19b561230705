// Game files named in kana and kanji, published by the publisher tool (lists,
// descriptions and zip entries in code page 936, files served under their
// UTF-8 names): installed from pages, patched with whole files and a delta,
// and repaired, each file ending under its UTF-8 name.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/app/LauncherProgramFixture.h"
#include "tests/support/TempDir.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::WriteFile;

// The usual game files under Japanese names; each keeps the bytes of the file
// it stands for (the large one gives LZMA chunks and a delta).
const std::map<std::string, std::string> kJapaneseNames = {
    {"data/a.txt", "データ/説明.txt"},
    {"data/big.bin", "データ/大きいファイル.bin"},
    {"data/new/added.txt", "新規/追加されたファイル.txt"},
    {"readme.txt", "はじめにお読みください.txt"},
};

class JapaneseNamesTest : public LauncherProgramTest {
 protected:
  std::vector<std::string> GameFileNames(const std::string& version) const override {
    std::vector<std::string> names;
    for (const std::string& name : LauncherProgramTest::GameFileNames(version)) {
      const auto japanese = kJapaneseNames.find(name);
      names.push_back(japanese == kJapaneseNames.end() ? name : japanese->second);
    }
    return names;
  }

  std::string GameFile(const std::string& name, const std::string& version) const override {
    for (const auto& [usual, japanese] : kJapaneseNames) {
      if (name == japanese) return LauncherProgramTest::GameFile(usual, version);
    }
    return LauncherProgramTest::GameFile(name, version);
  }
};

TEST_F(JapaneseNamesTest, InstallPatchesAndRepairKeepTheNames) {
  const std::string base = Publish("japanese", LauncherSource("1", ""), {"1.0", "1.1", "1.2"});
  // The server keeps single files under their UTF-8 names, as their download
  // addresses name them.
  EXPECT_TRUE(fs::exists(ServerBase("japanese") / "GameVersion" / "Game_1.2" / "データ" / "説明.txt"));
  WriteFile(ServerBase("japanese") / "InstallVersion" / "version", "1.0");
  InstallLauncherVersion("japanese");
  WriteConfig(base);

  EXPECT_EQ(Run(), 0) << output;
  ExpectGameFilesOf("1.2");
  EXPECT_FALSE(fs::exists(gameDir() / "はじめにお読みください.txt"));
  ExpectClientStarted();
  const std::string log = ReadFile(launcherDir() / "Launch.log");
  EXPECT_NE(log.find("m_bUserXdel"), std::string::npos) << "no delta was applied:\n" << log;

  WriteFile(gameDir() / "データ" / "説明.txt", "damaged\n");
  fs::remove(gameDir() / "新規" / "追加されたファイル.txt");
  EXPECT_EQ(Run({"-repaire"}, "y\n"), 0) << output;
  ExpectGameFilesOf("1.2");
  // Nothing was written under another spelling of a name.
  for (const auto& entry : fs::recursive_directory_iterator(gameDir())) {
    const std::string name = entry.path().filename().string();
    EXPECT_EQ(name.find('?'), std::string::npos) << entry.path();
  }
}

}  // namespace
}  // namespace e2e
