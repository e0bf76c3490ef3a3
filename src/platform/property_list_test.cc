#include "platform/property_list.h"

#include <gtest/gtest.h>

namespace marigold {

void PrintTo(const PropertyList& list, std::ostream* out) { *out << list.toXML(); }

namespace {

using Dict = PropertyList::Dictionary;
using Array = PropertyList::Array;
using Data = PropertyList::Data;
using Date = PropertyList::Date;

std::string wrap(std::string_view body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">" + std::string(body) +
         "</plist>\n";
}

Data bytesOf(std::string_view text) { return Data(text.begin(), text.end()); }

TEST(PropertyListTest, ReadsEachKindOfValue) {
  struct Case {
    std::string body;
    PropertyList want;
  };
  const Case cases[] = {
      {"<string>a &amp; b &lt;c&gt;</string>", PropertyList("a & b <c>")},
      {"<string>  two spaces around  </string>", PropertyList("  two spaces around  ")},
      {"<string>   </string>", PropertyList("   ")},
      {"<string/>", PropertyList("")},
      {"<string>caf\xc3\xa9</string>", PropertyList("caf\xc3\xa9")},
      {"<string><![CDATA[<raw>]]></string>", PropertyList("<raw>")},
      {"<integer>-9223372036854775808</integer>", PropertyList(std::int64_t{INT64_MIN})},
      {"<integer> 42 </integer>", PropertyList(42)},
      {"<integer>+7</integer>", PropertyList(7)},
      {"<real>2.5</real>", PropertyList(2.5)},
      {"<real>-1e-3</real>", PropertyList(-0.001)},
      {"<true/>", PropertyList(true)},
      {"<false/>", PropertyList(false)},
      // Unix times computed with `date -u -d ... +%s`.
      {"<date>1970-01-01T00:00:00Z</date>", PropertyList(Date(std::chrono::seconds(0)))},
      {"<date>2001-01-01T00:00:00Z</date>", PropertyList(Date(std::chrono::seconds(978307200)))},
      {"<date>2038-01-19T03:14:08Z</date>", PropertyList(Date(std::chrono::seconds(2147483648)))},
      // RFC 4648 section 10 vectors, with line breaks and indentation inside.
      {"<data>Zm9v\n\tYmFy</data>", PropertyList(bytesOf("foobar"))},
      {"<data>Zm9vYg==</data>", PropertyList(bytesOf("foob"))},
      {"<data>Zg==</data>", PropertyList(bytesOf("f"))},
      {"<data></data>", PropertyList(Data{})},
      {"<array><integer>1</integer> <string>x</string><array/></array>",
       PropertyList(Array{PropertyList(1), PropertyList("x"), PropertyList(Array{})})},
      {"<dict>\n\t<key>b</key><true/><!-- note --><key>a</key><dict/></dict>",
       PropertyList(Dict{{"a", PropertyList(Dict{})}, {"b", PropertyList(true)}})},
      {"<dict><key>k</key><string>1</string><key>k</key><string>2</string></dict>",
       PropertyList(Dict{{"k", PropertyList("2")}})},
  };
  for (const auto& c : cases) {
    const auto result = PropertyList::parse(wrap(c.body));
    ASSERT_TRUE(result.value) << c.body << ": " << result.error;
    EXPECT_EQ(*result.value, c.want) << c.body;
  }
}

TEST(PropertyListTest, RejectsMalformedDocumentsWithAReason) {
  struct Case {
    std::string xml;
    std::string_view reason;
  };
  const Case cases[] = {
      {"", "not well-formed XML"},
      {"<plist><dict><key>a</key>", "not well-formed XML"},
      {"<dict><key>a</key><true/></dict>", "root element is not <plist>"},
      {wrap(""), "exactly one value"},
      {wrap("<true/><false/>"), "exactly one value"},
      {wrap("<integer>12x</integer>"), "integer"},
      {wrap("<integer>99999999999999999999</integer>"), "integer"},
      {wrap("<integer></integer>"), "integer"},
      {wrap("<real>one</real>"), "real"},
      {wrap("<date>2001-02-30T00:00:00Z</date>"), "date"},
      {wrap("<date>2001-01-01 00:00:00</date>"), "date"},
      {wrap("<data>Zm9=v</data>"), "Base64"},
      {wrap("<data>Zm9</data>"), "Base64"},
      {wrap("<dict><string>v</string></dict>"), "without a key"},
      {wrap("<dict><key>k</key></dict>"), "key without a value: k"},
      {wrap("<dict><key>k</key><float>1</float></dict>"), "unknown element <float>"},
  };
  for (const auto& c : cases) {
    const auto result = PropertyList::parse(c.xml);
    EXPECT_FALSE(result.value) << c.xml;
    EXPECT_NE(result.error.find(c.reason), std::string::npos) << c.xml << " gave: " << result.error;
  }
}

TEST(PropertyListTest, NestingBeyondTheLimitIsRefusedNotOverflowed) {
  for (int depth : {PropertyList::kMaxDepth, PropertyList::kMaxDepth + 1, 100000}) {
    std::string body;
    for (int i = 0; i < depth; ++i) body += "<array>";
    for (int i = 0; i < depth; ++i) body += "</array>";
    const auto result = PropertyList::parse(wrap(body));
    EXPECT_EQ(result.value.has_value(), depth <= PropertyList::kMaxDepth) << depth;
  }
}

PropertyList sample() {
  return PropertyList(Dict{
      {"email", PropertyList("someone@example.org")},
      {"UID", PropertyList("p<a>ss & \"word\" '")},
      {"padded", PropertyList(" x ")},
      {"count", PropertyList(std::int64_t{-12345678901})},
      {"ratio", PropertyList(0.1)},
      {"flags", PropertyList(Array{PropertyList(true), PropertyList(false)})},
      {"created", PropertyList(Date(std::chrono::seconds(1700000000)))},
      {"blob", PropertyList(Data{0x00, 0xff, 0x10, 0x80, 0x7f})},
      {"nested", PropertyList(Dict{{"", PropertyList("empty key")}})},
  });
}

TEST(PropertyListTest, WrittenFormReadsBackEqualWithAnyTrailingSpaces) {
  const std::string xml = sample().toXML();
  EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u) << xml;
  EXPECT_NE(xml.find("<plist version=\"1.0\">"), std::string::npos);
  // The decrypted settings file carries 0 to 15 padding spaces after the document.
  for (int spaces = 0; spaces < 16; ++spaces) {
    const auto result = PropertyList::parse(xml + std::string(spaces, ' '));
    ASSERT_TRUE(result.value) << spaces << ": " << result.error;
    EXPECT_EQ(*result.value, sample());
  }
}

TEST(PropertyListTest, AcceptsTheCommonHeaderWithDoctype) {
  const std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Example//DTD PLIST 1.0//EN\" \"http://example.org/p.dtd\">\n"
      "<plist version=\"1.0\">\n<dict>\n\t<key>saveUID</key>\n\t<string>1</string>\n</dict>\n"
      "</plist>\n";
  const auto result = PropertyList::parse(xml);
  ASSERT_TRUE(result.value) << result.error;
  EXPECT_EQ(*result.value, PropertyList(Dict{{"saveUID", PropertyList("1")}}));
}

TEST(PropertyListTest, DatesBeforeTheEpochAndDataOfEveryLengthRoundTrip) {
  Data data;
  for (int length = 0; length < 7; ++length) {
    const PropertyList list(
        Array{PropertyList(data),
              PropertyList(Date(std::chrono::seconds(-86400LL * 365 * 100 + length)))});
    const auto result = PropertyList::parse(list.toXML());
    ASSERT_TRUE(result.value) << result.error;
    EXPECT_EQ(*result.value, list) << list.toXML();
    data.push_back(static_cast<std::uint8_t>(0xf0 + length));
  }
}

TEST(PropertyListTest, TextsWithLineEndsAndControlsRoundTrip) {
  for (std::string text : {"a\rb", "a\r\nb", "\tx\n", "\x01\x1f", "]]>", "&#13;"}) {
    const PropertyList list(text);
    const auto result = PropertyList::parse(list.toXML());
    ASSERT_TRUE(result.value) << result.error;
    EXPECT_EQ(*result.value, list) << list.toXML();
  }
}

}  // namespace
}  // namespace marigold
