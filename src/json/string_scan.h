// Block scans over string bytes for the JSON parser and writer: which of the next kScanBlock bytes
// at a pointer stop a run of plain characters. Internal to the JSON library. The caller makes sure
// that kScanBlock bytes are readable from the pointer on. A mask's lowest set bit is always exact
// (the first stopping byte is at countr_zero(mask) / kScanBitsPerByte); bits above it may be set
// spuriously.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace marigold::json_scan {

static_assert(std::endian::native == std::endian::little,
              "the block scan reads bytes in memory order");

#if defined(__SSE2__)
inline constexpr std::size_t kScanBlock = 16;
inline constexpr int kScanBitsPerByte = 1;
using ScanMask = unsigned;

inline __m128i loadBlock(const char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

inline __m128i quoteOrBackslash(__m128i block) {
  return _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8('"')),
                      _mm_cmpeq_epi8(block, _mm_set1_epi8('\\')));
}

// Where the parser must look: double quote, backslash, control codes, and bytes from 0x80 (the
// UTF-8 it checks).
inline ScanMask parserStops(const char* p) {
  const __m128i block = loadBlock(p);
  // Signed comparison: bytes from 0x80 are negative, so one test finds them and the control codes.
  const __m128i low = _mm_cmplt_epi8(block, _mm_set1_epi8(0x20));
  return static_cast<ScanMask>(_mm_movemask_epi8(_mm_or_si128(low, quoteOrBackslash(block))));
}

// Where the writer must escape: double quote, backslash, control codes.
inline ScanMask writerStops(const char* p) {
  const __m128i block = loadBlock(p);
  const __m128i limit = _mm_set1_epi8(0x1F);
  const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(block, limit), limit);
  return static_cast<ScanMask>(_mm_movemask_epi8(_mm_or_si128(control, quoteOrBackslash(block))));
}
#else
inline constexpr std::size_t kScanBlock = 8;
inline constexpr int kScanBitsPerByte = 8;
using ScanMask = std::uint64_t;

inline constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
inline constexpr std::uint64_t kHighs = 0x8080808080808080ULL;

inline std::uint64_t loadWord(const char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

inline std::uint64_t hasZeroByte(std::uint64_t v) { return (v - kOnes) & ~v & kHighs; }

inline std::uint64_t quoteOrBackslashOrControl(std::uint64_t word) {
  return hasZeroByte(word ^ (kOnes * '"')) | hasZeroByte(word ^ (kOnes * '\\')) |
         ((word - kOnes * 0x20) & ~word & kHighs);
}

inline ScanMask parserStops(const char* p) {
  const std::uint64_t word = loadWord(p);
  return quoteOrBackslashOrControl(word) | (word & kHighs);
}

inline ScanMask writerStops(const char* p) { return quoteOrBackslashOrControl(loadWord(p)); }
#endif

// Offset of the first stopping byte of a non-zero mask.
inline std::size_t firstStop(ScanMask mask) {
  return static_cast<std::size_t>(std::countr_zero(mask)) / kScanBitsPerByte;
}

}  // namespace marigold::json_scan
