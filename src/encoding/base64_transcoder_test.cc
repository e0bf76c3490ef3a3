#include "encoding/base64_transcoder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace marigold {
namespace {

std::string encode(std::string_view in) {
  std::string out(EstimateBas64EncodedDataSize(in.size()), '\0');
  const std::optional<std::size_t> written = Base64EncodeData(asBytes(in), out);
  EXPECT_EQ(written, out.size());
  return out;
}

std::optional<std::string> decode(std::string_view in) {
  std::vector<std::uint8_t> out(EstimateBas64DecodedDataSize(in.size()));
  const std::optional<std::size_t> written = Base64DecodeData(in, out);
  if (!written) return std::nullopt;
  return std::string(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(*written));
}

struct Vector {
  std::string_view bytes, base64;
};
// RFC 4648, section 10.
constexpr Vector kRfc4648[] = {{"", ""},
                               {"f", "Zg=="},
                               {"fo", "Zm8="},
                               {"foo", "Zm9v"},
                               {"foob", "Zm9vYg=="},
                               {"fooba", "Zm9vYmE="},
                               {"foobar", "Zm9vYmFy"}};

TEST(Base64TranscoderTest, Rfc4648Vectors) {
  for (const Vector& v : kRfc4648) {
    EXPECT_EQ(encode(v.bytes), v.base64) << v.bytes;
    EXPECT_EQ(decode(v.base64), v.bytes) << v.base64;
  }
}

TEST(Base64TranscoderTest, Estimates) {
  struct Case {
    std::size_t n, encoded, decoded;
  };
  constexpr Case kCases[] = {
      {0, 0, 0},    {1, 4, 3},      {4, 8, 3},
      {5, 8, 6},    {20, 28, 15},   {54, 74, 42},
      {55, 78, 42}, {108, 148, 81}, {1 << 20, 1398101 / 72 * 74 + 1398101 % 72 + 3, 786432}};
  for (const Case& c : kCases) {
    EXPECT_EQ(EstimateBas64EncodedDataSize(c.n), c.encoded) << c.n;
    EXPECT_EQ(EstimateBas64DecodedDataSize(c.n), c.decoded) << c.n;
  }
}

TEST(Base64TranscoderTest, BreaksLinesAfterEvery72Characters) {
  // Bytes 0..59, encoded with coreutils `base64 -w 0`.
  constexpr std::string_view kFlat =
      "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4OTo7";
  std::string sixty;
  for (int b = 0; b < 60; ++b) sixty.push_back(static_cast<char>(b));
  EXPECT_EQ(encode(sixty),
            std::string(kFlat.substr(0, 72)) + "\r\n" + std::string(kFlat.substr(72)));

  struct Case {
    std::size_t n;
    std::size_t size;
    std::vector<std::size_t> breaks;  // positions of CR
  };
  const Case kCases[] = {{20, 28, {}},         {53, 74, {72}},        {54, 74, {72}},
                         {55, 78, {72}},       {107, 148, {72, 146}}, {108, 148, {72, 146}},
                         {109, 152, {72, 146}}};
  for (const Case& c : kCases) {
    const std::string out = encode(std::string(c.n, 'x'));
    EXPECT_EQ(out.size(), c.size) << c.n;
    std::vector<std::size_t> breaks;
    for (std::size_t at = out.find('\r'); at != std::string::npos; at = out.find('\r', at + 1)) {
      EXPECT_EQ(out.substr(at, 2), "\r\n");
      breaks.push_back(at);
    }
    EXPECT_EQ(breaks, c.breaks) << c.n;
  }
}

TEST(Base64TranscoderTest, EncoderRefusesTooSmallBufferAndWritesNothing) {
  std::string out(27, '#');
  EXPECT_EQ(Base64EncodeData(asBytes(std::string(20, 'a')), out), std::nullopt);
  EXPECT_EQ(out, std::string(27, '#'));

  std::string roomy(32, '#');
  EXPECT_EQ(Base64EncodeData(asBytes(std::string(20, 'a')), roomy), 28u);
  EXPECT_EQ(roomy.substr(28), "####");
}

TEST(Base64TranscoderTest, DecoderFillsBufferAndRefusesTooSmallOne) {
  std::vector<std::uint8_t> small(5, 0);
  EXPECT_EQ(Base64DecodeData("Zm9vYmFy", small), std::nullopt);  // needs 6
  EXPECT_EQ(small, std::vector<std::uint8_t>(5, '.'));

  std::vector<std::uint8_t> big(10, 0);
  EXPECT_EQ(Base64DecodeData("Zm9v", big), 3u);
  EXPECT_EQ(std::string(big.begin(), big.end()), "foo.......");
}

TEST(Base64TranscoderTest, DecoderSkipsAndStops) {
  struct Case {
    std::string in, want;
  };
  const Case kCases[] = {
      {"Zm9v\r\nYmFy", "foobar"},
      {" Z m\t9\nv ", "foo"},
      {"Zm*9v!Y?mFy", "foobar"},       // other characters are skipped
      {"Zm9v\xC3\xA9YmFy", "foobar"},  // so are bytes above 0x7F
      {"\x80\xFF\xFE", ""},
      {"Zm8=Zm9v", "fo"},         // "=" ends decoding
      {"Zm9v \r\n=YmFy", "foo"},  // also after white space
      {"Zm9vY", "foo"},           // a single final character yields nothing
      {std::string("\0\0\0\0", 4), std::string(3, '\0')},  // NUL reads as "A"
      {std::string("Zg\0\0", 4), std::string("f\0\0", 3)},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(decode(c.in), c.want) << testing::PrintToString(c.in);
  }
}

TEST(Base64TranscoderTest, RandomRoundTrips) {
  std::mt19937 random(11);
  for (std::size_t n : {1u, 2u, 3u, 53u, 54u, 55u, 161u, 162u, 1000u, 4099u}) {
    std::string bytes(n, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    EXPECT_EQ(decode(encode(bytes)), bytes) << n;
  }
}

}  // namespace
}  // namespace marigold
