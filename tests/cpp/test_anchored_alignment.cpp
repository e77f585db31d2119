// The anchored alignment and the check that calls for it.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "quorl/align/anchored_alignment.hpp"

using namespace quorl::align;

namespace {

std::u32string ideographs(std::mt19937& rng, std::size_t n) {
  std::uniform_int_distribution<char32_t> pick(0x4E00, 0x4E00 + 2000);
  std::u32string t;
  for (std::size_t k = 0; k < n; ++k) t += pick(rng);
  return t;
}

// Blanks after about one character in twelve.
std::u32string blanked(std::mt19937& rng, const std::u32string& text) {
  std::u32string out;
  for (char32_t c : text) {
    out += c;
    if (rng() % 12 == 0) out += U' ';
  }
  return out;
}

std::size_t aligned(const std::vector<SpanPair>& pairs) {
  std::size_t n = 0;
  for (const SpanPair& p : pairs) n += static_cast<std::size_t>(p.a.end - p.a.start);
  return n;
}

std::vector<SpanPair> difflib_pairs(Text a, Text b) {
  std::vector<SpanPair> pairs;
  for (const Match& m : matching_blocks(a, b)) {
    if (!m.size) continue;
    const auto i = static_cast<std::int64_t>(m.a_start), j = static_cast<std::int64_t>(m.b_start);
    pairs.push_back(
        {{i, i + static_cast<std::int64_t>(m.size)}, {j, j + static_cast<std::int64_t>(m.size)}});
  }
  return pairs;
}

}  // namespace

TEST(AlignmentBound, SmallerCountOfEveryCharacter) {
  EXPECT_EQ(alignment_bound(std::u32string_view(U"aabbc\U00020000"), std::u16string_view(u"abbbd")),
            3u);
  EXPECT_EQ(alignment_bound(std::u32string_view(U"\U00020000\U00020000x"),
                            std::u32string_view(U"\U00020000")),
            1u);
  // The per-thread table is left clean for the next call.
  EXPECT_EQ(alignment_bound(std::u32string_view(U""), std::u32string_view(U"aab")), 0u);
}

TEST(AlignmentCheck, ThresholdsAgree) {
  EXPECT_TRUE(alignment_surely_sound(995, 1000, 2000));
  EXPECT_FALSE(alignment_surely_sound(994, 1000, 2000));
  EXPECT_TRUE(alignment_falls_short(994, 1000));
  EXPECT_FALSE(alignment_falls_short(995, 1000));
}

// A passage written twice, blanks spread over one side except around its second copy, which
// blanks enclose: difflib pairs that copy with the other side's first one.
TEST(AnchoredAlignment, RealignsASectionATwinCaptured) {
  std::mt19937 rng(5);
  const std::u32string before = ideographs(rng, 3000), between = ideographs(rng, 2000),
                       after = ideographs(rng, 1000), passage = ideographs(rng, 400);
  const std::u32string b = before + passage + between + passage + after;
  const std::u32string a =
      blanked(rng, before + passage + between) + U" " + passage + U" " + blanked(rng, after);
  const std::vector<SpanPair> plain = difflib_pairs(a, b);
  ASSERT_LT(aligned(plain), b.size() * 7 / 10);

  const auto realigned = realigned_span_pairs(a, b, plain);
  ASSERT_TRUE(realigned.has_value());
  EXPECT_EQ(aligned(*realigned), b.size());
  for (const SpanPair& p : *realigned) {
    EXPECT_EQ(a.substr(p.a.start, p.a.end - p.a.start), b.substr(p.b.start, p.b.end - p.b.start));
  }
}

TEST(AnchoredAlignment, LeavesSoundAndUnrelatedSectionsAlone) {
  std::mt19937 rng(9);
  const std::u32string text = ideographs(rng, 5000);
  const std::u32string spaced = blanked(rng, text);
  EXPECT_FALSE(realigned_span_pairs(spaced, text, difflib_pairs(spaced, text)).has_value());
  const std::u32string other = ideographs(rng, 5000);
  EXPECT_FALSE(realigned_span_pairs(text, other, difflib_pairs(text, other)).has_value());
}
