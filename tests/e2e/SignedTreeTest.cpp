// The launcher built with the test signing key against trees signed with
// tests/data/signing/test.key: a signed tree serves the whole chain, and each
// forged, mixed, stale or unsigned file fails its base, leaving the game and
// the launcher folder as they were.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/FaultChainFixture.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using e2e::InOrder;
using e2e::Joined;
using testsupport::ReadFile;
using testsupport::WriteFile;

constexpr const char* kSerial = "1000";

// Rewrites the plain list of server `server`'s launcher version from the
// files of its folder, each with its true MD5, CRC and size: the list a
// forger who can change files but not sign would serve.
void RelistLauncherFolder(const fs::path& server) {
  const fs::path folder = server / "LauncherVersion" / "Launcher_1.0.0";
  ASSERT_EQ(testsupport::RunShell(
                "cd '" + folder.string() +
                "' && python3 -c \"import hashlib, os, struct, zlib\n"
                "names = sorted(n for n in os.listdir('.') if n != 'GameInfo.ini' and not n.endswith('.sig'))\n"
                "lines = ['[Version]', 'Version=1.0.0', '[FileList]', 'FileCount=%d' % len(names)]\n"
                "for i, n in enumerate(names):\n"
                "  b = open(n, 'rb').read()\n"
                "  crc = struct.pack('<I', zlib.crc32(b)).hex().upper()\n"
                "  lines.append('File%d=%s,%s,%s,%d,1' % (i, n, hashlib.md5(b).hexdigest().upper(), crc, len(b)))\n"
                "open('GameInfo.ini', 'w', newline='').write('\\r\\n'.join(lines) + '\\r\\n')\""),
            0);
}

class SignedTreeTest : public e2e::FaultChainTest {
 protected:
  fs::path Program() const override { return e2e::BuiltProgram("tests/e2e/signed-program/TovaLauncher.exe"); }

  std::vector<std::string> Signed(const std::string& serial, const std::string& expiryDays = "30") const {
    return {"--signing-key", TEST_SIGNING_KEY, "--release-serial", serial, "--expiry-days", expiryDays};
  }

  // The pristine tree, signed; its installation version file names the
  // first version (as FaultChainTest's does) with the signature of a tree
  // that has only that version.
  std::string PublishSignedPristine() {
    const std::string base = PublishPristine(Signed(kSerial));
    Publish("first-only", LauncherSource("1", ""), {kVersions.front()}, Signed(kSerial));
    for (const char* name : {"version", "version.sig"}) {
      fs::copy_file(ServerBase("first-only") / "InstallVersion" / name,
                    ServerBase("pristine") / "InstallVersion" / name, fs::copy_options::overwrite_existing);
    }
    return base;
  }

  // Every signature file of server `name` signed as `serial` and `expiryDays`
  // (a fresh publication of the same versions, its signatures copied over).
  void Resign(const std::string& name, const std::string& serial, const std::string& expiryDays) {
    const std::string other = name + "-signatures";
    Publish(other, LauncherSource("1", ""), kVersions, Signed(serial, expiryDays));
    Publish(other + "-first", LauncherSource("1", ""), {kVersions.front()}, Signed(serial, expiryDays));
    fs::copy_file(ServerBase(other + "-first") / "InstallVersion" / "version.sig",
                  ServerBase(other) / "InstallVersion" / "version.sig", fs::copy_options::overwrite_existing);
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(ServerBase(other))) {
      if (entry.path().extension() != ".sig") continue;
      fs::copy_file(entry.path(), ServerBase(name) / fs::relative(entry.path(), ServerBase(other)),
                    fs::copy_options::overwrite_existing);
    }
  }

  std::string SignatureFilesIn(const fs::path& folder) const {
    std::string found;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
      if (entry.path().extension() == ".sig") found += entry.path().string() + " ";
    }
    return found;
  }
};

TEST_F(SignedTreeTest, ASignedTreeServesSelfUpdateInstallationAndPatches) {
  const std::string base = PublishSignedPristine();
  ResetGameTree("pristine");
  fs::remove_all(gameDir() / "GameInfo.ini");
  WriteFile(launcherDir() / "launcher.dat", "an older launcher data file\n");
  WriteBases({base, base, base, base});

  const size_t mark = Events().size();
  EXPECT_EQ(Run({}, ""), 0) << output << LaunchLog();
  EXPECT_TRUE(InOrder(EventNamesSince(mark), {"LE_UpdateSelfSuccess", "LE_InstallSuccess", "LE_StartGamePatch",
                                              "LE_StartGamePatch", "LE_GamePatchNoNeed"}))
      << Joined(EventNamesSince(mark));
  ExpectClientStarted();
  ExpectPublished("pristine", kLatest);
  EXPECT_EQ(LaunchLog().find("Signature check failed"), std::string::npos) << LaunchLog();
  EXPECT_EQ(ReadFile(launcherDir() / "SignedSerial"), std::string(kSerial) + "\n");
  EXPECT_EQ(SignatureFilesIn(gameDir()), "");
  WaitForProcessesInGameTree();
}

// Each attack against an installed first version; the run may fail, but the
// game keeps the first version (or reaches the last one from a good base) and
// the launcher folder keeps the published launcher.
TEST_F(SignedTreeTest, EachAttackFailsItsBaseAndLeavesTheGameAsItWas) {
  const std::string pristine = PublishSignedPristine();
  struct Case {
    const char* what;
    std::function<void(const std::string& name, const std::string& base)> prepare;
    int status;
    const char* version;  // the game's version afterwards
    std::string logged;
  } cases[] = {
      {"the first base serves a changed launcher file with a list of its MD5 and CRC: the primary is used",
       [&](const std::string& name, const std::string& base) {
         const fs::path launcher = ServerBase(name) / "LauncherVersion" / "Launcher_1.0.0" / "launcher.dat";
         std::string bytes = ReadFile(launcher);
         bytes[0] ^= 1;
         WriteFile(launcher, bytes);
         RelistLauncherFolder(ServerBase(name));
         WriteBases({base, pristine, pristine, pristine});
         ServePrimary("pristine");
       },
       0, kLatest, "Signature check failed (sha256)"},
      {"every base serves a replaced launcher with a matching unsigned list",
       [&](const std::string& name, const std::string& base) {
         WriteFile(ServerBase(name) / "LauncherVersion" / "Launcher_1.0.0" / "TovaLauncher.exe",
                   "#!/bin/sh\necho forged launcher\n");
         RelistLauncherFolder(ServerBase(name));
         WriteBases({base, base, base, base});
       },
       1, "1.0", "Signature check failed (sha256)"},
      {"the signature and description of the second patch served for the first",
       [&](const std::string& name, const std::string& base) {
         const fs::path patches = ServerBase(name) / "AutoPatch";
         for (const char* suffix : {"", ".sig"}) {
           fs::copy_file(patches / "AutoPatch_1.1_1.2" / (std::string("patchinfo_1.1_1.2.ini") + suffix),
                         patches / "AutoPatch_1.0_1.1" / (std::string("patchinfo_1.0_1.1.ini") + suffix),
                         fs::copy_options::overwrite_existing);
         }
         WriteBases({base, base, base, base});
       },
       1, "1.0", "Signature check failed (path)"},
      {"expired signatures",
       [&](const std::string& name, const std::string& base) {
         Resign(name, kSerial, "0");
         WriteBases({base, base, base, base});
       },
       1, "1.0", "Signature check failed (expired)"},
      {"a missing signature of the patch list",
       [&](const std::string& name, const std::string& base) {
         fs::remove(ServerBase(name) / "AutoPatch" / "AutoPatch.ini.sig");
         WriteBases({base, base, base, base});
       },
       1, "1.0", "Signature check failed (missing)"},
      {"an older publication after a newer one was accepted",
       [&](const std::string& name, const std::string& base) {
         WriteBases({pristine, pristine, pristine, pristine});
         ASSERT_EQ(Run({}, ""), 0) << output << LaunchLog();
         WaitForProcessesInGameTree();
         for (const fs::directory_entry& entry : fs::directory_iterator(gameDir())) {
           if (entry.path().filename() != "launcher") fs::remove_all(entry.path());
         }
         InstallGameVersion(name, kVersions.front());
         Resign(name, "999", "30");
         WriteBases({base, base, base, base});
       },
       1, "1.0", "Signature check failed (serial)"},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string name = "attack" + std::to_string(index++);
    const std::string base = CopyOfPristine(name);
    ResetGameTree("pristine");
    ServePrimary("");
    InstallGameVersion("pristine", kVersions.front());
    c.prepare(name, base);
    if (HasFatalFailure()) return;

    const int status = Run({}, "n\nn\n");
    EXPECT_EQ(status, c.status) << output << LaunchLog();
    EXPECT_NE(LaunchLog().find(c.logged), std::string::npos) << LaunchLog();
    WaitForProcessesInGameTree();
    RemoveClientRecords();
    ExpectPublished("pristine", c.version);
    EXPECT_EQ(SignatureFilesIn(launcherDir()), "");
    ServePrimary("");
  }
}

}  // namespace
