#include "platform/CodePage936.h"

#include <iconv.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <utility>

namespace {

constexpr const char* kNativeUtf16 = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

// One converter per thread: an iconv descriptor may not be used by two
// threads at once.
class Converter {
 public:
  Converter(const char* to, const char* from) : descriptor_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) {
      iconv_close(descriptor_);
    }
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool ok() const { return descriptor_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return descriptor_; }

 private:
  iconv_t descriptor_;
};

bool IsAscii(std::string_view text) {
  for (const char c : text) {
    if (c == '\0' || static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// Converts all of `in` or nothing: any sequence iconv refuses fails the call.
// ASCII is the same in both encodings and is copied.
bool ConvertExactly(Converter& converter, std::string_view in, std::string& out) {
  if (IsAscii(in)) {
    out.assign(in);
    return true;
  }
  out.clear();
  if (!converter.ok() || in.find('\0') != std::string_view::npos) return false;
  iconv(converter.get(), nullptr, nullptr, nullptr, nullptr);
  // Between these two encodings a character grows at most from 2 bytes to 3.
  std::string result(in.size() * 2 + 4, '\0');
  char* from = const_cast<char*>(in.data());
  size_t fromLeft = in.size();
  char* to = result.data();
  size_t toLeft = result.size();
  if (iconv(converter.get(), &from, &fromLeft, &to, &toLeft) == static_cast<size_t>(-1) ||
      iconv(converter.get(), nullptr, nullptr, &to, &toLeft) == static_cast<size_t>(-1)) {
    return false;
  }
  result.resize(result.size() - toLeft);
  out = std::move(result);
  return true;
}

}  // namespace

bool CodePage936ToUtf8(std::string_view bytes, std::string& out) {
  thread_local Converter converter("UTF-8", "CP936");
  return ConvertExactly(converter, bytes, out);
}

bool Utf8ToCodePage936(std::string_view text, std::string& out) {
  thread_local Converter converter("CP936", "UTF-8");
  return ConvertExactly(converter, text, out);
}

bool DecodeCodePage936(std::string_view bytes, std::u16string& out) {
  out.clear();
  thread_local Converter converter(kNativeUtf16, "CP936");
  if (!converter.ok()) {
    return false;
  }
  iconv(converter.get(), nullptr, nullptr, nullptr, nullptr);
  // Every character, and every replaced byte, takes at least one input byte
  // and gives one UTF-16 unit.
  out.resize(bytes.size());
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  char* next = reinterpret_cast<char*>(out.data());
  size_t outLeft = out.size() * sizeof(char16_t);
  while (inLeft > 0 && iconv(converter.get(), &in, &inLeft, &next, &outLeft) == static_cast<size_t>(-1)) {
    if (errno != EILSEQ && errno != EINVAL) {
      break;
    }
    // An invalid or cut-off sequence: one "?" for its first byte.
    const char16_t question = u'?';
    std::memcpy(next, &question, sizeof(question));
    next += sizeof(question);
    outLeft -= sizeof(question);
    ++in;
    --inLeft;
  }
  out.resize(out.size() - outLeft / sizeof(char16_t));
  return true;
}
