// Online suffix automaton construction and matching statistics over it.
#include "quorl/align/suffix_automaton.hpp"

namespace quorl::align {

std::size_t SuffixAutomaton::slot_of(std::uint64_t key) const {
  // The top bits of the product depend on every bit of the key, the state's as the character's.
  std::size_t s = static_cast<std::size_t>((key * 0x9e3779b97f4a7c15ULL) >> shift_);
  while (slots_[s] != kNone && keys_[s] != key) s = (s + 1) & mask_;
  return s;
}

std::uint32_t SuffixAutomaton::find_edge(std::uint32_t from, char32_t c) const {
  return slots_[slot_of((std::uint64_t{from} << 32) | c)];
}

void SuffixAutomaton::add_edge(std::uint32_t from, char32_t c, std::uint32_t to) {
  const std::uint32_t e = static_cast<std::uint32_t>(edges_.size());
  edges_.push_back({c, to, states_[from].edges});
  states_[from].edges = e;
  const std::uint64_t key = (std::uint64_t{from} << 32) | c;
  const std::size_t s = slot_of(key);
  keys_[s] = key;
  slots_[s] = e;
}

std::uint32_t SuffixAutomaton::new_state(std::size_t len, std::uint32_t link,
                                         std::size_t first_end) {
  states_.push_back({len, link, kNone, first_end});
  return static_cast<std::uint32_t>(states_.size() - 1);
}

void SuffixAutomaton::build(Text t, std::size_t lo, std::size_t hi) {
  const std::size_t length = hi - lo;
  // A text of length L has at most 2L - 1 states and 3L - 4 edges; the table stays below half
  // full.
  unsigned bits = 4;
  while ((std::size_t{1} << bits) < 6 * length + 8) ++bits;
  const std::size_t capacity = std::size_t{1} << bits;
  mask_ = capacity - 1;
  shift_ = 64 - bits;
  keys_.assign(capacity, 0);
  slots_.assign(capacity, kNone);
  states_.clear();
  edges_.clear();
  states_.reserve(2 * length + 1);
  edges_.reserve(3 * length + 1);

  std::uint32_t last = new_state(0, kNone, 0);
  for (std::size_t p = lo; p < hi; ++p) {
    const char32_t c = t[p];
    const std::uint32_t cur = new_state(states_[last].len + 1, 0, p);
    std::uint32_t x = last;
    while (x != kNone && find_edge(x, c) == kNone) {
      add_edge(x, c, cur);
      x = states_[x].link;
    }
    if (x != kNone) {
      const std::uint32_t q = edges_[find_edge(x, c)].target;
      if (states_[x].len + 1 == states_[q].len) {
        states_[cur].link = q;
      } else {
        const std::uint32_t clone =
            new_state(states_[x].len + 1, states_[q].link, states_[q].first_end);
        for (std::uint32_t e = states_[q].edges; e != kNone; e = edges_[e].next)
          add_edge(clone, edges_[e].c, edges_[e].target);
        for (; x != kNone; x = states_[x].link) {
          const std::uint32_t e = find_edge(x, c);
          if (edges_[e].target != q) break;
          edges_[e].target = clone;
        }
        states_[q].link = clone;
        states_[cur].link = clone;
      }
    }
    last = cur;
  }
}

template <typename Visit>
void SuffixAutomaton::scan(Text t, std::size_t lo, std::size_t hi, Visit&& visit) const {
  // The longest suffix of t[lo:p+1] that occurs in the automaton's text, as (state, length).
  std::uint32_t v = 0;
  std::size_t len = 0;
  for (std::size_t p = lo; p < hi; ++p) {
    const char32_t c = t[p];
    std::uint32_t e = find_edge(v, c);
    while (e == kNone && v != 0) {
      v = states_[v].link;
      len = states_[v].len;
      e = find_edge(v, c);
    }
    if (e == kNone) {
      len = 0;
      continue;
    }
    v = edges_[e].target;
    ++len;
    // All strings of a state end at the same places, so the state's first end is where the
    // match first ends in the automaton's text.
    if (!visit(p, len, states_[v].first_end)) return;
  }
}

Match SuffixAutomaton::longest_match(Text a, Text b, const Range& r, std::size_t bound) {
  Match best{r.alo, r.blo, 0};
  if (r.alo >= r.ahi || r.blo >= r.bhi) return best;
  if (r.bhi - r.blo <= r.ahi - r.alo) {
    // Scanning a upwards and keeping only longer matches gives the smallest a position; the
    // first end in b gives the smallest b position for it.
    build(b, r.blo, r.bhi);
    scan(a, r.alo, r.ahi, [&](std::size_t i, std::size_t len, std::size_t b_end) {
      if (len > best.size) best = {i + 1 - len, b_end + 1 - len, len};
      return best.size < bound;
    });
  } else {
    // The automaton of the shorter side is cheaper to build. Scanned in b order, every longest
    // match is seen, each with its smallest a position; the smallest pair among them wins.
    build(a, r.alo, r.ahi);
    scan(b, r.blo, r.bhi, [&](std::size_t j, std::size_t len, std::size_t a_end) {
      const Match m{a_end + 1 - len, j + 1 - len, len};
      if (len > best.size ||
          (len == best.size &&
           (m.a_start < best.a_start || (m.a_start == best.a_start && m.b_start < best.b_start))))
        best = m;
      return true;
    });
  }
  return best;
}

}  // namespace quorl::align
