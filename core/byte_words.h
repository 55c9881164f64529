#ifndef LEDGER_CORE_BYTE_WORDS_H_
#define LEDGER_CORE_BYTE_WORDS_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ledger {

// Scanning and copying bytes eight at a time, for the loops that run once per byte of the input.
namespace byte_words {

inline constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Fu;
inline constexpr std::uint64_t kOnes = 0x0101010101010101u;

// The eight bytes at `p` as one word, in the host's byte order.
inline std::uint64_t Load(const char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// The high bit of each byte of `word` that equals `byte`, and no other bit.
inline std::uint64_t MarkBytes(std::uint64_t word, unsigned char byte) {
  const std::uint64_t x = word ^ (kOnes * byte);
  return ~(((x & kLow7) + kLow7) | x | kLow7);
}

// The first `byte` in [p, end), or end. Emscripten's memchr reads four bytes a step, and reading
// eight is twice as quick there; elsewhere the C library's is quicker still.
inline const char* Find(const char* p, const char* end, char byte) {
#if defined(__EMSCRIPTEN__)
  for (; end - p >= 8; p += 8) {
    if (const std::uint64_t marks = MarkBytes(Load(p), static_cast<unsigned char>(byte))) {
      return p + __builtin_ctzll(marks) / 8;
    }
  }
  while (p < end && *p != byte) {
    ++p;
  }
  return p;
#else
  const void* found = std::memchr(p, byte, static_cast<std::size_t>(end - p));
  return found != nullptr ? static_cast<const char*>(found) : end;
#endif
}

// The first byte in [p, end) that is `a` or `b`, or end. Under Emscripten one pass of eight
// bytes a step; elsewhere the C library's memchr for `a`, then for `b` before it, which is
// quicker still.
inline const char* FindEither(const char* p, const char* end, char a, char b) {
#if defined(__EMSCRIPTEN__)
  for (; end - p >= 8; p += 8) {
    const std::uint64_t word = Load(p);
    if (const std::uint64_t marks = MarkBytes(word, static_cast<unsigned char>(a)) |
                                    MarkBytes(word, static_cast<unsigned char>(b))) {
      return p + __builtin_ctzll(marks) / 8;
    }
  }
  while (p < end && *p != a && *p != b) {
    ++p;
  }
  return p;
#else
  const char* first = Find(p, end, a);
  return Find(p, first, b);
#endif
}

// Copies `n` bytes with a few overlapping word moves, never touching dst[n] or beyond.
inline void CopyShort(char* dst, const char* src, std::size_t n) {
  if (n >= 8) {
    for (std::size_t k = 0; k + 8 < n; k += 8) {
      std::memcpy(dst + k, src + k, 8);
    }
    std::memcpy(dst + n - 8, src + n - 8, 8);
  } else if (n >= 4) {
    std::memcpy(dst, src, 4);
    std::memcpy(dst + n - 4, src + n - 4, 4);
  } else if (n > 0) {
    dst[0] = src[0];
    dst[n / 2] = src[n / 2];
    dst[n - 1] = src[n - 1];
  }
}

}  // namespace byte_words
}  // namespace ledger

#endif  // LEDGER_CORE_BYTE_WORDS_H_
