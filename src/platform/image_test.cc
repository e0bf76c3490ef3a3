#include "platform/image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/atomic_file.h"
#include "testing/temporary_home.h"

namespace marigold {
namespace {

// Builders for the headers of each format. Files built like these were checked with file(1), which
// reports the same formats and pixel sizes (for TIFF it reads only SHORT sizes; LONG sizes follow
// TIFF 6.0, section 2).
Bytes text(std::string_view s) { return Bytes(s.begin(), s.end()); }
Bytes be16(unsigned v) { return {Bytes::value_type(v >> 8), Bytes::value_type(v)}; }
Bytes le16(unsigned v) { return {Bytes::value_type(v), Bytes::value_type(v >> 8)}; }
Bytes be32(std::uint32_t v) {
  return {Bytes::value_type(v >> 24), Bytes::value_type(v >> 16), Bytes::value_type(v >> 8),
          Bytes::value_type(v)};
}
Bytes le32(std::uint32_t v) {
  return {Bytes::value_type(v), Bytes::value_type(v >> 8), Bytes::value_type(v >> 16),
          Bytes::value_type(v >> 24)};
}
Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}
Bytes cut(Bytes bytes, std::size_t size) {
  bytes.resize(size);
  return bytes;
}

Bytes png(std::uint32_t width, std::uint32_t height) {
  auto chunk = [](std::string_view type, const Bytes& data) {
    return cat({be32(std::uint32_t(data.size())), text(type), data, be32(0)});
  };
  return cat({text("\x89PNG\r\n\x1a\n"),
              chunk("IHDR", cat({be32(width), be32(height), {8, 2, 0, 0, 0}})), chunk("IEND", {})});
}

Bytes gif(std::string_view version, unsigned width, unsigned height) {
  return cat(
      {text(version), le16(width), le16(height), {0x80, 0, 0, 0xff, 0xff, 0xff, 0, 0, 0, ';'}});
}

// A marker segment: FF, the marker, the length (counting itself) and the payload.
Bytes segment(std::uint8_t marker, const Bytes& payload) {
  return cat({{0xff, marker}, be16(unsigned(payload.size() + 2)), payload});
}
Bytes startOfFrame(std::uint8_t marker, unsigned width, unsigned height) {
  return segment(marker, cat({{8}, be16(height), be16(width), {1, 1, 0x11, 0}}));
}
const Bytes kSOI = {0xff, 0xd8};
const Bytes kJFIF =
    segment(0xe0, cat({text(std::string_view("JFIF\0", 5)), {1, 1, 0, 0, 1, 0, 1, 0, 0}}));
// A Huffman table whose bytes would read as a size if the scan took DHT for a frame header.
const Bytes kDHT =
    segment(0xc4, {0x00, 0x77, 0x77, 0x66, 0x66, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
const Bytes kSOS = segment(0xda, {1, 1, 0, 0, 0x3f, 0});

// TIFF with one directory holding ImageWidth (256) and ImageLength (257).
Bytes tiff(bool bigEndian, std::uint16_t type, std::uint32_t width, std::uint32_t height) {
  auto u16 = bigEndian ? be16 : le16;
  auto u32 = bigEndian ? be32 : le32;
  auto value = [&](std::uint32_t v) { return type == 3 ? cat({u16(v), u16(0)}) : u32(v); };
  return cat({text(bigEndian ? std::string_view("MM\0*", 4) : std::string_view("II*\0", 4)), u32(8),
              u16(3),                                                // three entries
              u16(254), u16(4), u32(1), u32(0),                      // NewSubfileType
              u16(256), u16(type), u32(1), value(width),             //
              u16(257), u16(type), u32(1), value(height), u32(0)});  // no next directory
}

Bytes box(std::string_view type, const Bytes& contents) {
  return cat({be32(std::uint32_t(contents.size() + 8)), text(type), contents});
}
Bytes fullBox(std::string_view type, const Bytes& contents) {
  return box(type, cat({be32(0), contents}));
}
Bytes ispe(std::uint32_t width, std::uint32_t height) {
  return fullBox("ispe", cat({be32(width), be32(height)}));
}
Bytes heif(std::string_view major, std::string_view compatible, const Bytes& properties) {
  Bytes ftyp = box("ftyp", cat({text(major), be32(0), text(compatible)}));
  Bytes hdlr = fullBox("hdlr", cat({be32(0), text("pict"), be32(0), be32(0), be32(0), {0}}));
  return cat({ftyp, fullBox("meta", cat({hdlr, box("iprp", box("ipco", properties))}))});
}

struct Want {
  ImageFormat format;
  std::uint32_t width, height;
};

struct Case {
  std::string name;
  Bytes bytes;
  std::optional<Want> want;
};

std::vector<Case> cases() {
  const Bytes heicProperties = cat(
      {ispe(160, 120), box("pixi", {0, 0, 0, 0, 3, 8, 8, 8}), ispe(4032, 3024), ispe(512, 512)});
  const Bytes heicPrimary = heif("heic", "mif1heic", heicProperties);
  return {
      {"png", png(3, 2), Want{ImageFormat::kPNG, 3, 2}},
      {"png largest width", png(0x7fffffff, 1), Want{ImageFormat::kPNG, 0x7fffffff, 1}},
      {"png zero width", png(0, 2), std::nullopt},
      {"png cut inside IHDR", cut(png(3, 2), 20), std::nullopt},
      {"png without IHDR first", cat({text("\x89PNG\r\n\x1a\n"), be32(0), text("IEND")}),
       std::nullopt},
      {"gif87a", gif("GIF87a", 5, 7), Want{ImageFormat::kGIF, 5, 7}},
      {"gif89a wide", gif("GIF89a", 65535, 1), Want{ImageFormat::kGIF, 65535, 1}},
      {"gif other version", gif("GIF90a", 5, 7), std::nullopt},
      {"gif cut in height", cut(gif("GIF89a", 5, 7), 9), std::nullopt},
      {"jpeg baseline", cat({kSOI, kJFIF, kDHT, startOfFrame(0xc0, 17, 9), kSOS}),
       Want{ImageFormat::kJPEG, 17, 9}},
      {"jpeg progressive", cat({kSOI, kJFIF, startOfFrame(0xc2, 300, 200)}),
       Want{ImageFormat::kJPEG, 300, 200}},
      {"jpeg fill bytes and restart marker",
       cat({kSOI, {0xff, 0xff, 0xff}, kJFIF, {0xff, 0xd3}, startOfFrame(0xc1, 640, 480)}),
       Want{ImageFormat::kJPEG, 640, 480}},
      {"jpeg arithmetic lossless", cat({kSOI, startOfFrame(0xcf, 2, 3)}),
       Want{ImageFormat::kJPEG, 2, 3}},
      {"jpeg height from DNL", cat({kSOI, startOfFrame(0xc0, 17, 0)}), std::nullopt},
      {"jpeg scan before frame", cat({kSOI, kJFIF, kSOS, startOfFrame(0xc0, 17, 9)}), std::nullopt},
      {"jpeg end before frame", cat({kSOI, {0xff, 0xd9}, startOfFrame(0xc0, 17, 9)}), std::nullopt},
      {"jpeg length below two", cat({kSOI, {0xff, 0xe0, 0, 1}, startOfFrame(0xc0, 17, 9)}),
       std::nullopt},
      {"jpeg segment runs past the end", cat({kSOI, {0xff, 0xe1, 0xff, 0xff, 1, 2, 3}}),
       std::nullopt},
      {"jpeg cut inside frame header", cut(cat({kSOI, startOfFrame(0xc0, 17, 9)}), 8),
       std::nullopt},
      {"jpeg garbage between segments", cat({kSOI, kJFIF, {0x12}, startOfFrame(0xc0, 17, 9)}),
       std::nullopt},
      {"tiff little-endian short", tiff(false, 3, 4, 6), Want{ImageFormat::kTIFF, 4, 6}},
      {"tiff big-endian short", tiff(true, 3, 6, 4), Want{ImageFormat::kTIFF, 6, 4}},
      {"tiff big-endian long", tiff(true, 4, 70000, 3), Want{ImageFormat::kTIFF, 70000, 3}},
      {"tiff little-endian long", tiff(false, 4, 1, 70000), Want{ImageFormat::kTIFF, 1, 70000}},
      {"tiff width of unusable type", tiff(false, 2, 4, 6), std::nullopt},
      {"tiff cut inside directory", cut(tiff(false, 3, 4, 6), 30), std::nullopt},
      {"tiff directory beyond the end", cat({text(std::string_view("II*\0", 4)), le32(0xfffffff0)}),
       std::nullopt},
      {"tiff entry count past the end",
       cat({text(std::string_view("MM\0*", 4)), be32(8), be16(0xffff), be16(256)}), std::nullopt},
      {"heic primary is the largest", heicPrimary, Want{ImageFormat::kHEIC, 4032, 3024}},
      {"heif mif1 major", heif("mif1", "heic", ispe(64, 48)), Want{ImageFormat::kHEIC, 64, 48}},
      {"heif brand only compatible", heif("abcd", "isomheix", ispe(8, 6)),
       Want{ImageFormat::kHEIC, 8, 6}},
      {"mp4 is no image", heif("isom", "mp41", ispe(64, 48)), std::nullopt},
      {"heic without ispe", heif("heic", "", box("pixi", {0})), std::nullopt},
      {"heic ispe cut short", heif("heic", "", fullBox("ispe", be32(64))), std::nullopt},
      {"heic cut inside meta", cut(heicPrimary, heicPrimary.size() - 40), std::nullopt},
      {"heic 64-bit box size",
       cat({box("ftyp", cat({text("heic"), be32(0)})),
            be32(1),
            text("meta"),
            {0, 0, 0, 0, 0, 0, 0, 56},
            be32(0),
            box("iprp", box("ipco", ispe(10, 20)))}),
       Want{ImageFormat::kHEIC, 10, 20}},
      {"heic 64-bit size far past the end",
       cat({box("ftyp", cat({text("heic"), be32(0)})),
            be32(1),
            text("meta"),
            {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xf0},
            be32(0),
            box("iprp", box("ipco", ispe(10, 20)))}),
       std::nullopt},
      {"heic box running to the end",
       cat({box("ftyp", cat({text("heic"), be32(0)})), be32(0), text("meta"), be32(0),
            box("iprp", box("ipco", ispe(10, 20)))}),
       Want{ImageFormat::kHEIC, 10, 20}},
      {"empty", {}, std::nullopt},
      {"text", text("not an image at all"), std::nullopt},
      {"two bytes of jpeg", kSOI, std::nullopt},
  };
}

TEST(ImageTest, RecognisesHeadersAndSizes) {
  for (const auto& c : cases()) {
    auto image = Image::fromData(c.bytes);
    ASSERT_EQ(image.has_value(), c.want.has_value()) << c.name;
    if (!image) continue;
    EXPECT_EQ(image->format, c.want->format) << c.name;
    EXPECT_EQ(image->width, c.want->width) << c.name;
    EXPECT_EQ(image->height, c.want->height) << c.name;
    ASSERT_NE(image->data, nullptr) << c.name;
    EXPECT_EQ(*image->data, c.bytes) << c.name;
  }
}

// Every prefix of every case: run under the sanitizers, this shows that no read leaves the bytes.
TEST(ImageTest, PrefixesGiveNoImageOrAProperOne) {
  for (const auto& c : cases()) {
    for (std::size_t size = 0; size < c.bytes.size(); ++size) {
      // An exactly sized copy, so that a read past its end is a heap overflow.
      Bytes prefix(c.bytes.begin(), c.bytes.begin() + std::ptrdiff_t(size));
      auto image = Image::fromData(prefix);
      if (!image) continue;
      EXPECT_GT(image->width, 0u) << c.name << " cut at " << size;
      EXPECT_GT(image->height, 0u) << c.name << " cut at " << size;
    }
  }
}

// The first kSniffBytes of every recognised image announce its format; text and files too short
// for a signature announce none.
TEST(ImageTest, SniffsTheFormatFromTheFirstBytes) {
  for (const auto& c : cases()) {
    if (!c.want) continue;
    const std::size_t size = std::min(c.bytes.size(), kSniffBytes);
    EXPECT_EQ(sniffFormat(ByteView(c.bytes.data(), size)), c.want->format) << c.name;
  }
  using namespace std::string_view_literals;
  for (std::string_view other :
       {""sv, "\xFF\xD8"sv, "GIF90a"sv, "not an image at all"sv, "%PDF-1.7"sv,
        "\0\0\0\x18"
        "ftypmp42"sv}) {
    EXPECT_EQ(sniffFormat(text(other)), std::nullopt) << other;
  }
}

TEST(ImageTest, PreviewFromAFileOnDisk) {
  TemporaryHome home;
  const auto path = home.path() / "photo.jpg";
  const Bytes jpeg = cat({kSOI, kJFIF, startOfFrame(0xc0, 1024, 768), kSOS, {0xff, 0xd9}});
  ASSERT_FALSE(replaceFileAtomically(path, jpeg).has_value());
  auto bytes = readWholeFile(path);
  ASSERT_TRUE(bytes.has_value());
  auto image = Image::fromData(*bytes);
  ASSERT_TRUE(image.has_value());
  EXPECT_EQ(formatName(image->format), std::string("JPEG"));
  EXPECT_EQ(image->width, 1024u);
  EXPECT_EQ(image->height, 768u);
}

}  // namespace
}  // namespace marigold
