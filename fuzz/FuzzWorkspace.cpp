#include "fuzz/FuzzWorkspace.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "util/LaunchLog.h"

namespace fuzzsupport {
namespace {

namespace fs = std::filesystem;

fs::path& WorkspaceRoot() {
  static fs::path root;
  return root;
}

[[noreturn]] void Die(const char* what) {
  std::perror(what);
  std::abort();
}

void RemoveWorkspace() {
  std::error_code ignored;
  if (!WorkspaceRoot().empty()) fs::remove_all(WorkspaceRoot(), ignored);
}

}  // namespace

void EnterWorkspace() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = (base != nullptr && base[0] == '/') ? base : "/tmp";
  pattern += "/launcher-fuzz-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) Die("mkdtemp");
  WorkspaceRoot() = pattern;
  if (chdir(pattern.c_str()) != 0) Die("chdir");
  if (setenv("TMPDIR", pattern.c_str(), 1) != 0) Die("setenv");
  std::atexit(RemoveWorkspace);

  std::error_code error;
  fs::create_symlink("/dev/null", kLaunchLogName, error);
  if (error) Die("launch log link");
  int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0 || dup2(null, STDOUT_FILENO) < 0) Die("stdout");
  close(null);
}

void ClearWorkspace() {
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(".", error)) {
    if (entry.path().filename() == kLaunchLogName) continue;
    fs::remove_all(entry.path(), error);
    if (error) Die("clearing the workspace");
  }
}

void WriteInput(const std::string& name, const uint8_t* data, size_t size) {
  fs::path path(name);
  std::error_code error;
  if (path.has_parent_path()) fs::create_directories(path.parent_path(), error);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  if (!out) Die("writing the input");
}

std::string ReadBack(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& name) {
  std::error_code error;
  return fs::symlink_status(name, error).type() != fs::file_type::not_found;
}

std::vector<std::string> ListFolder(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    std::string name = entry.path().filename().string();
    if (folder != "." || name != kLaunchLogName) names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace fuzzsupport
