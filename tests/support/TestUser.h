// A user of its own for one test: a fresh temporary folder that is the current
// folder and holds the user's configuration folder and Wine prefix, so tests
// never read or write the real user's registry store or Wine prefix.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/RegistryStore.h"
#include "tests/support/TempDir.h"

namespace testsupport {

class TestUser {
 public:
  TestUser();
  ~TestUser();
  TestUser(const TestUser&) = delete;
  TestUser& operator=(const TestUser&) = delete;

  const std::filesystem::path& dir() const { return dir_.path(); }
  std::filesystem::path configDir() const { return dir() / "config"; }
  std::filesystem::path winePrefix() const { return dir() / "wine"; }
  // The store that RegistryStore() opens for this user.
  RegistryStore store() const { return RegistryStore(); }

 private:
  TempDir dir_;
  CurrentDirScope cwd_;
  std::optional<std::string> savedConfig_;
  std::optional<std::string> savedPrefix_;
};

// Sets (or with nullopt, removes) an environment variable; returns the
// previous value.
std::optional<std::string> SwapEnv(const char* name, const std::optional<std::string>& value);

}  // namespace testsupport
