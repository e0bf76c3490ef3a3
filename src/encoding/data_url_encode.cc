#include "encoding/data_url_encode.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "encoding/percent_escapes.h"

namespace marigold::NSData_URLEncode {
namespace {

// Each byte's encoding packed as up to four characters plus its length, so the encoders write four
// bytes unconditionally and advance by the length: no branch per byte on random data.
struct Encoded {
  char chars[4];
  std::uint8_t length;
};
using EncodeTable = std::array<Encoded, 256>;

constexpr bool isFormSafe(int b) {
  return (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '-' ||
         b == '.' || b == '_';
}

constexpr const char* kHex = percent_internal::kHexDigits;

constexpr EncodeTable makeFormTable() {
  EncodeTable table{};
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

// The escaped escape "%25XX"; five characters do not fit the packed form, so the "%25" prefix is
// written separately. `keepTilde` leaves "~" as it is.
constexpr EncodeTable makeDoubleTable(bool keepTilde) {
  EncodeTable table{};
  for (int b = 0; b < 256; ++b) {
    if (isFormSafe(b) || (keepTilde && b == '~')) {
      table[b] = {{static_cast<char>(b), 0, 0, 0}, 1};
    } else {
      table[b] = {{'%', '2', '5', kHex[b >> 4]}, 5};
    }
  }
  return table;
}

constexpr EncodeTable kForm = makeFormTable();
constexpr EncodeTable kDouble = makeDoubleTable(false);
constexpr EncodeTable kDoubleKeepTilde = makeDoubleTable(true);

std::string encodeWith(ByteView bytes, const EncodeTable& table, std::size_t maxPerByte) {
  // Four bytes of slack for the unconditional four-byte stores.
  std::string out(bytes.size() * maxPerByte + 4, '\0');
  char* p = out.data();
  for (std::uint8_t b : bytes) {
    const Encoded& e = table[b];
    std::memcpy(p, e.chars, 4);
    if (e.length == 5) p[4] = kHex[b & 0xF];
    p += e.length;
  }
  out.resize(static_cast<std::size_t>(p - out.data()));
  return out;
}

}  // namespace

std::string stringWithoutURLEncoding(ByteView bytes) { return encodeWith(bytes, kForm, 3); }

std::string encodeForURL(ByteView bytes) { return encodeWith(bytes, kDouble, 5); }

std::string encodeForOauthBaseString(ByteView bytes) {
  return encodeWith(bytes, kDoubleKeepTilde, 5);
}

}  // namespace marigold::NSData_URLEncode
