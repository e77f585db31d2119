// GoogleTest cases of the line starts of a newline-joined text.
#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "quorl/align/line_starts.hpp"

namespace quorl::align {
namespace {

using Offsets = std::vector<std::int64_t>;

TEST(LineStarts, NewlinesAreFoundAtTheirIndexes) {
  EXPECT_EQ(newline_positions(std::u32string_view(U"ab\n\ncd\n")), (Offsets{2, 3, 6}));
  EXPECT_EQ(newline_positions(std::u32string_view(U"")), Offsets{});
}

TEST(LineStarts, StartsCountTheTextWithoutItsNewlines) {
  // Lines "ab", "", "cde": the empty line starts where the next one does.
  EXPECT_EQ(line_starts(std::u32string_view(U"ab\n\ncde")), (Offsets{0, 2, 2, 5}));
  EXPECT_EQ(line_starts(std::u32string_view(U"\n")), (Offsets{0, 0, 0}));
  EXPECT_EQ(line_starts(std::u32string_view(U"")), (Offsets{0, 0}));
}

TEST(LineStarts, EveryStorageWidthReadsAlike) {
  const Offsets wide = line_starts(std::u32string_view(U"\u4e00\u4e8c\n\u4e09"));
  EXPECT_EQ(line_starts(std::u16string_view(u"\u4e00\u4e8c\n\u4e09")), wide);
  EXPECT_EQ(line_starts(std::basic_string_view<unsigned char>(
                reinterpret_cast<const unsigned char*>("xy\nz"), 4)),
            wide);
}

}  // namespace
}  // namespace quorl::align
