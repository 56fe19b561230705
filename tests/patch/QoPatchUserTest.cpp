#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <string>

#include "patch/ProtectedFile.h"
#include "patch/QoPatchUser.h"
#include "platform/AsciiText.h"
#include "tests/patch/PatchMaterial.h"
#include "tests/support/ScopedMount.h"
#include "tests/support/TestBytes.h"

using patchtest::FileEntry;
using patchtest::Form;
using patchtest::GameFixture;
using patchtest::GameInfoText;
using patchtest::Package;
using patchtest::Patch;
using patchtest::SampleBytes;
using patchtest::Trace;
using patchtest::XdeltaRecorder;
using testsupport::Md5Of;
using testsupport::ReadFile;
using testsupport::WriteFile;
namespace fs = std::filesystem;
using enum CpUserResult;

namespace {

using Files = std::map<std::string, std::string>;

const std::string kClientOld = "#!/bin/sh\necho old\n";
const std::string kClientNew = "#!/bin/sh\necho new\n";

Files InstalledGame() {
  return {
      {"data/keep.txt", "keep"},       {"data/delta.bin", SampleBytes(256 * 1024, 21)},
      {"data/whole.txt", "old whole"}, {"data/chunked.bin", SampleBytes(100 * 1024, 22)},
      {"old/remove.dat", "remove me"}, {"client/game.sh", kClientOld},
  };
}

// Adds, updates whole (plain and LZMA-chunked), deletes, carries the new
// GameInfo.ini, ignores an entry of an unknown type and, last, updates by
// delta.
Patch FullPatch(const Files& installed) {
  Patch patch;
  patch.packages = {
      {"p0.zip",
       {
           {"data/whole.txt", 2, "new whole content"},
           {"data/added/new.txt", 1, "brand new"},
           {"old/remove.dat", 3, "", Form::kNone},
       }},
      {"p1.zip",
       {
           {"data/chunked.bin", 2, SampleBytes(300 * 1024, 24), Form::kLzma},
           {"data/big_new.bin", 1, SampleBytes(150 * 1024, 25), Form::kLzma},
           {"data/empty.txt", 1, ""},
           {"data/tricky.bin", 1, std::string("QOXD\0payload", 12), Form::kEscaped},
           {"client/game.sh", 2, kClientNew},
           {"GameInfo.ini", 2, GameInfoText("1.1")},
           {"data/unknown.bin", 4, "", Form::kNone},
           {"data/delta.bin", 2,
            installed.at("data/delta.bin").substr(0, 128 * 1024) + "changed" + SampleBytes(128 * 1024, 23),
            Form::kDelta},
       }},
  };
  return patch;
}

// `game` with the first `steps` file entries of the patch (in the order of
// the copy phase) carried out.
Files Placed(Files game, const Patch& patch, size_t steps) {
  for (const Package& package : patch.packages) {
    for (const FileEntry& file : package.files) {
      if (steps-- == 0) return game;
      if (file.type == 1 || file.type == 2) game[file.name] = file.content;
      if (file.type == 3) game.erase(file.name);
    }
  }
  return game;
}

Files Expected(Files game, const Patch& patch) {
  game["GameInfo.ini"] = GameInfoText("1.0");
  return Placed(std::move(game), patch, SIZE_MAX);
}

// Members are public: the case tables edit them through lambdas.
class QoPatchUserTest : public ::testing::Test {
 public:
  QoPatchUserTest() { Fresh(); }

  // A new game tree (the old one goes first: it restores the current folder).
  void Fresh() {
    mount_.reset();
    fx_.reset();
    fx_ = std::make_unique<GameFixture>();
    patchName_ = "patchinfo_1.0_1.1.ini";
  }

  // Installs the game at `version` and writes the patch.
  void Prepare(const Patch& patch, const std::string& version = "1.0") {
    fx_->InstallGame(installed_, version);
    chmod((fx_->game() / "client/game.sh").c_str(), 0755);
    fx_->WritePatch(patch);
  }

  CpUserResult Update() {
    QoPatchUser user(fx_->window());
    user.SetGameFolder("..\\");
    user.SetPatchFile(patchName_, "patch");
    return user.UpdatePatchFile();
  }

  std::unique_ptr<GameFixture> fx_;
  Files installed_ = InstalledGame();
  std::string patchName_;
  std::unique_ptr<testsupport::ScopedMount> mount_;  // inside the game tree: goes first
};

TEST_F(QoPatchUserTest, AppliesAPatchAndEndsIdenticalToTheNewVersion) {
  const Patch patch = FullPatch(installed_);
  Prepare(patch);
  WriteFile(fx_->launcher() / "TempUpdata/Unzip/left-over.bin", "from an earlier run");
  XdeltaRecorder recorder(fx_->launcher() / "bin");

  ASSERT_EQ(Update(), CP_USER_SUCCESS) << fx_->Log();

  EXPECT_EQ(fx_->GameFiles(), Expected(installed_, patch));
  // The client stays runnable.
  EXPECT_NE(fs::status(fx_->game() / "client/game.sh").permissions() & fs::perms::owner_exec, fs::perms::none);
  EXPECT_FALSE(fs::exists(fx_->launcher() / "TempUpdata"));
  EXPECT_FALSE(fs::exists(fx_->patchFolder()));
  EXPECT_EQ(recorder.Calls(),
            (std::vector<std::vector<std::string>>{{"-v", "-d", "-s", "..//data/delta.bin", "TempUpdata/data/delta.bin",
                                                    "TempUpdata/Unzip/data/delta.bin"}}));

  const Trace expected = {
      "UM_UPDATE_FILES_BEGIN", "UM_UPDATE_FILE_TOTAL 12,4,5,1", "UM_UPDATE_UNPACK_BEGIN",
      // extraction
      "UM_UPDATE_FILE_NAME p0.zip", "UM_UPDATE_FILE_INDEX 1", "UM_UPDATE_FILE_NAME p1.zip", "UM_UPDATE_FILE_INDEX 2",
      // analysis
      "UM_UPDATE_ANALYSE_BEGIN", "UM_UPDATE_FILE_NAME data/whole.txt", "UM_UPDATE_FILE_INDEX 3",
      "UM_UPDATE_FILE_NAME data/added/new.txt", "UM_UPDATE_FILE_INDEX 4", "UM_UPDATE_FILE_NAME old/remove.dat",
      "UM_UPDATE_FILE_INDEX 5", "UM_UPDATE_FILE_NAME data/chunked.bin", "UM_UPDATE_FILE_INDEX 6",
      "UM_UPDATE_FILE_NAME data/big_new.bin", "UM_UPDATE_FILE_INDEX 7", "UM_UPDATE_FILE_NAME data/empty.txt",
      "UM_UPDATE_FILE_INDEX 8", "UM_UPDATE_FILE_NAME data/tricky.bin", "UM_UPDATE_FILE_INDEX 9",
      "UM_UPDATE_FILE_NAME client/game.sh", "UM_UPDATE_FILE_INDEX 10", "UM_UPDATE_FILE_NAME GameInfo.ini",
      "UM_UPDATE_FILE_INDEX 11", "UM_UPDATE_FILE_NAME data/unknown.bin", "UM_UPDATE_FILE_INDEX 12",
      "UM_UPDATE_FILE_NAME data/delta.bin", "UM_UPDATE_FILE_INDEX 13",
      // copy
      "UM_UPDATE_FILE_TOTAL 10,0,0,0", "UM_UPDATE_COPY_BEGIN", "UM_UPDATE_FILE_NAME data/whole.txt",
      "UM_UPDATE_FILE_INDEX 1", "UM_UPDATE_FILE_NAME data/added/new.txt", "UM_UPDATE_FILE_INDEX 2",
      "UM_UPDATE_FILE_NAME old/remove.dat", "UM_UPDATE_FILE_INDEX 3", "UM_UPDATE_FILE_NAME data/chunked.bin",
      "UM_UPDATE_FILE_INDEX 4", "UM_UPDATE_FILE_NAME data/big_new.bin", "UM_UPDATE_FILE_INDEX 5",
      "UM_UPDATE_FILE_NAME data/empty.txt", "UM_UPDATE_FILE_INDEX 6", "UM_UPDATE_FILE_NAME data/tricky.bin",
      "UM_UPDATE_FILE_INDEX 7", "UM_UPDATE_FILE_NAME client/game.sh", "UM_UPDATE_FILE_INDEX 8",
      "UM_UPDATE_FILE_NAME GameInfo.ini", "UM_UPDATE_FILE_INDEX 9", "UM_UPDATE_FILE_NAME data/unknown.bin",
      "UM_UPDATE_FILE_INDEX 10", "UM_UPDATE_FILE_NAME data/delta.bin", "UM_UPDATE_FILE_INDEX 11",
      // clean-up
      "UM_UPDATE_CLEANUP_BEGIN w1", "UM_UPDATE_FILES_DONE"};
  EXPECT_EQ(fx_->messages(), expected);

  const std::string log = fx_->Log();
  for (const char* line :
       {"Start UpdatePatchFile", "Start Unzip", "Start Update", "start m_bUserXdel", "Start DoUnLzma", "Start CopyFile",
        "FILE=patch\\QoPatchUser.cpp,LINE=471 ,CP_USER_SUCCESS \n"})
    EXPECT_NE(log.find(line), std::string::npos) << line;
}

TEST_F(QoPatchUserTest, AProtectedDescriptionIsReadFromACopy) {
  Patch patch = FullPatch(installed_);
  patch.protectedDescription = true;
  Prepare(patch);
  const std::string description = ReadFile(fx_->patchFolder() / patchName_);

  QoPatchUser user(nullptr);
  user.SetGameFolder("..\\");
  user.SetPatchFile(patchName_, "patch");
  ASSERT_EQ(user.CheckPatchFile(), CP_USER_SUCCESS) << fx_->Log();
  EXPECT_EQ(user.versionNew(), "1.1");
  EXPECT_EQ(user.packages().size(), 2u);
  EXPECT_EQ(ReadFile(fx_->patchFolder() / patchName_), description);

  EXPECT_EQ(Update(), CP_USER_SUCCESS) << fx_->Log();
  EXPECT_EQ(fx_->GameFiles(), Expected(installed_, patch));
}

TEST_F(QoPatchUserTest, AnEmptyPatchRunsEveryPhase) {
  Prepare(Patch{});
  ASSERT_EQ(Update(), CP_USER_SUCCESS) << fx_->Log();
  EXPECT_EQ(fx_->messages(), (Trace{"UM_UPDATE_FILES_BEGIN", "UM_UPDATE_FILE_TOTAL 0,0,0,0", "UM_UPDATE_UNPACK_BEGIN",
                                    "UM_UPDATE_ANALYSE_BEGIN", "UM_UPDATE_FILE_TOTAL 0,0,0,0", "UM_UPDATE_COPY_BEGIN",
                                    "UM_UPDATE_CLEANUP_BEGIN w1", "UM_UPDATE_FILES_DONE"}));
  EXPECT_EQ(fx_->GameFiles(), Expected(installed_, Patch{}));
}

// Failures before the copy phase: the code, UM_UPDATE_FILES_FAILED with it as
// the last message, the log line, the game folder untouched, nothing left in
// the staging folder and the patch folder kept.
TEST_F(QoPatchUserTest, FailuresBeforeTheCopyPhaseLeaveTheGameUntouched) {
  struct Case {
    const char* label;
    CpUserResult code;
    const char* logged;
    std::function<void(Patch&)> editPatch;
    std::function<void(QoPatchUserTest&)> afterPrepare;
    std::string installedVersion = "1.0";
  } cases[] = {
      {"installed version differs", CP_USER_VERSION_MISMATCH,
       "LINE=89 ,GameVersion not mate,GameVersion=0.9,updateVersion=1.0", nullptr, nullptr, "0.9"},
      {"description without VersionOld", CP_USER_VERSION_MISMATCH, "LINE=89 ,GameVersion not mate,GameVersion=1.0,",
       [](Patch& p) { p.versionOld = ""; }, nullptr},
      {"package MD5 in lower case", CP_USER_MD5_MISMATCH, "LINE=125 ,Package Md5 not mate loaclMD5=",
       [](Patch& p) { p.packages[0].md5 = "0123456789abcdef0123456789abcdef"; }, nullptr},
      {"zip entries that climb out of the staging folder", CP_USER_UNZIP_ERROR,
       "LINE=272 ,Unzip Error, UnComPress Error  Path =patch\\p0.zip",
       [](Patch& p) {
         p.packages[0].files.push_back({"aa/bb/cc/victim.txt", 4, "evil"});
       },
       [](QoPatchUserTest& t) {
         const fs::path zip = t.fx_->patchFolder() / "p0.zip";
         const std::string oldMd5 = Md5Of(ReadFile(zip));
         patchtest::PatchBytes(zip, "aa/bb/cc/victim.txt", "../../../victim.txt");
         patchtest::PatchBytes(t.fx_->patchFolder() / t.patchName_, oldMd5, Md5Of(ReadFile(zip)));
       }},
      {"no GameInfo.ini", CP_USER_GAMEINFO_MISSING, "LINE=69 ,Cant Find GameInfo.ini,PathofGameInfo=..\\\\GameInfo.ini",
       nullptr, [](QoPatchUserTest& t) { fs::remove(t.fx_->game() / "GameInfo.ini"); }},
      {"package missing", CP_USER_FILE_ERROR, "LINE=107 ,UpdatePackge cant find,Package=patch\\p1.zip", nullptr,
       [](QoPatchUserTest& t) { fs::remove(t.fx_->patchFolder() / "p1.zip"); }},
      {"description missing", CP_USER_FILE_ERROR, "LINE=44 ,patchFile=patch\\patchinfo_1.0_1.1.ini not found", nullptr,
       [](QoPatchUserTest& t) { fs::remove(t.fx_->patchFolder() / t.patchName_); }},
      {"no description name", CP_USER_FILE_ERROR, "LINE=29 ,patchFileDir=patch,patchInfoFile = not found", nullptr,
       [](QoPatchUserTest& t) { t.patchName_ = ""; }},
      {"description name outside the folder", CP_USER_PATCHINFO_ERROR, "patchInfoFile =../patchinfo.ini unsafe name",
       nullptr,
       [](QoPatchUserTest& t) {
         fs::copy_file(t.fx_->patchFolder() / t.patchName_, t.fx_->launcher() / "patchinfo.ini");
         t.patchName_ = "../patchinfo.ini";
       }},
      {"protected description with a bad CRC", CP_USER_PATCHINFO_ERROR,
       "LINE=57 ,InputPatchInfoFile error ,patchFile=patch\\patchinfo_1.0_1.1.ini",
       [](Patch& p) { p.protectedDescription = true; },
       [](QoPatchUserTest& t) {
         std::string bytes = ReadFile(t.fx_->patchFolder() / t.patchName_);
         bytes[150] ^= 0x20;
         WriteFile(t.fx_->patchFolder() / t.patchName_, bytes);
       }},
      {"delta against a changed installed file", CP_USER_ANALYSIS_ERROR,
       "LINE=945 ,Analysis Error, mate md5 error file=data/delta.bin", nullptr,
       [](QoPatchUserTest& t) { WriteFile(t.fx_->game() / "data/delta.bin", SampleBytes(256 * 1024, 99)); }},
      {"new file with its MD5 in lower case", CP_USER_ANALYSIS_ERROR, "LINE=870 ,Analysis Error, mate md5 error \n",
       [](Patch& p) { p.packages[0].files[1].md5 = ToLowerAscii(Md5Of("brand new")); }, nullptr},
      {"updated file with a wrong MD5", CP_USER_ANALYSIS_ERROR,
       "LINE=1000 ,Analysis Error, mate md5 errorPath =data/whole.txt strmD5 =",
       [](Patch& p) { p.packages[0].files[0].md5 = Md5Of("something else"); }, nullptr},
      {"file missing from its package", CP_USER_ANALYSIS_ERROR,
       "LINE=830 ,Analysis Error, FileExist error  Path =TempUpdata\\Unzip\\data/added/new.txt",
       [](Patch& p) { p.packages[0].files[1].form = Form::kNone; }, nullptr},
      // A whole Temp/x is finished in the place where the LZMA work copy of x
      // is written afterwards.
      {"file named like the LZMA work copy of another", CP_USER_PATCHINFO_ERROR,
       "LINE=280 ,Unzip Error, the files Temp/data/chunked.bin and data/chunked.bin would meet in the applier's "
       "staging folder",
       [](Patch& p) {
         auto& files = p.packages[1].files;
         files.insert(files.begin(), {"Temp/data/chunked.bin", 2, "temp copy"});
       },
       [](QoPatchUserTest& t) { WriteFile(t.fx_->game() / "Temp/data/chunked.bin", "old temp copy"); }},
      // The payload of a new Unzip/x is written over the rebuilt x.
      {"file named like the unzipped copy of another", CP_USER_PATCHINFO_ERROR,
       "LINE=280 ,Unzip Error, the files data/delta.bin and Unzip/data/delta.bin would meet in the applier's "
       "staging folder",
       [](Patch& p) {
         p.packages[1].files.push_back({"Unzip/data/delta.bin", 1, "unzip copy"});
       },
       nullptr},
      // The launcher folder lies in the game folder; its files belong to the
      // self-update.
      {"new file in the launcher folder", CP_USER_PATCHINFO_ERROR,
       "LINE=98 ,PatchFile in the launcher folder,File=launcher/launcher.ini",
       [](Patch& p) {
         p.packages[0].files.push_back({"launcher/launcher.ini", 1, "[update]\n"});
       },
       nullptr},
      {"deleted launcher", CP_USER_PATCHINFO_ERROR,
       "LINE=98 ,PatchFile in the launcher folder,File=./launcher\\TovaLauncher.exe",
       [](Patch& p) {
         p.packages[0].files.push_back({"./launcher\\TovaLauncher.exe", 3, "", Form::kNone});
       },
       [](QoPatchUserTest& t) { WriteFile(t.fx_->launcher() / "TovaLauncher.exe", "launcher"); }},
      {"package that is no zip", CP_USER_UNZIP_ERROR, "LINE=272 ,Unzip Error, UnComPress Error  Path =patch\\p1.zip",
       [](Patch& p) { p.packages[1].md5 = Md5Of("not a zip"); },
       [](QoPatchUserTest& t) { WriteFile(t.fx_->patchFolder() / "p1.zip", "not a zip"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Fresh();
    Patch patch = FullPatch(installed_);
    if (c.editPatch) c.editPatch(patch);
    Prepare(patch, c.installedVersion);
    if (c.afterPrepare) c.afterPrepare(*this);
    const Files before = fx_->GameFiles();
    XdeltaRecorder recorder(fx_->launcher() / "bin");

    EXPECT_EQ(Update(), c.code);
    umount2((fx_->launcher() / "TempUpdata/Unzip/data").c_str(), MNT_DETACH);  // what a stand-in mounted

    ASSERT_FALSE(fx_->messages().empty());
    EXPECT_EQ(fx_->messages().back(), "UM_UPDATE_FILES_FAILED " + std::to_string(static_cast<int32_t>(c.code)));
    EXPECT_NE(fx_->Log().find(c.logged), std::string::npos) << fx_->Log();
    EXPECT_EQ(fx_->GameFiles(), before);
    const fs::path staging = fx_->launcher() / "TempUpdata";
    EXPECT_TRUE(!fs::exists(staging) || fs::is_empty(staging));
    EXPECT_TRUE(fs::exists(fx_->patchFolder()));
    // Only the delta step may run xdelta3, and only after its source checked out.
    EXPECT_TRUE(recorder.Calls().empty());
  }
}

// Failures in the copy phase: what was copied or deleted before stays, the
// rest is unchanged, and the staging folder is left empty.
TEST_F(QoPatchUserTest, CopyPhaseFailuresKeepWhatWasDoneSoFar) {
  struct Case {
    const char* label;
    std::function<void(QoPatchUserTest&)> afterPrepare;
    const char* logged;
  } cases[] = {
      {"delete of a file that is already absent",
       [](QoPatchUserTest& t) { fs::remove(t.fx_->game() / "old/remove.dat"); },
       "LINE=440 ,Analysis Error,DeleteFile error  Path =..\\\\old/remove.dat"},
      {"whole update of a file missing from the game",
       [](QoPatchUserTest& t) { fs::remove(t.fx_->game() / "data/chunked.bin"); },
       "LINE=415 ,Analysis Error,DeleteFile error  Path =..\\\\data/chunked.bin"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Fresh();
    const Patch patch = FullPatch(installed_);
    Prepare(patch);
    c.afterPrepare(*this);

    EXPECT_EQ(Update(), CP_USER_FILE_ERROR);

    EXPECT_EQ(fx_->messages().back(), "UM_UPDATE_FILES_FAILED 2");
    EXPECT_NE(fx_->Log().find(c.logged), std::string::npos) << fx_->Log();
    const Files game = fx_->GameFiles();
    // The first two entries were placed before the failure; later ones not.
    EXPECT_EQ(game.at("data/whole.txt"), "new whole content");
    EXPECT_EQ(game.at("data/added/new.txt"), "brand new");
    EXPECT_EQ(game.count("data/big_new.bin"), 0u);
    EXPECT_EQ(game.at("GameInfo.ini"), GameInfoText("1.0"));
    EXPECT_TRUE(fs::is_empty(fx_->launcher() / "TempUpdata"));
    EXPECT_TRUE(fs::exists(fx_->patchFolder()));
  }
}

// Every failure path of the applier, each provoked on the full patch: the
// code, UM_UPDATE_FILES_FAILED with it as the last message (UM_UPDATE_FILES_DONE
// on success), the log line, and the game folder with the copy steps done
// before the failure.
TEST_F(QoPatchUserTest, FailurePathsEndWithTheirCodeLogLineAndGame) {
  const std::string otherMd5 = Md5Of("not what the delta gives");
  const std::string deltaMd5 = Md5Of(FullPatch(installed_).packages[1].files.back().content);
  const std::string brokenLzma = "LZMA" + std::string(13, 'x');  // its record length runs past the end
  struct Case {
    const char* label;
    std::function<void(Patch&)> editPatch;
    std::function<void(QoPatchUserTest&)> provoke;  // once the game and the patch are written
    const char* xdelta;                             // script standing in for xdelta3; null: the real one
    CpUserResult code;
    std::string logged;
    size_t placed;               // copy steps done before the failure
    const char* lost = nullptr;  // a game file the failing step deleted
  } cases[] = {
      {"staging folder cannot be made", nullptr,
       [](QoPatchUserTest& t) { fs::create_symlink("nowhere", t.fx_->launcher() / "TempUpdata"); }, nullptr,
       CP_USER_FILE_ERROR, "LINE=154 ,Create File Dir Error ,FileDir=TempUpdata\\ open error   \n", 0},
      {"an earlier run's staging cannot be removed", nullptr,
       [](QoPatchUserTest& t) {
         WriteFile(t.fx_->launcher() / "TempUpdata/left/over.bin", "read-only");
         chmod((t.fx_->launcher() / "TempUpdata/left/over.bin").c_str(), 0444);
       },
       nullptr, CP_USER_FILE_ERROR, "LINE=169 ,Delete Dir ,Dir=TempUpdata\\ open error   \n", 0},
      {"LZMA container of a new file that cannot be expanded",
       [&](Patch& p) {
         p.packages[1].files[1] = {"data/big_new.bin", 1, brokenLzma};
       },
       nullptr, nullptr, CP_USER_ANALYSIS_ERROR, "LINE=841 ,Analysis Error, DoUnLzma error  Path =data/big_new.bin", 0},
      {"LZMA container of a changed file that cannot be expanded",
       [&](Patch& p) {
         p.packages[1].files[0] = {"data/chunked.bin", 2, brokenLzma};
       },
       nullptr, nullptr, CP_USER_ANALYSIS_ERROR, "LINE=913 ,Analysis Error, DoUnLzma error  Path =data/chunked.bin", 0},
      {"xdelta3 fails", nullptr, nullptr, "exit 1", CP_USER_ANALYSIS_ERROR,
       "LINE=956 ,CPT_XDELTA Error, mate md5 error SrcDir =..\\\\data/delta.bin,DifDir =TempUpdata\\data/delta.bin,"
       "DstDir =TempUpdata\\Unzip\\data/delta.bin",
       0},
      {"a delta that applies but gives other bytes than described",
       [&](Patch& p) { p.packages[1].files.back().md5 = otherMd5; }, nullptr, nullptr, CP_USER_ANALYSIS_ERROR,
       "LINE=1000 ,Analysis Error, mate md5 errorPath =data/delta.bin strmD5 =" + deltaMd5 +
           ",itPatchFileInfoVec->m_md5Check =" + otherMd5,
       0},
      // The stand-in makes the unzipped copy of the file after the delta
      // read-only.
      {"the unzipped copy of a changed file cannot be deleted",
       [](Patch& p) {
         p.packages[1].files.push_back({"data/keep.txt", 2, "kept anew"});
       },
       nullptr, "/usr/bin/xdelta3 \"$@\" && chmod 444 TempUpdata/Unzip/data/keep.txt", CP_USER_ANALYSIS_ERROR,
       "LINE=969 ,Analysis Error, DeleteFile error  Path =TempUpdata\\Unzip\\data/keep.txt", 0},
      // The stand-in moves the unzipped files onto a full file system of
      // their own and leaves the file after the delta sparse there: it can be
      // deleted, but its payload, written back densely, fits nowhere. Where
      // no file system can be mounted, the probe skips the row.
      {"the unzipped copy of a changed file cannot be replaced",
       [](Patch& p) {
         p.packages[1].files.push_back({"data/keep.txt", 2, "kept anew"});
       },
       [](QoPatchUserTest& t) {
         t.mount_ = std::make_unique<testsupport::ScopedMount>(t.fx_->launcher() / "probe", 4096);
       },
       "/usr/bin/xdelta3 \"$@\" && u=TempUpdata/Unzip/data && mv $u TempUpdata/held && mkdir $u && "
       "mount -t tmpfs -o size=16m tmpfs $u && cp -a TempUpdata/held/. $u/ && rm -r TempUpdata/held && "
       "truncate -s 32M $u/keep.txt && { dd if=/dev/zero of=$u/filler bs=4k 2>/dev/null; true; }",
       CP_USER_ANALYSIS_ERROR, "LINE=979 ,Analysis Error, MoveFile error  Path =TempUpdata\\data/keep.txt", 0},
      {"a later package's stale copy replaces the earlier package's file",
       [](Patch& p) {
         p.packages[1].files.push_back({"data/whole.txt", 4, "stale whole"});
       },
       nullptr, nullptr, CP_USER_ANALYSIS_ERROR,
       "LINE=1000 ,Analysis Error, mate md5 errorPath =data/whole.txt strmD5 =" + Md5Of("stale whole"), 0},
      {"a later package's copy replaces an earlier package's stale one",
       [](Patch& p) {
         p.packages[0].files.push_back({"client/game.sh", 4, "stale client"});
       },
       nullptr, nullptr, CP_USER_SUCCESS, "LINE=471 ,CP_USER_SUCCESS \n", SIZE_MAX},
      {"the folder of a new file cannot be made", nullptr,
       [](QoPatchUserTest& t) { fs::create_symlink("nowhere", t.fx_->game() / "data/added"); }, nullptr,
       CP_USER_FILE_ERROR, "LINE=379 ,Analysis Error,CreateFileDir error  Path =..\\\\data/added/new.txt", 1},
      {"a new file cannot be placed", nullptr,
       [](QoPatchUserTest& t) { fs::create_directories(t.fx_->game() / "data/added/new.txt"); }, nullptr,
       CP_USER_COPY_ERROR, "LINE=390 ,Analysis Error,MoveFile error  Path =TempUpdata\\data/added/new.txt", 1},
      {"the folder of a changed file cannot be made", nullptr,
       [](QoPatchUserTest& t) {
         fs::remove_all(t.fx_->game() / "client");
         fs::create_symlink("nowhere", t.fx_->game() / "client");
       },
       nullptr, CP_USER_FILE_ERROR, "LINE=406 ,Analysis Error,CreateFileDir error  Path =..\\\\client/game.sh", 7},
      // data/ is a full file system of its own: the changed file, larger than
      // the one it replaces, can be neither linked nor copied there.
      {"a changed file cannot be placed", [](Patch& p) { p.packages[0].files[0].content = SampleBytes(64 * 1024, 31); },
       [](QoPatchUserTest& t) {
         t.mount_ = std::make_unique<testsupport::ScopedMount>(t.fx_->game() / "data", 1024 * 1024);
         if (!t.mount_->ok()) return;
         for (const auto& [name, content] : t.installed_) {
           if (name.rfind("data/", 0) == 0) WriteFile(t.fx_->game() / name, content);
         }
         struct statvfs space {};
         ASSERT_EQ(statvfs((t.fx_->game() / "data").c_str(), &space), 0);
         WriteFile(t.fx_->game() / "data/filler.bin", std::string(space.f_bavail * space.f_frsize, '\0'));
       },
       nullptr, CP_USER_COPY_ERROR, "LINE=425 ,Analysis Error,MoveFile error  Path =TempUpdata\\Unzip\\data/whole.txt",
       0, "data/whole.txt"},
      // The stand-in leaves a read-only file in the staging folder.
      {"the staging folder cannot be removed", nullptr, nullptr,
       "/usr/bin/xdelta3 \"$@\" && mkdir -p TempUpdata/stuck && echo x > TempUpdata/stuck/file && "
       "chmod 444 TempUpdata/stuck/file",
       CP_USER_FILE_ERROR, "LINE=462 ,Analysis Error,DeleteDir error  Path =TempUpdata\\\n", SIZE_MAX},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Fresh();
    Patch patch = FullPatch(installed_);
    if (c.editPatch) c.editPatch(patch);
    Prepare(patch);
    if (c.provoke) c.provoke(*this);
    if (mount_ && !mount_->ok()) {
      std::cout << "skipped \"" << c.label << "\": " << mount_->problem() << "\n";
      continue;
    }
    const Files before = fx_->GameFiles();
    std::unique_ptr<patchtest::PathScope> xdelta;
    if (c.xdelta != nullptr) {
      const fs::path bin = fx_->launcher() / "fakebin";
      WriteFile(bin / "xdelta3", std::string("#!/bin/sh\n") + c.xdelta + "\n");
      fs::permissions(bin / "xdelta3", fs::perms::owner_all);
      xdelta = std::make_unique<patchtest::PathScope>(bin.string() + ":" + std::getenv("PATH"));
    }

    EXPECT_EQ(Update(), c.code);
    umount2((fx_->launcher() / "TempUpdata/Unzip/data").c_str(), MNT_DETACH);  // what a stand-in mounted

    ASSERT_FALSE(fx_->messages().empty());
    EXPECT_EQ(fx_->messages().back(), c.code == CP_USER_SUCCESS
                                          ? "UM_UPDATE_FILES_DONE"
                                          : "UM_UPDATE_FILES_FAILED " + std::to_string(static_cast<int32_t>(c.code)));
    EXPECT_NE(fx_->Log().find(c.logged), std::string::npos) << fx_->Log();
    Files game = Placed(before, patch, c.placed);
    if (c.lost != nullptr) game.erase(c.lost);
    EXPECT_EQ(fx_->GameFiles(), game);
  }
}

class InstallGamePageTest : public ::testing::Test {
 public:
  // Writes the pages (name -> files) into "pages" and their description.
  void WritePages(const std::vector<std::pair<std::string, Files>>& pages) {
    std::string text =
        "[PatchVersion]\nVersionOld=1.0\nVersionNew=1.0\n[Packages]\nPackageNum=" + std::to_string(pages.size()) + "\n";
    for (size_t i = 0; i < pages.size(); ++i) {
      testsupport::TempDir stage;
      std::vector<std::string> names;
      for (const auto& [name, content] : pages[i].second) {
        WriteFile(stage.path() / name, content);
        names.push_back(name);
      }
      const fs::path zip = fx_.launcher() / "pages" / pages[i].first;
      fs::create_directories(zip.parent_path());
      patchtest::MakeZip(zip, stage.path(), names);
      text += "Package" + std::to_string(i) + "=" + pages[i].first + ",0," + std::to_string(fs::file_size(zip)) + "," +
              Md5Of(ReadFile(zip)) + "\n";
    }
    WriteFile(fx_.launcher() / "pages" / "intallinfo_1.0.ini", text);
  }

  CpUserResult Install() {
    QoPatchUser user(fx_.window());
    user.SetInstallFile("pages\\intallinfo_1.0.ini", "pages");
    return user.InstallGamePage();
  }

  GameFixture fx_;
};

TEST_F(InstallGamePageTest, ExtractsEveryPageIntoTheGameRoot) {
  WritePages({{"page1.zip", {{"client/meadow_jp.exe", "client"}, {"data/a.pak", "a"}}},
              {"page2.zip", {{"data/b.pak", "b"}, {"GameInfo.ini", GameInfoText("1.0")}}}});

  ASSERT_EQ(Install(), CP_USER_SUCCESS) << fx_.Log();

  EXPECT_EQ(fx_.GameFiles(), (Files{{"client/meadow_jp.exe", "client"},
                                    {"data/a.pak", "a"},
                                    {"data/b.pak", "b"},
                                    {"GameInfo.ini", GameInfoText("1.0")}}));
  EXPECT_EQ(fx_.messages(),
            (Trace{"UM_PAGES_BEGIN", "UM_PAGE_TOTAL 2,2,0,0", "UM_PAGES_UNPACK_BEGIN", "UM_PAGE_NAME page1.zip",
                   "UM_PAGE_INDEX 1", "UM_PAGE_NAME page2.zip", "UM_PAGE_INDEX 2", "UM_PAGES_DONE"}));
  EXPECT_FALSE(fs::exists(fx_.launcher() / "pages"));
  EXPECT_NE(fx_.Log().find("FILE=patch\\QoPatchUser.cpp,LINE=557 ,CP_USER_SUCCESS \n"), std::string::npos);
}

// A page entry that leads into the launcher's own folder refuses the page
// before anything of it is written.
TEST_F(InstallGamePageTest, PagesNeverWriteIntoTheLauncherFolder) {
  WriteFile(fx_.launcher() / "launcher.ini", "[update]\nupdateUrl=http://127.0.0.1/\n");
  WritePages({{"page1.zip", {{"data/a.pak", "a"}, {"launcher/launcher.ini", "[update]\nupdateUrl=http://evil/\n"}}}});

  EXPECT_EQ(Install(), CP_USER_UNZIP_ERROR);

  EXPECT_EQ(ReadFile(fx_.launcher() / "launcher.ini"), "[update]\nupdateUrl=http://127.0.0.1/\n");
  EXPECT_EQ(fx_.GameFiles(), Files{});
}

// A list naming `names`, with placeholder sums.
std::string ListNaming(const std::vector<std::string>& names) {
  std::string text = "[Version]\nVersion=1.0\n[FileList]\nFileCount=" + std::to_string(names.size()) + "\n";
  for (size_t i = 0; i < names.size(); ++i) text += "File" + std::to_string(i) + "=" + names[i] + ",0,0,0,0\n";
  return text;
}

// After a failed installation, what it extracted that the installed list does
// not name goes again (a page may hold anything, gigabytes of zeros
// included); what the list names, and what was there before, stays.
TEST_F(InstallGamePageTest, AFailedInstallationRemovesWhatTheListDoesNotName) {
  const std::string list = ListNaming({"data/a.pak"});
  struct Case {
    const char* label;
    bool listInPlace;  // else the first page brings it
    Files after;
  } cases[] = {
      {"list in place", true, {{"GameInfo.ini", list}, {"data/a.pak", "a"}, {"save/user.dat", "mine"}}},
      // A list that a page brings waits in the page folder until every page
      // is in: after a failure it never reached the game and names nothing.
      {"list brought by the first page", false, {{"save/user.dat", "mine"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(fx_.game() / "data");
    fs::remove_all(fx_.game() / "junk");
    fs::remove_all(fx_.launcher() / "pages");
    fs::remove(fx_.game() / "GameInfo.ini");
    WriteFile(fx_.game() / "save/user.dat", "mine");
    Files first = {{"data/a.pak", "a"}, {"junk/zero.bin", std::string(64 * 1024, '\0')}};
    if (c.listInPlace) {
      WriteFile(fx_.game() / "GameInfo.ini", list);
    } else {
      first["GameInfo.ini"] = list;
    }
    WritePages({{"page1.zip", first}, {"page2.zip", {{"data/b.pak", "b"}}}});
    WriteFile(fx_.launcher() / "pages/page2.zip", "junk");

    EXPECT_EQ(Install(), CP_USER_UNZIP_ERROR);

    EXPECT_EQ(fx_.GameFiles(), c.after);
  }
  EXPECT_NE(fx_.Log().find("Failed installation, extracted files removed: 2"), std::string::npos) << fx_.Log();
}

TEST_F(InstallGamePageTest, FailuresStopAtTheFailingPage) {
  struct Case {
    const char* label;
    std::function<void(InstallGamePageTest&)> spoil;
    CpUserResult code;
    const char* lastMessage;
    const char* logged;
    bool firstPageExtracted;
  } cases[] = {
      {"second page missing", [](InstallGamePageTest& t) { fs::remove(t.fx_.launcher() / "pages/page2.zip"); },
       CP_USER_FILE_ERROR, "UM_PAGE_MISSING 2", "LINE=536 ,Unzip Error Packahe not find  Package =pages\\page2.zip",
       true},
      {"second page no zip", [](InstallGamePageTest& t) { WriteFile(t.fx_.launcher() / "pages/page2.zip", "junk"); },
       CP_USER_UNZIP_ERROR, "UM_PAGE_UNZIP_FAILED 8", "LINE=546 ,Unzip Error, UnComPress Error  Path =pages\\page2.zip",
       true},
      {"description with a bad CRC",
       [](InstallGamePageTest& t) {
         ProtectionKey key;
         BuildProtectionKey(key);
         const fs::path path = t.fx_.launcher() / "pages/intallinfo_1.0.ini";
         std::string bytes = ProtectBuffer(key, ReadFile(path));
         bytes[120] ^= 1;
         WriteFile(path, bytes);
       },
       CP_USER_PATCHINFO_ERROR, "UM_PAGE_UNZIP_FAILED 4",
       "InputPackageList error ,installInfo=pages\\intallinfo_1.0.ini", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(fx_.game() / "data");
    fs::remove_all(fx_.launcher() / "pages");
    // The installed list names the first page's file, which therefore stays
    // after the failure.
    WriteFile(fx_.game() / "GameInfo.ini", ListNaming({"data/a.pak"}));
    WritePages({{"page1.zip", {{"data/a.pak", "a"}}}, {"page2.zip", {{"data/b.pak", "b"}}}});
    c.spoil(*this);
    const size_t before = fx_.messages().size();

    EXPECT_EQ(Install(), c.code);

    EXPECT_GT(fx_.messages().size(), before);
    EXPECT_EQ(fx_.messages().back(), c.lastMessage);
    EXPECT_NE(fx_.Log().find(c.logged), std::string::npos) << fx_.Log();
    EXPECT_EQ(fs::exists(fx_.game() / "data/a.pak"), c.firstPageExtracted);
    EXPECT_FALSE(fs::exists(fx_.game() / "data/b.pak"));
    EXPECT_TRUE(fs::exists(fx_.launcher() / "pages"));
  }
}

}  // namespace
