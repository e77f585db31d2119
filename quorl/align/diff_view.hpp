// The HTML difference view of an alignment: both texts in opcode order, each stretch in a span
// whose class names its kind.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorl::align {

// An opcode as the view reads it; `kOther` stands for a tag the view does not know, which
// contributes nothing. Bounds follow Python's slice rules (negative counts from the end, out of
// range is clipped) since they may come from a caller's list.
struct ViewOp {
  enum Kind { kEqual, kDelete, kInsert, kReplace, kOther } kind;
  std::int64_t i1, i2, j1, j2;
};

// The style header followed by one span per stretch. Characters special in HTML are escaped so
// that a text holding markup shows as text; line breaks become a pilcrow, <br> and an indent.
std::u32string render_diff_view(std::u32string_view a_text, std::u32string_view b_text,
                                const std::vector<ViewOp>& ops);

}  // namespace quorl::align
