// Internal to the two Base64 codecs: the alphabet, the encoding of whole 3-byte groups and of the
// 1- or 2-byte tail, and the decoding of whole 4-character groups, shared by both codecs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace marigold::base64_internal {

inline constexpr char kBase64EncodeTable[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The two characters of every 12-bit value, so a group takes two lookups instead of four.
static constexpr auto kBase64Pairs = [] {
  std::array<std::array<char, 2>, 4096> pairs{};
  for (int v = 0; v < 4096; ++v)
    pairs[v] = {kBase64EncodeTable[v >> 6], kBase64EncodeTable[v & 63]};
  return pairs;
}();

// Writes 4 characters for each of `groups` 3-byte groups; returns the end of the output.
inline char* encodeGroups(const std::uint8_t* in, std::size_t groups, char* out) {
  for (std::size_t g = 0; g < groups; ++g, in += 3, out += 4) {
    const std::uint32_t v = std::uint32_t{in[0]} << 16 | std::uint32_t{in[1]} << 8 | in[2];
    std::memcpy(out, kBase64Pairs[v >> 12].data(), 2);
    std::memcpy(out + 2, kBase64Pairs[v & 0xFFF].data(), 2);
  }
  return out;
}

// Writes the padded final group for 1 or 2 remaining bytes (4 characters); returns the end.
inline char* encodeTail(const std::uint8_t* in, std::size_t remaining, char* out) {
  const std::uint32_t v = std::uint32_t{in[0]} << 16 | (remaining == 2 ? in[1] << 8 : 0);
  out[0] = kBase64EncodeTable[v >> 18];
  out[1] = kBase64EncodeTable[(v >> 12) & 63];
  out[2] = remaining == 2 ? kBase64EncodeTable[(v >> 6) & 63] : '=';
  out[3] = '=';
  return out + 4;
}

// Whole groups of four alphabet characters decode the same way in both codecs. Each table holds a
// character's value already shifted into its place in the group's 24 bits; anything outside the
// alphabet sets bit 24, so one test of the combined value finds it.
inline constexpr std::uint32_t kNotInGroup = 1u << 24;

template <int Shift>
static constexpr auto kGroupDecode = [] {
  std::array<std::uint32_t, 256> table{};
  table.fill(kNotInGroup);
  for (std::uint32_t v = 0; v < 64; ++v) {
    table[static_cast<unsigned char>(kBase64EncodeTable[v])] = v << Shift;
  }
  return table;
}();

// Decodes groups of four alphabet characters from `in` until fewer than four characters remain
// or a group holds anything else; advances `in` and `out` past what it decoded. Writes 3 bytes
// per group consumed.
inline std::uint32_t decodeGroup(const std::uint8_t* in) {
  return kGroupDecode<18>[in[0]] | kGroupDecode<12>[in[1]] | kGroupDecode<6>[in[2]] |
         kGroupDecode<0>[in[3]];
}

inline void storeGroup(std::uint32_t v, std::uint8_t* out) {
  out[0] = static_cast<std::uint8_t>(v >> 16);
  out[1] = static_cast<std::uint8_t>(v >> 8);
  out[2] = static_cast<std::uint8_t>(v);
}

inline void decodeGroups(const std::uint8_t*& in, const std::uint8_t* end, std::uint8_t*& out) {
  while (end - in >= 4) {
    const std::uint32_t v = decodeGroup(in);
    if (v & kNotInGroup) return;
    storeGroup(v, out);
    in += 4;
    out += 3;
  }
}

}  // namespace marigold::base64_internal
