#include "tools/publisher/PublisherCommandLine.h"

#include <limits>
#include <ostream>

#include "tools/publisher/ServerTreePublisher.h"
#include "tools/publisher/ServerTreeVerifier.h"
#include "util/LzmaRecord.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kHelp = R"(Usage:
  tova-publish publish --out FOLDER [options] --game VERSION=FOLDER ...
  tova-publish verify FOLDER
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
BYTES is a number with an optional suffix K, M or G (powers of 1024).

verify checks a tree: version files, every list entry against its file,
installation and patch descriptions against their packages; it installs the
pages and applies every patch to the previous version in a scratch folder
and compares the result with the version's files byte for byte. It prints
one line per problem.

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

int RunPublish(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  PublishSettings settings;
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
    } else {
      return Usage(err, "unknown option " + option);
    }
  }
  if (settings.outputFolder.empty()) return Usage(err, "publish needs --out FOLDER");
  settings.progress = [&out](const std::string& line) { out << line << '\n'; };

  std::string error;
  if (!PublishServerTree(settings, error)) {
    err << "tova-publish: " << error << '\n';
    return kExitFailed;
  }
  out << "published " << settings.outputFolder << '\n';
  return 0;
}

int RunVerify(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  if (arguments.size() != 2) return Usage(err, "verify takes one folder");
  std::vector<std::string> problems;
  bool sound = VerifyServerTree(arguments[1], problems, [&out](const std::string& line) { out << line << '\n'; });
  for (const std::string& problem : problems) err << "problem: " << problem << '\n';
  if (!sound) {
    err << problems.size() << " problem(s) in " << arguments[1] << '\n';
    return kExitFailed;
  }
  out << arguments[1] << " is consistent\n";
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
  return Usage(err, "unknown command " + command);
}
