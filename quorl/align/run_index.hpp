// Maximal exact matches (maximal diagonal runs) of two texts, found with a hashed q-gram index.
#pragma once

#include <cstddef>
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
bool find_runs(Text a, Text b, std::size_t min_len, std::size_t budget, std::vector<Run>& out);

}  // namespace quorl::align
