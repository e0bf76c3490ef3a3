#include "encoding/data_url_encode.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "encoding/percent_escapes.h"

namespace marigold::NSData_URLEncode {
namespace {

// Each byte's encoding packed as up to Width characters plus its length, so the encoders write
// Width bytes unconditionally and advance by the length: no branch per byte on random data.
template <std::size_t Width>
struct Encoded {
  char chars[Width];
  std::uint8_t length;
};
template <std::size_t Width>
using EncodeTable = std::array<Encoded<Width>, 256>;

constexpr bool isFormSafe(int b) {
  return (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '-' ||
         b == '.' || b == '_';
}

constexpr const char* kHex = percent_internal::kHexDigits;

constexpr EncodeTable<4> makeFormTable() {
  EncodeTable<4> table{};
  for (int b = 0; b < 256; ++b) {
    if (isFormSafe(b)) {
      table[b] = {{static_cast<char>(b), 0, 0, 0}, 1};
    } else if (b == ' ') {
      table[b] = {{'+', 0, 0, 0}, 1};
    } else {
      table[b] = {{'%', kHex[b >> 4], kHex[b & 0xF], 0}, 3};
    }
  }
  return table;
}

// The escaped escape "%25XX". `keepTilde` leaves "~" as it is.
constexpr EncodeTable<8> makeDoubleTable(bool keepTilde) {
  EncodeTable<8> table{};
  for (int b = 0; b < 256; ++b) {
    if (isFormSafe(b) || (keepTilde && b == '~')) {
      table[b] = {{static_cast<char>(b)}, 1};
    } else {
      table[b] = {{'%', '2', '5', kHex[b >> 4], kHex[b & 0xF]}, 5};
    }
  }
  return table;
}

constexpr EncodeTable<4> kForm = makeFormTable();
constexpr EncodeTable<8> kDouble = makeDoubleTable(false);
constexpr EncodeTable<8> kDoubleKeepTilde = makeDoubleTable(true);

// Writes the encoding of `bytes` at `out`, which has room for maxPerByte characters per byte and
// Width more (the slack of the unconditional stores); returns the characters written.
template <std::size_t Width>
std::size_t encodeInto(ByteView bytes, const EncodeTable<Width>& table, char* out) {
  char* p = out;
  for (std::uint8_t b : bytes) {
    const Encoded<Width>& e = table[b];
    std::memcpy(p, e.chars, Width);
    p += e.length;
  }
  return static_cast<std::size_t>(p - out);
}

template <std::size_t Width>
std::string encodeWith(ByteView bytes, const EncodeTable<Width>& table, std::size_t maxPerByte) {
  std::string out(bytes.size() * maxPerByte + Width, '\0');
  out.resize(encodeInto(bytes, table, out.data()));
  return out;
}

}  // namespace

std::string stringWithoutURLEncoding(ByteView bytes) { return encodeWith(bytes, kForm, 3); }

void appendWithoutURLEncoding(ByteView bytes, Bytes& out) {
  // Block by block, so that growing the vector (which zero-fills) touches at most one block's
  // worst case beyond what is written.
  constexpr std::size_t kBlock = 16 * 1024;
  for (std::size_t start = 0; start < bytes.size(); start += kBlock) {
    const ByteView block = bytes.subspan(start, std::min(kBlock, bytes.size() - start));
    const std::size_t at = out.size();
    out.resize(at + block.size() * 3 + 4);  // the form table's slack
    out.resize(at + encodeInto(block, kForm, reinterpret_cast<char*>(out.data() + at)));
  }
}

std::string encodeForURL(ByteView bytes) { return encodeWith(bytes, kDouble, 5); }

std::string encodeForOauthBaseString(ByteView bytes) {
  return encodeWith(bytes, kDoubleKeepTilde, 5);
}

void encodeForOauthBaseStringInPieces(ByteView bytes,
                                      const std::function<void(std::string_view)>& sink) {
  constexpr std::size_t kBlock = 16 * 1024;
  std::string buffer(std::min(kBlock, bytes.size()) * 5 + 8, '\0');
  for (std::size_t start = 0; start < bytes.size(); start += kBlock) {
    const ByteView block = bytes.subspan(start, std::min(kBlock, bytes.size() - start));
    sink(std::string_view(buffer.data(), encodeInto(block, kDoubleKeepTilde, buffer.data())));
  }
}

}  // namespace marigold::NSData_URLEncode
