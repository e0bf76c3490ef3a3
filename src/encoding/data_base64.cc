#include "encoding/data_base64.h"

#include <algorithm>
#include <array>

#include "encoding/base64_groups.h"

namespace marigold {
namespace {

using base64_internal::decodeGroups;
using base64_internal::encodeGroups;
using base64_internal::encodeTail;
using base64_internal::kBase64EncodeTable;

constexpr std::size_t kLineChars = 64;
constexpr std::size_t kLineBytes = kLineChars / 4 * 3;  // 48
constexpr std::uint8_t kNotBase64 = 65;

constexpr std::array<std::uint8_t, 256> base64DecodeLookup = [] {
  std::array<std::uint8_t, 256> table{};
  table.fill(kNotBase64);
  for (int v = 0; v < 64; ++v) table[static_cast<unsigned char>(kBase64EncodeTable[v])] = v;
  return table;
}();

}  // namespace

std::string NewBase64Encode(ByteView input, bool separateLines) {
  const std::size_t chars = (input.size() + 2) / 3 * 4;
  const std::size_t breaks = separateLines && chars > 0 ? (chars - 1) / kLineChars : 0;
  std::string out(chars + 2 * breaks, '\0');

  const std::uint8_t* in = input.data();
  std::size_t remaining = input.size();
  char* p = out.data();
  if (separateLines) {
    // Every full line that has more input after it ends with CR LF.
    for (; remaining > kLineBytes; remaining -= kLineBytes, in += kLineBytes) {
      p = encodeGroups(in, kLineBytes / 3, p);
      *p++ = '\r';
      *p++ = '\n';
    }
  }
  p = encodeGroups(in, remaining / 3, p);
  if (remaining % 3 != 0) encodeTail(in + remaining / 3 * 3, remaining % 3, p);
  return out;
}

Bytes NewBase64Decode(std::string_view input) {
  Bytes out((input.size() + 3) / 4 * 3);
  std::uint8_t* p = out.data();
  const auto* in = reinterpret_cast<const std::uint8_t*>(input.data());
  const auto* end = in + input.size();
  while (in != end) {
    // Whole groups of four alphabet characters, the common case, in one go.
    decodeGroups(in, end, p);
    // A group interrupted by bytes outside the alphabet: gather up to four values one by one.
    std::array<unsigned, 4> v{};
    int k = 0;
    while (k < 4 && in != end) {
      const std::uint8_t value = base64DecodeLookup[*in++];
      if (value != kNotBase64) v[k++] = value;
    }
    if (k >= 2) *p++ = static_cast<std::uint8_t>(v[0] << 2 | v[1] >> 4);
    if (k >= 3) *p++ = static_cast<std::uint8_t>(v[1] << 4 | v[2] >> 2);
    if (k == 4) *p++ = static_cast<std::uint8_t>(v[2] << 6 | v[3]);
  }
  out.resize(static_cast<std::size_t>(p - out.data()));
  return out;
}

namespace Base64 {

Bytes dataFromBase64String(std::string_view text) {
  if (std::any_of(text.begin(), text.end(),
                  [](char c) { return static_cast<unsigned char>(c) > 0x7F; })) {
    return {};
  }
  return NewBase64Decode(text);
}

std::string base64EncodedString(ByteView bytes) { return NewBase64Encode(bytes, true); }

}  // namespace Base64

}  // namespace marigold
