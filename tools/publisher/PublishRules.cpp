#include "tools/publisher/PublishRules.h"

#include "Procedure/LauncherConfig.h"
#include "patch/SafeName.h"
#include "platform/CodePage936.h"

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
  std::string listed;
  if (!Utf8ToCodePage936(name, listed)) return "the name cannot be written in code page 936";
  for (char c : name) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return "the name holds a control character";
    if (c == '\\' || c == ',' || c == '#' || c == '?') return std::string("the name holds '") + c + "'";
  }
  if (name.starts_with('/') || name.ends_with('/') || name.find("//") != std::string_view::npos)
    return "the name has an empty component";
  if (!IsSafeRelativeName(name)) return "the name leaves its folder";
  return {};
}

std::string ListedName(std::string_view name) {
  std::string listed;
  static_cast<void>(Utf8ToCodePage936(name, listed));  // accepted names always convert
  return listed;
}

std::string CheckLauncherFileName(std::string_view name) {
  if (IsLauncherWorkingName(name)) return "the launcher writes this file itself while it runs";
  return {};
}
