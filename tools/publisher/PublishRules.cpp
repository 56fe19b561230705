#include "tools/publisher/PublishRules.h"

#include "Procedure/LauncherConfig.h"
#include "patch/SafeName.h"

namespace {

bool IsVersionCharacter(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.' || c == '-' ||
         c == '_' || c == '+';
}

}  // namespace

std::string CheckVersionText(std::string_view version) {
  if (version.empty()) return "the version is empty";
  if (version.size() > kMaxVersionLength)
    return "the version is longer than " + std::to_string(kMaxVersionLength) + " characters";
  for (char c : version) {
    if (!IsVersionCharacter(c)) return "the version may hold only letters, digits, '.', '-', '_' and '+'";
  }
  return {};
}

std::string CheckFileName(std::string_view name) {
  if (name.empty()) return "the name is empty";
  if (name.size() > kMaxFileNameLength)
    return "the name is longer than " + std::to_string(kMaxFileNameLength) + " characters";
  if (name.front() == ' ' || name.back() == ' ') return "the name begins or ends with a blank";
  for (char c : name) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte > 0x7E) return "the name holds a byte outside printable ASCII";
    if (c == '\\' || c == ',' || c == '#' || c == '?') return std::string("the name holds '") + c + "'";
  }
  if (name.starts_with('/') || name.ends_with('/') || name.find("//") != std::string_view::npos)
    return "the name has an empty component";
  if (!IsSafeRelativeName(name)) return "the name leaves its folder";
  return {};
}

std::string CheckLauncherFileName(std::string_view name) {
  if (IsLauncherWorkingName(name)) return "the launcher writes this file itself while it runs";
  return {};
}
