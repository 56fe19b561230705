#include "tests/patch/PatchMaterial.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <sstream>

#include "patch/PatchMessages.h"
#include "patch/ProtectedFile.h"
#include "tests/support/MessageNames.h"
#include "tests/support/TestBytes.h"
#include "tools/publisher/LzmaChunkWriter.h"

namespace patchtest {

using testsupport::Md5Of;
using testsupport::ReadFile;
using testsupport::RunShell;
using testsupport::WriteFile;

namespace {

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string FileMd5(const fs::path& path) { return Md5Of(ReadFile(path)); }

fs::path MadeFolder(const fs::path& path) {
  fs::create_directories(path);
  return path;
}

}  // namespace

std::string SampleBytes(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  static const char* const kWords[] = {"meadow ", "tova ", "launcher ", "patch ", "delta ", "chunk\n"};
  std::string bytes;
  bytes.reserve(size + 16);
  while (bytes.size() < size) {
    uint32_t pick = random();
    if (pick % 4 == 0)
      bytes += static_cast<char>(pick >> 8);
    else
      bytes += kWords[(pick >> 8) % 6];
  }
  bytes.resize(size);
  return bytes;
}

void MakeZip(const fs::path& zipPath, const fs::path& folder, const std::vector<std::string>& entries) {
  std::set<std::string> folders;
  for (const auto& entry : entries) {
    for (fs::path parent = fs::path(entry).parent_path(); !parent.empty(); parent = parent.parent_path())
      folders.insert(parent.string() + "/");
  }
  std::string command = "cd " + Quote(folder.string()) + " && zip -q -X " + Quote(zipPath.string());
  // Appended piece by piece: GCC 12 at -O3 warns (-Wrestrict) about " " + text.
  for (const auto& name : folders) command.append(" ").append(Quote(name));
  for (const auto& entry : entries) command.append(" ").append(Quote(entry));
  ASSERT_EQ(RunShell(command), 0) << command;
}

void PatchBytes(const fs::path& file, const std::string& from, const std::string& to) {
  ASSERT_EQ(from.size(), to.size());
  std::string bytes = ReadFile(file);
  size_t count = 0;
  for (size_t at = bytes.find(from); at != std::string::npos; at = bytes.find(from, at + to.size())) {
    bytes.replace(at, from.size(), to);
    ++count;
  }
  ASSERT_GT(count, 0u);
  WriteFile(file, bytes);
}

std::string MakeMarkedDelta(const std::string& source, const std::string& target) {
  testsupport::TempDir work;
  WriteFile(work.path() / "source", source);
  WriteFile(work.path() / "target", target);
  std::string command = "xdelta3 -e -s " + Quote((work.path() / "source").string()) + " " +
                        Quote((work.path() / "target").string()) + " " + Quote((work.path() / "delta").string());
  EXPECT_EQ(RunShell(command), 0) << command;
  return std::string("QOXD\0", 5) + ReadFile(work.path() / "delta");
}

std::string MakeLzmaContainer(const std::string& bytes, uint32_t chunkSize) {
  std::string container;
  LzmaChunkWriter writer(chunkSize);
  for (size_t at = 0; at < bytes.size(); at += chunkSize) {
    std::string_view piece = std::string_view(bytes).substr(at, chunkSize);
    EXPECT_TRUE(writer.AppendRecord({reinterpret_cast<const uint8_t*>(piece.data()), piece.size()}, container));
  }
  return container;
}

std::string GameInfoText(const std::string& version) {
  return "[Version]\nVersion=" + version + "\n[FileList]\nFileCount=0\n";
}

GameFixture::GameFixture()
    : game_(root_.path() / "game"),
      launcher_(MadeFolder(game_ / "launcher")),
      cwd_(launcher_),
      window_([this](const Message& message) {
        std::string text = testsupport::MessageName(message.id);
        if (message.wParam != 0) text += " w" + std::to_string(message.wParam);
        if (message.id == UM_UPDATE_FILE_NAME || message.id == UM_PAGE_NAME) {
          text += " " + std::string(reinterpret_cast<const char*>(message.lParam));
        } else if (message.id == UM_UPDATE_FILE_TOTAL || message.id == UM_PAGE_TOTAL) {
          const auto* block = reinterpret_cast<const int32_t*>(message.lParam);
          text += " " + std::to_string(block[0]) + "," + std::to_string(block[1]) + "," + std::to_string(block[2]) +
                  "," + std::to_string(block[3]);
        } else if (message.lParam != 0) {
          text += " " + std::to_string(message.lParam);
        }
        messages_.push_back(std::move(text));
      }) {}

void GameFixture::InstallGame(const std::map<std::string, std::string>& files, const std::string& version) {
  for (const auto& [name, content] : files) WriteFile(game_ / name, content);
  WriteFile(game_ / "GameInfo.ini", GameInfoText(version));
}

void GameFixture::WritePatch(const Patch& patch) {
  const fs::path folder = patchFolder();
  fs::create_directories(folder);
  std::ostringstream packages;
  std::ostringstream sections;
  for (size_t i = 0; i < patch.packages.size(); ++i) {
    const Package& package = patch.packages[i];
    testsupport::TempDir stage;
    std::vector<std::string> entries;
    sections << "[Package" << i << "]\n";
    for (size_t k = 0; k < package.files.size(); ++k) {
      const FileEntry& file = package.files[k];
      std::string sourceMd5 = file.sourceMd5;
      if (file.form != Form::kNone) {
        std::string stored = file.content;
        if (file.form == Form::kEscaped) stored = std::string("QOCP\0QORS\0", 10) + file.content;
        if (file.form == Form::kLzma) stored = MakeLzmaContainer(file.content, 64 * 1024);
        if (file.form == Form::kDelta) {
          std::string installed = ReadFile(game_ / file.name);
          stored = MakeMarkedDelta(installed, file.content);
          if (sourceMd5.empty()) sourceMd5 = Md5Of(installed);
        }
        WriteFile(stage.path() / file.name, stored);
        entries.push_back(file.name);
      }
      sections << "File" << k << "=" << file.name << "," << file.type << ",0,"
               << (file.md5.empty() ? Md5Of(file.content) : file.md5) << "," << (sourceMd5.empty() ? "0" : sourceMd5)
               << "\n";
    }
    fs::path zip = folder / package.name;
    if (!entries.empty()) {
      MakeZip(zip, stage.path(), entries);
    } else {
      // An archive with a lone folder entry: `zip` writes no empty archives.
      fs::create_directories(stage.path() / "empty");
      MakeZip(zip, stage.path(), {"empty"});
    }
    std::string zipMd5 = package.md5.empty() ? FileMd5(zip) : package.md5;
    packages << "Package" << i << "=" << package.name << "," << package.files.size() << "," << fs::file_size(zip) << ","
             << zipMd5 << "\n";
  }
  std::string text = "[PatchVersion]\nVersionOld=" + patch.versionOld + "\nVersionNew=" + patch.versionNew +
                     "\n[Packages]\nPackageNum=" + std::to_string(patch.packages.size()) + "\n" + packages.str() +
                     sections.str();
  if (patch.protectedDescription) {
    ProtectionKey key;
    BuildProtectionKey(key);
    text = ProtectBuffer(key, text);
  }
  WriteFile(folder / patch.descriptionName, text);
}

std::map<std::string, std::string> GameFixture::GameFiles() const {
  std::map<std::string, std::string> files;
  for (auto it = fs::recursive_directory_iterator(game_); it != fs::recursive_directory_iterator(); ++it) {
    if (it->path() == launcher_) {
      it.disable_recursion_pending();
      continue;
    }
    if (it->is_regular_file()) files[fs::relative(it->path(), game_).string()] = ReadFile(it->path());
  }
  return files;
}

std::string GameFixture::Log() const { return ReadFile(launcher_ / "Launch.log"); }

XdeltaRecorder::XdeltaRecorder(const fs::path& folder) : folder_(folder) {
  const char* path = std::getenv("PATH");
  oldPath_ = path != nullptr ? path : "";
  fs::create_directories(folder_);
  std::string real = "/usr/bin/xdelta3";
  WriteFile(folder_ / "xdelta3", "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done >> " +
                                     Quote((folder_ / "calls.txt").string()) + "\necho -- >> " +
                                     Quote((folder_ / "calls.txt").string()) + "\nexec " + real + " \"$@\"\n");
  fs::permissions(folder_ / "xdelta3", fs::perms::owner_all);
  setenv("PATH", (folder_.string() + ":" + oldPath_).c_str(), 1);
}

XdeltaRecorder::~XdeltaRecorder() { setenv("PATH", oldPath_.c_str(), 1); }

std::vector<std::vector<std::string>> XdeltaRecorder::Calls() const {
  std::vector<std::vector<std::string>> calls;
  std::istringstream lines(ReadFile(folder_ / "calls.txt"));
  std::vector<std::string> current;
  for (std::string line; std::getline(lines, line);) {
    if (line == "--") {
      calls.push_back(std::move(current));
      current.clear();
    } else {
      current.push_back(line);
    }
  }
  return calls;
}

PathScope::PathScope(const std::string& path) {
  const char* old = std::getenv("PATH");
  oldPath_ = old != nullptr ? old : "";
  setenv("PATH", path.c_str(), 1);
}

PathScope::~PathScope() { setenv("PATH", oldPath_.c_str(), 1); }

}  // namespace patchtest
