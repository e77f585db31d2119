// Marker scanning, position bookkeeping and whitespace normalisation of the HTML core.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "quorl/html/marker_index.hpp"
#include "quorl/html/marker_scan.hpp"
#include "quorl/html/whitespace.hpp"

using namespace quorl::html;

namespace {

// The matches of "##@.*?@##" the way a backtracking engine finds them: at each position try the
// shortest body first, giving up at a newline.
std::vector<MarkerSpan> naive_markers(const std::u32string& t) {
  std::vector<MarkerSpan> out;
  std::size_t i = 0;
  while (i < t.size()) {
    bool matched = false;
    if (t.compare(i, 3, U"##@") == 0) {
      for (std::size_t q = i + 3; q + 3 <= t.size(); ++q) {
        if (t.compare(q, 3, U"@##") == 0) {
          out.push_back({i, q + 3});
          i = q + 3;
          matched = true;
          break;
        }
        if (t[q] == U'\n') break;
      }
    }
    if (!matched) ++i;
  }
  return out;
}

std::u32string random_marked_text(std::mt19937& rng, std::size_t pieces) {
  static const std::u32string kPieces[] = {U"##@", U"@##", U"#",         U"@",
                                           U"|",   U"\n",  U"a",         U"start",
                                           U"end", U"中",  U"start|t|x", U"end|t|x"};
  std::uniform_int_distribution<std::size_t> pick(0, std::size(kPieces) - 1);
  std::u32string t;
  for (std::size_t k = 0; k < pieces; ++k) t += kPieces[pick(rng)];
  return t;
}

std::u32string u32(const char32_t* s) {
  return std::u32string(s);
}

}  // namespace

TEST(FindMarkers, ShortestMatchKeepsAdjacentMarkersApart) {
  const std::u32string t = U"##@start|relateitem|claims@####@start|x|y@##AB##@end|x|y@##";
  const auto m = find_markers(t);
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0], (MarkerSpan{0, 29}));
  EXPECT_EQ(m[1], (MarkerSpan{29, 44}));
  EXPECT_EQ(m[2], (MarkerSpan{46, t.size()}));
}

TEST(FindMarkers, NoMarkerAcrossANewline) {
  EXPECT_TRUE(find_markers(U"##@start|t\n|x@##").empty());
  // The opening after the newline still finds its closing.
  const auto m = find_markers(U"##@a\n##@b@##");
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0], (MarkerSpan{5, 12}));
}

TEST(FindMarkers, OpeningAndClosingDoNotShareCharacters) {
  EXPECT_TRUE(find_markers(U"##@##").empty());
  const auto m = find_markers(U"##@@##");
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0], (MarkerSpan{0, 6}));
  const auto m2 = find_markers(U"###@##@##");
  ASSERT_EQ(m2.size(), 1u);
  EXPECT_EQ(m2[0], (MarkerSpan{1, 9}));
}

TEST(FindMarkers, AgreesWithBacktrackingOnRandomTexts) {
  std::mt19937 rng(7);
  for (int round = 0; round < 3000; ++round) {
    const std::u32string t = random_marked_text(rng, 1 + round % 40);
    ASSERT_EQ(find_markers(t), naive_markers(t)) << "round " << round;
  }
}

TEST(RemoveMarkers, KeepsEverythingOutsideTheMarkers) {
  EXPECT_EQ(remove_markers(U"x##@a@##y##@b\n@##z"), u32(U"xy##@b\n@##z"));
  EXPECT_EQ(remove_markers(U""), u32(U""));
  EXPECT_EQ(remove_markers(U"##@@##"), u32(U""));
}

TEST(IndexMarkers, MeasuresThePositionsInTheTextWithoutMarkers) {
  const std::u32string t = U"##@start|relateitem|claims@##AB##@end|relateitem|claims@##";
  const auto recs = index_markers(t, find_markers(t));
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_EQ(recs[0].id.of(t), U"claims");
  EXPECT_EQ(recs[0].type.of(t), U"relateitem");
  EXPECT_EQ(recs[0].start, 0);
  EXPECT_EQ(recs[0].end, 2);
}

TEST(IndexMarkers, NestedEmptyAndUnclosedElements) {
  const std::u32string t =
      U"x##@start|t|out@##a##@start|t|in@##bc##@end|t|in@##d##@start|t|e@####@end|t|e@##"
      U"##@end|t|out@##y##@start|t|open@##z";
  const auto recs = index_markers(t, find_markers(t));
  ASSERT_EQ(recs.size(), 4u);
  EXPECT_EQ(recs[0].id.of(t), U"out");
  EXPECT_EQ(recs[0].start, 1);
  EXPECT_EQ(recs[0].end, 5);
  EXPECT_EQ(recs[1].id.of(t), U"in");
  EXPECT_EQ(recs[1].start, 2);
  EXPECT_EQ(recs[1].end, 4);
  EXPECT_EQ(recs[2].start, 5);
  EXPECT_EQ(recs[2].end, 5);
  EXPECT_EQ(recs[3].id.of(t), U"open");
  EXPECT_EQ(recs[3].start, 6);
  EXPECT_EQ(recs[3].end, -1);
}

TEST(IndexMarkers, ALaterStartReplacesTheRecordInItsPlace) {
  const std::u32string t = U"##@start|a|x@##1##@start|b|y@##2##@start|c|x@##3##@end|c|x@##";
  const auto recs = index_markers(t, find_markers(t));
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(recs[0].id.of(t), U"x");
  EXPECT_EQ(recs[0].type.of(t), U"c");
  EXPECT_EQ(recs[0].start, 2);
  EXPECT_EQ(recs[0].end, 3);
  EXPECT_EQ(recs[1].id.of(t), U"y");
}

TEST(IndexMarkers, OtherWordsAreSkippedButStillRemoved) {
  const std::u32string t = U"##@note@##ab##@start|t|i|extra@##c##@end|t|i@##";
  const auto recs = index_markers(t, find_markers(t));
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_EQ(recs[0].id.of(t), U"i");
  EXPECT_EQ(recs[0].start, 2);
  EXPECT_EQ(recs[0].end, 3);
}

TEST(IndexMarkers, MalformedMarkersAreReported) {
  const std::u32string short_start = U"##@start|t@##";
  EXPECT_THROW(index_markers(short_start, find_markers(short_start)), MarkerTooShort);
  const std::u32string short_end = U"##@end@##";
  EXPECT_THROW(index_markers(short_end, find_markers(short_end)), MarkerTooShort);
  const std::u32string orphan = U"ab##@end|t|zz@##";
  try {
    index_markers(orphan, find_markers(orphan));
    FAIL() << "an end marker without a start was accepted";
  } catch (const EndWithoutStart& e) {
    EXPECT_EQ(e.id.of(orphan), U"zz");
  }
}

TEST(NormaliseWhitespace, CollapsesRunsAndDropsBlanksNextToTags) {
  EXPECT_EQ(normalise_whitespace(U"a \n\t b"), u32(U"a b"));
  EXPECT_EQ(normalise_whitespace(U"<p> a </p>"), u32(U"<p>a</p>"));
  EXPECT_EQ(normalise_whitespace(U"  x  "), u32(U" x "));
  EXPECT_EQ(normalise_whitespace(U"a > < b"), u32(U"a >< b"));
  EXPECT_EQ(normalise_whitespace(U"\f\v\u3000"), u32(U"\f\v\u3000"));
  EXPECT_EQ(normalise_whitespace(U""), u32(U""));
}

TEST(MarkerWriting, WrittenMarkersAreFoundAndIndexed) {
  const std::u32string text = write_marker(kStartWord, U"relateitem", U"p0001") + U"段落" +
                              write_marker(kEndWord, U"relateitem", U"p0001") + U"尾";
  EXPECT_EQ(text, U"##@start|relateitem|p0001@##段落##@end|relateitem|p0001@##尾");
  const std::vector<MarkerSpan> markers = find_markers(text);
  ASSERT_EQ(markers.size(), 2u);
  const std::vector<MarkedElement> elements = index_markers(text, markers);
  ASSERT_EQ(elements.size(), 1u);
  EXPECT_EQ(elements[0].id.of(text), U"p0001");
  EXPECT_EQ(elements[0].type.of(text), U"relateitem");
  EXPECT_EQ(elements[0].start, 0);
  EXPECT_EQ(elements[0].end, 2);
  EXPECT_EQ(remove_spans(text, markers), U"段落尾");
}

struct CarriedId {
  std::u32string id;
  bool carried;
};

class MarkerCarries : public ::testing::TestWithParam<CarriedId> {};

TEST_P(MarkerCarries, OnlyIdsThatReadBackWhole) {
  EXPECT_EQ(marker_carries(U"relateitem", GetParam().id), GetParam().carried);
}

INSTANTIATE_TEST_SUITE_P(Ids, MarkerCarries,
                         ::testing::Values(CarriedId{U"p0001", true}, CarriedId{U"", true},
                                           CarriedId{U"x@", true}, CarriedId{U"a#b", true},
                                           CarriedId{U"##@", true}, CarriedId{U"@#", true},
                                           CarriedId{U"\r\t中", true}, CarriedId{U"a\nb", false},
                                           CarriedId{U"\n", false}, CarriedId{U"a|b", false},
                                           CarriedId{U"|", false}, CarriedId{U"a@##b", false},
                                           CarriedId{U"@##", false},
                                           CarriedId{U"##@start|relateitem|x@##", false}));
