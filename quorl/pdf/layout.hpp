// The regions of a patent publication's pages, measured from the first page's separator line.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "quorl/pdf/box.hpp"

namespace quorl::pdf {

// Without a page-count line to find it by, the separator is taken to be the first page's second
// vector drawing, the first being the emblem or the rule under the header.
inline constexpr int kSeparatorDrawing = 1;

struct PageLayout {
  // The page-count box: above the separator, on the right.
  Box page_info;
  // The header of every page, which names its kind.
  Box page_type;
  // The text area of every page but the first.
  Box text_area;
  // The first page's text below the separator, in two columns split at its middle; each column
  // reaches a little past the middle, so a line that straddles it is in one of them.
  std::array<Box, 2> abstract_columns;
};

// The regions of a document whose separator is `separator`: the page-count box and the columns
// follow the separator, the header and the text area are fixed.
PageLayout layout_from_separator(const Box& separator);

// Whether a line of the first page's text is the page-count box, or its first or second line: a
// count word, its number of pages (ASCII or full-width digits) and 页, such as
// "权利要求书2页 说明书10页", blanks of any width dropped.
bool reads_page_counts(std::u32string_view line);

// Which of the first page's vector drawings (their boxes, in the order they are drawn) is the
// separator, given the boxes of the page's lines that reads_page_counts, top to bottom: the
// level rule across the page that lies nearest below such a line, within the band above the
// separator where the page-count box is printed. Emblems, frames, the rule under the header and
// a rule under the columns come in any order and number around it. Nothing when no line has
// such a rule below it.
std::optional<std::size_t> find_separator(const std::vector<Box>& drawings,
                                          const std::vector<Box>& page_count_lines,
                                          double page_width);

}  // namespace quorl::pdf
