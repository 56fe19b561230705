#include "platform/RegistryStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <utility>
#include <vector>

#include "platform/AsciiText.h"
#include "platform/RegistryFiles.h"

namespace {

constexpr const char* kStoreFolder = "TovaLauncher";
constexpr const char* kStoreFile = "registry.txt";
constexpr const char* kNewFileComment = "; TovaLauncher: the current user's registry values";
constexpr const char kHexDigits[] = "0123456789abcdef";
constexpr std::string_view kBlanks = " \t";  // around the parts of a line

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '\\' || c == '"') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += kHexDigits[c >> 4];
      out += kHexDigits[c & 0xF];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// Reads a quoted text starting at line[pos] == '"'; on success `pos` is just
// past the closing quote.
std::optional<std::string> Unquote(std::string_view line, size_t& pos) {
  if (pos >= line.size() || line[pos] != '"') return std::nullopt;
  std::string out;
  for (size_t i = pos + 1; i < line.size(); ++i) {
    char c = line[i];
    if (c == '"') {
      pos = i + 1;
      return out;
    }
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++i == line.size()) return std::nullopt;
    switch (line[i]) {
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'x': {
        int high = i + 1 < line.size() ? HexDigitValue(line[i + 1]) : -1;
        int low = i + 2 < line.size() ? HexDigitValue(line[i + 2]) : -1;
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
        break;
      }
      default: out += line[i];
    }
  }
  return std::nullopt;
}

std::string HexList(std::string_view bytes) {
  std::string out = "hex:";
  for (size_t i = 0; i < bytes.size(); ++i) {
    unsigned char c = bytes[i];
    if (i != 0) out += ',';
    out += kHexDigits[c >> 4];
    out += kHexDigits[c & 0xF];
  }
  return out;
}

std::optional<std::string> ParseHexList(std::string_view text) {
  std::string out;
  text = Trim(text, kBlanks);
  while (!text.empty()) {
    size_t comma = text.find(',');
    std::string_view item = Trim(text.substr(0, comma), kBlanks);
    if (item.empty() || item.size() > 2) return std::nullopt;
    int value = 0;
    for (char c : item) {
      int digit = HexDigitValue(c);
      if (digit < 0) return std::nullopt;
      value = value * 16 + digit;
    }
    out += static_cast<char>(value);
    if (comma == std::string_view::npos) break;
    text = text.substr(comma + 1);
    if (Trim(text, kBlanks).empty()) return std::nullopt;  // a trailing comma
  }
  return out;
}

// "[key]": the key's name.
std::optional<std::string_view> KeyOfLine(std::string_view line) {
  line = Trim(line, kBlanks);
  if (line.size() < 2 || line.front() != '[' || line.back() != ']') return std::nullopt;
  return line.substr(1, line.size() - 2);
}

// '"name"=...': the value's name, and the text after "=" in `rest`.
std::optional<std::string> ValueNameOfLine(std::string_view line, std::string_view& rest) {
  line = Trim(line, kBlanks);
  size_t pos = 0;
  std::optional<std::string> name = Unquote(line, pos);
  if (!name) return std::nullopt;
  rest = Trim(line.substr(pos), kBlanks);
  if (rest.empty() || rest.front() != '=') return std::nullopt;
  rest = Trim(rest.substr(1), kBlanks);
  return name;
}

std::optional<RegistryValue> ParseValue(std::string_view text) {
  if (!text.empty() && text.front() == '"') {
    size_t pos = 0;
    std::optional<std::string> data = Unquote(text, pos);
    if (!data || !Trim(text.substr(pos), kBlanks).empty()) return std::nullopt;
    return RegistryValue{RegistryType::Text, std::move(*data)};
  }
  if (text.substr(0, 4) == "hex:") {
    std::optional<std::string> data = ParseHexList(text.substr(4));
    if (!data) return std::nullopt;
    return RegistryValue{RegistryType::Binary, std::move(*data)};
  }
  return std::nullopt;
}

std::string FormatValueLine(std::string_view name, const RegistryValue& value) {
  return Quote(name) + "=" + (value.type == RegistryType::Text ? Quote(value.data) : HexList(value.data));
}

bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Writes a temporary file next to `path`, flushes it to the disk and renames
// it over `path`, so the file is either the old or the new one after a crash.
bool ReplaceFile(const std::string& path, const std::string& content) {
  std::string temporary = path + ".XXXXXX";
  int fd = ::mkstemp(temporary.data());
  if (fd < 0) return false;
  bool written = WriteAll(fd, content) && ::fsync(fd) == 0;
  written = ::close(fd) == 0 && written;
  if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  std::string folder = std::filesystem::path(path).parent_path().string();
  int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

// An exclusive lock on "<path>.lock" for the lifetime of the object; it
// serialises writers in this and in other processes.
class WriteLock {
 public:
  explicit WriteLock(const std::string& path)
      : fd_(::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (fd_ < 0) return;
    int rc;
    do {
      rc = ::flock(fd_, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~WriteLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;

  bool held() const { return fd_ >= 0; }

 private:
  int fd_;
};

}  // namespace

std::string RegistryStore::DefaultPath() {
  std::string config;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') {
    config = xdg;
  } else {
    std::string home = HomeFolder();
    if (home.empty()) return {};
    config = home + "/.config";
  }
  return config + "/" + kStoreFolder + "/" + kStoreFile;
}

RegistryStore::RegistryStore(std::string path) : path_(std::move(path)) {}

std::optional<RegistryValue> RegistryStore::Query(std::string_view key, std::string_view name) const {
  if (path_.empty()) return std::nullopt;
  bool inKey = false;
  for (const std::string& line : ReadTextLines(path_)) {
    if (auto lineKey = KeyOfLine(line)) {
      inKey = EqualsIgnoreCase(*lineKey, key);
      continue;
    }
    if (!inKey) continue;
    std::string_view rest;
    std::optional<std::string> lineName = ValueNameOfLine(line, rest);
    if (lineName && EqualsIgnoreCase(*lineName, name)) return ParseValue(rest);
  }
  return std::nullopt;
}

bool RegistryStore::ReadText(std::string_view key, std::string_view name, std::string& out) const {
  std::optional<RegistryValue> value = Query(key, name);
  if (!value || value->type != RegistryType::Text) return false;
  out = std::move(value->data);
  return true;
}

bool RegistryStore::ReadBinary(std::string_view key, std::string_view name, std::string& out) const {
  std::optional<RegistryValue> value = Query(key, name);
  if (!value || value->type != RegistryType::Binary) return false;
  out = std::move(value->data);
  return true;
}

bool RegistryStore::WriteText(std::string_view key, std::string_view name, std::string_view text) {
  return Write(key, name, RegistryValue{RegistryType::Text, std::string(text)}, true);
}

bool RegistryStore::WriteBinary(std::string_view key, std::string_view name, std::string_view bytes) {
  return Write(key, name, RegistryValue{RegistryType::Binary, std::string(bytes)}, true);
}

bool RegistryStore::AddBinary(std::string_view key, std::string_view name, std::string_view bytes) {
  return Write(key, name, RegistryValue{RegistryType::Binary, std::string(bytes)}, false);
}

bool RegistryStore::Write(std::string_view key, std::string_view name, const RegistryValue& value, bool replace) {
  // A line break in a key would end its "[key]" line early.
  if (path_.empty() || key.empty() || key.find_first_of("\r\n") != std::string_view::npos) return false;
  std::filesystem::path folder = std::filesystem::path(path_).parent_path();
  std::error_code ec;
  if (!folder.empty()) std::filesystem::create_directories(folder, ec);
  if (ec) return false;

  WriteLock lock(path_);
  if (!lock.held()) return false;

  // Rewriting a file that could not be read would lose its other values.
  std::optional<std::vector<std::string>> read = ReadExistingTextLines(path_);
  if (!read) return false;
  std::vector<std::string> lines = std::move(*read);
  if (lines.empty()) lines.push_back(kNewFileComment);
  std::string newLine = FormatValueLine(name, value);
  bool inKey = false;
  bool keyFound = false;
  size_t insertAt = 0;
  bool replaced = false;
  for (size_t i = 0; i < lines.size() && !replaced; ++i) {
    if (auto lineKey = KeyOfLine(lines[i])) {
      inKey = EqualsIgnoreCase(*lineKey, key);
      if (inKey) {
        keyFound = true;
        insertAt = i + 1;
      }
      continue;
    }
    if (!inKey) continue;
    std::string_view rest;
    std::optional<std::string> lineName = ValueNameOfLine(lines[i], rest);
    if (lineName && EqualsIgnoreCase(*lineName, name)) {
      if (!replace) return false;
      lines[i] = newLine;
      replaced = true;
    } else if (!Trim(lines[i], kBlanks).empty()) {
      insertAt = i + 1;  // new values go after the key's last line
    }
  }
  if (!replaced && keyFound) {
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), newLine);
  } else if (!replaced) {
    if (!lines.back().empty()) lines.emplace_back();
    lines.push_back("[" + std::string(key) + "]");
    lines.push_back(newLine);
  }

  std::string content;
  for (const std::string& line : lines) content += line + "\n";
  return ReplaceFile(path_, content);
}
