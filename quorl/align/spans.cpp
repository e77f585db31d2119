// Span arithmetic over aligned texts.
#include "quorl/align/spans.hpp"

#include <algorithm>
#include <stdexcept>

namespace quorl::align {

namespace {

std::int64_t checked_add(std::int64_t x, std::int64_t y) {
  std::int64_t r;
  if (__builtin_add_overflow(x, y, &r)) throw std::overflow_error("position out of range");
  return r;
}

std::int64_t checked_sub(std::int64_t x, std::int64_t y) {
  std::int64_t r;
  if (__builtin_sub_overflow(x, y, &r)) throw std::overflow_error("position out of range");
  return r;
}

}  // namespace

bool check_span(std::int64_t length, std::int64_t a_length, std::int64_t b_length) {
  if (a_length == 0 || b_length == 0 || length < 2) return false;
  // length / n >= 0.5 without rounding: 2 * length >= n for a positive n, <= n for a negative.
  auto half_or_more = [length](std::int64_t n) {
    __int128 twice = static_cast<__int128>(length) * 2;
    return n > 0 ? twice >= n : twice <= n;
  };
  return half_or_more(a_length) || half_or_more(b_length);
}

std::int64_t search_a_spans(const std::vector<SpanPair>& pairs, std::int64_t value) {
  return span_binary_search(
      pairs.size(), [&](std::int64_t i) { return pairs[static_cast<std::size_t>(i)].a.start; },
      [&](std::int64_t i) { return pairs[static_cast<std::size_t>(i)].a.end; }, value, false);
}

std::optional<SpanPair> convert_span_a2b(Span sa, const std::vector<SpanPair>& pairs) {
  const std::int64_t idx_s = search_a_spans(pairs, sa.start);
  const std::int64_t idx_e = search_a_spans(pairs, sa.end);
  std::vector<const SpanPair*> candidates;
  for (std::int64_t i = std::max<std::int64_t>(idx_s, 0); i <= idx_e; ++i) {
    const SpanPair& p = pairs[static_cast<std::size_t>(i)];
    if (p.a.start <= sa.end && p.a.end >= sa.start) candidates.push_back(&p);
  }
  if (candidates.empty()) return std::nullopt;
  const std::int64_t newsa_s = std::max(candidates.front()->a.start, sa.start);
  const std::int64_t newsa_e = std::min(candidates.back()->a.end, sa.end);
  std::size_t first = 0, last = candidates.size();  // remaining candidates: [first, last)
  const SpanPair* dropped_tail = nullptr;
  if (newsa_e > newsa_s) {
    // Pairs that only touch an end of the span carry none of its characters.
    if (sa.start == candidates[first]->a.end) ++first;
    if (first < last && sa.end == candidates[last - 1]->a.start) dropped_tail = candidates[--last];
    if (first == last) return std::nullopt;
  }
  const SpanPair& head = *candidates[first];
  const SpanPair& tail = *candidates[last - 1];
  // The span's characters before the first kept pair, or after the last, are text only a has
  // when b has nothing there: the b span starts at the first kept pair, and ends past the last
  // one by the overhang only as far as b's own unaligned run reaches (a replaced character maps
  // onto its replacement). Going further would take in b characters aligned with a characters
  // outside the span.
  const std::int64_t start_offset = std::max<std::int64_t>(checked_sub(newsa_s, head.a.start), 0);
  std::int64_t end_overhang = checked_sub(newsa_e, tail.a.end);
  if (dropped_tail) {
    end_overhang = std::min(end_overhang, checked_sub(dropped_tail->b.start, tail.b.end));
  }
  return SpanPair{{newsa_s, newsa_e},
                  {checked_add(head.b.start, start_offset), checked_add(tail.b.end, end_overhang)}};
}

std::int64_t convert_position_a2b(std::int64_t posa, const std::vector<SpanPair>& pairs) {
  const std::int64_t idx = search_a_spans(pairs, posa);
  if (idx < 0) return -1;
  const SpanPair& p = pairs[static_cast<std::size_t>(idx)];
  return checked_add(p.b.start, checked_sub(posa, p.a.start));
}

std::vector<LinePiece> convert_span2lines(Span span, const std::vector<std::int64_t>& lineindex) {
  if (lineindex.empty()) throw std::out_of_range("list index out of range");
  std::vector<LinePiece> pieces;
  std::int64_t idx_start = lineindex[0];
  for (std::size_t idx = 0; idx + 1 < lineindex.size(); ++idx) {
    const std::int64_t idx_end = lineindex[idx + 1];
    // The sign test of (idx_end - start) * (end - idx_start) > 0, without overflow.
    const __int128 left = static_cast<__int128>(idx_end) - span.start;
    const __int128 right = static_cast<__int128>(span.end) - idx_start;
    if ((left > 0 && right > 0) || (left < 0 && right < 0)) {
      pieces.push_back(
          {idx, std::max<std::int64_t>(checked_sub(span.start, idx_start), 0),
           std::min(checked_sub(idx_end, idx_start), checked_sub(span.end, idx_start))});
    }
    idx_start = idx_end;
  }
  return pieces;
}

}  // namespace quorl::align
