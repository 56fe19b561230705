#include "util/LzmaUncompress.h"

#include <cstdlib>
#include <type_traits>

#include "LzmaDec.h"

namespace {

static_assert(std::is_same_v<SizeT, size_t>);

void* Allocate(void*, size_t size) { return std::malloc(size); }
void Release(void*, void* address) { std::free(address); }

ISzAlloc kAllocator = {Allocate, Release};

}  // namespace

int LzmaUncompress(unsigned char* dest, size_t* destLen, const unsigned char* src, size_t* srcLen,
                   const unsigned char* props, size_t propsSize) {
  ELzmaStatus status;
  return LzmaDecode(dest, destLen, src, srcLen, props, static_cast<unsigned>(propsSize), LZMA_FINISH_ANY, &status,
                    &kAllocator);
}
