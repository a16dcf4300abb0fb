// The bytes of a byte-array automation value (a record-set packet). They are kept in a
// std::string, the type the transport's messages hold bytes in, so that a packet moves
// into a reply and out of it without being copied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace qadj::com {

class ByteArray {
 public:
  ByteArray() = default;
  // Copies.
  ByteArray(const std::vector<std::uint8_t>& bytes)  // NOLINT: a vector is a byte array
      : bytes_(reinterpret_cast<const char*>(bytes.data()), bytes.size()) {}
  ByteArray(std::initializer_list<std::uint8_t> bytes)
      : bytes_(reinterpret_cast<const char*>(bytes.begin()), bytes.size()) {}
  // Takes the bytes over without copying them.
  explicit ByteArray(std::string&& bytes) noexcept : bytes_(std::move(bytes)) {}

  const std::uint8_t* data() const { return reinterpret_cast<const std::uint8_t*>(bytes_.data()); }
  std::uint8_t* data() { return reinterpret_cast<std::uint8_t*>(bytes_.data()); }
  std::size_t size() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }
  const std::uint8_t* begin() const { return data(); }
  const std::uint8_t* end() const { return data() + size(); }
  // i < size().
  std::uint8_t operator[](std::size_t i) const { return data()[i]; }
  operator std::span<const std::uint8_t>() const { return {data(), size()}; }  // NOLINT

  // The bytes as the transport holds them.
  const std::string& str() const& { return bytes_; }
  // Hands the bytes over without copying them; the array is empty afterwards.
  std::string release() && {
    std::string out = std::move(bytes_);
    bytes_.clear();
    return out;
  }

  friend bool operator==(const ByteArray& a, const ByteArray& b) { return a.bytes_ == b.bytes_; }
  friend bool operator==(const ByteArray& a, const std::vector<std::uint8_t>& b) {
    return a.size() == b.size() && (b.empty() || std::memcmp(a.data(), b.data(), b.size()) == 0);
  }

 private:
  std::string bytes_;
};

}  // namespace qadj::com
