// Character occurrence lists, built by counting sort over a hashed character numbering.
#include "quorl/align/occurrence_table.hpp"

namespace quorl::align {

std::size_t OccurrenceTable::slot_of(char32_t c) const {
  std::size_t s =
      static_cast<std::size_t>((std::uint64_t{c} * 0x9e3779b97f4a7c15ULL) >> 32) & mask_;
  while (ids_[s] != kEmpty && keys_[s] != c) s = (s + 1) & mask_;
  return s;
}

OccurrenceTable::OccurrenceTable(Text text) {
  // At most text.size() distinct characters; keep the table at most half full.
  std::size_t capacity = 16;
  while (capacity < 2 * text.size()) capacity *= 2;
  mask_ = capacity - 1;
  keys_.assign(capacity, 0);
  ids_.assign(capacity, kEmpty);

  std::vector<std::uint32_t> char_ids(text.size());
  std::vector<std::size_t> counts;
  for (std::size_t p = 0; p < text.size(); ++p) {
    std::size_t s = slot_of(text[p]);
    if (ids_[s] == kEmpty) {
      keys_[s] = text[p];
      ids_[s] = static_cast<std::uint32_t>(counts.size());
      counts.push_back(0);
    }
    char_ids[p] = ids_[s];
    ++counts[ids_[s]];
  }
  starts_.assign(counts.size() + 1, 0);
  for (std::size_t k = 0; k < counts.size(); ++k) starts_[k + 1] = starts_[k] + counts[k];
  positions_.resize(text.size());
  std::vector<std::size_t> fill(starts_.begin(), starts_.end() - 1);
  for (std::size_t p = 0; p < text.size(); ++p) positions_[fill[char_ids[p]]++] = p;
}

OccurrenceTable::Positions OccurrenceTable::positions(char32_t c) const {
  std::size_t s = slot_of(c);
  if (ids_[s] == kEmpty) return {nullptr, nullptr};
  const std::size_t* base = positions_.data();
  return {base + starts_[ids_[s]], base + starts_[ids_[s] + 1]};
}

}  // namespace quorl::align
