#include "encoding/base64_transcoder.h"

#include <algorithm>
#include <array>

#include "encoding/base64_groups.h"

namespace marigold {
namespace {

using base64_internal::encodeGroups;
using base64_internal::encodeTail;
using base64_internal::kBase64EncodeTable;

constexpr std::size_t kLineChars = 72;
constexpr std::size_t kLineBytes = kLineChars / 4 * 3;  // 54

constexpr std::int8_t kEnd = -1;  // "="
constexpr std::int8_t kWhiteSpace = -2;
constexpr std::int8_t kOther = -3;
constexpr std::int8_t kNul = -5;

// Indexed by the character code 0-127; codes 0x80-0xFF are treated as kOther by the decoder.
constexpr std::array<std::int8_t, 128> kBase64DecodeTable = [] {
  std::array<std::int8_t, 128> table{};
  table.fill(kOther);
  for (int v = 0; v < 64; ++v) table[static_cast<unsigned char>(kBase64EncodeTable[v])] = v;
  table['='] = kEnd;
  for (int c : {'\t', '\n', '\v', '\f', '\r', ' '}) table[c] = kWhiteSpace;
  table[0] = kNul;
  return table;
}();

constexpr std::uint8_t kBits_00000011 = 0x03;
constexpr std::uint8_t kBits_00001111 = 0x0F;
constexpr std::uint8_t kBits_00111111 = 0x3F;
constexpr std::uint8_t kBits_11000000 = 0xC0;
constexpr std::uint8_t kBits_11110000 = 0xF0;
constexpr std::uint8_t kBits_11111100 = 0xFC;

std::int8_t decodeValue(char c) {
  const auto code = static_cast<std::uint8_t>(c);
  return code < 128 ? kBase64DecodeTable[code] : kOther;
}

char* lineBreak(char* out) {
  out[0] = '\r';
  out[1] = '\n';
  return out + 2;
}

}  // namespace

std::size_t EstimateBas64EncodedDataSize(std::size_t inputSize) {
  const std::size_t chars = (inputSize + 2) / 3 * 4;
  return chars / kLineChars * (kLineChars + 2) + chars % kLineChars;
}

std::size_t EstimateBas64DecodedDataSize(std::size_t inputSize) { return (inputSize + 3) / 4 * 3; }

std::optional<std::size_t> Base64EncodeData(ByteView input, std::span<char> output) {
  const std::size_t size = EstimateBas64EncodedDataSize(input.size());
  if (output.size() < size) return std::nullopt;

  const std::uint8_t* in = input.data();
  std::size_t remaining = input.size();
  char* out = output.data();
  for (; remaining >= kLineBytes; remaining -= kLineBytes, in += kLineBytes) {
    out = lineBreak(encodeGroups(in, kLineBytes / 3, out));
  }
  // The last, shorter line: whole groups, the padded tail, and a break if that fills the line.
  const char* lineStart = out;
  out = encodeGroups(in, remaining / 3, out);
  in += remaining / 3 * 3;
  if (remaining % 3 != 0) out = encodeTail(in, remaining % 3, out);
  if (static_cast<std::size_t>(out - lineStart) == kLineChars) out = lineBreak(out);
  return size;
}

std::optional<std::size_t> Base64DecodeData(std::string_view input,
                                            std::span<std::uint8_t> output) {
  std::fill(output.begin(), output.end(), static_cast<std::uint8_t>('.'));
  if (output.size() < EstimateBas64DecodedDataSize(input.size())) return std::nullopt;

  std::uint8_t* out = output.data();
  std::size_t i = 0;
  int step = 0;
  std::uint8_t accumulator = 0;
  while (i < input.size()) {
    // Whole groups of four alphabet characters, the common case, in one go.
    if (step == 0) {
      while (input.size() - i >= 4) {
        const int a = decodeValue(input[i]), b = decodeValue(input[i + 1]),
                  c = decodeValue(input[i + 2]), d = decodeValue(input[i + 3]);
        if ((a | b | c | d) < 0) break;
        out[0] = static_cast<std::uint8_t>(a << 2 | b >> 4);
        out[1] = static_cast<std::uint8_t>(b << 4 | c >> 2);
        out[2] = static_cast<std::uint8_t>(c << 6 | d);
        out += 3;
        i += 4;
      }
      if (i == input.size()) break;
    }
    int value = decodeValue(input[i]);
    if (value == kEnd) break;
    if (value == kWhiteSpace || value == kOther) {
      ++i;
      continue;
    }
    if (value == kNul) value = 0;
    // The second and third characters of a group each finish one byte and start the next, so
    // the position stays put when the step moves on to 2 or 4.
    switch (step) {
      case 0:
        accumulator = (value << 2) & kBits_11111100;
        break;
      case 1:
        *out++ = accumulator | ((value >> 4) & kBits_00000011);
        break;
      case 2:
        accumulator = (value << 4) & kBits_11110000;
        break;
      case 3:
        *out++ = accumulator | ((value >> 2) & kBits_00001111);
        break;
      case 4:
        accumulator = (value << 6) & kBits_11000000;
        break;
      case 5:
        *out++ = accumulator | (value & kBits_00111111);
        break;
    }
    step = (step + 1) % 6;
    if (step != 2 && step != 4) ++i;
  }
  return static_cast<std::size_t>(out - output.data());
}

}  // namespace marigold
