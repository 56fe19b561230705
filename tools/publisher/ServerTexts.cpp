#include "tools/publisher/ServerTexts.h"

#include <fstream>

#include "patch/ProtectedFile.h"
#include "tools/publisher/PublishRules.h"

namespace {

constexpr const char* kLineEnd = "\r\n";

void AddLine(std::string& text, std::string_view line) {
  text += line;
  text += kLineEnd;
}

void AddValue(std::string& text, std::string_view key, std::string_view value) {
  text += key;
  text += '=';
  AddLine(text, value);
}

std::string JoinFields(std::initializer_list<std::string_view> fields) {
  std::string joined;
  for (std::string_view field : fields) {
    if (!joined.empty()) joined += ',';
    joined += field;
  }
  return joined;
}

}  // namespace

std::string FormatVersionFile(std::string_view version) { return std::string(version) + kLineEnd; }

std::string FormatVersionList(std::string_view version, const std::vector<SourceFile>& files) {
  std::string text;
  AddLine(text, "[Version]");
  AddValue(text, "Version", version);
  AddLine(text, "[FileList]");
  AddValue(text, "FileCount", std::to_string(files.size()));
  for (size_t i = 0; i < files.size(); ++i) {
    const SourceFile& file = files[i];
    AddValue(text, "File" + std::to_string(i),
             JoinFields({ListedName(file.name), file.md5, file.crc, std::to_string(file.size), "1"}));
  }
  return text;
}

std::string FormatDescription(std::string_view versionOld, std::string_view versionNew,
                              const std::vector<PackageInfo>& packages) {
  std::string text;
  AddLine(text, "[PatchVersion]");
  AddValue(text, "VersionOld", versionOld);
  AddValue(text, "VersionNew", versionNew);
  AddLine(text, "[Packages]");
  AddValue(text, "PackageNum", std::to_string(packages.size()));
  for (size_t i = 0; i < packages.size(); ++i) {
    const PackageInfo& package = packages[i];
    AddValue(text, "Package" + std::to_string(i),
             JoinFields({ListedName(package.fileName), std::to_string(package.files.size()),
                         std::to_string(package.extra), package.packageMd5}));
  }
  for (size_t i = 0; i < packages.size(); ++i) {
    const std::vector<PatchFileInfo>& files = packages[i].files;
    if (files.empty()) continue;
    AddLine(text, "[Package" + std::to_string(i) + "]");
    for (size_t k = 0; k < files.size(); ++k) {
      const PatchFileInfo& file = files[k];
      AddValue(text, "File" + std::to_string(k),
               JoinFields({ListedName(file.fileName), std::to_string(file.fileType), std::to_string(file.extra),
                           file.m_md5Check, file.sourceMd5}));
    }
  }
  return text;
}

std::string FormatPatchList(std::string_view versionNow, const std::vector<PatchStep>& patches) {
  std::string text;
  AddLine(text, "[PatchHistory]");
  AddValue(text, "PatchNum", std::to_string(patches.empty() ? 1 : patches.size()));
  AddValue(text, "VersionNow", versionNow);
  for (size_t i = 0; i < patches.size(); ++i) {
    AddLine(text, "[Patch_" + std::to_string(i) + "]");
    AddValue(text, "VersionFrom", patches[i].from);
    AddValue(text, "VersionTo", patches[i].to);
  }
  return text;
}

bool WriteServerText(const std::string& path, std::string_view text, bool protect, std::string& error) {
  std::string bytes;
  if (protect) {
    ProtectionKey key;
    BuildProtectionKey(key);
    bytes = ProtectBuffer(key, text);
  } else {
    bytes = text;
  }
  if (bytes.size() >= PROTECTED_FILE_MAX) {
    error = path + " would be " + std::to_string(bytes.size()) + " bytes, more than the launcher reads";
    return false;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    error = "cannot write " + path;
    return false;
  }
  return true;
}
