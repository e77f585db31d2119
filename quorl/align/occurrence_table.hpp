// Where each code point occurs in a text: the ascending positions of every distinct character.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "quorl/align/sequence_matcher.hpp"

namespace quorl::align {

class OccurrenceTable {
 public:
  explicit OccurrenceTable(Text text);

  // The positions of `c` in the text, ascending, as [first, last).
  struct Positions {
    const std::size_t* first;
    const std::size_t* last;
  };
  Positions positions(char32_t c) const;

 private:
  // Open addressing from code point to character number; kEmpty marks a free slot.
  static constexpr std::uint32_t kEmpty = 0xffffffffu;
  std::size_t slot_of(char32_t c) const;

  std::vector<char32_t> keys_;
  std::vector<std::uint32_t> ids_;
  std::size_t mask_ = 0;
  std::vector<std::size_t> starts_;     // character number -> first index into positions_
  std::vector<std::size_t> positions_;  // grouped by character, ascending within a group
};

}  // namespace quorl::align
