// Real patch material for the applier tests: zips made by `zip`, deltas made
// by `xdelta3 -e`, LZMA chunk containers made with the LZMA SDK encoder, and
// plain or protected descriptions, laid out like the launcher finds them:
//   <root>/game/                 game folder ("..\" of the launcher)
//   <root>/game/launcher/        current folder during the test
//   <root>/game/launcher/patch/  downloaded patch (description and packages)
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/MessageWindow.h"
#include "tests/support/TempDir.h"

namespace patchtest {

namespace fs = std::filesystem;

// `size` bytes that compress somewhat and differ with `seed`.
std::string SampleBytes(size_t size, uint32_t seed);

// Zips the files `entries` (paths relative to `folder`) into `zipPath` with
// the `zip` program. Folder entries are added for the entries' folders.
void MakeZip(const fs::path& zipPath, const fs::path& folder, const std::vector<std::string>& entries);

// Replaces every occurrence of `from` by `to` (same length) in the file: used
// to give zip entries names that `zip` itself refuses to store.
void PatchBytes(const fs::path& file, const std::string& from, const std::string& to);

// "QOXD" 0x00 followed by the VCDIFF delta `xdelta3 -e` makes from `source`
// to `target` contents.
std::string MakeMarkedDelta(const std::string& source, const std::string& target);

// The LZMA chunk container of `bytes`, records of `chunkSize` decoded bytes.
std::string MakeLzmaContainer(const std::string& bytes, uint32_t chunkSize);

// A plain version file list with its version and no files.
std::string GameInfoText(const std::string& version);

// How a file travels in its package: whole; whole behind "QOCP" 0x00 "QORS"
// 0x00 (for content that itself starts like a marker); as an LZMA chunk
// container of 64 KiB records; as a marked delta against the installed file;
// or not at all.
enum class Form { kWhole, kEscaped, kLzma, kDelta, kNone };

struct FileEntry {
  FileEntry(std::string name, int type, std::string content, Form form = Form::kWhole)
      : name(std::move(name)), type(type), content(std::move(content)), form(form) {}

  std::string name;
  int type;
  std::string content;  // the file after patching
  Form form;
  std::string md5;        // m_md5Check; empty: MD5 of content
  std::string sourceMd5;  // empty: MD5 of the installed file for a delta, else "0"
};

struct Package {
  Package(std::string name, std::vector<FileEntry> files) : name(std::move(name)), files(std::move(files)) {}

  std::string name;
  std::vector<FileEntry> files;
  std::string md5;  // empty: the zip's MD5
};

struct Patch {
  std::string versionOld = "1.0";
  std::string versionNew = "1.1";
  std::vector<Package> packages;
  bool protectedDescription = false;
  std::string descriptionName = "patchinfo_1.0_1.1.ini";
};

// Recorded messages in a short form: the message's name, " w<wParam>" when it
// is not 0, then the name text, the four integers of a block ("12,4,5,1") or a
// non-zero lParam. Example: "UM_UPDATE_FILE_INDEX 3",
// "UM_UPDATE_FILE_TOTAL 12,4,5,1", "UM_UPDATE_CLEANUP_BEGIN w1".
using Trace = std::vector<std::string>;

// Folders, current folder, recorded messages.
class GameFixture {
 public:
  GameFixture();

  const fs::path& game() const { return game_; }
  const fs::path& launcher() const { return launcher_; }
  fs::path patchFolder() const { return launcher_ / "patch"; }

  // Writes the game's files and its GameInfo.ini with `version`.
  void InstallGame(const std::map<std::string, std::string>& files, const std::string& version = "1.0");

  // Writes the packages and the description of `patch` into patch/, reading
  // delta sources from the game folder.
  void WritePatch(const Patch& patch);

  // Every regular file below the game folder except the launcher folder,
  // by relative path.
  std::map<std::string, std::string> GameFiles() const;

  std::string Log() const;

  MessageWindow* window() { return &window_; }
  const Trace& messages() const { return messages_; }

 private:
  testsupport::TempDir root_;
  fs::path game_;
  fs::path launcher_;
  testsupport::CurrentDirScope cwd_;
  Trace messages_;
  MessageWindow window_;
};

// Puts a wrapper named xdelta3 first on PATH for the object's life: it writes
// its arguments (one per line, then "--") to a file and runs the real program.
class XdeltaRecorder {
 public:
  explicit XdeltaRecorder(const fs::path& folder);
  ~XdeltaRecorder();
  XdeltaRecorder(const XdeltaRecorder&) = delete;
  XdeltaRecorder& operator=(const XdeltaRecorder&) = delete;

  // One list of arguments per call.
  std::vector<std::vector<std::string>> Calls() const;

 private:
  fs::path folder_;
  std::string oldPath_;
};

// Sets PATH for the object's life.
class PathScope {
 public:
  explicit PathScope(const std::string& path);
  ~PathScope();
  PathScope(const PathScope&) = delete;
  PathScope& operator=(const PathScope&) = delete;

 private:
  std::string oldPath_;
};

}  // namespace patchtest
