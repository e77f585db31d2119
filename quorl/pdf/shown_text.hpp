// Offsets of the whole PDF text, which leaves some characters out, against a line's characters.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace quorl::pdf {

// The indexes into `line` of the characters not in `hidden`, ascending: entry k is the index in
// the line's characters of the k-th character the whole text shows for the line.
std::vector<std::size_t> shown_indexes(std::u32string_view line, std::u32string_view hidden);

}  // namespace quorl::pdf
