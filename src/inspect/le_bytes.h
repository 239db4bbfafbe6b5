// Little-endian field writing for the file formats kestrix-inspect writes.
#ifndef KESTRIX_INSPECT_LE_BYTES_H_
#define KESTRIX_INSPECT_LE_BYTES_H_

#include <cstdint>
#include <cstring>
#include <vector>

namespace inspect {

// A growing byte buffer with little-endian appends.
class LeBytes {
 public:
  void U8(std::uint8_t v) { bytes_.push_back(v); }
  void U16(std::uint16_t v) {
    U8(static_cast<std::uint8_t>(v));
    U8(static_cast<std::uint8_t>(v >> 8));
  }
  void U32(std::uint32_t v) {
    U16(static_cast<std::uint16_t>(v));
    U16(static_cast<std::uint16_t>(v >> 16));
  }
  void Id(const char (&fourcc)[5]) {
    for (int i = 0; i < 4; ++i) U8(static_cast<std::uint8_t>(fourcc[i]));
  }
  void Zeros(std::size_t n) { bytes_.resize(bytes_.size() + n, 0); }
  // Stores v at byte `at`, already written.
  void PatchU32(std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
  std::size_t size() const { return bytes_.size(); }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  void clear() { bytes_.clear(); }

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace inspect

#endif  // KESTRIX_INSPECT_LE_BYTES_H_
