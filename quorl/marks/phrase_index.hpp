// Mark records given by their text: every occurrence of many phrases in one text through one
// index of it, the same lookup up to blanks and full-/half-width forms (on a folded copy of the
// text that keeps the way back), and the choice among a phrase's occurrences a record asks for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quorl::marks {

// A stretch [start, end) of a text, in code points.
struct TextSpan {
  std::int64_t start;
  std::int64_t end;
  bool operator==(const TextSpan& o) const { return start == o.start && end == o.end; }
};

// The starts of every three code points of a text, sorted by those code points, so that the
// places of a phrase are among those of one of its three-character windows (its rarest) and
// those of a phrase of one or two characters are one range. The windows that begin with the same
// two characters are found through a hash table, the rest by bisection within them.
class PhraseIndex {
 public:
  explicit PhraseIndex(std::u32string text);

  const std::u32string& text() const { return text_; }

  // Every start of `phrase` in the text, ascending, overlapping occurrences included. Every
  // candidate is compared code point by code point, so a window that shares its key with
  // another (code points beyond Unicode's range share one) costs time, never a wrong place.
  // The empty phrase starts everywhere, at the text's end too, as str.find has it.
  std::vector<std::int64_t> find(std::u32string_view phrase) const;

 private:
  using Range = std::pair<std::size_t, std::size_t>;  // [first, last) of keys_ and places_

  // The windows whose keys lie in [low, high], by bisection.
  Range places_between(std::uint64_t low, std::uint64_t high) const;
  // The windows that begin with the two characters `head` stands for (a key without its last
  // character), through the hash table.
  Range places_beginning(std::uint64_t head) const;

  std::u32string text_;
  std::vector<std::uint64_t> keys_;    // every window's key, ascending
  std::vector<std::uint32_t> places_;  // the window's start, for each key; ascending among equals
  // Open addressing over the distinct heads of the windows (0: an empty slot; no head is 0).
  struct HeadSlot {
    std::uint64_t head;
    std::uint32_t first, last;
  };
  std::vector<HeadSlot> heads_;
};

// What characters become when a text is folded: dropped (blanks), or replaced by their
// one-character compatibility form. A character the table does not hold stays as it is.
class FoldTable {
 public:
  void set(char32_t from, std::optional<char32_t> to);

  // The folded text; `positions`, when given, receives for each folded character the position
  // in `text` it comes from.
  std::u32string apply(std::u32string_view text,
                       std::vector<std::int64_t>* positions = nullptr) const;

 private:
  std::unordered_map<char32_t, char32_t> changes_;  // kDropped where the character goes
};

// A text folded by a FoldTable, indexed, with the way back to the text's positions.
class FoldedText {
 public:
  FoldedText(std::u32string_view text, const FoldTable& table);

  const std::u32string& folded() const { return index_.text(); }
  const std::vector<std::int64_t>& positions() const { return positions_; }

  // The spans of the text whose folded form is the phrase's folded form (none for a phrase
  // that folds to nothing), in the order of the text.
  std::vector<TextSpan> find(std::u32string_view phrase, const FoldTable& table) const;

 private:
  std::vector<std::int64_t> positions_;  // filled while index_ is built, so declared first
  PhraseIndex index_;
};

// What a record asks for among its text's occurrences.
struct PhraseChoice {
  std::optional<TextSpan> section;  // only occurrences inside it
  std::u32string prefix, suffix;    // the text expected just before and just after
  std::int64_t occurrence = 0;      // the Nth (from 1) of those left; 0: not asked
  bool all = false;                 // every one left
};

struct Placement {
  // False when the record cannot be placed as asked (no occurrence, none in its section, fewer
  // than its occurrence, several and nothing chooses); the spans are then empty.
  bool placed = false;
  std::vector<TextSpan> spans;
  // When the prefix and suffix agree wholly with no occurrence's surroundings: how many
  // occurrences were kept as those whose surroundings agree longest (0 otherwise).
  std::size_t closest_kept = 0;
};

// The occurrences (`spans`, in the order of the text) a record marks, chosen as `choice` asks:
// section first, then prefix and suffix, then all, the Nth, or the only one.
Placement choose_occurrences(std::u32string_view text, std::vector<TextSpan> spans,
                             const PhraseChoice& choice);

}  // namespace quorl::marks
