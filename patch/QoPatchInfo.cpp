#include "patch/QoPatchInfo.h"

#include <utility>

#include "app/LaunchLog.h"
#include "patch/IniDocument.h"
#include "patch/ProtectedFile.h"
#include "patch/SafeName.h"
#include "platform/PrivateProfile.h"
#include "util/TextUtil.h"

namespace {

constexpr const char* kSourceName = "patch\\QoPatchInfo.cpp";
constexpr int kUnsafeNameLine = 71;
constexpr size_t kValueCapacity = 520;  // values hold at most 519 characters

std::string ReadValue(const std::string& section, const std::string& key,
                      const std::string& path) {
  return GetPrivateProfileString(section, key, "", kValueCapacity, path);
}

// The fields of a value split like strtok(value, ","): runs of commas count as
// one separator, so empty fields vanish and later fields move left.
std::vector<std::string> Fields(const std::string& value) {
  std::vector<std::string> fields;
  SplitByComma(fields, value);
  fields.resize(5);  // missing fields read as "" (and so as 0 through IniToInt)
  return fields;
}

bool RefuseUnsafeName(const std::string& name) {
  if (IsSafeRelativeName(name)) return false;
  WriteLaunchLog("FILE=%s,LINE=%d ,InputPatchInfoFile unsafe file name =%s", kSourceName,
                 kUnsafeNameLine, name.c_str());
  return true;
}

}  // namespace

QoPatchInfo::QoPatchInfo() = default;

QoPatchInfo::~QoPatchInfo() = default;

int QoPatchInfo::InputPatchInfoFile(const std::string& path) { return Read(path, true); }

int QoPatchInfo::InputPackageList(const std::string& path) { return Read(path, false); }

int QoPatchInfo::Read(const std::string& path, bool withFiles) {
  if (path.empty()) return -1;
  ProtectionKey key;
  BuildProtectionKey(key);
  if (!UnprotectFile(key, path)) return -1;

  std::string versionOld = ReadValue("PatchVersion", "VersionOld", path);
  std::string versionNew = ReadValue("PatchVersion", "VersionNew", path);

  std::vector<PackageInfo> packages;
  int count = GetPrivateProfileInt("Packages", "PackageNum", 0, path);
  for (int i = 0; i < count; ++i) {
    auto fields = Fields(ReadValue("Packages", "Package" + std::to_string(i), path));
    if (RefuseUnsafeName(fields[0])) return -1;
    packages.push_back(PackageInfo{std::move(fields[0]), IniToInt(fields[1]), IniToInt(fields[2]),
                                   std::move(fields[3]), {}});
  }

  for (size_t i = 0; withFiles && i < packages.size(); ++i) {
    const std::string section = "Package" + std::to_string(i);
    for (int k = 0; k < packages[i].fileCount; ++k) {
      auto fields = Fields(ReadValue(section, "File" + std::to_string(k), path));
      if (RefuseUnsafeName(fields[0])) return -1;
      packages[i].files.push_back(PatchFileInfo{std::move(fields[0]), IniToInt(fields[1]),
                                                IniToInt(fields[2]), std::move(fields[3]),
                                                std::move(fields[4])});
    }
  }

  versionOld_ = std::move(versionOld);
  versionNew_ = std::move(versionNew);
  for (PackageInfo& package : packages) packages_.push_back(std::move(package));
  return 0;
}
