#include "platform/CodePage936.h"

#include <iconv.h>

#include <bit>
#include <cerrno>
#include <cstring>

namespace {

constexpr const char* kNativeUtf16 = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

// One converter per thread: an iconv descriptor may not be used by two
// threads at once.
class Converter {
 public:
  Converter() : descriptor_(iconv_open(kNativeUtf16, "CP936")) {}
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

}  // namespace

bool DecodeCodePage936(std::string_view bytes, std::u16string& out) {
  out.clear();
  thread_local Converter converter;
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
