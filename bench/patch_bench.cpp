// Material and the applier's side of bench/patch.sh.
//
//   patch_bench make DIR MIB
//     Writes a game of version 1.0 (DIR/old), the same game at 1.1 (DIR/new),
//     a patch between them touching about MIB MiB (DIR/patch: packages and
//     description) and DIR/manifest.txt for the shell pipeline:
//       package NAME MD5
//       file TYPE FORM NAME MD5 SOURCEMD5      (FORM: whole, lzma, delta, none)
//       largest-record BYTES
//     Deltas are made by `xdelta3 -e` (through MakeDelta), LZMA chunk
//     containers by LzmaChunkWriter, packages by `zip`.
//
//   patch_bench apply
//     Run in the launcher folder of a game copy holding the patch in "patch":
//     applies it with UpdatePatchFile (game folder "..\") and prints
//       result=CODE seconds=S peak_rss_kib=K children_peak_rss_kib=C
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "patch/QoPatchUser.h"
#include "patch/QoPatcher_xdelta.h"
#include "patch/checksum/QoChecksum.h"
#include "tools/publisher/LzmaChunkWriter.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kChunkSize = 8u << 20;
constexpr int kLzmaLevel = 1;  // fast to make; decoding speed hardly depends on it

// Text-like bytes that compress about 3:1, different for every seed.
std::string MakeBytes(size_t size, uint32_t seed) {
  static const char* const kWords[] = {"meadow ", "tova ",    "launcher ", "patch ", "delta ",   "chunk\n",
                                       "0x4509 ", "staging ", "record ",   "game ",  "version ", "client "};
  std::mt19937 random(seed);
  std::string bytes;
  bytes.reserve(size + 16);
  while (bytes.size() < size) {
    uint32_t pick = random();
    if (pick % 3 == 0) {
      bytes += static_cast<char>(pick >> 8);
      bytes += static_cast<char>(pick >> 16);
    } else {
      bytes += kWords[(pick >> 8) % 12];
    }
  }
  bytes.resize(size);
  return bytes;
}

// The old bytes with some blocks replaced and a few insertions and cuts.
std::string Edit(const std::string& old, uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes = old;
  for (int i = 0; i < 24; ++i) {
    size_t at = random() % (bytes.size() - 8192);
    std::string fresh = MakeBytes(4096, random());
    bytes.replace(at, fresh.size(), fresh);
  }
  for (int i = 0; i < 4; ++i) {
    size_t at = random() % bytes.size();
    bytes.insert(at, MakeBytes(1000 + random() % 5000, random()));
    bytes.erase(random() % (bytes.size() - 4096), 1 + random() % 3000);
  }
  return bytes;
}

bool Write(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::string Md5(const fs::path& path) {
  std::string hex;
  if (fs::file_size(path) == 0) return "D41D8CD98F00B204E9800998ECF8427E";
  GetMd5Checksum().MakeFileHex(path.string(), hex);
  return hex;
}

uint32_t LittleEndian32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

struct Entry {
  std::string name;
  int type;
  std::string form;
  std::string md5;
  std::string sourceMd5 = "0";
};

struct Maker {
  fs::path dir;
  std::vector<std::vector<Entry>> packages{3};
  size_t largestRecord = 0;

  fs::path Old(const std::string& name) const { return dir / "old" / name; }
  fs::path New(const std::string& name) const { return dir / "new" / name; }
  fs::path Stage(size_t package, const std::string& name) const {
    return dir / "stage" / std::to_string(package) / name;
  }

  bool AddDelta(const std::string& name, size_t size, uint32_t seed) {
    std::string old = MakeBytes(size, seed);
    if (!Write(Old(name), old) || !Write(New(name), Edit(old, seed + 1))) return false;
    fs::create_directories(Stage(0, name).parent_path());
    if (QoPatcher_xdelta::GetInstance().MakeDelta(Old(name).string(), New(name).string(), Stage(0, name).string()) != 0)
      return false;
    packages[0].push_back({name, 2, "delta", Md5(New(name)), Md5(Old(name))});
    return true;
  }

  bool AddLzma(const std::string& name, size_t size, uint32_t seed, bool update) {
    if (update && !Write(Old(name), MakeBytes(size / 2, seed + 7))) return false;
    if (!Write(New(name), MakeBytes(size, seed))) return false;
    fs::create_directories(Stage(1, name).parent_path());
    if (!LzmaChunkWriter(kChunkSize, kLzmaLevel).WriteFile(New(name).string(), Stage(1, name).string())) return false;
    std::ifstream in(Stage(1, name), std::ios::binary);
    std::string container((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (size_t at = 0; at + 12 <= container.size(); at += LittleEndian32(container, at + 8))
      largestRecord = std::max<size_t>(largestRecord, LittleEndian32(container, at + 8));
    packages[1].push_back({name, update ? 2 : 1, "lzma", Md5(New(name))});
    return true;
  }

  bool AddWhole(const std::string& name, size_t size, uint32_t seed, bool update) {
    if (update && !Write(Old(name), MakeBytes(size, seed + 7))) return false;
    std::string bytes = MakeBytes(size, seed);
    if (!Write(New(name), bytes) || !Write(Stage(2, name), bytes)) return false;
    packages[2].push_back({name, update ? 2 : 1, "whole", Md5(New(name))});
    return true;
  }

  bool AddDelete(const std::string& name) {
    if (!Write(Old(name), "to be removed\n")) return false;
    packages[2].push_back({name, 3, "none", "0"});
    return true;
  }

  // Zips the packages, writes the description, the game infos and the manifest.
  bool Finish() {
    const std::string gameInfoOld = "[Version]\nVersion=1.0\n[FileList]\nFileCount=0\n";
    const std::string gameInfoNew = "[Version]\nVersion=1.1\n[FileList]\nFileCount=0\n";
    if (!Write(Old("GameInfo.ini"), gameInfoOld) || !Write(New("GameInfo.ini"), gameInfoNew) ||
        !Write(Stage(2, "GameInfo.ini"), gameInfoNew))
      return false;
    packages[2].push_back({"GameInfo.ini", 2, "whole", Md5(New("GameInfo.ini"))});

    std::ostringstream description;
    std::ostringstream sections;
    std::ostringstream manifest;
    description << "[PatchVersion]\nVersionOld=1.0\nVersionNew=1.1\n[Packages]\nPackageNum=" << packages.size() << "\n";
    fs::create_directories(dir / "patch");
    for (size_t i = 0; i < packages.size(); ++i) {
      const std::string zipName = "package" + std::to_string(i) + ".zip";
      std::string command = "cd '" + (dir / "stage" / std::to_string(i)).string() + "' && zip -q -X -r '" +
                            (dir / "patch" / zipName).string() + "' .";
      if (std::system(command.c_str()) != 0) return false;
      const fs::path zip = dir / "patch" / zipName;
      const std::string zipMd5 = Md5(zip);
      description << "Package" << i << "=" << zipName << "," << packages[i].size() << "," << fs::file_size(zip) << ","
                  << zipMd5 << "\n";
      manifest << "package " << zipName << " " << zipMd5 << "\n";
      sections << "[Package" << i << "]\n";
      for (size_t k = 0; k < packages[i].size(); ++k) {
        const Entry& e = packages[i][k];
        sections << "File" << k << "=" << e.name << "," << e.type << ",0," << e.md5 << "," << e.sourceMd5 << "\n";
        manifest << "file " << e.type << " " << e.form << " " << e.name << " " << e.md5 << " " << e.sourceMd5 << "\n";
      }
    }
    manifest << "largest-record " << largestRecord << "\n";
    fs::remove_all(dir / "stage");
    return Write(dir / "patch" / "patchinfo_1.0_1.1.ini", description.str() + sections.str()) &&
           Write(dir / "manifest.txt", manifest.str());
  }
};

int Make(const fs::path& dir, double mib) {
  const double scale = mib / 300.0;
  auto size = [scale](double megabytes) { return static_cast<size_t>(megabytes * scale * (1 << 20)); };
  Maker maker{dir};
  bool ok = true;
  // About 160 MiB through deltas, 60 MiB LZMA-chunked, 80 MiB plain.
  for (int i = 0; i < 4; ++i) ok = ok && maker.AddDelta("data/delta" + std::to_string(i) + ".pak", size(40), 100 + i);
  ok = ok && maker.AddLzma("data/chunked_update.pak", size(30), 200, true);
  ok = ok && maker.AddLzma("data/new/chunked_new.pak", size(30), 201, false);
  for (int i = 0; i < 4; ++i)
    ok = ok && maker.AddWhole("client/whole" + std::to_string(i) + ".bin", size(20), 300 + i, i % 2 == 0);
  ok = ok && maker.AddDelete("old/removed0.dat") && maker.AddDelete("old/removed1.dat");
  ok = ok && Write(maker.Old("data/untouched.txt"), "kept as it is\n") &&
       Write(maker.New("data/untouched.txt"), "kept as it is\n");
  ok = ok && maker.Finish();
  if (!ok) std::fprintf(stderr, "cannot make the patch material in %s\n", dir.c_str());
  return ok ? 0 : 1;
}

int Apply() {
  QoPatchUser user(nullptr);
  user.SetGameFolder("..\\");
  user.SetPatchFile("patchinfo_1.0_1.1.ini", "patch");
  auto start = std::chrono::steady_clock::now();
  const CpUserResult result = user.UpdatePatchFile();
  std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  rusage self{};
  rusage children{};
  getrusage(RUSAGE_SELF, &self);
  getrusage(RUSAGE_CHILDREN, &children);
  std::printf("result=%d seconds=%.3f peak_rss_kib=%ld children_peak_rss_kib=%ld\n", static_cast<int>(result),
              elapsed.count(), self.ru_maxrss, children.ru_maxrss);
  return result == CpUserResult::CP_USER_SUCCESS ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "make") == 0) return Make(argv[2], std::atof(argv[3]));
  if (argc == 2 && std::strcmp(argv[1], "apply") == 0) return Apply();
  std::fprintf(stderr, "usage: %s make DIR MIB | %s apply\n", argv[0], argv[0]);
  return 2;
}
