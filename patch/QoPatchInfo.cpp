#include "patch/QoPatchInfo.h"

#include <utility>

#include "patch/IniDocument.h"
#include "patch/ProtectedFile.h"
#include "patch/SafeName.h"
#include "platform/PrivateProfile.h"
#include "util/LaunchLog.h"
#include "util/TextUtil.h"

namespace {

constexpr const char* kSourceName = "patch\\QoPatchInfo.cpp";
constexpr int kUnsafeNameLine = 71;
constexpr int kMissingPackageLine = 64;
constexpr size_t kValueCapacity = 520;  // values hold at most 519 characters

// The fields of a value split like strtok(value, ","): runs of commas count as
// one separator, so empty fields vanish and later fields move left.
std::vector<std::string> Fields(const std::string& value) {
  std::vector<std::string> fields;
  SplitByComma(fields, value);
  fields.resize(5);  // missing fields read as "" (and so as 0 through IniToInt)
  return fields;
}

// Replaces the listed `name` with its file-system form; false (logged) when
// it is not a usable name.
bool TakeLocalName(std::string& name) {
  std::string local;
  if (!LocalNameOf(name, local)) {
    WriteSourceLineLog(kSourceName, kUnsafeNameLine, "InputPatchInfoFile unsafe file name =%s", name.c_str());
    return false;
  }
  name = std::move(local);
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

  // Read once: a description announces its own counts.
  const PrivateProfileSnapshot file(path);
  std::string versionOld = file.GetString("PatchVersion", "VersionOld", "", kValueCapacity);
  std::string versionNew = file.GetString("PatchVersion", "VersionNew", "", kValueCapacity);

  std::vector<PackageInfo> packages;
  // Only the keys present are visited: the cost follows the file, never the
  // counts it announces.
  const int count = file.GetInt("Packages", "PackageNum", 0);
  for (int index : NumberedIndices(file.Keys("Packages"), "package", count)) {
    // A package that is announced but not listed has nothing to fetch or
    // apply: the description is incomplete.
    if (index != static_cast<int>(packages.size())) break;
    auto fields = Fields(file.GetString("Packages", "Package" + std::to_string(index), "", kValueCapacity));
    if (!TakeLocalName(fields[0])) return -1;
    packages.push_back(
        PackageInfo{std::move(fields[0]), IniToInt(fields[1]), IniToInt(fields[2]), std::move(fields[3]), {}});
  }
  if (count > 0 && packages.size() != static_cast<size_t>(count)) {
    WriteSourceLineLog(kSourceName, kMissingPackageLine, "InputPatchInfoFile Package%d missing, PackageNum=%d",
                       static_cast<int>(packages.size()), count);
    return -1;
  }

  for (size_t i = 0; withFiles && i < packages.size(); ++i) {
    // A file key that is not there would give an entry of type 0, which the
    // applier ignores: only the keys present are read.
    const std::string section = "Package" + std::to_string(i);
    for (int index : NumberedIndices(file.Keys(section), "file", packages[i].fileCount)) {
      auto fields = Fields(file.GetString(section, "File" + std::to_string(index), "", kValueCapacity));
      if (!TakeLocalName(fields[0])) return -1;
      packages[i].files.push_back(PatchFileInfo{std::move(fields[0]), IniToInt(fields[1]), IniToInt(fields[2]),
                                                std::move(fields[3]), std::move(fields[4])});
    }
  }

  versionOld_ = std::move(versionOld);
  versionNew_ = std::move(versionNew);
  for (PackageInfo& package : packages) packages_.push_back(std::move(package));
  return 0;
}
