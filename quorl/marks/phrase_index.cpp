// Mark records given by their text: the phrase index, the folded text and the choice among
// occurrences.
#include "quorl/marks/phrase_index.hpp"

#include <algorithm>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <utility>

namespace quorl::marks {
namespace {

// A window's key holds its three code points, 21 bits each, every one plus one so that 0 can
// stand for "past the text's end" and a phrase of one or two characters is one range of keys.
constexpr int kCodeBits = 21;
constexpr std::uint64_t kCodeMask = (std::uint64_t{1} << kCodeBits) - 1;
constexpr std::size_t kWindow = 3;
// Windows of a phrase whose counts are compared to find its rarest, spread over the phrase.
constexpr std::size_t kSampled = 4;
constexpr char32_t kDropped = std::numeric_limits<char32_t>::max();

// Code points beyond Unicode's range (never in a Python str) share the last value.
std::uint64_t code_key(char32_t c) {
  return std::min<std::uint64_t>(c, kCodeMask - 1) + 1;
}

std::uint64_t window_key(const char32_t* at, std::size_t available) {
  std::uint64_t key = 0;
  for (std::size_t i = 0; i < kWindow; ++i)
    key = (key << kCodeBits) | (i < available ? code_key(at[i]) : 0);
  return key;
}

// How many characters a and b share from their start (from_end: from their end).
std::size_t common_length(std::u32string_view a, std::u32string_view b, bool from_end) {
  const std::size_t n = std::min(a.size(), b.size());
  std::size_t k = 0;
  if (from_end) {
    while (k < n && a[a.size() - 1 - k] == b[b.size() - 1 - k]) ++k;
  } else {
    while (k < n && a[k] == b[k]) ++k;
  }
  return k;
}

std::uint64_t head_of(std::uint64_t key) {
  return key >> kCodeBits;
}

std::size_t head_hash(std::uint64_t head, std::size_t mask) {
  return static_cast<std::size_t>((head * 0x9E3779B97F4A7C15ull) >> 32) & mask;
}

// Sorts the windows by key, places ascending among equal keys (the order they come in): by
// radix, 11 bits a pass, so that the counts stay in the nearest cache.
void sort_windows(std::vector<std::uint64_t>& keys, std::vector<std::uint32_t>& places) {
  const std::size_t n = keys.size();
  if (n == 0) return;
  constexpr int kDigitBits = 11;
  constexpr std::size_t kDigits = std::size_t{1} << kDigitBits;
  std::vector<std::uint64_t> other_keys(n);
  std::vector<std::uint32_t> other_places(n);
  std::vector<std::uint32_t> counts(kDigits);
  for (int shift = 0; shift < 64; shift += kDigitBits) {
    std::fill(counts.begin(), counts.end(), 0);
    for (const std::uint64_t k : keys) ++counts[(k >> shift) & (kDigits - 1)];
    if (counts[(keys[0] >> shift) & (kDigits - 1)] == n) continue;  // one digit: nothing moves
    std::uint32_t at = 0;
    for (std::uint32_t& c : counts) at += std::exchange(c, at);
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t to = counts[(keys[i] >> shift) & (kDigits - 1)]++;
      other_keys[to] = keys[i];
      other_places[to] = places[i];
    }
    keys.swap(other_keys);
    places.swap(other_places);
  }
}

}  // namespace

PhraseIndex::PhraseIndex(std::u32string text) : text_(std::move(text)) {
  if (text_.size() > std::numeric_limits<std::uint32_t>::max())
    throw std::length_error("a text indexed for phrases has at most 2**32 - 1 characters");
  const std::size_t n = text_.size();
  keys_.resize(n);
  places_.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    keys_[i] = window_key(text_.data() + i, n - i);
    places_[i] = static_cast<std::uint32_t>(i);
  }
  sort_windows(keys_, places_);
  std::size_t distinct = 0;
  for (std::size_t i = 0; i < n; ++i)
    distinct += i == 0 || head_of(keys_[i]) != head_of(keys_[i - 1]);
  std::size_t capacity = 16;
  while (capacity < 2 * distinct) capacity *= 2;
  heads_.assign(capacity, HeadSlot{0, 0, 0});
  for (std::size_t i = 0; i < n;) {
    const std::uint64_t head = head_of(keys_[i]);
    std::size_t last = i + 1;
    while (last < n && head_of(keys_[last]) == head) ++last;
    std::size_t slot = head_hash(head, capacity - 1);
    while (heads_[slot].head != 0) slot = (slot + 1) & (capacity - 1);
    heads_[slot] = {head, static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(last)};
    i = last;
  }
}

PhraseIndex::Range PhraseIndex::places_between(std::uint64_t low, std::uint64_t high) const {
  const auto first = std::lower_bound(keys_.begin(), keys_.end(), low);
  const auto last = std::upper_bound(first, keys_.end(), high);
  return {static_cast<std::size_t>(first - keys_.begin()),
          static_cast<std::size_t>(last - keys_.begin())};
}

PhraseIndex::Range PhraseIndex::places_beginning(std::uint64_t head) const {
  const std::size_t mask = heads_.size() - 1;
  for (std::size_t slot = head_hash(head, mask);; slot = (slot + 1) & mask) {
    const HeadSlot& s = heads_[slot];
    if (s.head == head) return {s.first, s.last};
    if (s.head == 0) return {0, 0};
  }
}

std::vector<std::int64_t> PhraseIndex::find(std::u32string_view phrase) const {
  const std::u32string_view text(text_);
  const std::size_t m = phrase.size();
  std::vector<std::int64_t> starts;
  if (m == 0) {
    starts.resize(text.size() + 1);
    std::iota(starts.begin(), starts.end(), std::int64_t{0});
    return starts;
  }
  if (m > text.size()) return starts;
  // The window to look up and where it sits in the phrase: the whole phrase when it is shorter
  // than a window (every key it begins), else the rarest of a few windows spread over it.
  std::size_t offset = 0;
  Range range;
  if (m == 1) {
    const std::uint64_t low = window_key(phrase.data(), 1);
    range = places_between(low, low | ((std::uint64_t{1} << (2 * kCodeBits)) - 1));
  } else if (m == 2) {
    range = places_beginning(head_of(window_key(phrase.data(), 2)));
  } else {
    const std::size_t windows = m - kWindow + 1;
    const std::size_t sampled = std::min(windows, kSampled);
    for (std::size_t k = 0; k < sampled; ++k) {
      const std::size_t at = sampled == 1 ? 0 : k * (windows - 1) / (sampled - 1);
      const std::uint64_t key = window_key(phrase.data() + at, kWindow);
      Range found = places_beginning(head_of(key));
      if (found.first != found.second) {  // the third character, among those of the two
        const auto begin = keys_.begin() + static_cast<std::ptrdiff_t>(found.first);
        const auto end = keys_.begin() + static_cast<std::ptrdiff_t>(found.second);
        const auto same = std::equal_range(begin, end, key);
        found = {static_cast<std::size_t>(same.first - keys_.begin()),
                 static_cast<std::size_t>(same.second - keys_.begin())};
      }
      if (k == 0 || found.second - found.first < range.second - range.first) {
        range = found;
        offset = at;
      }
      if (range.first == range.second) return starts;  // a window the text lacks
    }
  }
  for (std::size_t i = range.first; i < range.second; ++i) {
    const std::size_t place = places_[i];
    if (place < offset || place - offset + m > text.size()) continue;
    const std::size_t start = place - offset;
    if (text.compare(start, m, phrase) == 0) starts.push_back(static_cast<std::int64_t>(start));
  }
  // A range of several keys is ordered by key first; one key's places are ascending already.
  if (m < kWindow) std::sort(starts.begin(), starts.end());
  return starts;
}

void FoldTable::set(char32_t from, std::optional<char32_t> to) {
  const char32_t into = to ? *to : kDropped;
  if (into == from) {
    changes_.erase(from);
  } else {
    changes_[from] = into;
  }
}

std::u32string FoldTable::apply(std::u32string_view text,
                                std::vector<std::int64_t>* positions) const {
  std::u32string out;
  out.reserve(text.size());
  if (positions) positions->clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (!changes_.empty()) {
      const auto it = changes_.find(c);
      if (it != changes_.end()) {
        if (it->second == kDropped) continue;
        c = it->second;
      }
    }
    out.push_back(c);
    if (positions) positions->push_back(static_cast<std::int64_t>(i));
  }
  return out;
}

FoldedText::FoldedText(std::u32string_view text, const FoldTable& table)
    : index_(table.apply(text, &positions_)) {}

std::vector<TextSpan> FoldedText::find(std::u32string_view phrase, const FoldTable& table) const {
  const std::u32string folded = table.apply(phrase);
  std::vector<TextSpan> spans;
  if (folded.empty()) return spans;
  for (const std::int64_t s : index_.find(folded)) {
    const auto last = static_cast<std::size_t>(s) + folded.size() - 1;
    spans.push_back({positions_[static_cast<std::size_t>(s)], positions_[last] + 1});
  }
  return spans;
}

Placement choose_occurrences(std::u32string_view text, std::vector<TextSpan> spans,
                             const PhraseChoice& choice) {
  Placement out;
  if (choice.section) {
    const TextSpan bounds = *choice.section;
    spans.erase(std::remove_if(spans.begin(), spans.end(),
                               [&](const TextSpan& s) {
                                 return s.start < bounds.start || s.end > bounds.end;
                               }),
                spans.end());
  }
  if (spans.empty()) return out;
  const std::u32string_view prefix(choice.prefix), suffix(choice.suffix);
  if (!prefix.empty() || !suffix.empty()) {
    // Each occurrence's surroundings against the prefix and suffix: how many characters agree
    // next to it, and whether all of what the text has there does.
    std::vector<TextSpan> agreeing, best;
    std::size_t best_score = 0;
    for (const TextSpan& s : spans) {
      const auto start = static_cast<std::size_t>(s.start), end = static_cast<std::size_t>(s.end);
      const std::size_t from = start - std::min(start, prefix.size());
      const std::u32string_view before = text.substr(from, start - from);
      const std::u32string_view after = end <= text.size() ? text.substr(end, suffix.size()) : U"";
      const std::size_t head = common_length(before, prefix, true);
      const std::size_t tail = common_length(after, suffix, false);
      if (head == before.size() && tail == after.size()) agreeing.push_back(s);
      if (best.empty() || head + tail > best_score) {
        best.clear();
        best_score = head + tail;
      }
      if (head + tail == best_score) best.push_back(s);
    }
    if (agreeing.empty()) out.closest_kept = best.size();
    spans = std::move(agreeing.empty() ? best : agreeing);
  }
  if (choice.all) {
    out.spans = std::move(spans);
  } else if (choice.occurrence > 0) {
    if (static_cast<std::size_t>(choice.occurrence) > spans.size()) return Placement{};
    out.spans = {spans[static_cast<std::size_t>(choice.occurrence - 1)]};
  } else if (spans.size() == 1) {
    out.spans = std::move(spans);
  } else {
    return Placement{};
  }
  out.placed = true;
  return out;
}

}  // namespace quorl::marks
