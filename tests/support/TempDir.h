// Temporary folders for tests, and a scope that makes one the current folder
// (the launcher works relative to its current folder).
#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

// A fresh folder below the system's temporary folder, removed with its
// contents at the end of the scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

// Changes the current folder for the lifetime of the object.
class CurrentDirScope {
 public:
  explicit CurrentDirScope(const std::filesystem::path& dir);
  ~CurrentDirScope();
  CurrentDirScope(const CurrentDirScope&) = delete;
  CurrentDirScope& operator=(const CurrentDirScope&) = delete;

 private:
  std::filesystem::path previous_;
};

// File helpers for fixtures.
void WriteFile(const std::filesystem::path& path, const std::string& bytes);
std::string ReadFile(const std::filesystem::path& path);

// Runs a shell command; returns its exit status.
int RunShell(const std::string& command);

}  // namespace testsupport
