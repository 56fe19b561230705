#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Procedure/ProcedureGameInstall.h"
#include "Procedure/ProcedureInstall.h"
#include "Procedure/ProcedureMessages.h"
#include "tests/Procedure/ProcedureRunFixture.h"
#include "util/LaunchLog.h"

using namespace testsupport;
namespace fs = std::filesystem;
using enum InstallResult;

namespace {

const std::string kPageFolder = "InstallVersion/InstallPage_1.0.2";
const std::string kDescription = kPageFolder + "/intallinfo_1.0.2.ini";
const std::string kSource = "Procedure\\ProcedureInstall.cpp";

// Random bytes, so that the pages (at most 4 KiB each) keep their sizes.
const VersionFiles kGame102 = {
    {"client/meadow_jp.exe", RandomBytes(3000, 1)},
    {"data/a.dat", RandomBytes(5000, 2)},
    {"data/b.dat", RandomBytes(2000, 3)},
    {"readme.txt", "read me"},
};

std::vector<std::string> operator+(std::vector<std::string> lines, const std::vector<std::string>& more) {
  lines.insert(lines.end(), more.begin(), more.end());
  return lines;
}

class ProcedureInstallTest : public ProcedureRunTest {
 protected:
  // The game install with base 1 on the test server and bases 2 and 3 on a
  // port nothing listens on.
  std::unique_ptr<ProcedureGameInstall> MakeInstall() {
    auto install = std::make_unique<ProcedureGameInstall>(Download());
    install->Init(main_.window(), ".\\launcher.ini", &stop_);
    install->SetServerUrl1(ServerBase());
    install->SetServerUrl2(UnreachableBase());
    install->SetServerUrl3(UnreachableBase());
    return install;
  }

  // The messages of fetching the served pages from `firstMissing` on (the
  // pages before it already present): sizes, count, and for each page the
  // timer start when it has to be downloaded, bytes present and index.
  std::vector<std::string> PageTrace(size_t firstMissing = 0) const {
    const auto pages = ServedPackages(kPageFolder, "page");
    double total = 0;
    for (const auto& page : pages) total += static_cast<double>(page.second);
    std::vector<std::string> lines = {"install total " + SizeText(total),
                                      "install count " + std::to_string(pages.size())};
    double present = 0;
    for (size_t j = 0; j < pages.size(); ++j) {
      if (j >= firstMissing) lines.push_back("install timer");
      present += static_cast<double>(pages[j].second);
      lines.push_back("install done " + SizeText(present));
      lines.push_back("install index " + std::to_string(j + 1));
    }
    return lines;
  }

  fs::path LocalPageFolder() const { return launcher() / "temp_game_install/InstallPage_1.0.2"; }
};

}  // namespace

// The pages unpack into the game folder, which then holds exactly the
// version's files and list; the page folder is removed.
TEST_F(ProcedureInstallTest, InstallsEveryPageAndRemovesThePageFolder) {
  Publish({}, {{"1.0.2", kGame102}}, true);
  ASSERT_GE(ServedPackages(kPageFolder, "page").size(), 3u);

  EXPECT_EQ(MakeInstall()->Run(), INSTALL_DONE);

  EXPECT_EQ(FolderFiles(game(), {"launcher"}), FolderFiles(Served("GameVersion/Game_1.0.2")));
  EXPECT_EQ(Trace(false), std::vector<std::string>({"latest 1.0.2", "current 1.0.2"}) + PageTrace());
  // The applier's messages follow the downloads and end the run.
  EXPECT_EQ(Trace().back(), "message 0x4518");
  EXPECT_FALSE(fs::exists(LocalPageFolder()));
  EXPECT_TRUE(fs::exists(launcher() / "temp_game_install/version"));

  ASSERT_GE(downloads_.size(), 3u);
  EXPECT_EQ(downloads_[0].url, ServerBase() + "\\InstallVersion\\version");
  EXPECT_EQ(downloads_[0].localPath, "temp_game_install\\version");
  EXPECT_EQ(downloads_[1].url, ServerBase() + "\\InstallVersion\\InstallPage_1.0.2\\intallinfo_1.0.2.ini");
  EXPECT_EQ(downloads_[1].localPath, "temp_game_install\\InstallPage_1.0.2\\intallinfo_1.0.2.ini");
  EXPECT_EQ(downloads_[2].url, ServerBase() + "\\InstallVersion\\InstallPage_1.0.2\\page0.zip");
  EXPECT_EQ(downloads_[2].localPath, "temp_game_install\\InstallPage_1.0.2\\page0.zip");
  EXPECT_TRUE(std::all_of(downloads_.begin(), downloads_.end(), [](const DownloadCall& call) {
    return call.cookie == static_cast<int32_t>(ProcedureId::PROC_GAME_INSTALL) && call.ok;
  }));
  // No download may grow past what it can be: the version file and the
  // description past what their readers take, each page past its size.
  EXPECT_EQ(downloads_[0].maxBytes, 64u);
  EXPECT_EQ(downloads_[1].maxBytes, 30u << 20);
  const auto pages = ServedPackages(kPageFolder, "page");
  ASSERT_EQ(downloads_.size(), 2 + pages.size());
  for (size_t j = 0; j < pages.size(); ++j) EXPECT_EQ(downloads_[2 + j].maxBytes, pages[j].second) << j;
  const std::vector<std::string> lines = LogLines();
  EXPECT_EQ(lines.front(), "Start Install Game Page!");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "PatchUser return: 0"), lines.end());
}

// The stop event ends the first run after its first page; the second run
// counts that page without fetching it again.
TEST_F(ProcedureInstallTest, AnInterruptedInstallResumesWithoutFetchingVerifiedPagesAgain) {
  Publish({}, {{"1.0.2", kGame102}}, true);
  onSeen_ = [this](const SeenMessage& seen) {
    if (seen.message.id == UM_INSTALL_PAGE_INDEX) stop_.Set();
  };
  EXPECT_EQ(MakeInstall()->Run(), INSTALL_CANCELLED);
  EXPECT_TRUE(fs::exists(LocalPageFolder() / "page0.zip"));
  EXPECT_FALSE(fs::exists(LocalPageFolder() / "page1.zip"));

  onSeen_ = nullptr;
  stop_.Reset();
  seen_.clear();
  downloads_.clear();
  EXPECT_EQ(MakeInstall()->Run(), INSTALL_DONE);

  EXPECT_EQ(DownloadsOf("\\page0.zip"), 0);
  EXPECT_EQ(DownloadsOf("\\page1.zip"), 1);
  EXPECT_EQ(Trace(false), std::vector<std::string>({"latest 1.0.2", "current 1.0.2"}) + PageTrace(1));
  EXPECT_EQ(FolderFiles(game(), {"launcher"}), FolderFiles(Served("GameVersion/Game_1.0.2")));
}

// A page already in the page folder counts only with its MD5: the bytes of a
// failed run, a truncated copy or a valid zip of another page are fetched
// again, and the installation ends with the version's files.
TEST_F(ProcedureInstallTest, APagePresentWithOtherBytesIsFetchedAgain) {
  Publish({}, {{"1.0.2", kGame102}}, true);
  const std::string page0 = ReadFile(Served(kPageFolder + "/page0.zip"));
  const std::string cases[] = {"bytes of a failed run", page0.substr(0, page0.size() / 2),
                               ReadFile(Served(kPageFolder + "/page1.zip"))};
  for (const std::string& bytes : cases) {
    SCOPED_TRACE(bytes.size());
    for (const fs::directory_entry& entry : fs::directory_iterator(game())) {
      if (entry.path() != launcher()) fs::remove_all(entry.path());
    }
    WriteFile(LocalPageFolder() / "page0.zip", bytes);
    downloads_.clear();

    EXPECT_EQ(MakeInstall()->Run(), INSTALL_DONE);

    EXPECT_EQ(DownloadsOf("\\page0.zip"), 1);
    EXPECT_EQ(FolderFiles(game(), {"launcher"}), FolderFiles(Served("GameVersion/Game_1.0.2")));
  }
}

// Each of the three attempts downloads the page from base 1 and finds the
// wrong MD5 (the second and third ask the unreachable bases 2 and 3 first);
// the timer start comes once, and the page folder stays.
TEST_F(ProcedureInstallTest, APageWhoseMd5NeverMatchesFailsAfterThreeAttempts) {
  Publish({}, {{"1.0.2", kGame102}}, true);
  WriteFile(Served(kPageFolder + "/page0.zip"), "not the page");

  EXPECT_EQ(MakeInstall()->Run(), INSTALL_PAGE_DOWNLOAD_FAILED);

  EXPECT_EQ(DownloadsOf("\\page0.zip"), 7);
  const std::vector<std::string> trace = Trace();
  EXPECT_EQ(std::count(trace.begin(), trace.end(), "install timer"), 1);
  EXPECT_EQ(trace.back(), "install timer");
  EXPECT_EQ(LogLinesStartingWith("FILE ="),
            std::vector<std::string>({"FILE =" + kSource + ", Line =206,DownFile Md5 Warning  ",
                                      "FILE =" + kSource + ", Line =206,DownFile Md5 Warning  ",
                                      "FILE =" + kSource + ", Line =206,DownFile Md5 Warning  ",
                                      "FILE =" + kSource + ", Line =210,PRO_GAME_PATCH_DOWNLOAD_ERROR  "}));
  EXPECT_EQ(ReadFile(LocalPageFolder() / "page0.zip"), "not the page");
  EXPECT_FALSE(fs::exists(game() / "GameInfo.ini"));
}

// A version file of 64 bytes, or a version that would lead out of the page
// folder, ends the run before anything else is downloaded.
TEST_F(ProcedureInstallTest, AnUnusableVersionFileEndsTheRunFirst) {
  const struct {
    std::string content;
    std::vector<std::string> logged;
  } cases[] = {
      {std::string(62, '1') + "\r\n", {}},
      {"..\\..\\x\r\n", {"FILE=" + kSource + ",LINE=70 ,unsafe version =..\\..\\x"}},
      {"1.0/../../x\r\n", {"FILE=" + kSource + ",LINE=70 ,unsafe version =1.0/../../x"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content);
    downloads_.clear();
    fs::remove(launcher() / kLaunchLogName);
    WriteFile(Served("InstallVersion/version"), c.content);
    EXPECT_EQ(MakeInstall()->Run(), INSTALL_VERSION_UNREADABLE);
    EXPECT_EQ(downloads_.size(), 1u);
    EXPECT_EQ(LogLinesStartingWith("FILE="), c.logged);
    EXPECT_TRUE(Trace().empty());
  }
}

TEST_F(ProcedureInstallTest, UnusablePageEntriesEndTheSizingPass) {
  const std::string md5 = Md5Of("x");
  const struct {
    std::string packages;
    std::string logged;
  } cases[] = {
      {"PackageNum=1\nPackage0=../evil.zip,1,10," + md5, "LINE=120 ,Package unsafe file name =../evil.zip"},
      {"PackageNum=1\nPackage0=page0.zip,,1,,10", "LINE=118 ,vTemp.size()"},
      {"PackageNum=2\nPackage0=page0.zip,1,10," + md5, "LINE=110 ,GetPrivateProfileString"},
  };
  Publish({}, {{"1.0.2", kGame102}}, true);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.packages);
    downloads_.clear();
    seen_.clear();
    fs::remove(launcher() / kLaunchLogName);
    WriteFile(Served(kDescription), "[PatchVersion]\nVersionOld=1.0.2\nVersionNew=1.0.2\n[Packages]\n" + c.packages);

    EXPECT_EQ(MakeInstall()->Run(), INSTALL_DESCRIPTION_UNREADABLE);

    EXPECT_EQ(LogLinesStartingWith("FILE="), std::vector<std::string>{"FILE=" + kSource + "," + c.logged});
    EXPECT_EQ(downloads_.size(), 2u);
    EXPECT_EQ(Trace(), std::vector<std::string>({"latest 1.0.2", "current 1.0.2"}));
    EXPECT_FALSE(fs::exists(sandbox() / "evil.zip"));
  }
}

TEST_F(ProcedureInstallTest, ADescriptionMissingOnEveryBase) {
  Publish({}, {{"1.0.2", kGame102}}, true);
  fs::remove(Served(kDescription));

  EXPECT_EQ(MakeInstall()->Run(), INSTALL_DESCRIPTION_DOWNLOAD_FAILED);

  EXPECT_EQ(DownloadsOf("\\intallinfo_1.0.2.ini"), 3);
  EXPECT_EQ(LogLinesStartingWith("FILE="), std::vector<std::string>{"FILE=" + kSource + ",LINE=91 ,DownloadFile"});
}

// A verified page that is no zip package: the applier's installation fails
// and the page folder stays for the next run.
TEST_F(ProcedureInstallTest, APageThatCannotBeUnpackedFailsTheInstallation) {
  Publish({}, {{"1.0.2", kGame102}}, true);
  const std::string notZip = "verified, but no zip package";
  WriteFile(Served(kPageFolder + "/page0.zip"), notZip);
  WriteFile(Served(kDescription),
            "[PatchVersion]\nVersionOld=1.0.2\nVersionNew=1.0.2\n[Packages]\nPackageNum=1\n"
            "Package0=page0.zip,1," +
                std::to_string(notZip.size()) + "," + Md5Of(notZip) + "\n");

  EXPECT_EQ(MakeInstall()->Run(), INSTALL_UNPACK_FAILED);

  const std::vector<std::string> lines = LogLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "PatchUser return: 8"), lines.end());
  EXPECT_EQ(lines.back(), "FILE=" + kSource + ",LINE=232 ,ret != CP_USER_SUCCESS");
  EXPECT_TRUE(fs::exists(LocalPageFolder() / "page0.zip"));
}
