#include "platform/secure_buffer.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstring>

namespace qalv {

uint8_t* AllocateZeroed(size_t size) {
  constexpr size_t kLarge = 512 * 1024;
  constexpr size_t kHugePage = 2 * 1024 * 1024;
  if (size < kLarge) return static_cast<uint8_t*>(std::calloc(size, 1));
  if (size > SIZE_MAX - kHugePage) return nullptr;
  const size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
  void* block = std::aligned_alloc(kHugePage, rounded);
  if (block == nullptr) return nullptr;
  // Only advice: without transparent huge pages the block works the same.
  static_cast<void>(madvise(block, rounded, MADV_HUGEPAGE));
  std::memset(block, 0, size);
  return static_cast<uint8_t*>(block);
}

}  // namespace qalv
