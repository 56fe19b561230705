// A small file system for a test that needs one to fill up: a tmpfs mounted
// for the scope of the object. Mounting needs the privilege to do so; tests
// skip when ok() is false.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace testsupport {

class ScopedMount {
 public:
  // A tmpfs of at most `bytes` at `at` (created when missing). Check ok()
  // and problem(). Unmounted (lazily) by the destructor.
  ScopedMount(const std::filesystem::path& at, uint64_t bytes);
  ~ScopedMount();
  ScopedMount(const ScopedMount&) = delete;
  ScopedMount& operator=(const ScopedMount&) = delete;

  bool ok() const { return problem_.empty(); }
  const std::string& problem() const { return problem_; }

 private:
  std::filesystem::path at_;
  std::string problem_;
};

}  // namespace testsupport
