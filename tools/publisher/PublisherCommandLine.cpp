#include "tools/publisher/PublisherCommandLine.h"

#include <ctime>
#include <limits>
#include <ostream>

#include "patch/SignedFileRecord.h"
#include "tools/publisher/ServerTreePublisher.h"
#include "tools/publisher/ServerTreeSigning.h"
#include "tools/publisher/ServerTreeVerifier.h"
#include "util/LzmaRecord.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kHelp = R"(Usage:
  tova-publish publish --out FOLDER [options] --game VERSION=FOLDER ...
  tova-publish verify FOLDER [--public-key HEX | --signing-key KEY]
  tova-publish keygen --out KEY
  tova-publish --help

publish writes the update-server tree that the launcher reads into FOLDER,
which must be missing or empty (the tree is built beside it and moved into
place when complete):
  LauncherVersion/version, LauncherVersion/Launcher_<V>/  launcher self-update
  GameVersion/version, GameVersion/Game_<V>/              game repair
  InstallVersion/version, InstallVersion/InstallPage_<V>/ game install pages
  AutoPatch/AutoPatch.ini, AutoPatch/AutoPatch_<F>_<T>/   game patches
Each version folder holds the files of that version; a "GameInfo.ini" at its
top is replaced by the one the tool writes. The same inputs give the same
bytes.

Options of publish:
  --out FOLDER               where the tree goes
  --launcher VERSION=FOLDER  a launcher version; repeat oldest first, the last
                             one is current
  --game VERSION=FOLDER      a game version; repeat oldest first, the last one
                             is current, and each version gets a patch to the
                             next
  --plain                    write lists and patch descriptions plain instead
                             of protected (installation descriptions and
                             AutoPatch.ini are always plain)
  --page-size BYTES          largest installation page and patch package
                             (default 64M; a larger single file gets a page
                             of its own)
  --lzma-threshold BYTES     patch files larger than this travel as LZMA
                             chunk containers (default 1M)
  --lzma-chunk BYTES         bytes per LZMA chunk (default 8M, at most 256M)
  --signing-key KEY          sign the tree with the private key file KEY:
                             "<name>.sig" next to every version file, list,
                             installation and patch description
  --release-serial N         the publication's serial in the signatures
                             (default: the current time in seconds since
                             1970 UTC, so it rises with every publication)
  --expiry-days N            the signatures expire N days after publishing
                             (default 30)
BYTES is a number with an optional suffix K, M or G (powers of 1024).

verify checks a tree: version files, every list entry against its file,
installation and patch descriptions against their packages; it installs the
pages and applies every patch to the previous version in a scratch folder
and compares the result with the version's files byte for byte. It prints
one line per problem. With a public key (64 hex digits) or the private key
file it came from, it also checks every signature file as a launcher built
with that key would now.

keygen writes a new Ed25519 private key to the file KEY (mode 0600, never
replacing a file) and prints the public key, the value of the launcher's
build setting LAUNCHER_SIGNING_PUBLIC_KEY.

Exit status: 0 success, 1 publishing failed or problems found, 2 bad command.
)";

int Usage(std::ostream& err, const std::string& message) {
  err << "tova-publish: " << message << "\n(tova-publish --help explains the commands)\n";
  return kExitUsage;
}

bool ParseVersionSource(const std::string& text, VersionSource& source) {
  size_t at = text.find('=');
  if (at == std::string::npos || at == 0 || at + 1 == text.size()) return false;
  source = {text.substr(0, at), text.substr(at + 1)};
  return true;
}

constexpr int64_t kSecondsPerDay = 86400;

// Decimal digits only: a byte count without a suffix.
bool ParseCount(const std::string& text, uint64_t& value) {
  return !text.empty() && text.back() >= '0' && text.back() <= '9' && ParseByteSize(text, value);
}

int RunPublish(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  PublishSettings settings;
  std::string keyFile;
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  uint64_t serial = static_cast<uint64_t>(now);
  uint64_t expiryDays = 30;
  for (size_t i = 1; i < arguments.size(); ++i) {
    const std::string& option = arguments[i];
    if (option == "--plain") {
      settings.protect = false;
      continue;
    }
    if (i + 1 == arguments.size()) return Usage(err, option + " is unknown or needs a value");
    const std::string& value = arguments[++i];
    if (option == "--out") {
      settings.outputFolder = value;
    } else if (option == "--launcher" || option == "--game") {
      VersionSource source;
      if (!ParseVersionSource(value, source)) return Usage(err, option + " takes VERSION=FOLDER");
      (option == "--game" ? settings.gameVersions : settings.launcherVersions).push_back(std::move(source));
    } else if (option == "--page-size" || option == "--lzma-threshold" || option == "--lzma-chunk") {
      uint64_t bytes = 0;
      if (!ParseByteSize(value, bytes)) return Usage(err, option + " takes a byte count, not \"" + value + "\"");
      if (option == "--page-size") settings.maxPackageSize = bytes;
      if (option == "--lzma-threshold") settings.lzmaThreshold = bytes;
      if (option == "--lzma-chunk") {
        if (bytes > kLzmaRecordMaxDecodedLength) return Usage(err, "--lzma-chunk is at most 256M");
        settings.lzmaChunkSize = static_cast<uint32_t>(bytes);
      }
    } else if (option == "--signing-key") {
      keyFile = value;
    } else if (option == "--release-serial" || option == "--expiry-days") {
      uint64_t count = 0;
      if (!ParseCount(value, count) || (option == "--expiry-days" && count > 100000))
        return Usage(err, option + " takes a number, not \"" + value + "\"");
      (option == "--release-serial" ? serial : expiryDays) = count;
    } else {
      return Usage(err, "unknown option " + option);
    }
  }
  if (settings.outputFolder.empty()) return Usage(err, "publish needs --out FOLDER");
  if (!keyFile.empty()) {
    std::string error;
    if (!ReadSigningKeyFile(keyFile, settings.signing.privateKeyHex, error)) {
      err << "tova-publish: " << error << '\n';
      return kExitFailed;
    }
    settings.signing.serial = serial;
    settings.signing.expires = now + static_cast<int64_t>(expiryDays) * kSecondsPerDay;
  }
  settings.progress = [&out](const std::string& line) { out << line << '\n'; };

  std::string error;
  if (!PublishServerTree(settings, error)) {
    err << "tova-publish: " << error << '\n';
    return kExitFailed;
  }
  out << "published " << settings.outputFolder << '\n';
  return 0;
}

// The public key of --public-key HEX or --signing-key KEY; empty when
// neither is given. False after a usage message.
bool VerifyKey(const std::vector<std::string>& arguments, std::string& publicKeyHex, std::ostream& err) {
  if (arguments.size() == 2) return true;
  const std::string& option = arguments[2];
  if (arguments.size() != 4 || (option != "--public-key" && option != "--signing-key")) {
    Usage(err, "verify takes one folder and optionally --public-key HEX or --signing-key KEY");
    return false;
  }
  std::string privateKeyHex, error;
  if (option == "--signing-key") {
    if (ReadSigningKeyFile(arguments[3], privateKeyHex, error) && SigningPublicKeyOf(privateKeyHex, publicKeyHex))
      return true;
    Usage(err, error);
    return false;
  }
  // A public key is a valid point: any 64 hex digits pass here, a wrong one
  // fails every signature.
  publicKeyHex = arguments[3];
  if (publicKeyHex.size() == 2 * kSigningKeyBytes &&
      publicKeyHex.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos)
    return true;
  Usage(err, "--public-key takes 64 hex digits");
  return false;
}

int RunVerify(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  std::string publicKeyHex;
  if (arguments.size() < 2) return Usage(err, "verify takes one folder");
  if (!VerifyKey(arguments, publicKeyHex, err)) return kExitUsage;
  std::vector<std::string> problems;
  bool sound = VerifyServerTree(arguments[1], problems, [&out](const std::string& line) { out << line << '\n'; });
  if (!publicKeyHex.empty()) {
    VerifyTreeSignatures(arguments[1], publicKeyHex, static_cast<int64_t>(std::time(nullptr)), problems);
    sound = problems.empty();
    if (sound) out << "every signature checks out\n";
  }
  for (const std::string& problem : problems) err << "problem: " << problem << '\n';
  if (!sound) {
    err << problems.size() << " problem(s) in " << arguments[1] << '\n';
    return kExitFailed;
  }
  out << arguments[1] << " is consistent\n";
  return 0;
}

int RunKeygen(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  if (arguments.size() != 3 || arguments[1] != "--out") return Usage(err, "keygen takes --out KEY");
  std::string publicKeyHex, error;
  if (!WriteSigningKeyFile(arguments[2], publicKeyHex, error)) {
    err << "tova-publish: " << error << '\n';
    return kExitFailed;
  }
  out << publicKeyHex << '\n';
  return 0;
}

}  // namespace

bool ParseByteSize(std::string_view text, uint64_t& bytes) {
  uint64_t unit = 1;
  if (!text.empty()) {
    switch (text.back()) {
      case 'K': unit = 1ull << 10; break;
      case 'M': unit = 1ull << 20; break;
      case 'G': unit = 1ull << 30; break;
      default: break;
    }
    if (unit != 1) text.remove_suffix(1);
  }
  if (text.empty()) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    auto digit = static_cast<uint64_t>(c - '0');
    if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) return false;
    value = value * 10 + digit;
  }
  if (value > std::numeric_limits<uint64_t>::max() / unit) return false;
  bytes = value * unit;
  return true;
}

int RunPublisherCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  if (arguments.empty()) return Usage(err, "no command given");
  const std::string& command = arguments[0];
  if (command == "--help" || command == "-h" || command == "help") {
    out << kHelp;
    return 0;
  }
  if (command == "publish") return RunPublish(arguments, out, err);
  if (command == "verify") return RunVerify(arguments, out, err);
  if (command == "keygen") return RunKeygen(arguments, out, err);
  return Usage(err, "unknown command " + command);
}
