#include "encoding/data_base64.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "encoding/base64_transcoder.h"

namespace marigold {
namespace {

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

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

TEST(DataBase64Test, Rfc4648Vectors) {
  for (const Vector& v : kRfc4648) {
    EXPECT_EQ(NewBase64Encode(asBytes(v.bytes), false), v.base64);
    EXPECT_EQ(NewBase64Encode(asBytes(v.bytes), true), v.base64);
    EXPECT_EQ(Base64::base64EncodedString(asBytes(v.bytes)), v.base64);
    EXPECT_EQ(text(NewBase64Decode(v.base64)), v.bytes);
    EXPECT_EQ(text(Base64::dataFromBase64String(v.base64)), v.bytes);
  }
}

TEST(DataBase64Test, SeparatesLinesOf64Characters) {
  // Bytes 0..59, encoded with coreutils `base64 -w 0`.
  constexpr std::string_view kFlat =
      "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4OTo7";
  Bytes sixty(60);
  for (int b = 0; b < 60; ++b) sixty[b] = static_cast<std::uint8_t>(b);
  EXPECT_EQ(NewBase64Encode(sixty, false), kFlat);
  EXPECT_EQ(Base64::base64EncodedString(sixty),
            std::string(kFlat.substr(0, 64)) + "\r\n" + std::string(kFlat.substr(64)));

  struct Case {
    std::size_t n;
    std::string want;  // "L" stands for a full 64-character line
  };
  const Case kCases[] = {
      {0, ""}, {20, "28"}, {48, "L"}, {49, "L\r\n4=="}, {96, "L\r\nL"}, {97, "L\r\nL\r\n4=="},
  };
  for (const Case& c : kCases) {
    const std::string out = Base64::base64EncodedString(Bytes(c.n, 0xFF));
    std::string shape;
    std::size_t start = 0;
    while (start < out.size()) {
      std::size_t end = out.find("\r\n", start);
      const std::string line = out.substr(start, end == std::string::npos ? end : end - start);
      if (line.size() == 64) {
        shape += "L";
      } else {
        shape += std::to_string(line.size());
        if (line.ends_with("==")) shape += "==";
      }
      if (end == std::string::npos) break;
      shape += "\r\n";
      start = end + 2;
    }
    EXPECT_EQ(shape, c.want) << c.n;
  }
}

TEST(DataBase64Test, DecoderSkipsEverythingOutsideTheAlphabet) {
  struct Case {
    std::string in, want;
  };
  const Case kCases[] = {
      {"Zm9v\r\nYmFy\r\nZm9v\r\nYmFy\r\n", "foobarfoobar"},
      {" \r\n\t", ""},
      {"====", ""},
      {"Zg==Zg==", "f\x06`"},  // "=" does not end decoding: ZgZg is one group
      {"Zm9v\xC3\xA9YmFy", "foobar"},
      {"Zm9vY", "foo"},  // a trailing single value is dropped
      {std::string("Zm\09v", 5), "foo"},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(text(NewBase64Decode(c.in)), c.want) << testing::PrintToString(c.in);
  }
}

TEST(DataBase64Test, NonAsciiTextGivesEmptyData) {
  EXPECT_TRUE(Base64::dataFromBase64String("Zm9v\xC3\xA9").empty());
  EXPECT_TRUE(Base64::dataFromBase64String("\x80").empty());
  EXPECT_EQ(text(Base64::dataFromBase64String("Zm9v")), "foo");
}

TEST(DataBase64Test, RoundTripsAndAgreesWithTheBufferCodec) {
  std::mt19937 random(5);
  for (std::size_t n : {1u, 2u, 3u, 47u, 48u, 49u, 54u, 100u, 1000u, 4097u}) {
    Bytes bytes(n);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
    const std::string lines = Base64::base64EncodedString(bytes);
    EXPECT_EQ(Base64::dataFromBase64String(lines), bytes) << n;
    // The buffer codec reads the other codec's lines, and the other way round.
    std::vector<std::uint8_t> decoded(EstimateBas64DecodedDataSize(lines.size()));
    const auto written = Base64DecodeData(lines, decoded);
    ASSERT_TRUE(written.has_value());
    decoded.resize(*written);
    EXPECT_EQ(decoded, bytes) << n;
    std::string buffered(EstimateBas64EncodedDataSize(n), '\0');
    ASSERT_TRUE(Base64EncodeData(bytes, buffered).has_value());
    EXPECT_EQ(NewBase64Decode(buffered), bytes) << n;
  }
}

}  // namespace
}  // namespace marigold
