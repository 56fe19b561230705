// The repair procedure's side of bench/repair.sh.
//
//   repair_bench make DIR FILES MIB
//     Writes a game of FILES files holding MIB MiB in all (DIR/game, sizes
//     spread from a sixteenth to twice the mean, in folders of 64 files), its
//     list as installed (DIR/game/GameInfo.ini) and a server tree of the same
//     version (DIR/server/KVMETRA/GameVersion: version file and list).
//
//   repair_bench check DIR
//     Runs the game repair from DIR/game/launcher against that tree: every
//     file is sized and CRC-checked, and the version file and the list are the
//     only downloads (through a stand-in for the download service that copies
//     them from DIR/server). Prints "result=CODE downloads=N seconds=S cpu=C"
//     (C: processor time of all threads).
//
//   repair_bench read DIR
//     Reads every file of the list from DIR/game with read(2) into one 1 MiB
//     buffer, the baseline. Prints "bytes=B seconds=S cpu=C".
//
//   repair_bench compare N
//     Times a flagged-only repair whose downloaded and installed lists hold N
//     entries each, half of them shared, none flagged: the two lists are read,
//     sorted and compared, the N/2 obsolete entries deleted (their files do not
//     exist), and the new list installed. Then times reading the two lists
//     alone with the same reader. Prints "entries=N obsolete=M run=S read=R":
//     S - R is what the comparison itself costs.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Procedure/ProcedureGameRepair.h"
#include "Procedure/StopEvent.h"
#include "patch/ProtectedFile.h"
#include "patch/QoVersionRepairInfo.h"
#include "patch/checksum/QoChecksum.h"
#include "platform/SystemPath.h"
#include "util/FileUtil.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kVersion = "1.0";
// Fields the check does not read get a placeholder.
constexpr const char* kUnusedMd5 = "00000000000000000000000000000000";

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Processor time of the whole process (all threads, user and system).
double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Protected(const std::string& plain) {
  ProtectionKey key;
  BuildProtectionKey(key);
  return ProtectBuffer(key, plain);
}

struct Entry {
  std::string name;  // "\" separators
  std::string crc;
  int64_t size = 0;
};

std::string ListText(const std::vector<Entry>& entries, int flag) {
  std::string text = "[Version]\r\nVersion=" + std::string(kVersion) +
                     "\r\n[FileList]\r\nFileCount=" + std::to_string(entries.size()) + "\r\n";
  for (size_t i = 0; i < entries.size(); ++i) {
    text += "File" + std::to_string(i) + "=" + entries[i].name + "," + kUnusedMd5 + "," + entries[i].crc + "," +
            std::to_string(entries[i].size) + "," + std::to_string(flag) + "\r\n";
  }
  return text;
}

// Publishes `list` as the server's version and installs it as `game`'s list.
void WriteTree(const fs::path& dir, const std::string& serverList, const std::string& installedList) {
  const fs::path area = dir / "server/KVMETRA/GameVersion";
  WriteBytes(area / "version", std::string(kVersion) + "\r\n");
  WriteBytes(area / ("Game_" + std::string(kVersion)) / "GameInfo.ini", Protected(serverList));
  WriteBytes(dir / "game/GameInfo.ini", Protected(installedList));
  fs::create_directories(dir / "game/launcher");
}

// The download service's stand-in: the address is a path below the server folder.
DownloadFunction CopyingDownload(int& count) {
  return [&count](const std::string& url, const std::string& localPath, int32_t, uint64_t) {
    ++count;
    return CopyFileOverwrite(url, localPath);
  };
}

// Runs a game repair from `dir`/game/launcher; returns its result.
ProcedureResult RunRepair(const fs::path& dir, bool flaggedOnly, int& downloads) {
  const fs::path previous = fs::current_path();
  fs::current_path(dir / "game/launcher");
  StopEvent stop;
  ProcedureGameRepair repair(CopyingDownload(downloads));
  repair.Init(nullptr, ".\\launcher.ini", &stop);
  for (const auto setBase :
       {&ProcedureRepair::SetServerUrl1, &ProcedureRepair::SetServerUrl2, &ProcedureRepair::SetServerUrl3}) {
    (repair.*setBase)((dir / "server/KVMETRA").string());
  }
  repair.SetFlaggedOnly(flaggedOnly);
  const ProcedureResult result = repair.Run();
  fs::current_path(previous);
  return result;
}

int Make(const fs::path& dir, int files, int64_t mib) {
  std::mt19937_64 random(20240611);
  const int64_t mean = mib * 1024 * 1024 / files;
  std::vector<int64_t> sizes(files);
  int64_t total = 0;
  for (int64_t& size : sizes) total += size = mean / 16 + static_cast<int64_t>(random() % (2 * mean));
  // Scale to the exact total.
  const int64_t wanted = mib * 1024 * 1024;
  for (int64_t& size : sizes) size = size * wanted / total;
  total = 0;
  for (int64_t size : sizes) total += size;

  std::vector<Entry> entries;
  std::string bytes;
  for (int i = 0; i < files; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "data\\set%03d\\file%05d.bin", i / 64, i);
    bytes.resize(static_cast<size_t>(sizes[i]));
    for (size_t j = 0; j + 8 <= bytes.size(); j += 8) {
      const uint64_t word = random();
      std::copy_n(reinterpret_cast<const char*>(&word), 8, bytes.data() + j);
    }
    Entry entry{name, "", sizes[i]};
    if (!GetCrcChecksum().MakeBufferHex(bytes.data(), bytes.size(), entry.crc)) return 1;
    WriteBytes(dir / "game" / ToSystemPath(name), bytes);
    entries.push_back(std::move(entry));
  }
  const std::string list = ListText(entries, 1);
  WriteTree(dir, list, list);
  std::printf("files=%d bytes=%lld\n", files, static_cast<long long>(total));
  return 0;
}

int Check(const fs::path& dir) {
  int downloads = 0;
  const double cpuStart = CpuSeconds();
  const auto start = Clock::now();
  const ProcedureResult result = RunRepair(dir, false, downloads);
  const double seconds = SecondsSince(start);
  std::printf("result=%d downloads=%d seconds=%.4f cpu=%.4f\n", result.code(), downloads, seconds,
              CpuSeconds() - cpuStart);
  return result == RepairResult::REPAIR_UP_TO_DATE ? 0 : 1;
}

int Read(const fs::path& dir) {
  std::vector<fs::path> files;
  for (const auto& item : fs::recursive_directory_iterator(dir / "game/data")) {
    if (item.is_regular_file()) files.push_back(item.path());
  }
  std::sort(files.begin(), files.end());
  std::unique_ptr<char[]> buffer(new char[1 << 20]);
  int64_t bytes = 0;
  const double cpuStart = CpuSeconds();
  const auto start = Clock::now();
  for (const fs::path& file : files) {
    const int fd = open(file.c_str(), O_RDONLY);
    if (fd < 0) return 1;
    for (ssize_t got; (got = read(fd, buffer.get(), 1 << 20)) > 0;) bytes += got;
    close(fd);
  }
  const double seconds = SecondsSince(start);
  std::printf("bytes=%lld seconds=%.4f cpu=%.4f\n", static_cast<long long>(bytes), seconds, CpuSeconds() - cpuStart);
  return 0;
}

int Compare(int count) {
  const fs::path dir = fs::temp_directory_path() / ("repair_bench_compare_" + std::to_string(getpid()));
  fs::remove_all(dir);
  // Names numbered 0 .. 2N - 1 in a random order, so that the sort has work
  // to do: the new list holds the even numbers, the installed one the numbers
  // below N, so that the odd numbers below N are obsolete.
  std::vector<int> numbers(static_cast<size_t>(count) * 2);
  for (size_t i = 0; i < numbers.size(); ++i) numbers[i] = static_cast<int>(i);
  std::shuffle(numbers.begin(), numbers.end(), std::mt19937(7));
  std::vector<Entry> fresh;
  std::vector<Entry> installed;
  for (int number : numbers) {
    char name[64];
    std::snprintf(name, sizeof name, "data\\set%04d\\file%07d.bin", number % 1000, number);
    const Entry entry{name, "0A1B2C3D", 1000};
    if (number % 2 == 0) fresh.push_back(entry);
    if (number < count) installed.push_back(entry);
  }
  WriteTree(dir, ListText(fresh, 0), ListText(installed, 0));

  int downloads = 0;
  auto start = Clock::now();
  const ProcedureResult result = RunRepair(dir, true, downloads);
  const double run = SecondsSince(start);

  start = Clock::now();
  QoVersionRepairInfo downloaded;
  QoVersionRepairInfo current;
  const bool read = downloaded.InputVerRepairFileList((dir / "game/launcher/temp_game/GameInfo.ini").string()) &&
                    current.InputVerRepairFileList((dir / "server/KVMETRA/GameVersion/Game_1.0/GameInfo.ini").string());
  const double reading = SecondsSince(start);
  fs::remove_all(dir);
  if (!read) return 1;
  std::printf("entries=%d obsolete=%d result=%d run=%.4f read=%.4f\n", count, count / 2, result.code(), run, reading);
  return result == RepairResult::REPAIR_UP_TO_DATE ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "make" && argc == 5) return Make(argv[2], std::atoi(argv[3]), std::atoll(argv[4]));
  if (mode == "check" && argc == 3) return Check(argv[2]);
  if (mode == "read" && argc == 3) return Read(argv[2]);
  if (mode == "compare" && argc == 3) return Compare(std::atoi(argv[2]));
  std::fprintf(stderr, "usage: %s make DIR FILES MIB | check DIR | read DIR | compare N\n", argv[0]);
  return 2;
}
