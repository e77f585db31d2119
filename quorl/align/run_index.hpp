// Maximal exact matches (maximal diagonal runs) of two texts, found with a hashed q-gram index.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "quorl/align/sequence_matcher.hpp"

namespace quorl::align {

// a[i:i+len] == b[j:j+len], and the run can be extended neither left nor right.
struct Run {
  std::size_t i, j, len;
};

// Appends to `out` every maximal run of `a` against `b` whose length is at least `min_len`
// (min_len >= 1), in no particular order. The search stops and returns false, leaving `out`
// with what it had on entry, once it has spent more than `budget` steps (index candidates
// looked at plus characters compared while extending runs): repetitive texts hold too many
// runs to be worth listing.
//
// q-grams are told apart by a polynomial hash modulo 2^64 with the odd base `hash_base`. Every
// candidate is then compared character by character, so a collision costs time, never a wrong
// run; the budget bounds that time. (Tests pass a base of 1, which makes all anagrams collide.)
// Runs up to this long are found from q-grams of their whole length, longer ones from q-grams
// of half their length.
constexpr std::size_t kWholeGramRunLength = 4;
constexpr std::uint64_t kRunHashBase = 0x1f3d5b79a2c4e687ULL;
bool find_runs(Text a, Text b, std::size_t min_len, std::size_t budget, std::vector<Run>& out,
               std::uint64_t hash_base = kRunHashBase);

}  // namespace quorl::align
