// Anchored alignment: unique runs in order cut the texts into windows that difflib aligns.
#include "quorl/align/anchored_alignment.hpp"

#include <algorithm>
#include <cstdint>

#include "quorl/align/line_relations.hpp"

namespace quorl::align {

namespace {

// Runs of this many non-blank characters are the anchors. Shorter runs recur by chance in
// patent wording; longer ones are too often broken by a difference.
constexpr std::size_t kAnchorLength = 12;
// Anchors closer than this (in non-blank characters) add windows without adding safety.
constexpr std::size_t kAnchorSpacing = 64;
constexpr std::uint64_t kHashBase = 0x9E3779B97F4A7C15ull;

// Blanks are left out of the anchors: they are what most often differs between the two texts,
// and a passage written twice must look the same twice even where its blanks differ.
bool is_blank(char32_t c) {
  return c == U' ' || c == U'\t' || c == U'\u3000' || c == U'\u00a0';
}

std::vector<std::size_t> non_blank_positions(Text t) {
  std::vector<std::size_t> out;
  out.reserve(t.size());
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (!is_blank(t[i])) out.push_back(i);
  }
  return out;
}

// The hash of every run of kAnchorLength non-blank characters, by the run's first index into
// `positions`.
std::vector<std::uint64_t> run_hashes(Text t, const std::vector<std::size_t>& positions) {
  std::vector<std::uint64_t> hashes;
  if (positions.size() < kAnchorLength) return hashes;
  std::uint64_t top = 1;
  for (std::size_t k = 1; k < kAnchorLength; ++k) top *= kHashBase;
  std::uint64_t h = 0;
  for (std::size_t k = 0; k < kAnchorLength; ++k) h = h * kHashBase + t[positions[k]];
  hashes.reserve(positions.size() - kAnchorLength + 1);
  hashes.push_back(h);
  for (std::size_t k = kAnchorLength; k < positions.size(); ++k) {
    h = (h - top * t[positions[k - kAnchorLength]]) * kHashBase + t[positions[k]];
    hashes.push_back(h);
  }
  return hashes;
}

// How often a run occurs on each side, and where it last did.
struct RunCount {
  std::uint64_t hash = 0;
  std::uint32_t count_a = 0, count_b = 0;
  std::size_t at_a = 0, at_b = 0;
};

// The runs of a by hash, in open addressing kept at most half full: this runs for every section
// of every converted patent, and a node per run would cost more than the alignment of two
// sections that share little. A slot whose count_a is 0 is free.
class RunCounts {
 public:
  explicit RunCounts(std::size_t runs) {
    unsigned bits = 4;
    while ((std::size_t{1} << bits) < 2 * runs) ++bits;
    slots_.resize(std::size_t{1} << bits);
    mask_ = slots_.size() - 1;
    shift_ = 64 - bits;
  }
  RunCount& insert(std::uint64_t hash) {
    RunCount& c = slots_[slot_of(hash)];
    c.hash = hash;
    return c;
  }
  // The entry of `hash`, or nullptr where a has no such run.
  RunCount* find(std::uint64_t hash) {
    RunCount& c = slots_[slot_of(hash)];
    return c.count_a ? &c : nullptr;
  }

 private:
  std::size_t slot_of(std::uint64_t hash) const {
    // The top bits of the product depend on every bit of the hash.
    std::size_t s = static_cast<std::size_t>((hash * 0x9E3779B97F4A7C15ull) >> shift_);
    while (slots_[s].count_a && slots_[s].hash != hash) s = (s + 1) & mask_;
    return s;
  }
  std::vector<RunCount> slots_;
  std::size_t mask_;
  unsigned shift_;
};

// An anchor: a run occurring once in each text, as indexes into the non-blank positions.
struct Anchor {
  std::size_t a, b;
};

bool same_run(Text a, const std::vector<std::size_t>& pa, std::size_t ka, Text b,
              const std::vector<std::size_t>& pb, std::size_t kb) {
  for (std::size_t k = 0; k < kAnchorLength; ++k) {
    if (a[pa[ka + k]] != b[pb[kb + k]]) return false;
  }
  return true;
}

std::vector<Anchor> unique_anchors(Text a, const std::vector<std::size_t>& pa, Text b,
                                   const std::vector<std::size_t>& pb) {
  const std::vector<std::uint64_t> ha = run_hashes(a, pa), hb = run_hashes(b, pb);
  RunCounts counts(ha.size());
  for (std::size_t k = 0; k < ha.size(); ++k) {
    RunCount& c = counts.insert(ha[k]);
    ++c.count_a;
    c.at_a = k;
  }
  // Texts that share no run (two sections that do not belong together) stop here.
  bool any_shared = false;
  for (std::size_t k = 0; k < hb.size(); ++k) {
    RunCount* c = counts.find(hb[k]);
    if (!c) continue;
    ++c->count_b;
    c->at_b = k;
    any_shared = true;
  }
  std::vector<Anchor> anchors;
  if (!any_shared) return anchors;
  for (std::size_t k = 0; k < ha.size(); ++k) {
    const RunCount& c = *counts.find(ha[k]);
    if (c.count_a == 1 && c.count_b == 1 && same_run(a, pa, c.at_a, b, pb, c.at_b)) {
      anchors.push_back({c.at_a, c.at_b});
    }
  }
  return anchors;  // ascending in a
}

// The longest chain of anchors ascending in both texts (patience sorting).
std::vector<Anchor> ordered_chain(const std::vector<Anchor>& anchors) {
  std::vector<std::size_t> tails;  // index of the anchor ending the best chain of each length
  std::vector<std::size_t> previous(anchors.size(), SIZE_MAX);
  for (std::size_t k = 0; k < anchors.size(); ++k) {
    auto at = std::lower_bound(tails.begin(), tails.end(), anchors[k].b,
                               [&](std::size_t t, std::size_t b) { return anchors[t].b < b; });
    if (at != tails.begin()) previous[k] = *(at - 1);
    if (at == tails.end()) {
      tails.push_back(k);
    } else {
      *at = k;
    }
  }
  std::vector<Anchor> chain;
  for (std::size_t k = tails.empty() ? SIZE_MAX : tails.back(); k != SIZE_MAX; k = previous[k]) {
    chain.push_back(anchors[k]);
  }
  std::reverse(chain.begin(), chain.end());
  return chain;
}

}  // namespace

bool alignment_surely_sound(std::size_t aligned, std::size_t a_length, std::size_t b_length) {
  return aligned * 1000 >= std::min(a_length, b_length) * 995;
}

bool alignment_falls_short(std::size_t aligned, std::size_t bound) {
  // aligned < 99.5% of the bound, in integers.
  return aligned * 1000 < bound * 995;
}

namespace {

// Window edges: the first character of every kept anchor, on both sides, between the texts'
// starts and ends.
std::vector<std::pair<std::size_t, std::size_t>> window_edges(Text a, Text b) {
  const std::vector<std::size_t> pa = non_blank_positions(a), pb = non_blank_positions(b);
  std::vector<std::pair<std::size_t, std::size_t>> cuts{{0, 0}};
  std::size_t last_a = 0, last_b = 0;
  bool any = false;
  for (const Anchor& anchor : ordered_chain(unique_anchors(a, pa, b, pb))) {
    if (any && (anchor.a < last_a + kAnchorSpacing || anchor.b < last_b + kAnchorSpacing)) continue;
    cuts.push_back({pa[anchor.a], pb[anchor.b]});
    last_a = anchor.a;
    last_b = anchor.b;
    any = true;
  }
  cuts.push_back({a.size(), b.size()});
  return cuts;
}

std::vector<Match> blocks_in_windows(Text a, Text b,
                                     const std::vector<std::pair<std::size_t, std::size_t>>& cuts) {
  std::vector<Match> found;
  for (std::size_t w = 0; w + 1 < cuts.size(); ++w) {
    const auto [alo, blo] = cuts[w];
    const auto [ahi, bhi] = cuts[w + 1];
    if (alo == ahi || blo == bhi) continue;
    for (const Match& m : matching_blocks(a.substr(alo, ahi - alo), b.substr(blo, bhi - blo))) {
      if (m.size) found.push_back({m.a_start + alo, m.b_start + blo, m.size});
    }
  }
  // Windows are in order on both sides, so their blocks are too; join those that continue
  // each other across a window edge.
  std::vector<Match> blocks;
  for (const Match& m : found) {
    if (!blocks.empty() && blocks.back().a_start + blocks.back().size == m.a_start &&
        blocks.back().b_start + blocks.back().size == m.b_start) {
      blocks.back().size += m.size;
    } else {
      blocks.push_back(m);
    }
  }
  blocks.push_back({a.size(), b.size(), 0});
  return blocks;
}

}  // namespace

std::vector<Match> anchored_matching_blocks(Text a, Text b) {
  return blocks_in_windows(a, b, window_edges(a, b));
}

std::vector<SpanPair> joined_span_pairs(const std::vector<Match>& blocks) {
  std::vector<EqualStretch> stretches;
  for (const Match& m : blocks) {
    if (!m.size) continue;
    const auto i = static_cast<std::int64_t>(m.a_start), j = static_cast<std::int64_t>(m.b_start);
    const auto n = static_cast<std::int64_t>(m.size);
    stretches.push_back({i, i + n, j, j + n});
  }
  return merge_equal_stretches(stretches, [](__int128 gap) { return gap <= 1; });
}

std::optional<std::vector<Match>> anchored_blocks_keeping_more(Text a, Text b,
                                                               std::size_t aligned) {
  const auto cuts = window_edges(a, b);
  // Without an anchor the one window is the whole texts: difflib's own alignment again. This is
  // the common way to fall short, two texts that do not belong together.
  if (cuts.size() == 2) return std::nullopt;
  std::vector<Match> blocks = blocks_in_windows(a, b, cuts);
  std::size_t realigned = 0;
  for (const SpanPair& p : joined_span_pairs(blocks)) {
    realigned += static_cast<std::size_t>(p.a.end - p.a.start);
  }
  if (realigned <= aligned) return std::nullopt;
  return blocks;
}

std::optional<std::vector<SpanPair>> realigned_span_pairs(Text a, Text b,
                                                          const std::vector<SpanPair>& current) {
  std::size_t aligned = 0;
  for (const SpanPair& p : current) aligned += static_cast<std::size_t>(p.a.end - p.a.start);
  if (alignment_surely_sound(aligned, a.size(), b.size()) ||
      !alignment_falls_short(aligned, alignment_bound(a, b))) {
    return std::nullopt;
  }
  std::optional<std::vector<Match>> blocks = anchored_blocks_keeping_more(a, b, aligned);
  if (!blocks) return std::nullopt;
  return joined_span_pairs(*blocks);
}

}  // namespace quorl::align
