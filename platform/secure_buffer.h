// An owned byte buffer that is wiped before its memory is released.
//
// Package, certificate and document bytes live only in these buffers, so that
// "wiped before release" holds on every path, early returns included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <cstdlib>
#include <span>
#include <vector>

#include <mbedtls/platform_util.h>

namespace qalv {

// A zero-filled block of `size` bytes for SecureBuffer, or null. Large blocks
// are aligned for huge pages: a 100 MB document then costs tens of page
// faults, not tens of thousands. Released with std::free.
uint8_t* AllocateZeroed(size_t size);

class SecureBuffer {
 public:
  SecureBuffer() = default;
  SecureBuffer(const SecureBuffer&) = delete;
  SecureBuffer& operator=(const SecureBuffer&) = delete;
  SecureBuffer(SecureBuffer&& other) noexcept
      : data_(std::move(other.data_)), size_(other.size_) {
    other.size_ = 0;
  }
  SecureBuffer& operator=(SecureBuffer&& other) noexcept {
    if (this != &other) {
      Release();
      data_ = std::move(other.data_);
      size_ = other.size_;
      other.size_ = 0;
    }
    return *this;
  }
  ~SecureBuffer() { Release(); }

  // Replaces the contents with `size` zero bytes; false (and empty) when the
  // memory cannot be had. Never throws.
  [[nodiscard]] bool Allocate(size_t size) {
    Release();
    if (size == 0) return true;
    data_.reset(AllocateZeroed(size));
    if (!data_) return false;
    size_ = size;
    return true;
  }

  // Replaces the contents with a copy of `size` bytes at `bytes`.
  [[nodiscard]] bool Assign(const uint8_t* bytes, size_t size) {
    if (!Allocate(size)) return false;
    if (size != 0) std::copy(bytes, bytes + size, data_.get());
    return true;
  }

  // Keeps the first `size` bytes (size <= this->size()); the bytes beyond are
  // wiped now, so the buffer never holds more than it says.
  void Shrink(size_t size) {
    if (size >= size_) return;
    mbedtls_platform_zeroize(data_.get() + size, size_ - size);
    size_ = size;
  }

  void Release() {
    if (data_) mbedtls_platform_zeroize(data_.get(), size_);
    data_.reset();
    size_ = 0;
  }

  uint8_t* data() { return data_.get(); }
  const uint8_t* data() const { return data_.get(); }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::span<uint8_t> span() { return {data_.get(), size_}; }
  std::span<const uint8_t> span() const { return {data_.get(), size_}; }

 private:
  struct Free {
    void operator()(uint8_t* block) const { std::free(block); }
  };
  std::unique_ptr<uint8_t[], Free> data_;
  size_t size_ = 0;
};

// An allocator that wipes every block before it goes back to the heap, so a
// growing vector leaves no stale copy of what it held.
template <class T>
struct WipingAllocator {
  using value_type = T;

  WipingAllocator() = default;
  template <class U>
  WipingAllocator(const WipingAllocator<U>&) noexcept {}

  T* allocate(size_t count) { return std::allocator<T>().allocate(count); }
  void deallocate(T* block, size_t count) noexcept {
    mbedtls_platform_zeroize(block, count * sizeof(T));
    std::allocator<T>().deallocate(block, count);
  }

  template <class U>
  bool operator==(const WipingAllocator<U>&) const noexcept {
    return true;
  }
};

// A growable byte string for tools that build packages and certificates.
using WipedBytes = std::vector<uint8_t, WipingAllocator<uint8_t>>;

}  // namespace qalv
