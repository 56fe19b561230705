#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Procedure/ProcedureGameRepair.h"
#include "Procedure/ProcedureMessages.h"
#include "Procedure/ProcedureRepair.h"
#include "Procedure/ProcedureSelfPatch.h"
#include "patch/ProtectedFile.h"
#include "platform/AsciiText.h"
#include "tests/Procedure/ProcedureRunFixture.h"

using namespace testsupport;
namespace fs = std::filesystem;
using enum RepairResult;

namespace {

const std::string kMd5Warning = "FILE =Procedure\\ProcedureRepair.cpp, Line =185,DownFile Md5 Warning  ";

// Game version 1.0.2; in descending name order: readme.txt, empty.txt,
// data/a.dat, client/meadow_jp.exe.
const VersionFiles kGame102 = {
    {"client/meadow_jp.exe", "client 1.0.2"},
    {"data/a.dat", std::string(3000, 'a')},
    {"empty.txt", ""},
    {"readme.txt", "read me, version 1.0.2"},
};

std::vector<std::string> operator+(std::vector<std::string> lines, const std::vector<std::string>& more) {
  lines.insert(lines.end(), more.begin(), more.end());
  return lines;
}

// The trace of entries that were all correct already, numbered from 1.
std::vector<std::string> CorrectEntries(const std::vector<std::string>& names) {
  std::vector<std::string> lines;
  int index = 0;
  for (const std::string& name : names) {
    const std::string number = std::to_string(++index);
    lines = lines + std::vector<std::string>{"step 1 " + number, "name " + name, "step 3 " + number};
  }
  return lines;
}

// The trace of entry `index` when its file is downloaded and copied.
std::vector<std::string> ReplacedEntry(int index, const std::string& name) {
  const std::string number = std::to_string(index);
  return {"step 1 " + number, "name " + name, "step 2 " + number, "step 3 " + number, "step 4 " + number};
}

class ProcedureRepairTest : public ProcedureRunTest {
 protected:
  // The game repair with base 1 on the test server and bases 2 and 3 on a
  // port nothing listens on.
  std::unique_ptr<ProcedureGameRepair> MakeGameRepair() {
    auto repair = std::make_unique<ProcedureGameRepair>(Download());
    repair->Init(main_.window(), ".\\launcher.ini", &stop_);
    repair->SetServerUrl1(ServerBase());
    repair->SetServerUrl2(UnreachableBase());
    repair->SetServerUrl3(UnreachableBase());
    return repair;
  }

  // Replaces the served list of game version `version` by `plain`, protected.
  void ServeGameList(const std::string& version, const std::string& plain) {
    WriteFile(Served("GameVersion/Game_" + version + "/GameInfo.ini"), Protected(plain));
  }
  std::string ServedGameList(const std::string& version) const {
    return ReadFile(Served("GameVersion/Game_" + version + "/GameInfo.ini"));
  }
  void InstallGameList(const std::string& version, const std::vector<ListedFile>& files) {
    WriteFile(game() / "GameInfo.ini", Protected(VersionListText(version, files)));
  }
};

}  // namespace

// Only the version file and the list are downloaded; the installed list is
// still replaced by the downloaded copy.
TEST_F(ProcedureRepairTest, AnUpToDateGameDownloadsOnlyTheVersionFileAndTheList) {
  Publish({}, {{"1.0.2", kGame102}});
  CopyServed("GameVersion/Game_1.0.2", game());
  ProtectionKey key;
  BuildProtectionKey(key);
  ASSERT_TRUE(UnprotectFile(key, (game() / "GameInfo.ini").string()));  // the same list in other bytes
  // Leftovers of an earlier run: a staged file it could not remove and the
  // download folder of a patch that failed before the game was repaired.
  WriteFile(launcher() / "temp_game/game/meadow_jp.exe", "staged");
  WriteFile(launcher() / "temp_patch/AutoPatch_1.0.1_1.0.2/package0.zip", "patch");

  auto repair = MakeGameRepair();
  EXPECT_EQ(repair->Run(), REPAIR_UP_TO_DATE);
  EXPECT_FALSE(fs::exists(launcher() / "temp_game/game/meadow_jp.exe"));
  EXPECT_FALSE(fs::exists(launcher() / "temp_patch"));

  EXPECT_EQ(Trace(), std::vector<std::string>({"latest 1.0.2", "current 1.0.2", "total 4"}) +
                         CorrectEntries({"readme.txt", "empty.txt", "data/a.dat", "client/meadow_jp.exe"}) +
                         std::vector<std::string>{"step 4 4"});
  EXPECT_EQ(DownloadedUrls(), std::vector<std::string>({ServerBase() + "\\GameVersion\\version",
                                                        ServerBase() + "\\GameVersion\\Game_1.0.2\\GameInfo.ini"}));
  EXPECT_TRUE(std::all_of(downloads_.begin(), downloads_.end(), [](const DownloadCall& call) {
    return call.cookie == static_cast<int32_t>(ProcedureId::PROC_GAME_REPAIR);
  }));
  EXPECT_EQ(downloads_[0].localPath, "temp_game\\version");
  EXPECT_EQ(downloads_[1].localPath, "temp_game\\GameInfo.ini");
  EXPECT_EQ(ReadFile(game() / "GameInfo.ini"), ServedGameList("1.0.2"));
  EXPECT_EQ(LogLines().front(), "start repair!");
  EXPECT_EQ(repair->newVersion(), "1.0.2");
}

// Without an installed list nothing is deleted and every entry is examined:
// the correct file is kept, the others (changed with the same size, missing
// and empty, missing in a missing folder) are downloaded through the
// temporary folder and copied into place. Files no list names stay.
TEST_F(ProcedureRepairTest, MissingAndChangedFilesAreDownloadedVerifiedAndCopiedIntoPlace) {
  Publish({}, {{"1.0.2", kGame102}});
  Install(game(), {{"client/meadow_jp.exe", "client 1.0.2"},
                   {"readme.txt", "read me, version 1.0.1"},
                   {"save/user.dat", "my save"}});

  EXPECT_EQ(MakeGameRepair()->Run(), REPAIR_FILES_REPLACED);

  EXPECT_EQ(Trace(), std::vector<std::string>({"latest 1.0.2", "current ", "total 4"}) +
                         ReplacedEntry(1, "readme.txt") + ReplacedEntry(2, "empty.txt") +
                         ReplacedEntry(3, "data/a.dat") +
                         std::vector<std::string>({"step 1 4", "name client/meadow_jp.exe", "step 3 4", "step 4 4"}));
  VersionFiles expected = kGame102;
  expected["save/user.dat"] = "my save";
  expected["GameInfo.ini"] = ServedGameList("1.0.2");
  EXPECT_EQ(FolderFiles(game(), {"launcher"}), expected);
  // data/a.dat went through temp_game\game\a.dat; the temporary folder stays, empty.
  const auto fetched = std::find_if(downloads_.begin(), downloads_.end(), [](const DownloadCall& call) {
    return call.url.ends_with("\\Game_1.0.2\\data/a.dat");
  });
  ASSERT_NE(fetched, downloads_.end());
  EXPECT_EQ(fetched->localPath, "temp_game\\game\\a.dat");
  EXPECT_TRUE(fs::is_directory(launcher() / "temp_game/game"));
  EXPECT_TRUE(fs::is_empty(launcher() / "temp_game/game"));
  EXPECT_EQ(downloads_.size(), 5u);
}

// A CRC text that differs only in letter case is a different CRC.
TEST_F(ProcedureRepairTest, TheCrcComparisonIsExact) {
  const std::string bytes = "some content";
  Publish({}, {{"1.0.2", {{"a.dat", bytes}}}});
  const std::string crc = ToLowerAscii(CrcOf(bytes));
  ASSERT_NE(crc, CrcOf(bytes));
  ServeGameList("1.0.2", "[Version]\nVersion=1.0.2\n[FileList]\nFileCount=1\nFile0=a.dat," + Md5Of(bytes) + "," + crc +
                             ",12,0\n");
  Install(game(), {{"a.dat", bytes}});

  EXPECT_EQ(MakeGameRepair()->Run(), REPAIR_FILES_REPLACED);
  EXPECT_EQ(DownloadsOf("\\a.dat"), 1);
}

// The installed list has x, y and z, the new one only y: z and then x are
// deleted, each announced with its percentage just before.
TEST_F(ProcedureRepairTest, ObsoleteFilesAreDeletedInDescendingNameOrder) {
  Publish({}, {{"1.0.1", {{"x.dat", "x"}, {"y.dat", "y"}, {"z.dat", "z"}}}, {"1.0.2", {{"y.dat", "y"}}}});
  CopyServed("GameVersion/Game_1.0.1", game());
  std::vector<std::string> present;
  onSeen_ = [&](const SeenMessage& seen) {
    if (seen.message.id != UM_REPAIR_COMPARE_PERCENT) return;
    std::string files;
    for (const char* name : {"x.dat", "z.dat"}) files += fs::exists(game() / name) ? name : "-";
    present.push_back(files);
  };

  EXPECT_EQ(MakeGameRepair()->Run(), REPAIR_UP_TO_DATE);

  EXPECT_EQ(Trace(), std::vector<std::string>({"latest 1.0.2", "current 1.0.1", "percent 25", "percent 50", "total 1",
                                               "step 1 1", "name y.dat", "step 3 1", "step 4 1"}));
  EXPECT_EQ(present, std::vector<std::string>({"x.datz.dat", "x.dat-"}));
  EXPECT_EQ(FolderFiles(game(), {"launcher"}),
            VersionFiles({{"y.dat", "y"}, {"GameInfo.ini", ServedGameList("1.0.2")}}));
}

// With the switch on, entries without the flag are only announced.
TEST_F(ProcedureRepairTest, TheFlaggedOnlySwitchSkipsEntriesWithoutTheFlag) {
  Publish({}, {{"1.0.2", {{"a.dat", "a"}, {"b.dat", "b"}}}});
  ServeGameList("1.0.2", VersionListText("1.0.2", {{"a.dat", "a", 0}, {"b.dat", "b", 1}}));
  auto repair = MakeGameRepair();
  repair->SetFlaggedOnly(true);

  EXPECT_EQ(repair->Run(), REPAIR_FILES_REPLACED);

  EXPECT_EQ(Trace(), std::vector<std::string>({"latest 1.0.2", "current ", "total 2"}) + ReplacedEntry(1, "b.dat") +
                         std::vector<std::string>({"step 1 2", "name a.dat", "step 3 2", "step 4 2"}));
  EXPECT_FALSE(fs::exists(game() / "a.dat"));
  EXPECT_EQ(ReadFile(game() / "b.dat"), "b");
  EXPECT_EQ(DownloadsOf("\\a.dat"), 0);
}

// Entries are checked one ahead on a helper thread. Here b.dat is a link to
// a.dat: the link is replaced by b.dat's own bytes, never written through, so
// a.dat, correct when its check began, stays correct and is not fetched.
TEST_F(ProcedureRepairTest, ALinkAmongTheFilesIsReplacedNotWrittenThrough) {
  Publish({}, {{"1.0.2", {{"a.dat", "the a file"}, {"b.dat", "the b file"}}}});
  Install(game(), {{"a.dat", "the a file"}});
  fs::create_symlink("a.dat", game() / "b.dat");

  EXPECT_EQ(MakeGameRepair()->Run(), REPAIR_FILES_REPLACED);

  EXPECT_EQ(ReadFile(game() / "a.dat"), "the a file");
  EXPECT_FALSE(fs::is_symlink(game() / "b.dat"));
  EXPECT_EQ(ReadFile(game() / "b.dat"), "the b file");
  EXPECT_EQ(DownloadsOf("\\b.dat"), 1);
  EXPECT_EQ(DownloadsOf("\\a.dat"), 0);
  EXPECT_EQ(Trace(), std::vector<std::string>({"latest 1.0.2", "current ", "total 2"}) + ReplacedEntry(1, "b.dat") +
                         std::vector<std::string>({"step 1 2", "name a.dat", "step 3 2", "step 4 2"}));
}

// Every attempt fetches the file from base 1 and fails the MD5 check (the
// second and third ask the unreachable bases 2 and 3 first); after the third
// the run ends, the download left in the temporary folder and the game untouched.
TEST_F(ProcedureRepairTest, AFileWhoseMd5NeverMatchesIsFetchedThreeTimes) {
  Publish({}, {{"1.0.2", {{"a.dat", "the listed bytes"}}}});
  WriteFile(Served("GameVersion/Game_1.0.2/a.dat"), "other bytes");
  InstallGameList("1.0.1", {});

  EXPECT_EQ(MakeGameRepair()->Run(), REPAIR_FILE_DOWNLOAD_FAILED);

  EXPECT_EQ(DownloadsOf("\\a.dat"), 7);
  EXPECT_EQ(std::count_if(downloads_.begin(), downloads_.end(),
                          [this](const DownloadCall& call) {
                            return call.url == ServerBase() + "\\GameVersion\\Game_1.0.2\\a.dat";
                          }),
            3);
  EXPECT_EQ(downloads_.size(), 9u);
  EXPECT_EQ(LogLinesStartingWith("FILE =Procedure"), std::vector<std::string>(3, kMd5Warning));
  EXPECT_EQ(ReadFile(launcher() / "temp_game/game/a.dat"), "other bytes");
  EXPECT_FALSE(fs::exists(game() / "a.dat"));
  EXPECT_EQ(ReadFile(game() / "GameInfo.ini"), Protected(VersionListText("1.0.1", {})));
  EXPECT_EQ(Trace().back(), "step 2 1");
}

// Every download tries base 1, then base 2, stopping at the first success.
TEST_F(ProcedureRepairTest, AnUnreachableBaseOneFallsBackToTheNextBase) {
  Publish({}, {{"1.0.2", {{"a.dat", "a"}}}});
  auto repair = MakeGameRepair();
  const std::string unreachable = UnreachableBase();
  repair->SetServerUrl1(unreachable);
  repair->SetServerUrl2(ServerBase());

  EXPECT_EQ(repair->Run(), REPAIR_FILES_REPLACED);

  std::vector<std::string> expected;
  for (const char* suffix :
       {"\\GameVersion\\version", "\\GameVersion\\Game_1.0.2\\GameInfo.ini", "\\GameVersion\\Game_1.0.2\\a.dat"}) {
    expected.push_back(unreachable + suffix);
    expected.push_back(ServerBase() + suffix);
  }
  EXPECT_EQ(DownloadedUrls(), expected);
  EXPECT_EQ(ReadFile(game() / "a.dat"), "a");
}

// Base 1 holds a damaged copy of a file: the attempt after the wrong MD5
// begins with base 2, which has the good one.
TEST_F(ProcedureRepairTest, AFileDamagedOnBaseOneComesFromBaseTwo) {
  Publish({}, {{"1.0.2", {{"a.dat", "the listed bytes"}}}});
  TempDir damagedRoot;
  fs::copy(serverRoot_.path(), damagedRoot.path(), fs::copy_options::recursive);
  WriteFile(damagedRoot.path() / "KVMETRA/GameVersion/Game_1.0.2/a.dat", "other bytes");
  NginxServer damaged(damagedRoot.path());
  auto repair = MakeGameRepair();
  repair->SetServerUrl1(damaged.url() + "/KVMETRA");
  repair->SetServerUrl2(ServerBase());

  EXPECT_EQ(repair->Run(), REPAIR_FILES_REPLACED);

  const std::string file = "\\GameVersion\\Game_1.0.2\\a.dat";
  const std::vector<std::string> urls = DownloadedUrls();
  EXPECT_EQ(std::vector<std::string>(urls.end() - 2, urls.end()),
            std::vector<std::string>({damaged.url() + "/KVMETRA" + file, ServerBase() + file}));
  EXPECT_EQ(LogLinesStartingWith("FILE =Procedure"), std::vector<std::string>{kMd5Warning});
  EXPECT_EQ(ReadFile(game() / "a.dat"), "the listed bytes");
}

// The version text loses its blanks wherever they are; 64 bytes are refused.
// A version file larger still is not even downloaded whole.
TEST_F(ProcedureRepairTest, AVersionFileOf63BytesIsReadAndOneOf64IsRefused) {
  const struct {
    std::string content;
    RepairResult result;
  } cases[] = {
      {"1. 0 .2" + std::string(54, ' ') + "\r\n", REPAIR_UP_TO_DATE},
      {"1. 0 .2" + std::string(55, ' ') + "\r\n", REPAIR_VERSION_UNREADABLE},
      {"1.0.2" + std::string(1 << 20, ' '), REPAIR_VERSION_DOWNLOAD_FAILED},
  };
  Publish({}, {{"1.0.2", {{"a.dat", "a"}}}});
  CopyServed("GameVersion/Game_1.0.2", game());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content.size());
    downloads_.clear();
    WriteFile(Served("GameVersion/version"), c.content);
    EXPECT_EQ(MakeGameRepair()->Run(), c.result);
    EXPECT_EQ(DownloadsOf("\\Game_1.0.2\\GameInfo.ini"), c.result == REPAIR_UP_TO_DATE ? 1 : 0);
    EXPECT_EQ(downloads_.size(), c.result == REPAIR_UP_TO_DATE ? 2u : c.result == REPAIR_VERSION_UNREADABLE ? 1u : 3u);
  }
}

TEST_F(ProcedureRepairTest, VersionFileOrListMissingOnEveryBase) {
  auto repair = MakeGameRepair();
  EXPECT_EQ(repair->Run(), REPAIR_VERSION_DOWNLOAD_FAILED);
  EXPECT_EQ(DownloadsOf("\\GameVersion\\version"), 3);

  WriteFile(Served("GameVersion/version"), "1.0.2");
  downloads_.clear();
  EXPECT_EQ(repair->Run(), REPAIR_LIST_DOWNLOAD_FAILED);
  EXPECT_EQ(DownloadsOf("\\GameVersion\\Game_1.0.2\\GameInfo.ini"), 3);
  EXPECT_TRUE(Trace().empty());
}

// A downloaded list that names a file outside the game folder or in the
// launcher's folder, or declares no version (as an error page served in its
// place would), is unreadable:
// nothing is deleted or downloaded and the installed list stays.
TEST_F(ProcedureRepairTest, AnUnsafeOrVersionlessDownloadedListIsUnreadable) {
  const std::string config = launcher().filename().string() + "/launcher.ini";
  const struct {
    std::string list;
    std::string logged;
  } cases[] = {
      {VersionListText("1.0.2", {{"a.dat", "a"}, {"..\\outside.txt", "x"}}), "unsafe file name =..\\outside.txt"},
      {"<html>Service unavailable</html>", "no version, list =temp_game\\GameInfo.ini"},
      // The launcher's files belong to the self-update.
      {VersionListText("1.0.2", {{"a.dat", "a"}, {config, "x"}}), "file in the launcher folder =" + config},
  };
  Publish({}, {{"1.0.2", {{"a.dat", "a"}}}});
  Install(game(), {{"kept.dat", "k"}});
  InstallGameList("1.0.1", {{"kept.dat", "k"}});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.logged);
    downloads_.clear();
    WriteFile(Served("GameVersion/Game_1.0.2/GameInfo.ini"), c.list);

    EXPECT_EQ(MakeGameRepair()->Run(), REPAIR_LIST_UNREADABLE);

    const std::vector<std::string> lines = LogLines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                            [&](const std::string& line) { return line.find(c.logged) != std::string::npos; }));
    EXPECT_EQ(downloads_.size(), 2u);
    EXPECT_TRUE(Trace().empty());
    EXPECT_EQ(ReadFile(game() / "kept.dat"), "k");
    EXPECT_FALSE(fs::exists(sandbox() / "outside.txt"));
    EXPECT_EQ(ReadFile(game() / "GameInfo.ini"), Protected(VersionListText("1.0.1", {{"kept.dat", "k"}})));
  }
}

// An installed list naming a file outside the game folder is ignored as a
// whole: that file is never deleted, and the repair goes on.
TEST_F(ProcedureRepairTest, AnUnsafeInstalledListIsIgnored) {
  WriteFile(sandbox() / "outside.txt", "not the game's");
  Install(game(), {{"old.dat", "o"}});
  InstallGameList("1.0.1", {{"old.dat", "o"}, {"..\\outside.txt", "not the game's"}});
  Publish({}, {{"1.0.2", {{"a.dat", "a"}}}});

  EXPECT_EQ(MakeGameRepair()->Run(), REPAIR_FILES_REPLACED);

  EXPECT_EQ(ReadFile(sandbox() / "outside.txt"), "not the game's");
  EXPECT_EQ(ReadFile(game() / "old.dat"), "o");
  EXPECT_EQ(Trace()[1], "current ");
}

// An installed list naming a file of the launcher's folder never has it
// deleted; its other obsolete files go.
TEST_F(ProcedureRepairTest, AnInstalledListNeverDeletesLauncherFiles) {
  WriteFile(launcher() / "launcher.ini", "[game]\n");
  Install(game(), {{"old.dat", "o"}});
  InstallGameList("1.0.1", {{"old.dat", "o"}, {launcher().filename().string() + "\\launcher.ini", "[game]\n"}});
  Publish({}, {{"1.0.2", {{"a.dat", "a"}}}});

  EXPECT_EQ(MakeGameRepair()->Run(), REPAIR_FILES_REPLACED);

  EXPECT_EQ(ReadFile(launcher() / "launcher.ini"), "[game]\n");
  EXPECT_FALSE(fs::exists(game() / "old.dat"));
}

TEST_F(ProcedureRepairTest, TheStopEventEndsTheRunBeforeTheFirstEntry) {
  Publish({}, {{"1.0.2", {{"a.dat", "a"}, {"b.dat", "b"}}}});
  stop_.Set();

  EXPECT_EQ(MakeGameRepair()->Run(), REPAIR_CANCELLED);

  EXPECT_EQ(Trace(),
            std::vector<std::string>({"latest 1.0.2", "current ", "total 2", "step 1 1", "name b.dat", "aborted 1"}));
  EXPECT_FALSE(fs::exists(game() / "b.dat"));
  EXPECT_FALSE(fs::exists(game() / "GameInfo.ini"));
}

// Whatever stands in the way of a listed file is removed before the copy,
// and the log says what: a file where its folder must be, a folder where the
// file must be, a link where either must be (the link itself, never what it
// points to, which here lies outside the game).
TEST_F(ProcedureRepairTest, WhatStandsInTheWayOfAListedFileIsRemoved) {
  const VersionFiles files = {
      {"data/a.dat", "a"}, {"readme.txt", "read me"}, {"skin/bg.png", "picture"}, {"sound/se.ogg", "sound"}};
  Publish({}, {{"1.0.2", files}});
  WriteFile(game() / "data", "a file where a folder belongs");
  WriteFile(game() / "readme.txt" / "deep" / "inside.txt", "a folder where a file belongs");
  WriteFile(sandbox() / "outside" / "keep.txt", "not the game's");
  fs::create_directory_symlink(sandbox() / "outside", game() / "skin");
  fs::create_symlink(sandbox() / "outside" / "keep.txt", game() / "sound");

  EXPECT_EQ(MakeGameRepair()->Run(), REPAIR_FILES_REPLACED);

  VersionFiles expected = files;
  expected["GameInfo.ini"] = ServedGameList("1.0.2");
  EXPECT_EQ(FolderFiles(game(), {"launcher"}), expected);
  EXPECT_EQ(FolderFiles(sandbox() / "outside"), (VersionFiles{{"keep.txt", "not the game's"}}));
  const std::vector<std::string> removed = LogLinesStartingWith("removed ");
  EXPECT_EQ(removed, (std::vector<std::string>{"removed ..\\sound, which stands in the way of sound/se.ogg",
                                               "removed ..\\skin, which stands in the way of skin/bg.png",
                                               "removed ..\\readme.txt, which stands in the way of readme.txt",
                                               "removed ..\\data, which stands in the way of data/a.dat"}));
}

// A folder where the file belongs that cannot be removed (it holds a
// read-only file): the verified download cannot be copied. A folder where the
// list belongs: the list cannot be installed.
TEST_F(ProcedureRepairTest, CopyFailuresOfAFileAndOfTheList) {
  Publish({}, {{"1.0.2", {{"sub", "a file"}}}});
  WriteFile(game() / "sub" / "inside.txt", "i");
  fs::permissions(game() / "sub" / "inside.txt", fs::perms::owner_read, fs::perm_options::replace);

  EXPECT_EQ(MakeGameRepair()->Run(), REPAIR_FILE_COPY_FAILED);
  EXPECT_EQ(LogLinesStartingWith("FILE="), std::vector<std::string>{"FILE=Procedure\\ProcedureRepair.cpp,LINE=201 "
                                                                    ",CopyFile Error szTempLauncherFile "
                                                                    "=temp_game\\game\\sub , localFile"});
  EXPECT_FALSE(fs::exists(launcher() / "temp_game/game/sub"));
  EXPECT_FALSE(fs::exists(game() / "GameInfo.ini"));

  fs::remove_all(game() / "sub");
  WriteFile(game() / "GameInfo.ini" / "inside.txt", "i");
  EXPECT_EQ(MakeGameRepair()->Run(), REPAIR_LIST_COPY_FAILED);
  EXPECT_EQ(LogLinesStartingWith("FILE=").back(),
            "FILE=Procedure\\ProcedureRepair.cpp,LINE=224 ,CopyFile Error szTempLauncherFile "
            "=temp_game\\GameInfo.ini , localFile");
  EXPECT_EQ(ReadFile(game() / "sub"), "a file");
}

// The installed list stays until its replacement is complete: a list copy
// that fails (here the downloaded list vanishes just before it) leaves the
// old list, so the next start still finds the game installed.
TEST_F(ProcedureRepairTest, AFailedListCopyKeepsTheInstalledList) {
  Publish({}, {{"1.0.2", kGame102}});
  CopyServed("GameVersion/Game_1.0.2", game());
  InstallGameList("1.0.1", {});
  const std::string installed = ReadFile(game() / "GameInfo.ini");
  onSeen_ = [this](const SeenMessage& seen) {
    if (seen.message.id == UM_REPAIR_FILE_STEP && seen.message.wParam == 4) {
      fs::remove(launcher() / "temp_game" / "GameInfo.ini");
    }
  };

  EXPECT_EQ(MakeGameRepair()->Run(), REPAIR_LIST_COPY_FAILED);
  EXPECT_EQ(ReadFile(game() / "GameInfo.ini"), installed);
}

// The self-update repairs the launcher's own folder from its own tree, with
// base 1 from [launcher] launcherUrl.
TEST_F(ProcedureRepairTest, TheSelfUpdateReplacesTheLauncherFilesFromItsConfiguredBase) {
  const std::string launcher2 = "#!/bin/sh\necho 2\n";
  Publish({{"1", {{"TovaLauncher.exe", "launcher 1"}, {"old.dll", "gone soon"}}},
           {"2", {{"TovaLauncher.exe", launcher2}, {"skin/bg.png", "picture"}}}},
          {});
  CopyServed("LauncherVersion/Launcher_1", launcher());
  WriteFile(launcher() / "launcher.ini", "[launcher]\nlauncherUrl=" + ServerBase() + "\n");

  ProcedureSelfPatch selfPatch(Download());
  selfPatch.Init(main_.window(), ".\\launcher.ini", &stop_);
  EXPECT_EQ(selfPatch.Run(), REPAIR_FILES_REPLACED);

  EXPECT_EQ(ReadFile(launcher() / "TovaLauncher.exe"), launcher2);
  // The program is executable as soon as its list is in place; other files
  // keep their modes.
  const auto permissions = [](const fs::path& path) { return fs::status(path).permissions(); };
  EXPECT_NE(permissions(launcher() / "TovaLauncher.exe") & fs::perms::owner_exec, fs::perms::none);
  EXPECT_EQ(ReadFile(launcher() / "skin/bg.png"), "picture");
  EXPECT_EQ(permissions(launcher() / "skin/bg.png") & fs::perms::owner_exec, fs::perms::none);
  EXPECT_FALSE(fs::exists(launcher() / "old.dll"));
  EXPECT_EQ(ReadFile(launcher() / "GameInfo.ini"), ReadFile(Served("LauncherVersion/Launcher_2/GameInfo.ini")));
  ASSERT_EQ(downloads_.size(), 4u);
  EXPECT_EQ(downloads_[0].url, ServerBase() + "\\LauncherVersion\\version");
  EXPECT_EQ(downloads_[0].localPath, "temp_launcher\\version");
  EXPECT_EQ(downloads_[1].localPath, "temp_launcher\\GameInfo.ini");
  // skin/bg.png comes before TovaLauncher.exe in descending byte order.
  EXPECT_EQ(downloads_[2].localPath, "temp_launcher\\launcher\\bg.png");
  EXPECT_EQ(downloads_[3].localPath, "temp_launcher\\launcher\\TovaLauncher.exe");
  // No download may grow past what it can be: the version file and the list
  // past what their readers take, each file past its listed size.
  const std::vector<uint64_t> bounds = {64, 30 << 20, 7, launcher2.size()};
  for (size_t i = 0; i < bounds.size(); ++i) EXPECT_EQ(downloads_[i].maxBytes, bounds[i]) << downloads_[i].url;
  EXPECT_TRUE(std::all_of(downloads_.begin(), downloads_.end(), [](const DownloadCall& call) {
    return call.cookie == static_cast<int32_t>(ProcedureId::PROC_SELF_PATCH);
  }));
}

// A launcher list that names a file the launcher writes itself would find it
// changed on every run and relaunch every run: the self-update refuses it
// before deleting or downloading anything. The game repair takes such names.
TEST_F(ProcedureRepairTest, TheSelfUpdateRefusesAListNamingTheLaunchersWorkingFiles) {
  const char* const names[] = {"TovaLaunch.bin", "Launch.log",    "temp_launcher\\GameInfo.ini",
                               "launcher.ini",   "TEMPUPDATA\\x", "TovaLauncher.lock"};
  Publish({{"1", {{"TovaLauncher.exe", "launcher 1"}}}}, {{"1.0.2", {{"Launch.log", "a game file"}}}});
  CopyServed("LauncherVersion/Launcher_1", launcher());
  const std::string installedList = ReadFile(launcher() / "GameInfo.ini");
  WriteFile(launcher() / "launcher.ini", "[launcher]\nlauncherUrl=" + ServerBase() + "\n");
  for (const char* name : names) {
    SCOPED_TRACE(name);
    WriteFile(Served("LauncherVersion/Launcher_1/GameInfo.ini"),
              Protected(VersionListText("1", {{"TovaLauncher.exe", "launcher 2"}, {name, "the server's"}})));
    downloads_.clear();

    ProcedureSelfPatch selfPatch(Download());
    selfPatch.Init(main_.window(), ".\\launcher.ini", &stop_);
    EXPECT_EQ(selfPatch.Run(), REPAIR_LIST_UNREADABLE);

    const std::vector<std::string> refusals = LogLinesStartingWith("CompareFileLists refused");
    ASSERT_FALSE(refusals.empty());
    EXPECT_EQ(refusals.back(),
              std::string("CompareFileLists refused file name =") + name + ", list =temp_launcher\\GameInfo.ini");
    EXPECT_EQ(downloads_.size(), 2u);
    EXPECT_EQ(ReadFile(launcher() / "TovaLauncher.exe"), "launcher 1");
    EXPECT_EQ(ReadFile(launcher() / "GameInfo.ini"), installedList);
  }
  EXPECT_FALSE(fs::exists(launcher() / "TovaLaunch.bin"));
  EXPECT_FALSE(fs::exists(launcher() / "TovaLauncher.lock"));

  EXPECT_EQ(MakeGameRepair()->Run(), REPAIR_FILES_REPLACED);
  EXPECT_EQ(ReadFile(game() / "Launch.log"), "a game file");
}

// Without launcher.ini the self-update tries the backup base and then the
// primary base twice; the game repair's base 1 is empty until a start
// replaces it.
TEST_F(ProcedureRepairTest, WithoutConfigurationTheBasesAreTheDefaults) {
  std::vector<std::string> asked;
  const DownloadFunction refuse = [&asked](const std::string& url, const std::string&, int32_t, uint64_t) {
    asked.push_back(url);
    return false;
  };
  ProcedureSelfPatch selfPatch(refuse);
  ProcedureGameRepair gameRepair(refuse);
  const struct {
    ProcedureRepair* procedure;
    std::string first;
    std::string suffix;
  } cases[] = {
      {&selfPatch, BackupServerBase(), "\\LauncherVersion\\version"},
      {&gameRepair, "", "\\GameVersion\\version"},
  };
  for (const auto& c : cases) {
    asked.clear();
    c.procedure->Init(nullptr, ".\\launcher.ini", &stop_);
    EXPECT_EQ(c.procedure->Run(), REPAIR_VERSION_DOWNLOAD_FAILED);
    EXPECT_EQ(asked, std::vector<std::string>(
                         {c.first + c.suffix, PrimaryServerBase() + c.suffix, PrimaryServerBase() + c.suffix}));
  }
}
