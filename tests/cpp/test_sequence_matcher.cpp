// The fast sequence matcher against the textbook longest-match search, path by path.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "quorl/align/row_search.hpp"
#include "quorl/align/run_index.hpp"
#include "quorl/align/sequence_matcher.hpp"
#include "quorl/align/suffix_automaton.hpp"

using namespace quorl::align;

namespace {

std::u32string random_text(std::mt19937& rng, const std::u32string& alphabet, std::size_t n) {
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::u32string t;
  for (std::size_t k = 0; k < n; ++k) t += alphabet[pick(rng)];
  return t;
}

// Characters drawn with probability proportional to 1 / rank from `count` CJK ideographs.
std::u32string zipf_text(std::mt19937& rng, std::size_t count, std::size_t n) {
  std::vector<double> weights;
  for (std::size_t r = 1; r <= count; ++r) weights.push_back(1.0 / static_cast<double>(r));
  std::discrete_distribution<std::size_t> pick(weights.begin(), weights.end());
  std::u32string t;
  for (std::size_t k = 0; k < n; ++k) t += static_cast<char32_t>(0x4e00 + pick(rng));
  return t;
}

// `t` with about `rate` * size random substitutions, deletions and insertions from `alphabet`.
std::u32string edit(std::mt19937& rng, std::u32string t, double rate,
                    const std::u32string& alphabet) {
  std::size_t edits = static_cast<std::size_t>(std::ceil(rate * static_cast<double>(t.size())));
  std::uniform_int_distribution<std::size_t> pick_char(0, alphabet.size() - 1);
  std::uniform_int_distribution<int> pick_kind(0, 2);
  for (std::size_t e = 0; e < edits; ++e) {
    std::uniform_int_distribution<std::size_t> pos(0, t.size());
    std::size_t p = pos(rng);
    int kind = pick_kind(rng);
    if (kind == 0 && p < t.size()) {
      t[p] = alphabet[pick_char(rng)];
    } else if (kind == 1 && p < t.size()) {
      t.erase(p, 1);
    } else {
      t.insert(t.begin() + static_cast<std::ptrdiff_t>(p), alphabet[pick_char(rng)]);
    }
  }
  return t;
}

std::u32string repeat(const std::u32string& s, std::size_t times) {
  std::u32string t;
  for (std::size_t k = 0; k < times; ++k) t += s;
  return t;
}

// Option sets that send the search down each of its paths.
std::vector<std::pair<const char*, MatcherOptions>> option_sets() {
  std::vector<std::pair<const char*, MatcherOptions>> sets;
  sets.push_back({"default", MatcherOptions{}});
  MatcherOptions every_run;
  every_run.run_lengths = {1};
  every_run.run_budget_per_char = 1000000;
  sets.push_back({"every run", every_run});
  MatcherOptions short_runs;
  short_runs.run_lengths = {2, 3};
  short_runs.pair_search_area = 0;
  sets.push_back({"short runs, occurrence search", short_runs});
  MatcherOptions automaton_only;
  automaton_only.run_lengths = {};
  automaton_only.pair_search_area = 0;
  automaton_only.occurrence_budget_per_char = 0;
  sets.push_back({"suffix automaton only", automaton_only});
  MatcherOptions pairs_only;
  pairs_only.run_lengths = {};
  pairs_only.pair_search_area = static_cast<std::size_t>(-1);
  sets.push_back({"pair search only", pairs_only});
  MatcherOptions starved;
  starved.run_lengths = {1, 2, 4};
  starved.run_budget_per_char = 0;
  starved.pair_search_area = 4;
  starved.occurrence_budget_per_char = 1;
  sets.push_back({"every budget exhausted", starved});
  MatcherOptions runs_then_automaton;
  runs_then_automaton.run_lengths = {3};
  runs_then_automaton.run_budget_per_char = 1000000;
  runs_then_automaton.pair_search_area = 0;
  runs_then_automaton.occurrence_budget_per_char = 0;
  sets.push_back({"runs, then suffix automaton", runs_then_automaton});
  MatcherOptions shorter_runs;
  shorter_runs.run_lengths = {8};
  shorter_runs.shorter_run_area = 0;
  shorter_runs.run_budget_per_char = 1000000;
  sets.push_back({"every range without runs lists shorter ones", shorter_runs});
  MatcherOptions shorter_runs_starved;
  shorter_runs_starved.run_lengths = {6};
  shorter_runs_starved.shorter_run_area = 16;
  shorter_runs_starved.run_budget_per_char = 0;
  sets.push_back({"shorter runs within a fixed budget", shorter_runs_starved});
  return sets;
}

void expect_same_blocks(const std::u32string& a, const std::u32string& b) {
  const std::vector<Match> expected = reference_matching_blocks(a, b);
  for (const auto& [name, options] : option_sets()) {
    // Comparing every pair is quadratic in each range.
    if (options.pair_search_area == static_cast<std::size_t>(-1) && a.size() * b.size() > 1000000)
      continue;
    ASSERT_EQ(matching_blocks(a, b, options), expected)
        << name << ", lengths " << a.size() << " and " << b.size();
  }
  ASSERT_EQ(matching_blocks(a, b), expected);
}

std::vector<std::tuple<std::size_t, std::size_t, std::size_t>> as_tuples(
    const std::vector<Match>& blocks) {
  std::vector<std::tuple<std::size_t, std::size_t, std::size_t>> t;
  for (const Match& m : blocks) t.emplace_back(m.a_start, m.b_start, m.size);
  return t;
}

}  // namespace

TEST(SequenceMatcher, DocumentedExampleOfDifflib) {
  // The example of SequenceMatcher.get_opcodes in Python's documentation.
  const std::u32string a = U"qabxcd", b = U"abycdf";
  const std::vector<Opcode> expected{{OpTag::kDelete, 0, 1, 0, 0},
                                     {OpTag::kEqual, 1, 3, 0, 2},
                                     {OpTag::kReplace, 3, 4, 2, 3},
                                     {OpTag::kEqual, 4, 6, 3, 5},
                                     {OpTag::kInsert, 6, 6, 5, 6}};
  EXPECT_EQ(diff_opcodes(a, b), expected);
  // The example of get_matching_blocks there.
  using T = std::tuple<std::size_t, std::size_t, std::size_t>;
  EXPECT_EQ(as_tuples(matching_blocks(U"abxcd", U"abcd")),
            (std::vector<T>{{0, 0, 2}, {3, 2, 2}, {5, 4, 0}}));
}

TEST(SequenceMatcher, EdgeCases) {
  EXPECT_TRUE(diff_opcodes(U"", U"").empty());
  EXPECT_EQ(diff_opcodes(U"abc", U""), (std::vector<Opcode>{{OpTag::kDelete, 0, 3, 0, 0}}));
  EXPECT_EQ(diff_opcodes(U"", U"xy"), (std::vector<Opcode>{{OpTag::kInsert, 0, 0, 0, 2}}));
  EXPECT_EQ(diff_opcodes(U"abc", U"xyz"), (std::vector<Opcode>{{OpTag::kReplace, 0, 3, 0, 3}}));
  EXPECT_EQ(diff_opcodes(U"abc", U"abc"), (std::vector<Opcode>{{OpTag::kEqual, 0, 3, 0, 3}}));
  // Ties: the smallest a position wins, then the smallest b position.
  EXPECT_EQ(as_tuples(matching_blocks(U"ab", U"ba")), (as_tuples({{0, 1, 1}, {2, 2, 0}})));
  EXPECT_EQ(as_tuples(matching_blocks(U"xx", U"x")), (as_tuples({{0, 0, 1}, {2, 1, 0}})));
  // Astral code points and the extremes of char32_t are characters like any other.
  const std::u32string astral = U"\U0001F600\U00020000a\U0001F600\U0010FFFF";
  expect_same_blocks(astral, U"\U00020000\U0001F600\U0010FFFFa\U0001F600");
  expect_same_blocks(std::u32string(3, U'\0') + U"a", std::u32string(2, U'\0'));
  expect_same_blocks(
      std::u32string(20, char32_t(0xffffffff)),
      std::u32string(9, char32_t(0xffffffff)) + U"x" + std::u32string(12, char32_t(0xffffffff)));
}

TEST(SequenceMatcher, SmallAlphabetsAgainstReference) {
  std::mt19937 rng(20240601);
  const std::u32string alphabets[] = {U"a", U"ab", U"abc", U"abcdefgh", U"\U0001F600a\U00020001"};
  for (const std::u32string& alphabet : alphabets) {
    for (int round = 0; round < 150; ++round) {
      std::uniform_int_distribution<std::size_t> len(0, 60);
      std::u32string a = random_text(rng, alphabet, len(rng));
      std::u32string b =
          round % 2 ? edit(rng, a, 0.1, alphabet) : random_text(rng, alphabet, len(rng));
      expect_same_blocks(a, b);
    }
  }
}

TEST(SequenceMatcher, NearIdenticalTextsAgainstReference) {
  std::mt19937 rng(7);
  for (double rate : {0.005, 0.01, 0.03, 0.2}) {
    for (int round = 0; round < 3; ++round) {
      std::u32string a = zipf_text(rng, 2000, 2000);
      std::u32string b = edit(rng, a, rate, zipf_text(rng, 2000, 200));
      expect_same_blocks(a, b);
    }
  }
  // Copied passages give spurious runs far from the diagonal.
  std::u32string base = zipf_text(rng, 300, 1500);
  std::u32string a = base + base.substr(200, 400) + base;
  std::u32string b = edit(rng, base.substr(100, 300) + a, 0.01, U"xyz");
  expect_same_blocks(a, b);
}

TEST(SequenceMatcher, TextsSharingLittleAgainstReference) {
  // Two sections that do not belong together: nothing but chance common substrings, with
  // realistic and with flat character frequencies, and with a shared passage between them.
  std::mt19937 rng(424242);
  std::u32string flat_alphabet;
  for (char32_t c = 0; c < 800; ++c) flat_alphabet += static_cast<char32_t>(0x4e00 + c);
  for (int round = 0; round < 3; ++round) {
    const std::u32string a = zipf_text(rng, 3000, 2500), b = zipf_text(rng, 3000, 2200);
    expect_same_blocks(a, b);
    expect_same_blocks(random_text(rng, flat_alphabet, 2400),
                       random_text(rng, flat_alphabet, 2600));
    const std::u32string shared = b.substr(0, 900) + a.substr(700, 500) + b.substr(900);
    expect_same_blocks(a, shared);
  }
  // Few characters: short runs are too many to list and the search falls back to its others.
  expect_same_blocks(random_text(rng, U"abcd", 1500), random_text(rng, U"abcd", 1500));
}

TEST(SequenceMatcher, RepetitiveTextsAgainstReference) {
  std::mt19937 rng(99);
  std::u32string same(600, U'a');
  std::u32string changed = same;
  changed[211] = U'b';
  expect_same_blocks(same, changed);
  expect_same_blocks(repeat(U"ab", 300), repeat(U"ba", 300));
  for (const char32_t* period : {U"ab", U"abc", U"abcab", U"aab"}) {
    std::u32string a = repeat(period, 700 / std::char_traits<char32_t>::length(period));
    expect_same_blocks(edit(rng, a, 0.01, U"abcd"), edit(rng, a, 0.01, U"abcd"));
  }
  std::u32string text = zipf_text(rng, 500, 300);
  std::u32string spaced;
  for (char32_t c : text) spaced += std::u32string{c, U' '};
  expect_same_blocks(text, spaced);
  std::u32string distinct, interleaved;
  for (char32_t c = 0; c < 400; ++c) distinct += static_cast<char32_t>(0x4e00 + c);
  for (std::size_t k = 0; k < 200; ++k)
    interleaved += std::u32string{distinct[k], distinct[k + 200]};
  expect_same_blocks(distinct, interleaved);
  expect_same_blocks(interleaved, distinct);
  expect_same_blocks(random_text(rng, U"01", 800), random_text(rng, U"01", 800));
}

TEST(SequenceMatcher, RandomOptionsAgainstReference) {
  // Any mix of run lengths and budgets only changes how the answer is found.
  std::mt19937 rng(31337);
  for (int round = 0; round < 300; ++round) {
    const std::u32string alphabet = round % 3 ? U"ab\U0001F600" : U"abcdefghij";
    std::uniform_int_distribution<std::size_t> len(0, 150);
    std::u32string a = random_text(rng, alphabet, len(rng));
    std::u32string b =
        round % 2 ? edit(rng, a, 0.05, alphabet) : random_text(rng, alphabet, len(rng));
    MatcherOptions options;
    options.run_lengths.clear();
    for (std::size_t k = rng() % 4; k > 0; --k) options.run_lengths.push_back(rng() % 12);
    options.run_budget_per_char = rng() % 6;
    options.pair_search_area = rng() % 300;
    options.occurrence_budget_per_char = rng() % 4;
    options.shorter_run_area = rng() % 2000;
    ASSERT_EQ(matching_blocks(a, b, options), reference_matching_blocks(a, b)) << "round " << round;
  }
}

TEST(LongestMatch, RangeSearchesAgreeWithReference) {
  std::mt19937 rng(5);
  for (const std::u32string& alphabet : {std::u32string(U"ab"), std::u32string(U"abcdef")}) {
    const std::u32string a = random_text(rng, alphabet, 120), b = random_text(rng, alphabet, 100);
    RowSearch rows(a, b);
    SuffixAutomaton automaton;
    for (int round = 0; round < 400; ++round) {
      std::uniform_int_distribution<std::size_t> pa(0, a.size()), pb(0, b.size());
      std::size_t alo = pa(rng), ahi = pa(rng), blo = pb(rng), bhi = pb(rng);
      if (alo > ahi) std::swap(alo, ahi);
      if (blo > bhi) std::swap(blo, bhi);
      const Range r{alo, ahi, blo, bhi};
      const Match expected = reference_longest_match(a, b, alo, ahi, blo, bhi);
      // Unbounded, and bounded by the true length, where the searches may stop early.
      for (std::size_t bound : {std::size_t(-1), expected.size}) {
        EXPECT_EQ(automaton.longest_match(a, b, r, bound), expected);
        if (alo == ahi || blo == bhi) continue;
        EXPECT_EQ(rows.search_pairs(r, bound), expected);
        Match got;
        ASSERT_TRUE(rows.search_occurrences(r, bound, std::size_t(-1), got));
        EXPECT_EQ(got, expected);
      }
    }
  }
}

TEST(LongestMatch, OccurrenceSearchGivesUpPastItsBudget) {
  const std::u32string a(50, U'a'), b(50, U'a');
  RowSearch rows(a, b);
  Match got;
  EXPECT_FALSE(rows.search_occurrences({0, 50, 0, 50}, 50, 100, got));
  // A failed search leaves no trace in the next one.
  ASSERT_TRUE(rows.search_occurrences({0, 50, 0, 50}, 50, 10000, got));
  EXPECT_EQ(got, (Match{0, 0, 50}));
}

namespace {

std::set<std::tuple<std::size_t, std::size_t, std::size_t>> brute_force_runs(
    const std::u32string& a, const std::u32string& b, std::size_t min_len) {
  std::set<std::tuple<std::size_t, std::size_t, std::size_t>> runs;
  for (std::size_t i = 0; i < a.size(); ++i) {
    for (std::size_t j = 0; j < b.size(); ++j) {
      if (i > 0 && j > 0 && a[i - 1] == b[j - 1]) continue;
      std::size_t len = 0;
      while (i + len < a.size() && j + len < b.size() && a[i + len] == b[j + len]) ++len;
      if (len >= min_len) runs.emplace(i, j, len);
    }
  }
  return runs;
}

}  // namespace

TEST(RunIndex, FindsEveryMaximalRun) {
  std::mt19937 rng(11);
  for (std::size_t min_len : {1, 2, 3, 5, 9}) {
    for (int round = 0; round < 30; ++round) {
      const std::u32string alphabet = round % 3 ? U"abc" : U"ab\U0001F600\U00020000";
      std::u32string a = random_text(rng, alphabet, 80);
      std::u32string b = round % 2 ? edit(rng, a, 0.05, alphabet) : random_text(rng, alphabet, 70);
      const auto expected = brute_force_runs(a, b, min_len);
      // A base of 1 hashes every anagram alike: only the character comparison tells them apart.
      for (std::uint64_t base : {kRunHashBase, std::uint64_t{1}}) {
        std::vector<quorl::align::Run> runs{{7, 7, 7}};  // what the caller had before stays
        ASSERT_TRUE(find_runs(a, b, min_len, std::size_t(-1), runs, base));
        ASSERT_EQ(runs.front().len, 7u);
        std::set<std::tuple<std::size_t, std::size_t, std::size_t>> got;
        for (std::size_t k = 1; k < runs.size(); ++k)
          got.emplace(runs[k].i, runs[k].j, runs[k].len);
        EXPECT_EQ(got.size(), runs.size() - 1) << "a run listed twice";
        EXPECT_EQ(got, expected) << "min_len " << min_len << ", base " << base;
      }
    }
  }
}

TEST(RunIndex, StopsAtItsBudgetAndLeavesTheListAsItWas) {
  const std::u32string a(400, U'x'), b(400, U'x');
  std::vector<quorl::align::Run> runs{{1, 2, 3}};
  EXPECT_FALSE(find_runs(a, b, 4, 1000, runs));
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].len, 3u);
  // Extending a run counts against the budget too: one run of 400 distinct characters takes
  // at least 397 index visits and 396 extension steps.
  std::u32string distinct;
  for (char32_t c = 0; c < 400; ++c) distinct += static_cast<char32_t>(0x4e00 + c);
  EXPECT_FALSE(find_runs(distinct, distinct, 4, 500, runs));
  EXPECT_EQ(runs.size(), 1u);
  EXPECT_TRUE(find_runs(distinct, distinct, 4, 2000, runs));
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[1].len, 400u);
  runs.pop_back();
  EXPECT_TRUE(find_runs(U"abc", U"abc", 4, 0, runs));  // texts shorter than a q-gram
  EXPECT_EQ(runs.size(), 1u);
}
