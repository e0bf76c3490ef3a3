#include "encoding/base64_transcoder.h"

#include <algorithm>
#include <array>

#include "encoding/base64_groups.h"

namespace marigold {
namespace {

using base64_internal::decodeGroups;
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

std::int8_t decodeValue(std::uint8_t code) {
  return code < 128 ? kBase64DecodeTable[code] : kOther;
}

char* lineBreak(char* out) {
  out[0] = '\r';
  out[1] = '\n';
  return out + 2;
}

constexpr std::size_t encodedSize(std::size_t inputSize) {
  const std::size_t chars = (inputSize + 2) / 3 * 4;
  return chars / kLineChars * (kLineChars + 2) + chars % kLineChars;
}

constexpr std::size_t decodedSize(std::size_t inputSize) { return (inputSize + 3) / 4 * 3; }

}  // namespace

std::size_t EstimateBas64EncodedDataSize(std::size_t inputSize) { return encodedSize(inputSize); }

std::size_t EstimateBas64DecodedDataSize(std::size_t inputSize) { return decodedSize(inputSize); }

base64_internal::Written base64_internal::encodeData(ByteView input, std::span<char> output) {
  const std::size_t size = encodedSize(input.size());
  if (output.size() < size) return {0, false};

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
  return {size, true};
}

base64_internal::Written base64_internal::decodeData(std::string_view input,
                                                     std::span<std::uint8_t> output) {
  constexpr auto kFiller = static_cast<std::uint8_t>('.');
  if (output.size() < decodedSize(input.size())) {
    std::fill(output.begin(), output.end(), kFiller);
    return {0, false};
  }

  const auto* in = reinterpret_cast<const std::uint8_t*>(input.data());
  const auto* end = in + input.size();
  std::uint8_t* out = output.data();
  bool ended = false;  // an "=" was read
  while (in != end && !ended) {
    // Whole groups of four alphabet characters, the common case, in one go.
    decodeGroups(in, end, out);
    // A group broken by other characters: gather its values one by one, skipping white space
    // and everything outside the alphabet, up to an "=" or the end of the input.
    std::uint32_t bits = 0;
    int k = 0;
    while (k < 4 && in != end) {
      const std::int8_t value = decodeValue(*in++);
      if (value == kEnd) {
        ended = true;
        break;
      }
      if (value >= 0 || value == kNul) {
        bits = bits << 6 | static_cast<std::uint32_t>(value >= 0 ? value : 0);
        ++k;
      }
    }
    // k values give k - 1 bytes: a lone final character gives nothing.
    if (k >= 2) {
      bits <<= 6 * (4 - k);
      for (int byte = 0; byte < k - 1; ++byte)
        *out++ = static_cast<std::uint8_t>(bits >> (16 - 8 * byte));
    }
  }
  // The caller sees the buffer filled with "." behind the decoded bytes, as if it had been
  // filled first; filling only the rest saves writing the decoded part twice.
  std::fill(out, output.data() + output.size(), kFiller);
  return {static_cast<std::size_t>(out - output.data()), true};
}

}  // namespace marigold
