// GoogleTest cases of the core's text line.
#include <gtest/gtest.h>

#include "quorl/pdf/text_line.hpp"

namespace quorl::pdf {
namespace {

TEST(TextLine, TextIsOneCodePointPerGlyphInOrder) {
  TextLine line;
  const char32_t text[] = U"权a\U00020000\u00a0";
  for (std::size_t k = 0; k + 1 < sizeof text / sizeof text[0]; ++k) {
    const double left = 10 + 7.5 * static_cast<double>(k);
    line.glyphs.push_back({text[k], {left, 20, left + 7.5, 32}});
  }
  EXPECT_EQ(text_of(line), std::u32string(text));
  EXPECT_EQ(text_of(TextLine{}), U"");
}

}  // namespace
}  // namespace quorl::pdf
