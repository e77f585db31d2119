// The phrase index against a plain scan of the text, the folded text's way back, and the choice
// among occurrences.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "quorl/marks/phrase_index.hpp"

namespace quorl::marks {
namespace {

std::vector<std::int64_t> scanned(const std::u32string& text, const std::u32string& phrase) {
  std::vector<std::int64_t> starts;
  for (std::size_t at = text.find(phrase); at != std::u32string::npos;
       at = text.find(phrase, at + 1)) {
    starts.push_back(static_cast<std::int64_t>(at));
  }
  return starts;
}

// Random texts over a few letters (so that windows repeat and occurrences overlap), with
// astral-plane characters and code points beyond Unicode, which share one key in the index.
TEST(PhraseIndex, FindsWhatAScanFinds) {
  const std::u32string letters = {
      U'a', U'b', U'所', U'\U00020000', U'\U0001F600', char32_t{0x300000}, char32_t{0x300001}};
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    std::u32string text;
    const int length = round == 0 ? 20000 : static_cast<int>(rng() % 40);  // one long text
    for (int i = 0; i < length; ++i) text.push_back(letters[rng() % (round % 2 ? 2 : 7)]);
    const PhraseIndex index(text);
    for (int p = 0; p < 20; ++p) {
      std::u32string phrase;
      if (!text.empty() && p % 2) {  // a stretch of the text, so that most phrases are there
        const std::size_t at = rng() % text.size();
        phrase = text.substr(at, rng() % 7);
      } else {
        for (int n = static_cast<int>(rng() % 6); n > 0; --n) phrase.push_back(letters[rng() % 7]);
      }
      EXPECT_EQ(index.find(phrase), scanned(text, phrase)) << "round " << round;
    }
  }
}

TEST(PhraseIndex, EdgeCases) {
  const PhraseIndex index(U"aaaa");
  EXPECT_EQ(index.find(U""), (std::vector<std::int64_t>{0, 1, 2, 3, 4}));
  EXPECT_EQ(index.find(U"aa"), (std::vector<std::int64_t>{0, 1, 2}));
  EXPECT_EQ(index.find(U"aaaaa"), std::vector<std::int64_t>{});
  EXPECT_EQ(PhraseIndex(U"").find(U"a"), std::vector<std::int64_t>{});
  // Beyond Unicode, two code points share a key; the comparison tells them apart.
  const std::u32string far = {char32_t{0x300000}, char32_t{0x300001}, char32_t{0x300000}};
  EXPECT_EQ(PhraseIndex(far).find(std::u32string(1, char32_t{0x300001})),
            std::vector<std::int64_t>{1});
}

TEST(FoldedText, MapsBackToTheText) {
  FoldTable table;
  table.set(U' ', std::nullopt);
  table.set(U'\u3000', std::nullopt);
  table.set(U'Ａ', U'A');
  table.set(U'１', U'1');
  const std::u32string text = U"x Ａ１\u3000b 𠀀A1b";
  const FoldedText folded(text, table);
  EXPECT_EQ(folded.folded(), U"xA1b𠀀A1b");
  EXPECT_EQ(folded.positions(), (std::vector<std::int64_t>{0, 2, 3, 5, 7, 8, 9, 10}));
  // "A 1b" typed with a blank: both places, each from its first character to its last.
  EXPECT_EQ(folded.find(U"A 1b", table), (std::vector<TextSpan>{{2, 6}, {8, 11}}));
  EXPECT_EQ(folded.find(U"  ", table), std::vector<TextSpan>{});
  EXPECT_EQ(folded.find(U"b𠀀", table), (std::vector<TextSpan>{{5, 8}}));
}

struct ChoiceCase {
  const char* name;
  PhraseChoice choice;
  bool placed;
  std::vector<TextSpan> spans;
  std::size_t closest_kept;
};

class ChooseOccurrences : public testing::TestWithParam<ChoiceCase> {};

// "ab" three times: in "xab1", "yab2" and "xab3"; the second section holds the last two.
TEST_P(ChooseOccurrences, AsTheRecordAsks) {
  const std::u32string text = U"xab1yab2xab3";
  const std::vector<TextSpan> spans = {{1, 3}, {5, 7}, {9, 11}};
  const ChoiceCase& c = GetParam();
  const Placement p = choose_occurrences(text, spans, c.choice);
  EXPECT_EQ(p.placed, c.placed);
  EXPECT_EQ(p.spans, c.spans);
  EXPECT_EQ(p.closest_kept, c.closest_kept);
}

PhraseChoice choice(std::optional<TextSpan> section, std::u32string prefix, std::u32string suffix,
                    std::int64_t occurrence, bool all) {
  return {section, std::move(prefix), std::move(suffix), occurrence, all};
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChooseOccurrences,
    testing::Values(
        ChoiceCase{"several", choice({}, U"", U"", 0, false), false, {}, 0},
        ChoiceCase{"second", choice({}, U"", U"", 2, false), true, {{5, 7}}, 0},
        ChoiceCase{"fourth", choice({}, U"", U"", 4, false), false, {}, 0},
        ChoiceCase{"all", choice({}, U"", U"", 0, true), true, {{1, 3}, {5, 7}, {9, 11}}, 0},
        ChoiceCase{
            "section", choice(TextSpan{4, 12}, U"", U"", 0, true), true, {{5, 7}, {9, 11}}, 0},
        ChoiceCase{"emptySection", choice(TextSpan{3, 6}, U"", U"", 0, true), false, {}, 0},
        ChoiceCase{"prefix", choice({}, U"y", U"", 0, false), true, {{5, 7}}, 0},
        ChoiceCase{"prefixAndSuffix", choice({}, U"x", U"3", 0, false), true, {{9, 11}}, 0},
        // Longer context than the text has before the first: what is there agrees.
        ChoiceCase{"atTheStart", choice({}, U"qqx", U"1", 0, false), true, {{1, 3}}, 0},
        ChoiceCase{"nearest", choice({}, U"x", U"9", 0, true), true, {{1, 3}, {9, 11}}, 2},
        // Two kept by their surroundings, then the second of them.
        ChoiceCase{"nearestThenSecond", choice({}, U"x", U"9", 2, false), true, {{9, 11}}, 2},
        ChoiceCase{"nearestOne", choice({}, U"y", U"9", 0, false), true, {{5, 7}}, 1}),
    [](const testing::TestParamInfo<ChoiceCase>& info) { return info.param.name; });

}  // namespace
}  // namespace quorl::marks
