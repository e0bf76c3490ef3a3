#include "encoding/data_url_encode.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "encoding/string_url_encode.h"

namespace marigold::NSData_URLEncode {
namespace {

struct Case {
  Bytes in;
  std::string form, url, oauth;
};

TEST(DataURLEncodeTest, KnownEncodings) {
  const Case kCases[] = {
      {{}, "", "", ""},
      {{0x61, 0x20, 0x2B, 0x7E}, "a+%2B%7E", "a%2520%252B%257E", "a%2520%252B~"},
      {{0x00, 0xFF, 0x2D, 0x2E, 0x5F}, "%00%FF-._", "%2500%25FF-._", "%2500%25FF-._"},
      {{'A', 'z', '0', '9', '*', '/'}, "Az09%2A%2F", "Az09%252A%252F", "Az09%252A%252F"},
      // Bytes above 0x7F are escaped one by one, never read as UTF-8.
      {{0xC3, 0xA9}, "%C3%A9", "%25C3%25A9", "%25C3%25A9"},
      {{0x20, 0x20}, "++", "%2520%2520", "%2520%2520"},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(stringWithoutURLEncoding(c.in), c.form) << c.form;
    EXPECT_EQ(encodeForURL(c.in), c.url) << c.form;
    EXPECT_EQ(encodeForOauthBaseString(c.in), c.oauth) << c.form;
  }
}

// The doubly encoded forms are defined as the form encoding with "+" put back to "%20", escaped
// again with the text encoder; the OAuth form then restores "~". Check the direct tables against
// that composition for every byte value and for a longer random buffer.
std::string composedEncodeForURL(ByteView bytes) {
  std::string form = stringWithoutURLEncoding(bytes);
  std::string spaced;
  for (char c : form) {
    if (c == '+') {
      spaced += "%20";
    } else {
      spaced.push_back(c);
    }
  }
  return NSString_URLEncode::encodeForURL(spaced).value();
}

std::string restoreTilde(const std::string& s) {
  // Copied out rather than replaced in place, which GCC 12 at -O3 takes for an overlapping copy.
  std::string restored;
  for (std::size_t at = 0; at < s.size();) {
    if (s.compare(at, 5, "%257E") == 0) {
      restored += '~';
      at += 5;
    } else {
      restored += s[at++];
    }
  }
  return restored;
}

TEST(DataURLEncodeTest, DirectEncodingsMatchTheirComposition) {
  std::vector<Bytes> inputs;
  for (int b = 0; b < 256; ++b) inputs.push_back({static_cast<std::uint8_t>(b)});
  std::mt19937 random(7);
  Bytes long_input(40000);  // beyond the appending encoder's blocks
  for (auto& b : long_input) b = static_cast<std::uint8_t>(random());
  inputs.push_back(long_input);

  for (const Bytes& in : inputs) {
    const std::string url = encodeForURL(in);
    EXPECT_EQ(url, composedEncodeForURL(in)) << in.size();
    EXPECT_EQ(encodeForOauthBaseString(in), restoreTilde(url)) << in.size();
    std::string pieces;
    encodeForOauthBaseStringInPieces(in, [&](std::string_view piece) { pieces += piece; });
    EXPECT_EQ(pieces, restoreTilde(url)) << in.size();
    Bytes appended = {'k', '='};
    appendWithoutURLEncoding(in, appended);
    EXPECT_EQ(std::string(appended.begin(), appended.end()), "k=" + stringWithoutURLEncoding(in))
        << in.size();
  }
}

TEST(DataURLEncodeTest, FormEncodingDecodesBackToTheBytes) {
  Bytes all(256);
  for (int b = 0; b < 256; ++b) all[b] = static_cast<std::uint8_t>(b);
  const std::string form = stringWithoutURLEncoding(all);
  EXPECT_GE(form.size(), all.size());
  EXPECT_LE(form.size(), 3 * all.size());
  // Undo by hand: bytes above 0x7F are not UTF-8 text, so a text decoder does not apply.
  Bytes back;
  for (std::size_t i = 0; i < form.size(); ++i) {
    if (form[i] == '+') {
      back.push_back(' ');
    } else if (form[i] == '%') {
      back.push_back(static_cast<std::uint8_t>(std::stoi(form.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      back.push_back(static_cast<std::uint8_t>(form[i]));
    }
  }
  EXPECT_EQ(back, all);
}

}  // namespace
}  // namespace marigold::NSData_URLEncode
