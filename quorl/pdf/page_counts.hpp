// The page counts of the first page's page-count box, such as "权利要求书2页说明书10页附图3页".
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace quorl::pdf {

// For each count word of vocabulary.hpp, in its order: the ASCII digits between the word and
// 页 at the word's last such occurrence on the box text's first line (empty when 页 follows the
// word directly), or nothing when the line has none. The digits are left as text, so the caller
// converts them with its own integer limits.
std::array<std::optional<std::u32string_view>, 4> read_page_counts(std::u32string_view box_text);

}  // namespace quorl::pdf
