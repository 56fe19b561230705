// The order in which the launcher program makes its files durable: an
// installation and two patches run under strace, and the recorded file-system
// calls must show every version list ("GameInfo.ini") replaced only after the
// file system holding the files it names was flushed, with no write to a
// listed file in between, the list's own bytes flushed before its rename and
// its folder after it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/app/LauncherProgramFixture.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using e2e::kStrace;
using e2e::LauncherProgramTest;
using testsupport::ReadFile;
using testsupport::WriteFile;

constexpr const char* kTracedCalls =
    "trace=openat,open,creat,write,pwrite64,writev,pwritev,pwritev2,copy_file_range,ftruncate,truncate,fallocate,"
    "link,linkat,rename,renameat,renameat2,unlink,unlinkat,fsync,fdatasync,syncfs,sync";

// One recorded call: the thread, the call's name, its arguments and its
// result as strace printed them ("-y": descriptors with their paths).
struct Call {
  std::string tid;
  std::string name;
  std::string args;
  std::string result;
};

// Reads a trace written with "-f -o", joining calls that another thread's
// call interrupted ("<unfinished ...>" and "<... name resumed>").
std::vector<Call> ReadTrace(const fs::path& path) {
  static const std::regex whole(R"(^(\d+) +(\w+)\((.*)\) += (.*)$)");
  static const std::regex unfinished(R"(^(\d+) +(\w+)\((.*) <unfinished \.\.\.>$)");
  static const std::regex resumed(R"(^(\d+) +<\.\.\. (\w+) resumed>(.*)\) += (.*)$)");
  std::vector<Call> calls;
  std::map<std::string, size_t> open;  // thread -> its interrupted call
  std::ifstream in(path);
  std::smatch m;
  for (std::string line; std::getline(in, line);) {
    if (std::regex_match(line, m, whole)) {
      calls.push_back({m[1], m[2], m[3], m[4]});
    } else if (std::regex_match(line, m, unfinished)) {
      open[m[1]] = calls.size();
      calls.push_back({m[1], m[2], m[3], ""});
    } else if (std::regex_match(line, m, resumed) && open.count(m[1]) != 0) {
      Call& call = calls[open[m[1]]];
      call.args += m[3].str();
      call.result = m[4];
      open.erase(m[1]);
    }
  }
  return calls;
}

// The paths of the quoted arguments, made absolute against `cwd`.
std::vector<std::string> QuotedPaths(const Call& call, const fs::path& cwd) {
  static const std::regex quoted(R"re("([^"]*)")re");
  std::vector<std::string> paths;
  for (std::sregex_iterator it(call.args.begin(), call.args.end(), quoted), end; it != end; ++it) {
    const std::string text = (*it)[1];
    paths.push_back((text.starts_with("/") ? fs::path(text) : (cwd / text)).lexically_normal().string());
  }
  return paths;
}

// The paths of the descriptor arguments ("5</a/b>"), in order.
std::vector<std::string> DescriptorPaths(const std::string& text) {
  static const std::regex descriptor(R"((\d+)<([^>]*)>)");
  std::vector<std::string> paths;
  for (std::sregex_iterator it(text.begin(), text.end(), descriptor), end; it != end; ++it) paths.push_back((*it)[2]);
  return paths;
}

// The descriptor number of the first descriptor argument; -1 when none.
int FirstDescriptor(const Call& call) {
  static const std::regex descriptor(R"(^(\d+)<)");
  std::smatch m;
  return std::regex_search(call.args, m, descriptor) ? std::stoi(m[1]) : -1;
}

// The paths whose contents or names the call changes.
std::vector<std::string> ChangedPaths(const Call& call, const fs::path& cwd) {
  static const std::set<std::string> byDescriptor = {"write",    "pwrite64",  "writev",   "pwritev",
                                                     "pwritev2", "ftruncate", "fallocate"};
  static const std::set<std::string> byName = {"creat",    "truncate",  "link",   "linkat",  "rename",
                                               "renameat", "renameat2", "unlink", "unlinkat"};
  const std::vector<std::string> descriptors = DescriptorPaths(call.args);
  if (byDescriptor.count(call.name) != 0 && !descriptors.empty()) return {descriptors.front()};
  if (call.name == "copy_file_range" && descriptors.size() == 2) return {descriptors.back()};
  if (byName.count(call.name) != 0) return QuotedPaths(call, cwd);
  const bool writes = call.args.find("O_WRONLY") != std::string::npos ||
                      call.args.find("O_RDWR") != std::string::npos || call.args.find("O_CREAT") != std::string::npos;
  if ((call.name == "openat" || call.name == "open") && writes) return QuotedPaths(call, cwd);
  return {};
}

// The names a plain version list lists, below `folder`.
std::set<std::string> ListedFiles(const fs::path& list, const fs::path& folder) {
  std::set<std::string> files;
  std::istringstream text(ReadFile(list));
  for (std::string line; std::getline(text, line);) {
    if (!line.starts_with("File") || line.find('=') == std::string::npos || line.starts_with("FileCount")) continue;
    const std::string entry = line.substr(line.find('=') + 1);
    files.insert((folder / entry.substr(0, entry.find(','))).lexically_normal().string());
  }
  return files;
}

// What the trace shows for the replacement of the list `list` by the call at
// `renameAt`; empty when every step is in place, else what is missing.
std::string CheckListReplacement(const std::vector<Call>& calls, size_t renameAt, const fs::path& list,
                                 const std::set<std::string>& listed, const fs::path& cwd) {
  const Call& rename = calls[renameAt];
  const std::string folder = list.parent_path().string();
  const std::string part = QuotedPaths(rename, cwd).front();
  // The list's bytes: the unnamed file linked to the work name was flushed.
  std::optional<size_t> linked;
  for (size_t i = renameAt; i-- > 0 && !linked;) {
    const std::vector<std::string> names = QuotedPaths(calls[i], cwd);
    if (calls[i].tid == rename.tid && calls[i].name == "linkat" && names.size() == 2 && names[1] == part) linked = i;
  }
  if (!linked) return "no link of the new list to " + part;
  const std::string self = QuotedPaths(calls[*linked], "/").front();
  const int fd = std::stoi(self.substr(self.rfind('/') + 1));
  bool dataFlushed = false;
  for (size_t i = *linked; i-- > 0;) {
    const Call& call = calls[i];
    if (call.tid != rename.tid) continue;
    if ((call.name == "fdatasync" || call.name == "fsync") && FirstDescriptor(call) == fd && call.result == "0") {
      dataFlushed = true;
      break;
    }
    if (call.name == "openat" && call.result.starts_with(std::to_string(fd) + "<")) break;
  }
  if (!dataFlushed) return "the new list's bytes were not flushed before its rename";
  // The files: the file system was flushed, and none was changed since.
  std::optional<size_t> flushed;
  for (size_t i = *linked; i-- > 0 && !flushed;) {
    const Call& call = calls[i];
    if (call.tid == rename.tid && call.name == "syncfs" && call.result == "0" &&
        DescriptorPaths(call.args) == std::vector<std::string>{folder})
      flushed = i;
  }
  if (!flushed) return "no flush of the file system of " + folder + " before the list's rename";
  for (size_t i = *flushed + 1; i < renameAt; ++i) {
    for (const std::string& path : ChangedPaths(calls[i], cwd)) {
      if (listed.count(path) != 0) return path + " changed after the flush: " + calls[i].name + "(" + calls[i].args;
    }
  }
  // The folder: flushed after the rename.
  for (size_t i = renameAt + 1; i < calls.size(); ++i) {
    const Call& call = calls[i];
    if (call.tid == rename.tid && call.name == "fsync" && call.result == "0" &&
        DescriptorPaths(call.args) == std::vector<std::string>{folder})
      return "";
  }
  return "the folder " + folder + " was not flushed after the list's rename";
}

TEST_F(LauncherProgramTest, EveryListIsReplacedOnlyOnceTheFilesItNamesAreOnTheDisk) {
  ASSERT_TRUE(fs::exists(kStrace)) << "scripts/setup.sh installs strace";
  // Plain lists, so that the test can read the names they list.
  const std::string base = Publish("flush", LauncherSource("1", ""), {"1.0", "1.1", "1.2"}, {"--plain"});
  WriteFile(ServerBase("flush") / "InstallVersion" / "version", "1.0");
  InstallLauncherVersion("flush");
  // A missing launcher file makes the self-update check replace one file and
  // then the launcher's list.
  fs::remove(launcherDir() / "launcher.dat");
  WriteConfig(base);
  const fs::path trace = root() / "trace.txt";
  const int status = Finish(StartTraced({"-y", "-s", "0", "-o", trace.string(), "-e", kTracedCalls}));
  ASSERT_EQ(status, 0) << output;
  ExpectGameFilesOf("1.2");

  const fs::path game = fs::canonical(gameDir());
  const fs::path launcher = fs::canonical(launcherDir());
  std::set<std::string> gameListed;
  for (const char* version : {"1.0", "1.1", "1.2"}) {
    gameListed.merge(
        ListedFiles(ServerBase("flush") / "GameVersion" / (std::string("Game_") + version) / "GameInfo.ini", game));
  }
  const std::set<std::string> launcherListed =
      ListedFiles(ServerBase("flush") / "LauncherVersion" / "Launcher_1.0.0" / "GameInfo.ini", launcher);
  ASSERT_FALSE(gameListed.empty());
  ASSERT_FALSE(launcherListed.empty());

  const std::vector<Call> calls = ReadTrace(trace);
  const struct {
    const char* what;
    fs::path list;
    const std::set<std::string>& listed;
    size_t replacements;  // the installation and two patches; one self-update check
  } lists[] = {
      {"game list", game / "GameInfo.ini", gameListed, 3},
      {"launcher list", launcher / "GameInfo.ini", launcherListed, 1},
  };
  for (const auto& l : lists) {
    SCOPED_TRACE(l.what);
    size_t replacements = 0;
    for (size_t i = 0; i < calls.size(); ++i) {
      const std::vector<std::string> names = QuotedPaths(calls[i], launcher);
      if (!calls[i].name.starts_with("rename") || calls[i].result != "0" || names.size() != 2 || names[1] != l.list)
        continue;
      ++replacements;
      EXPECT_EQ(CheckListReplacement(calls, i, l.list, l.listed, launcher), "") << "replacement " << replacements;
    }
    EXPECT_EQ(replacements, l.replacements);
  }

  // A run that finds everything up to date writes nothing, so it flushes
  // nothing either.
  const fs::path again = root() / "again.txt";
  ASSERT_EQ(Finish(StartTraced({"-y", "-s", "0", "-o", again.string(), "-e", kTracedCalls})), 0) << output;
  for (const Call& call : ReadTrace(again)) {
    EXPECT_NE(call.name, "syncfs") << call.args;
    const std::vector<std::string> names = QuotedPaths(call, launcher);
    const bool replacesList = call.name.starts_with("rename") && names.size() == 2 &&
                              (names[1] == lists[0].list || names[1] == lists[1].list);
    EXPECT_FALSE(replacesList) << call.args;
  }
}

}  // namespace
