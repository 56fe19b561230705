#include "Procedure/ServerVersionFile.h"

#include <cstdio>
#include <memory>
#include <utility>

#include "platform/SystemPath.h"
#include "util/TextUtil.h"

bool ReadServerVersion(const std::string& path, std::string& version) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(ToSystemPath(path).c_str(), "rb"), &std::fclose);
  if (!file) return false;
  std::string text(kVersionFileLimit, '\0');
  const size_t read = std::fread(text.data(), 1, text.size(), file.get());
  // A read error (the path is a folder, say) counts as a file that cannot be opened.
  if (read == text.size() || std::ferror(file.get())) return false;
  // The buffer was zero-filled and not filled up, so a zero byte ends the text.
  text.resize(text.find('\0'));
  RemoveBlanks(text);
  version = std::move(text);
  return true;
}

bool IsVersionNameSafe(std::string_view version) { return version.find_first_of("\\/") == std::string_view::npos; }
