#include "base/translation.h"

#include <gtest/gtest.h>

namespace marigold {
namespace {

// A translation may put the placeholders in its own order; the arguments follow their numbers.
TEST(TranslationTest, PlaceholdersTakeTheirArgumentsByNumber) {
  struct Case {
    std::string_view text, want;
  };
  constexpr Case kCases[] = {
      {"%1 of %2", "3 of 5 MB"},
      {"%2: %1", "5 MB: 3"},
      {"100% done, %1", "100% done, 3"},
      {"%3 and %12", "%3 and 32"},  // no third argument; %12 is %1 then "2"
      {"", ""},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(fillPlaceholders(c.text, {"3", "5 MB"}), c.want) << c.text;
  }
  // Without a catalogue for the language the text is its own translation.
  EXPECT_EQ(tr("no command '%1'.", {"x"}), "no command 'x'.");
  EXPECT_EQ(trn("%1 photo", "%1 photos", 1, {"1"}), "1 photo");
  EXPECT_EQ(trn("%1 photo", "%1 photos", 2, {"2"}), "2 photos");
}

}  // namespace
}  // namespace marigold
