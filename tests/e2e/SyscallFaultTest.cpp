// The launcher program with one failing system call. strace starts it and
// makes the N-th call of one kind fail (EIO, and ENOSPC as well for the calls
// that write) through an installation from pages, the patches of an
// installed game (deltas, LZMA chunks, added and deleted files) and a
// self-update with relaunch. Every such run must end by itself with status 0
// or 1, without a sanitizer report and without writing beside the game
// folder; the normal run after it, answering yes to every question, must
// leave the published game and launcher and no working leftovers.
//
// strace counts the calls for "when=" in each traced process (each thread)
// separately, from its start: a run with N fails the N-th call of the kind in
// every process and thread that gets that far. So the N tried go up to the
// most calls of the kind that one process or thread made in a clean run.
// Some injections stop a process outside the launcher's code, and such runs
// are counted apart ("outside") and still get the checks of the next run: a
// failure while the dynamic loader maps the program's libraries (status 127
// and the loader's message), and in the sanitizer build a failed write of
// the sanitizer runtime's own memory probe (UBSan's vptr check tests memory
// through a pipe write and aborts with a CHECK failure when it fails).
//
// The regular run tries a seeded handful of injections per scenario
// (LAUNCHER_E2E_SEED, or a fixed seed). LAUNCHER_SYSCALL_SWEEP=full tries
// every N up to the count, sampled evenly down to LAUNCHER_SYSCALL_SWEEP_CAP
// (default 200) per call and error; LAUNCHER_SYSCALL_SWEEP_CALLS (a list
// separated by commas) keeps only those calls. Both print per call what was
// counted, tried and found; scripts/faultsweep.sh runs the full sweep.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/FaultChainFixture.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using e2e::FaultChainTest;
using e2e::kStrace;
using e2e::ProgramRun;

constexpr std::chrono::seconds kInjectedRunLimit{60};
constexpr uint32_t kDefaultSeed = 20261210;
constexpr int kSubsetPerScenario = 12;
constexpr uint64_t kDefaultCap = 200;
constexpr int kNotLoaded = 127;

// The calls failed in turn; those that write fail with ENOSPC as well.
const std::vector<std::string> kCalls = {"openat",    "read",   "write",     "pwrite64", "rename",
                                         "renameat2", "linkat", "unlink",    "unlinkat", "mkdir",
                                         "ftruncate", "fsync",  "fdatasync", "close",    "statfs"};
const std::vector<std::string> kWritingCalls = {"write", "pwrite64", "ftruncate", "fsync", "fdatasync"};

// What the launcher folder may hold besides the published launcher after a
// run: its running copy, logs, configuration, list and lock.
const std::vector<std::string> kLauncherState = {"TovaLaunch.bin", "Launch.log",   "Launch.log.bak",
                                                 "launcher.ini",   "GameInfo.ini", "TovaLauncher.lock"};

// The descriptions that runs download into the launcher's working folders
// and keep there.
const std::vector<std::string> kDescriptions = {"version", "GameInfo.ini", "AutoPatch.ini"};

struct Injection {
  std::string call;
  std::string error;
  uint64_t when;
  // When set, only the calls on this path below the test's root count
  // ("{uid}" stands for the user's id).
  std::string path = "";
};

struct Scenario {
  const char* name;
  const char* server;
  const char* installed;  // the game version installed before the run, or ""
  bool olderLauncher;     // the launcher folder holds only an older program
  // Injections that once ended wrong, tried in every run.
  std::vector<Injection> found;
};

// A failing read of the registry store made the launcher replace the stored
// device id; a failing open of the existing private temporary folder left a
// fresh one behind; a failing unlink of a deciphered list copy left it in
// the temporary folder for good; a failing flush of the game folder after
// the list's rename failed the installation with the list in place, and its
// pages stayed behind for good; a failing close of the writing end of
// xdelta3's error pipe left the read of that pipe waiting for ever.
const Scenario kInstallation = {"installation",
                                "pristine",
                                "",
                                false,
                                {{"openat", "EIO", 2, "config/TovaLauncher/registry.txt"},
                                 {"openat", "EIO", 1, "tmp/tovalauncher-{uid}"},
                                 {"unlink", "EIO", 1},
                                 {"fsync", "EIO", 1},
                                 {"close", "EIO", 535}}};
// A failing rename of the last patch's list left the game at the new files
// with the old list; the next run's patch failed and the repair that
// followed left that patch's downloads behind. A failing read of the
// launcher's own command line ended it with an uncaught exception.
const Scenario kPatch = {"patch", "pristine", "1.0", false, {{"rename", "EIO", 25}, {"read", "EIO", 198}}};
// A failing mkdir of the existing private temporary folder made the
// launcher use a fresh one, left behind; a failing unlink of a staged
// launcher file left it there for good when the next run had nothing to
// update; a failing open of the private temporary folder before the
// relaunch left the fresh one made instead (the exec skipped its removal);
// a failing read of the command line ended the launcher.
const Scenario kSelfUpdate = {
    "self-update",
    "selfupdate",
    "1.2",
    true,
    {{"mkdir", "EIO", 1}, {"unlink", "EIO", 4}, {"openat", "EIO", 233}, {"read", "EIO", 456}}};

// The calls of one kind in a clean run: all of them, and the most that one
// process or thread made.
struct CallCount {
  uint64_t total = 0;
  uint64_t most = 0;
};

// What the sweep found for one kind of call.
struct CallReport {
  uint64_t injections = 0;
  uint64_t outside = 0;
  uint64_t wrong = 0;
};

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

bool LowerStartsWith(std::string name, const std::string& prefix) {
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
  return name.rfind(prefix, 0) == 0;
}

// Counts the calls in a trace written by "strace -f -o": each line starts
// with the thread's id, and a call split by another thread's shows once as
// "name(" and once as "<... name resumed>".
std::map<std::string, CallCount> CountCalls(const fs::path& trace) {
  std::map<std::string, std::map<std::string, uint64_t>> perThread;
  std::ifstream in(trace);
  static const std::regex call(R"re(^(\d+) +([a-z0-9_]+)\()re");
  for (std::string line; std::getline(in, line);) {
    std::smatch match;
    if (std::regex_search(line, match, call)) ++perThread[match[2]][match[1]];
  }
  std::map<std::string, CallCount> counts;
  for (const auto& [name, threads] : perThread) {
    for (const auto& [thread, count] : threads) {
      counts[name].total += count;
      counts[name].most = std::max(counts[name].most, count);
    }
  }
  return counts;
}

// The N to try for a call made at most `count` times by one process: all of
// them, or `cap` spread evenly from the first to the last.
std::vector<uint64_t> Sample(uint64_t count, uint64_t cap) {
  std::vector<uint64_t> when;
  if (count <= cap) {
    for (uint64_t n = 1; n <= count; ++n) when.push_back(n);
  } else {
    for (uint64_t i = 0; i < cap; ++i) when.push_back(1 + i * (count - 1) / (cap - 1));
  }
  return when;
}

class SyscallFaultTest : public FaultChainTest {
 protected:
  // Publishes what the scenario needs and runs it once under strace without
  // a fault, counting the calls.
  void Prepare(const Scenario& scenario) {
    ASSERT_TRUE(fs::exists(kStrace)) << "strace is missing: run scripts/setup.sh";
    scenario_ = &scenario;
    if (scenario.olderLauncher) {
      base_ = Publish(scenario.server, LauncherSource("2", "\nnewer build\n"), {kLatest});
    } else {
      base_ = PublishPristine();
    }
    Reset();
    const fs::path trace = traces_.path() / "clean.trace";
    std::string calls;
    for (const std::string& call : kCalls) calls += (calls.empty() ? "" : ",") + call;
    const std::optional<int> status = Traced({"-o", trace.string(), "-e", "trace=" + calls}, kRunTimeout);
    ASSERT_EQ(status, 0) << output;
    ASSERT_EQ(PublishedDifference(scenario.server, kLatest), "");
    counts_ = CountCalls(trace);
    fs::remove(trace);
  }

  // The game tree as the scenario starts from.
  void Reset() {
    if (scenario_->olderLauncher) {
      WaitForProcessesInGameTree();
      fs::remove_all(gameDir());
      fs::create_directories(launcherDir());
      InstallProgram(launcherDir() / "TovaLauncher.exe");
    } else {
      ResetGameTree(scenario_->server);
    }
    if (*scenario_->installed != '\0') InstallGameVersion(scenario_->server, scenario_->installed);
    WriteBases({base_, base_, base_, base_});
  }

  // Runs the installed launcher under strace with `options`, waiting at most
  // `limit`; its output goes to `output`.
  std::optional<int> Traced(const std::vector<std::string>& options, std::chrono::seconds limit) {
    std::unique_ptr<ProgramRun> run = StartTraced(options);
    const std::optional<int> status = run->Wait(limit);
    output = run->Output();
    run.reset();  // kills what still runs
    if (!status) KillProcessesInGameTree();
    WaitForProcessesInGameTree();
    return status;
  }

  // Every file and folder below the test's root outside the game folder
  // (the servers, the program's Wine prefix, configuration and temporary
  // folders), with the size and time of each file.
  std::string OutsideGame(const fs::path& skipped = {}) const {
    std::ostringstream listing;
    for (auto it = fs::recursive_directory_iterator(root()); it != fs::recursive_directory_iterator(); ++it) {
      if (it->path() == gameDir() || it->path() == skipped) {
        it.disable_recursion_pending();
        continue;
      }
      listing << fs::relative(it->path(), root()).generic_string();
      if (it->is_regular_file()) {
        listing << " " << it->file_size() << " " << it->last_write_time().time_since_epoch().count();
      }
      listing << "\n";
    }
    return listing.str();
  }

  // The launcher's private temporary folder of this test's runs.
  fs::path PrivateTemporaryFolder() const { return root() / "tmp" / ("tovalauncher-" + std::to_string(geteuid())); }

  // Working files left in the game tree: anything named "temp..." in the
  // game folder, files in the launcher's "temp..." folders but the
  // descriptions every run downloads there afresh, and launcher files that
  // are neither the published launcher's nor its state.
  std::string Leftovers() const {
    std::string found;
    for (auto it = fs::recursive_directory_iterator(gameDir()); it != fs::recursive_directory_iterator(); ++it) {
      const std::string relative = fs::relative(it->path(), gameDir()).generic_string();
      if (it->path() == launcherDir()) {
        it.disable_recursion_pending();
      } else if (LowerStartsWith(it->path().filename().string(), "temp")) {
        found += "left over: " + relative + "\n";
      }
    }
    const fs::path published = ServerBase(scenario_->server) / "LauncherVersion" / "Launcher_1.0.0";
    for (const fs::directory_entry& entry : fs::directory_iterator(launcherDir())) {
      const std::string name = entry.path().filename().string();
      if (LowerStartsWith(name, "temp")) {
        found += WorkingFilesIn(entry.path());
      } else if (std::find(kLauncherState.begin(), kLauncherState.end(), name) == kLauncherState.end() &&
                 !fs::exists(published / name)) {
        found += "not the launcher's: launcher/" + name + "\n";
      }
    }
    return found;
  }

  // The files in a working folder of the launcher but the downloaded
  // descriptions at its top.
  std::string WorkingFilesIn(const fs::path& folder) const {
    if (!fs::is_directory(folder)) return "left over: launcher/" + folder.filename().string() + "\n";
    std::string found;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
      const std::string name = it->path().filename().string();
      const bool description = it->path().parent_path() == folder &&
                               std::find(kDescriptions.begin(), kDescriptions.end(), name) != kDescriptions.end();
      if (it->is_regular_file() && !description) {
        found += "left over: " + fs::relative(it->path(), gameDir()).generic_string() + "\n";
      }
    }
    return found;
  }

  // The lines of one listing that the other lacks ("+" added, "-" gone),
  // after `what`; empty when the listings are the same.
  static std::string Changes(const std::string& what, const std::string& before, const std::string& after) {
    if (before == after) return "";
    auto lines = [](const std::string& text) {
      std::vector<std::string> all;
      std::istringstream in(text);
      for (std::string line; std::getline(in, line);) all.push_back(line);
      return all;
    };
    const std::vector<std::string> old = lines(before), now = lines(after);
    std::string changes = what + ":\n";
    for (const std::string& line : now) {
      if (std::find(old.begin(), old.end(), line) == old.end()) changes += "+ " + line + "\n";
    }
    for (const std::string& line : old) {
      if (std::find(now.begin(), now.end(), line) == now.end()) changes += "- " + line + "\n";
    }
    return changes;
  }

  static std::string SanitizerReport(const std::string& shown) {
    for (const char* marker : {"Sanitizer", "runtime error:"}) {
      if (shown.find(marker) != std::string::npos) return "a sanitizer report\n";
    }
    return "";
  }

  // One injected run and the normal run after it; what went wrong, empty
  // when nothing did. `outside` tells whether the fault stopped the program
  // outside its own code.
  std::string Inject(const Injection& injection, bool& outside) {
    Reset();
    const std::string before = OutsideGame();
    const std::string beforeButTemporary = OutsideGame(PrivateTemporaryFolder());
    std::vector<std::string> options = {
        "-o", "/dev/null",
        "-e", "trace=" + injection.call,
        "-e", "inject=" + injection.call + ":error=" + injection.error + ":when=" + std::to_string(injection.when)};
    if (!injection.path.empty()) {
      std::string path = injection.path;
      const size_t uid = path.find("{uid}");
      if (uid != std::string::npos) path.replace(uid, 5, std::to_string(geteuid()));
      options.insert(options.end(), {"-P", (root() / path).string()});
    }
    const std::optional<int> status = Traced(options, kInjectedRunLimit);
    const std::string shown = output;
    outside = (status == kNotLoaded && shown.find("error while loading shared libraries") != std::string::npos) ||
              shown.find("CHECK failed: sanitizer_posix_libcdep.cpp") != std::string::npos;
    std::string wrong;
    if (!status) {
      wrong += "did not end within " + std::to_string(kInjectedRunLimit.count()) + " s\n";
    } else if (*status != 0 && *status != 1 && !outside) {
      wrong += "ended with status " + std::to_string(*status) + "\n";
    }
    if (!outside) wrong += SanitizerReport(shown);
    // A file of the private temporary folder whose removal failed may stay
    // until the next run, which must remove it (checked below).
    wrong += Changes("wrote beside the game folder", beforeButTemporary, OutsideGame(PrivateTemporaryFolder()));

    RemoveClientRecords();
    const int again = Finish(Start(launcherDir() / "TovaLauncher.exe", {}, "y\ny\ny\ny\n", launcherDir()));
    WaitForProcessesInGameTree();
    if (again != 0) wrong += "the next run ended with status " + std::to_string(again) + "\n";
    wrong += SanitizerReport(output);
    wrong += PublishedDifference(scenario_->server, kLatest);
    wrong += Leftovers();
    wrong += Changes("the next run wrote beside the game folder", before, OutsideGame());
    if (!wrong.empty()) wrong += "injected run's output:\n" + shown + "next run's output:\n" + output;
    return wrong;
  }

  // The injections of this run: those that once ended wrong, then the full
  // sweep or a seeded subset.
  std::vector<Injection> Plan(uint32_t scenarioIndex) const {
    std::vector<std::string> calls;
    const std::string only = "," + Variable("LAUNCHER_SYSCALL_SWEEP_CALLS") + ",";
    for (const std::string& call : kCalls) {
      if (counts_.count(call) != 0 && (only == ",," || only.find("," + call + ",") != std::string::npos))
        calls.push_back(call);
    }
    auto errors = [](const std::string& call) {
      const bool writes = std::find(kWritingCalls.begin(), kWritingCalls.end(), call) != kWritingCalls.end();
      return writes ? std::vector<std::string>{"EIO", "ENOSPC"} : std::vector<std::string>{"EIO"};
    };
    std::vector<Injection> plan = scenario_->found;
    if (Variable("LAUNCHER_SYSCALL_SWEEP") == "full") {
      const std::string capText = Variable("LAUNCHER_SYSCALL_SWEEP_CAP");
      const uint64_t cap = capText.empty() ? kDefaultCap : std::max<uint64_t>(2, std::stoull(capText));
      for (const std::string& call : calls) {
        for (const std::string& error : errors(call)) {
          for (uint64_t when : Sample(counts_.at(call).most, cap)) plan.push_back({call, error, when});
        }
      }
      return plan;
    }
    const std::string seedText = Variable("LAUNCHER_E2E_SEED");
    const uint32_t seed = seedText.empty() ? kDefaultSeed : static_cast<uint32_t>(std::stoul(seedText));
    std::mt19937 random(seed + scenarioIndex);
    for (int i = 0; i < kSubsetPerScenario && !calls.empty(); ++i) {
      const std::string& call = calls[std::uniform_int_distribution<size_t>(0, calls.size() - 1)(random)];
      const std::vector<std::string> kinds = errors(call);
      const std::string& error = kinds[std::uniform_int_distribution<size_t>(0, kinds.size() - 1)(random)];
      plan.push_back({call, error, std::uniform_int_distribution<uint64_t>(1, counts_.at(call).most)(random)});
    }
    return plan;
  }

  // Prepares the scenario, makes every planned injection and prints per call
  // what was counted, tried and found; each wrong ending is a failure.
  void Sweep(const Scenario& scenario, uint32_t scenarioIndex) {
    Prepare(scenario);
    if (HasFatalFailure()) return;
    std::map<std::string, CallReport> reports;
    for (const Injection& injection : Plan(scenarioIndex)) {
      bool outside = false;
      const std::string wrong = Inject(injection, outside);
      CallReport& report = reports[injection.call];
      ++report.injections;
      if (outside) ++report.outside;
      if (!wrong.empty()) {
        ++report.wrong;
        ADD_FAILURE() << scenario.name << ": " << injection.call << " error=" << injection.error
                      << " when=" << injection.when << " " << injection.path << "\n"
                      << wrong;
      }
    }
    std::printf("%-12s %-10s %8s %8s %10s %10s %6s\n", "scenario", "call", "calls", "most", "injections", "outside",
                "wrong");
    for (const std::string& call : kCalls) {
      const CallCount count = counts_.count(call) != 0 ? counts_.at(call) : CallCount{};
      const CallReport report = reports.count(call) != 0 ? reports.at(call) : CallReport{};
      std::printf("%-12s %-10s %8llu %8llu %10llu %10llu %6llu\n", scenario.name, call.c_str(),
                  static_cast<unsigned long long>(count.total), static_cast<unsigned long long>(count.most),
                  static_cast<unsigned long long>(report.injections), static_cast<unsigned long long>(report.outside),
                  static_cast<unsigned long long>(report.wrong));
    }
    std::fflush(stdout);
  }

  testsupport::TempDir traces_;
  const Scenario* scenario_ = nullptr;
  std::string base_;
  std::map<std::string, CallCount> counts_;
};

TEST_F(SyscallFaultTest, InstallationFromPages) { Sweep(kInstallation, 0); }

TEST_F(SyscallFaultTest, PatchesWithDeltasChunksAddedAndDeletedFiles) { Sweep(kPatch, 1); }

TEST_F(SyscallFaultTest, SelfUpdateWithRelaunch) { Sweep(kSelfUpdate, 2); }

}  // namespace
