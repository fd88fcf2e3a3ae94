#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// What every fuzz target shares: its input bytes read as the arguments of a call, and the one
// way a property fails.
namespace zum_fuzz {

// Reads fixed-width little-endian values off the input; past its end every value is 0, so any
// input, however short, makes a call.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  template <typename Value>
  Value take() {
    unsigned char bytes[sizeof(Value)] = {};
    for (std::size_t i = 0; i < sizeof(Value) && offset_ < size_; ++i) bytes[i] = data_[offset_++];
    Value value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
  }

  // A value from 0 to `count` − 1.
  std::size_t pick(std::size_t count) { return take<std::uint8_t>() % count; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t offset_ = 0;
};

// A property that does not hold ends the run, as a crash the fuzzer records.
inline void require(bool holds, const char* property) {
  if (holds) return;
  std::fprintf(stderr, "property failed: %s\n", property);
  std::abort();
}

}  // namespace zum_fuzz
