#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Procedure/ProcedureGamePatch.h"
#include "Procedure/ProcedureMessages.h"
#include "patch/ProtectedFile.h"
#include "platform/MessageBox.h"
#include "platform/ProcessLauncher.h"
#include "tests/Procedure/ProcedureRunFixture.h"
#include "tools/publisher/ServerTreePublisher.h"
#include "util/LaunchLog.h"
#include "util/ProcessLookup.h"

using namespace testsupport;
namespace fs = std::filesystem;
using enum PatchResult;

namespace {

const std::string kSource = "Procedure\\ProcedureGamePatch.cpp";

std::string Edited(std::string bytes, size_t at, const std::string& text) {
  bytes.replace(at, text.size(), text);
  return bytes;
}

// 1.0.0 -> 1.0.1: a file deleted, one changed by delta, one changed whole,
// one added in a new folder; 1.0.1 -> 1.0.2: more of the same.
const std::string kBig = RandomBytes(20000, 5);
const VersionFiles kGame100 = {
    {"client/meadow_jp.exe", "client 1.0.0"},
    {"data/big.bin", kBig},
    {"gone.txt", "deleted in 1.0.1"},
    {"readme.txt", "read me"},
};
const VersionFiles kGame101 = {
    {"client/meadow_jp.exe", "client 1.0.1"},
    {"data/big.bin", Edited(kBig, 9000, "edited in 1.0.1")},
    {"new/a.dat", RandomBytes(6000, 6)},
    {"readme.txt", "read me"},
};
const VersionFiles kGame102 = {
    {"client/meadow_jp.exe", "client 1.0.2"},
    {"data/big.bin", Edited(Edited(kBig, 9000, "edited in 1.0.1"), 15000, "and in 1.0.2")},
    {"new/a.dat", RandomBytes(6000, 6)},
    {"new/b.dat", RandomBytes(3000, 7)},
    {"readme.txt", "read me"},
};

std::vector<std::string> operator+(std::vector<std::string> lines, const std::vector<std::string>& more) {
  lines.insert(lines.end(), more.begin(), more.end());
  return lines;
}

bool Contains(const std::vector<std::string>& lines, const std::string& text) {
  return std::any_of(lines.begin(), lines.end(),
                     [&text](const std::string& line) { return line.find(text) != std::string::npos; });
}

class ProcedureGamePatchTest : public ProcedureRunTest {
 protected:
  void TearDown() override { SetMessageBoxPresenter(nullptr); }

  // The game patch with base 1 on the test server and bases 2 and 3 on a
  // port nothing listens on.
  std::unique_ptr<ProcedureGamePatch> MakePatch() {
    auto patch = std::make_unique<ProcedureGamePatch>(Download());
    patch->Init(main_.window(), ".\\launcher.ini", &stop_);
    patch->SetServerUrl1(ServerBase());
    patch->SetServerUrl2(UnreachableBase());
    patch->SetServerUrl3(UnreachableBase());
    return patch;
  }

  // Publishes the three versions with small packages and installs 1.0.0.
  void PublishChain() {
    Publish({}, {{"1.0.0", kGame100}, {"1.0.1", kGame101}, {"1.0.2", kGame102}}, true);
    CopyServed("GameVersion/Game_1.0.0", game());
  }

  static std::string PatchFolder(const std::string& from, const std::string& to) {
    return "AutoPatch/AutoPatch_" + from + "_" + to;
  }
  std::string Description(const std::string& from, const std::string& to) const {
    return PatchFolder(from, to) + "/patchinfo_" + from + "_" + to + ".ini";
  }

  // The messages of one patch whose packages are fetched from `firstMissing`
  // on; `last` is the VersionFrom of the chain's last patch.
  std::vector<std::string> PatchTrace(const std::string& from, const std::string& to, const std::string& last) const {
    const auto packages = ServedPackages(PatchFolder(from, to), "package");
    double total = 0;
    for (const auto& package : packages) total += static_cast<double>(package.second);
    std::vector<std::string> lines = {"latest " + to, "current " + last, "patch begin",
                                      "patch total " + SizeText(total),
                                      "patch count " + std::to_string(packages.size())};
    double present = 0;
    for (size_t j = 0; j < packages.size(); ++j) {
      present += static_cast<double>(packages[j].second);
      lines.push_back("patch done " + SizeText(present));
      lines.push_back("patch index " + std::to_string(j + 1));
    }
    return lines;
  }

  // The served description of the patch in its plain form.
  std::string PlainDescription(const std::string& from, const std::string& to) {
    const fs::path path = Served(Description(from, to));
    ProtectionKey key;
    BuildProtectionKey(key);
    EXPECT_TRUE(UnprotectFile(key, path.string()));
    return ReadFile(path);
  }

  void ServePatchList(const std::string& text) { WriteFile(Served("AutoPatch/AutoPatch.ini"), text); }
  void InstallGameVersion(const std::string& version) {
    WriteFile(game() / "GameInfo.ini", Protected(VersionListText(version, {})));
  }
};

}  // namespace

// Two patches, applied in order, leave the game byte for byte as the server
// publishes version 1.0.2; each patch folder is removed after its patch.
TEST_F(ProcedureGamePatchTest, AChainOfTwoPatchesEndsByteIdentical) {
  PublishChain();
  ASSERT_GE(ServedPackages(PatchFolder("1.0.0", "1.0.1"), "package").size(), 2u);

  auto patch = MakePatch();
  EXPECT_EQ(patch->Run(), PATCH_APPLIED);

  EXPECT_EQ(FolderFiles(game(), {"launcher"}), FolderFiles(Served("GameVersion/Game_1.0.2")));
  EXPECT_EQ(Trace(false), std::vector<std::string>{"patch updating"} + PatchTrace("1.0.0", "1.0.1", "1.0.1") +
                              PatchTrace("1.0.1", "1.0.2", "1.0.1") +
                              std::vector<std::string>({"latest 1.0.2", "current 1.0.2"}));
  const std::vector<std::string> trace = Trace();
  EXPECT_EQ(std::count(trace.begin(), trace.end(), "message 0x4510"), 2);  // the applier succeeded twice
  EXPECT_EQ(patch->chain().size(), 2u);
  EXPECT_FALSE(fs::exists(launcher() / "temp_patch/AutoPatch_1.0.0_1.0.1"));
  EXPECT_FALSE(fs::exists(launcher() / "temp_patch/AutoPatch_1.0.1_1.0.2"));

  ASSERT_GE(downloads_.size(), 2u);
  EXPECT_EQ(downloads_[0].url, ServerBase() + "\\AutoPatch\\AutoPatch.ini");
  EXPECT_EQ(downloads_[0].localPath, "temp_patch\\AutoPatch.ini");
  EXPECT_EQ(downloads_[1].url, ServerBase() + "\\AutoPatch\\AutoPatch_1.0.0_1.0.1\\patchinfo_1.0.0_1.0.1.ini");
  EXPECT_EQ(downloads_[1].localPath, "temp_patch\\AutoPatch_1.0.0_1.0.1\\patchinfo_1.0.0_1.0.1.ini");
  EXPECT_TRUE(std::all_of(downloads_.begin(), downloads_.end(), [](const DownloadCall& call) {
    return call.cookie == static_cast<int32_t>(ProcedureId::PROC_GAME_PATCH) && call.ok;
  }));
  // No download may grow past what it can be: the list and the descriptions
  // past what their readers take, each package past its described size.
  std::vector<uint64_t> bounds = {30 << 20};
  for (const auto& [from, to] : {std::pair{"1.0.0", "1.0.1"}, std::pair{"1.0.1", "1.0.2"}}) {
    bounds.push_back(30 << 20);
    for (const auto& package : ServedPackages(PatchFolder(from, to), "package")) bounds.push_back(package.second);
  }
  ASSERT_EQ(downloads_.size(), bounds.size());
  for (size_t i = 0; i < bounds.size(); ++i) EXPECT_EQ(downloads_[i].maxBytes, bounds[i]) << downloads_[i].url;
  const std::vector<std::string> lines = LogLines();
  for (const char* line : {"GameVersion Mate LocalVersion = 1.0.0 ", "start game autopatch 1.0.0 --> 1.0.1 ",
                           "start PatchUser OldVersion:..\\ patchFileDir:temp_patch\\AutoPatch_1.0.0_1.0.1 ",
                           "start game autopatch 1.0.1 --> 1.0.2 ", "PatchUser return: 0"}) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
  }
}

// What the installed list says decides before any patch is fetched.
TEST_F(ProcedureGamePatchTest, TheInstalledVersionDecidesWhetherThereIsAPath) {
  Publish({}, {{"1.0.1", kGame101}, {"1.0.2", kGame102}});
  const struct {
    const char* installed;  // null: no installed list
    PatchResult result;
    std::vector<std::string> trace;
    std::string logged;
  } cases[] = {
      {"1.0.2", PATCH_UP_TO_DATE, {"latest 1.0.2", "current 1.0.2"}, ""},
      {"0.9", PATCH_NO_PATH, {}, ""},
      {"", PATCH_LOCAL_VERSION_FAILED, {}, "LINE=79 ,ParseVersionNow  LocalVersion.empty() m_strLocalVersion ="},
      {nullptr, PATCH_LOCAL_VERSION_FAILED, {}, "LINE=66 ,ParseVersionNow  FileExist filepath =..\\GameInfo.ini"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.installed == nullptr ? "none" : c.installed);
    seen_.clear();
    fs::remove(game() / "GameInfo.ini");
    fs::remove(launcher() / kLaunchLogName);
    if (c.installed != nullptr) InstallGameVersion(c.installed);

    EXPECT_EQ(MakePatch()->Run(), c.result);

    EXPECT_EQ(Trace(), c.trace);
    if (!c.logged.empty()) {
      EXPECT_EQ(LogLinesStartingWith("FILE="), std::vector<std::string>{"FILE=" + kSource + "," + c.logged});
    }
  }
}

// The chain follows the sections from the installed version, each section
// used once; sections without both versions are skipped, a later section
// with the same VersionFrom replaces the earlier one.
TEST_F(ProcedureGamePatchTest, ThePatchListGivesTheChain) {
  using Chain = std::vector<std::string>;
  const struct {
    std::string list;
    bool parsed;
    Chain chain;
    std::string logged;
  } cases[] = {
      {"PatchNum=2\nVersionNow=1.0.1\n[Patch_0]\nVersionFrom=1.0.0\nVersionTo=1.0.1\n"
       "[Patch_1]\nVersionFrom=1.0.1\nVersionTo=1.0.0\n",
       true,
       {"1.0.0>1.0.1", "1.0.1>1.0.0"},
       ""},
      {"PatchNum=3\nVersionNow=1.0.2\n[Patch_0]\nVersionFrom=1.0.0\nVersionTo=1.0.1\n"
       "[Patch_1]\nVersionFrom=1.0.1\n[Patch_2]\nVersionFrom=1.0.1\nVersionTo=1.0.2\n",
       true,
       {"1.0.0>1.0.1", "1.0.1>1.0.2"},
       ""},
      {"PatchNum=2\nVersionNow=1.0.2\n[Patch_0]\nVersionFrom=1.0.0\nVersionTo=1.0.1\n"
       "[Patch_1]\nVersionFrom=1.0.0\nVersionTo=1.0.2\n",
       true,
       {"1.0.0>1.0.2"},
       ""},
      {"PatchNum=1\nVersionNow=1.0.2\n[Patch_0]\nVersionFrom=0.9\nVersionTo=1.0.2\n", true, {}, ""},
      // A huge count over a few sections reads only those (it used to read
      // the list twice per announced patch); only "Patch_" and an unpadded
      // index below the count name a section of the list.
      {"PatchNum=2147483647\nVersionNow=1.0.2\n[patch_7]\nVersionFrom=1.0.1\nVersionTo=1.0.2\n"
       "[Patch_07]\nVersionFrom=1.0.0\nVersionTo=9\n[PATCH_2147483646]\nVersionFrom=1.0.0\nVersionTo=1.0.1\n",
       true,
       {"1.0.0>1.0.1", "1.0.1>1.0.2"},
       ""},
      {"PatchNum=0\nVersionNow=1.0.2\n", false, {}, "LINE=95 ,patchCount <= 0 || m_strNowVersion.empty()"},
      {"PatchNum=1\n[Patch_0]\nVersionFrom=1.0.0\nVersionTo=1.0.1\n",
       false,
       {},
       "LINE=95 ,patchCount <= 0 || m_strNowVersion.empty()"},
      {"PatchNum=1\nVersionNow=1.0.1\n[Patch_0]\nVersionFrom=1.0.0\nVersionTo=..\\..\\x\n",
       false,
       {},
       "LINE=110 ,ParseAllPatchList unsafe version =..\\..\\x"},
  };
  InstallGameVersion("1.0.0");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.list);
    fs::remove(launcher() / kLaunchLogName);
    WriteFile(launcher() / "temp_patch/AutoPatch.ini", "[PatchHistory]\n" + c.list);
    ProcedureGamePatch patch(Download());
    ASSERT_TRUE(patch.ParseVersionNow());
    EXPECT_EQ(patch.localVersion(), "1.0.0");

    EXPECT_EQ(patch.ParseAllPatchList(), c.parsed);

    Chain chain;
    for (const auto& entry : patch.chain()) chain.push_back(entry.strVerFrom + ">" + entry.versionTo);
    EXPECT_EQ(chain, c.chain);
    EXPECT_EQ(LogLinesStartingWith("FILE="), c.logged.empty() ? Chain{} : Chain{"FILE=" + kSource + "," + c.logged});
  }
}

// A list whose two patches lead from 1.0.0 to 1.0.1 and back: both are
// applied once and the walk ends, with the game at 1.0.0 again.
TEST_F(ProcedureGamePatchTest, ACycleInThePatchListIsWalkedOnce) {
  Publish({}, {{"1.0.0", kGame100}, {"1.0.1", kGame101}});
  CopyServed("GameVersion/Game_1.0.0", game());
  // The patch back from 1.0.1 to 1.0.0, published on its own.
  TempDir back;
  PublishSettings settings;
  settings.outputFolder = (back.path() / "KVMETRA").string();
  settings.gameVersions = {{"1.0.1", (sources_.path() / "game/1.0.1").string()},
                           {"1.0.0", (sources_.path() / "game/1.0.0").string()}};
  std::string error;
  ASSERT_TRUE(PublishServerTree(settings, error)) << error;
  fs::copy(back.path() / "KVMETRA" / PatchFolder("1.0.1", "1.0.0"), Served(PatchFolder("1.0.1", "1.0.0")));
  ServePatchList(
      "[PatchHistory]\nPatchNum=2\nVersionNow=1.0.1\n[Patch_0]\nVersionFrom=1.0.0\nVersionTo=1.0.1\n"
      "[Patch_1]\nVersionFrom=1.0.1\nVersionTo=1.0.0\n");

  EXPECT_EQ(MakePatch()->Run(), PATCH_APPLIED);

  EXPECT_EQ(FolderFiles(game(), {"launcher"}), FolderFiles(Served("GameVersion/Game_1.0.0")));
  EXPECT_EQ(DownloadsOf("\\patchinfo_1.0.0_1.0.1.ini"), 1);
  EXPECT_EQ(DownloadsOf("\\patchinfo_1.0.1_1.0.0.ini"), 1);
}

// A description that names other versions, an unsafe package or a short
// package entry ends the run after its download, before any package.
TEST_F(ProcedureGamePatchTest, ADescriptionThatDoesNotFitItsPatchIsRefused) {
  PublishChain();
  const std::string plain = PlainDescription("1.0.0", "1.0.1");
  const auto replaced = [&plain](const std::string& key, const std::string& value) {
    const size_t start = plain.find(key + "=");
    const size_t end = plain.find_first_of("\r\n", start);
    return plain.substr(0, start) + key + "=" + value + plain.substr(end);
  };
  const struct {
    std::string description;
    std::string logged;
  } cases[] = {
      {replaced("VersionNew", "1.0.9"), "FILE=" + kSource +
                                            ",LINE=280 ,patchInfo version not mate VersionOld=1.0.0 "
                                            "VersionNew=1.0.9 patch=1.0.0 --> 1.0.1"},
      {replaced("Package0", "../evil.zip,1,10," + Md5Of("x")), "unsafe file name =../evil.zip"},
      {replaced("Package0", "package0.zip,1,10"), "FILE=" + kSource + ",LINE=304 ,vTemp.size()"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.logged);
    seen_.clear();
    downloads_.clear();
    WriteFile(Served(Description("1.0.0", "1.0.1")), c.description);

    EXPECT_EQ(MakePatch()->Run(), PATCH_DESCRIPTION_FAILED);

    EXPECT_TRUE(Contains(LogLines(), c.logged));
    EXPECT_EQ(downloads_.size(), 2u);
    EXPECT_EQ(Trace().back(), "patch begin");
    EXPECT_EQ(FolderFiles(game(), {"launcher"}), FolderFiles(Served("GameVersion/Game_1.0.0")));
  }
}

// Each of the three attempts downloads the package from base 1 and finds the
// wrong MD5 (the second and third ask the unreachable bases 2 and 3 first).
TEST_F(ProcedureGamePatchTest, APackageWhoseMd5NeverMatchesFailsAfterThreeAttempts) {
  PublishChain();
  WriteFile(Served(PatchFolder("1.0.0", "1.0.1") + "/package0.zip"), "not the package");

  EXPECT_EQ(MakePatch()->Run(), PATCH_DOWNLOAD_FAILED);

  EXPECT_EQ(DownloadsOf("\\package0.zip"), 7);
  const std::string warning = "FILE =" + kSource + ", Line =394,DownFile Md5 Warning  ";
  EXPECT_EQ(LogLinesStartingWith("FILE ="),
            std::vector<std::string>(
                {warning, warning, warning, "FILE =" + kSource + ", Line =398,PRO_GAME_PATCH_DOWNLOAD_ERROR  "}));
  EXPECT_EQ(FolderFiles(game(), {"launcher"}), FolderFiles(Served("GameVersion/Game_1.0.0")));
  EXPECT_EQ(ReadFile(launcher() / "temp_patch/AutoPatch_1.0.0_1.0.1/package0.zip"), "not the package");
}

// A package already in the patch folder counts only with its MD5: the bytes
// of a failed run, a truncated copy or a valid zip of another patch are
// fetched again, and the chain ends with the last version's files.
TEST_F(ProcedureGamePatchTest, APackagePresentWithOtherBytesIsFetchedAgain) {
  PublishChain();
  const std::string package0 = ReadFile(Served(PatchFolder("1.0.0", "1.0.1") + "/package0.zip"));
  const std::string cases[] = {"bytes of a failed run", package0.substr(0, package0.size() / 2),
                               ReadFile(Served(PatchFolder("1.0.1", "1.0.2") + "/package0.zip"))};
  for (const std::string& bytes : cases) {
    SCOPED_TRACE(bytes.size());
    for (const fs::directory_entry& entry : fs::directory_iterator(game())) {
      if (entry.path() != launcher()) fs::remove_all(entry.path());
    }
    CopyServed("GameVersion/Game_1.0.0", game());
    WriteFile(launcher() / "temp_patch/AutoPatch_1.0.0_1.0.1/package0.zip", bytes);
    downloads_.clear();

    EXPECT_EQ(MakePatch()->Run(), PATCH_APPLIED);

    EXPECT_EQ(DownloadsOf("AutoPatch_1.0.0_1.0.1\\package0.zip"), 1);
    EXPECT_EQ(FolderFiles(game(), {"launcher"}), FolderFiles(Served("GameVersion/Game_1.0.2")));
  }
}

// The stop event ends the first run after the first package; the second run
// counts it without fetching it again and applies the whole chain.
TEST_F(ProcedureGamePatchTest, AnInterruptedPatchResumesWithoutFetchingVerifiedPackagesAgain) {
  PublishChain();
  onSeen_ = [this](const SeenMessage& seen) {
    if (seen.message.id == UM_GAMEPATCH_INDEX) stop_.Set();
  };
  EXPECT_EQ(MakePatch()->Run(), PATCH_CANCELLED);
  EXPECT_TRUE(fs::exists(launcher() / "temp_patch/AutoPatch_1.0.0_1.0.1/package0.zip"));
  EXPECT_FALSE(fs::exists(launcher() / "temp_patch/AutoPatch_1.0.0_1.0.1/package1.zip"));

  onSeen_ = nullptr;
  stop_.Reset();
  seen_.clear();
  downloads_.clear();
  EXPECT_EQ(MakePatch()->Run(), PATCH_APPLIED);

  EXPECT_EQ(DownloadsOf("AutoPatch_1.0.0_1.0.1\\package0.zip"), 0);
  EXPECT_EQ(DownloadsOf("AutoPatch_1.0.0_1.0.1\\package1.zip"), 1);
  EXPECT_EQ(Trace(false), std::vector<std::string>{"patch updating"} + PatchTrace("1.0.0", "1.0.1", "1.0.1") +
                              PatchTrace("1.0.1", "1.0.2", "1.0.1") +
                              std::vector<std::string>({"latest 1.0.2", "current 1.0.2"}));
  EXPECT_EQ(FolderFiles(game(), {"launcher"}), FolderFiles(Served("GameVersion/Game_1.0.2")));
}

// The download folder of a patch outside the chain (its deletion failed
// after the patch, or a repair took the game past it) and the pages of an
// installation that failed after its list was in place are deleted by the
// next run, whether that run patches or finds the game up to date.
TEST_F(ProcedureGamePatchTest, FoldersOfPatchesOutsideTheChainAreDeleted) {
  PublishChain();
  for (PatchResult result : {PATCH_APPLIED, PATCH_UP_TO_DATE}) {
    SCOPED_TRACE(static_cast<int>(result));
    WriteFile(launcher() / "temp_patch/AutoPatch_0.9_1.0.0/package0.zip", "left behind");
    WriteFile(launcher() / "temp_game_install/InstallPage_1.0.0/page0.zip", "left behind");
    EXPECT_EQ(MakePatch()->Run(), result);
    EXPECT_FALSE(fs::exists(launcher() / "temp_patch/AutoPatch_0.9_1.0.0"));
    EXPECT_FALSE(fs::exists(launcher() / "temp_game_install"));
    EXPECT_TRUE(fs::exists(launcher() / "temp_patch/AutoPatch.ini"));
  }
  EXPECT_EQ(FolderFiles(game(), {"launcher"}), FolderFiles(Served("GameVersion/Game_1.0.2")));
}

// An installed file that is not what the patch expects: the applier refuses
// the patch, and its folder stays for the next run.
TEST_F(ProcedureGamePatchTest, AnApplierFailureEndsTheRun) {
  PublishChain();
  WriteFile(game() / "data/big.bin", RandomBytes(20000, 99));

  EXPECT_EQ(MakePatch()->Run(), PATCH_APPLY_FAILED);

  const std::vector<std::string> lines = LogLines();
  EXPECT_TRUE(Contains(lines, "PatchUser return: 9"));
  EXPECT_EQ(lines.back(), "FILE=" + kSource + ",LINE=424 ,ret != CP_USER_SUCCESS");
  EXPECT_TRUE(fs::exists(launcher() / "temp_patch/AutoPatch_1.0.0_1.0.1/package0.zip"));
  EXPECT_EQ(ReadFile(game() / "client/meadow_jp.exe"), "client 1.0.0");
}

// The list comes from base 2 after base 1 failed (logged once); unreachable
// everywhere, or without a usable PatchNum, the run ends before any patch.
TEST_F(ProcedureGamePatchTest, ThePatchListDownloadAndItsFailures) {
  PublishChain();
  const std::string listFailed = "FILE=" + kSource + ",LINE=163 ,Analysis Error, DownloadFile error  ";
  auto patch = MakePatch();
  patch->SetServerUrl1(UnreachableBase());
  patch->SetServerUrl2(ServerBase());
  EXPECT_EQ(patch->Run(), PATCH_APPLIED);
  EXPECT_EQ(LogLinesStartingWith("FILE=Procedure"), std::vector<std::string>{listFailed});

  fs::remove(launcher() / kLaunchLogName);
  ServePatchList("[PatchHistory]\nPatchNum=0\nVersionNow=1.0.2\n");
  InstallGameVersion("1.0.0");
  EXPECT_EQ(MakePatch()->Run(), PATCH_LIST_UNREADABLE);
  EXPECT_EQ(LogLinesStartingWith("FILE="),
            std::vector<std::string>({"FILE=" + kSource + ",LINE=95 ,patchCount <= 0 || m_strNowVersion.empty()",
                                      "FILE=" + kSource + ",LINE=176 ,Analysis Error, ParseAllPatchList error  "}));

  fs::remove(launcher() / kLaunchLogName);
  fs::remove(Served("AutoPatch/AutoPatch.ini"));
  downloads_.clear();
  EXPECT_EQ(MakePatch()->Run(), PATCH_DOWNLOAD_FAILED);
  EXPECT_EQ(DownloadsOf("\\AutoPatch.ini"), 3);
  EXPECT_EQ(LogLinesStartingWith("FILE=Procedure"), std::vector<std::string>{listFailed});
}

// A game client copied from a native program under the client's name: "no"
// leaves it running and patches nothing, "yes" ends it and patches.
TEST_F(ProcedureGamePatchTest, ARunningClientIsEndedOnlyWithConsent) {
  clientLock_.MakeExclusive();
  if (OpenProcessByName("meadow_jp.exe")) GTEST_SKIP() << "another meadow_jp.exe runs on this machine";
  fs::copy_file("/bin/sleep", sandbox() / "meadow_jp.exe");
  int error = 0;
  std::unique_ptr<ProcessHandle> client = StartProcess((sandbox() / "meadow_jp.exe").string() + " 600", "", &error);
  ASSERT_NE(client, nullptr) << error;
  struct EndClient {
    ProcessHandle& client;
    ~EndClient() {
      client.Terminate();
      client.Wait(std::chrono::milliseconds(-1));
    }
  } endClient{*client};
  std::vector<std::string> asked;
  int answer = kMessageBoxNo;
  SetMessageBoxPresenter([&](const std::string& text, const std::string& caption, MessageWindow* owner) {
    asked.push_back(caption + "|" + text + (owner == main_.window() ? "|main" : "|other"));
    return answer;
  });
  PublishChain();

  EXPECT_EQ(MakePatch()->Run(), PATCH_GAME_RUNNING);
  EXPECT_FALSE(client->Wait(std::chrono::milliseconds(0)));
  EXPECT_TRUE(Trace().empty());
  EXPECT_EQ(downloads_.size(), 1u);

  answer = kMessageBoxYes;
  EXPECT_EQ(MakePatch()->Run(), PATCH_APPLIED);
  EXPECT_TRUE(client->Wait(std::chrono::milliseconds(10000)));
  EXPECT_EQ(asked, std::vector<std::string>(2, "メッセージ|ゲームを起動中!\r\n終了しますか?|main"));
}
