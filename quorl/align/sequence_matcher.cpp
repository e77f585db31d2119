// Matching blocks and opcodes as difflib derives them, by the fast search and by the reference.
#include "quorl/align/sequence_matcher.hpp"

#include <algorithm>
#include <tuple>
#include <unordered_map>

#include "quorl/align/block_finder.hpp"

namespace quorl::align {

namespace {

// Sorts the blocks found by the recursion and joins blocks that continue each other, as
// difflib.SequenceMatcher.get_matching_blocks does.
std::vector<Match> collapse_blocks(std::vector<Match> found, std::size_t la, std::size_t lb) {
  std::sort(found.begin(), found.end(), [](const Match& x, const Match& y) {
    return std::tie(x.a_start, x.b_start, x.size) < std::tie(y.a_start, y.b_start, y.size);
  });
  std::vector<Match> blocks;
  Match cur{0, 0, 0};
  for (const Match& m : found) {
    if (cur.a_start + cur.size == m.a_start && cur.b_start + cur.size == m.b_start) {
      cur.size += m.size;
    } else {
      if (cur.size) blocks.push_back(cur);
      cur = m;
    }
  }
  if (cur.size) blocks.push_back(cur);
  blocks.push_back({la, lb, 0});
  return blocks;
}

template <typename LongestMatch>
std::vector<Match> decompose(std::size_t la, std::size_t lb, LongestMatch&& longest) {
  struct Range {
    std::size_t alo, ahi, blo, bhi;
  };
  std::vector<Range> queue{{0, la, 0, lb}};
  std::vector<Match> found;
  while (!queue.empty()) {
    Range r = queue.back();
    queue.pop_back();
    Match m = longest(r.alo, r.ahi, r.blo, r.bhi);
    if (m.size == 0) continue;
    found.push_back(m);
    if (r.alo < m.a_start && r.blo < m.b_start)
      queue.push_back({r.alo, m.a_start, r.blo, m.b_start});
    if (m.a_start + m.size < r.ahi && m.b_start + m.size < r.bhi)
      queue.push_back({m.a_start + m.size, r.ahi, m.b_start + m.size, r.bhi});
  }
  return collapse_blocks(std::move(found), la, lb);
}

}  // namespace

Match reference_longest_match(Text a, Text b, std::size_t alo, std::size_t ahi, std::size_t blo,
                              std::size_t bhi) {
  std::unordered_map<char32_t, std::vector<std::size_t>> b2j;
  for (std::size_t j = blo; j < bhi; ++j) b2j[b[j]].push_back(j);
  Match best{alo, blo, 0};
  std::unordered_map<std::size_t, std::size_t> j2len, next;
  for (std::size_t i = alo; i < ahi; ++i) {
    next.clear();
    auto it = b2j.find(a[i]);
    if (it != b2j.end()) {
      for (std::size_t j : it->second) {
        auto prev = j > 0 ? j2len.find(j - 1) : j2len.end();
        std::size_t k = (prev == j2len.end() ? 0 : prev->second) + 1;
        next[j] = k;
        if (k > best.size) best = {i + 1 - k, j + 1 - k, k};
      }
    }
    j2len.swap(next);
  }
  return best;
}

std::vector<Match> reference_matching_blocks(Text a, Text b) {
  return decompose(a.size(), b.size(),
                   [&](std::size_t alo, std::size_t ahi, std::size_t blo, std::size_t bhi) {
                     return reference_longest_match(a, b, alo, ahi, blo, bhi);
                   });
}

std::vector<Match> matching_blocks(Text a, Text b, const MatcherOptions& options) {
  return collapse_blocks(BlockFinder(a, b, options).find_blocks(), a.size(), b.size());
}

std::vector<Match> matching_blocks(Text a, Text b) {
  return matching_blocks(a, b, MatcherOptions{});
}

std::vector<Opcode> opcodes_from_blocks(const std::vector<Match>& blocks) {
  std::vector<Opcode> ops;
  std::size_t i = 0, j = 0;
  for (const Match& m : blocks) {
    if (i < m.a_start && j < m.b_start) {
      ops.push_back({OpTag::kReplace, i, m.a_start, j, m.b_start});
    } else if (i < m.a_start) {
      ops.push_back({OpTag::kDelete, i, m.a_start, j, m.b_start});
    } else if (j < m.b_start) {
      ops.push_back({OpTag::kInsert, i, m.a_start, j, m.b_start});
    }
    i = m.a_start + m.size;
    j = m.b_start + m.size;
    if (m.size) ops.push_back({OpTag::kEqual, m.a_start, i, m.b_start, j});
  }
  return ops;
}

std::vector<Opcode> diff_opcodes(Text a, Text b) {
  return opcodes_from_blocks(matching_blocks(a, b));
}

}  // namespace quorl::align
