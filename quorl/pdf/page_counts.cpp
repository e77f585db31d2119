// The page counts of the page-count box, read as `.*word([0-9]*)页` matches them.
#include "quorl/pdf/page_counts.hpp"

#include "quorl/pdf/vocabulary.hpp"

namespace quorl::pdf {

namespace {

bool is_ascii_digit(char32_t c) {
  return c >= U'0' && c <= U'9';
}

// The digits of the last occurrence of word, digits, 页 in `line`. A leading `.*` is greedy, so
// the last occurrence wins; the digits run as far as they go, and only 页 may follow them.
std::optional<std::u32string_view> count_of(std::u32string_view line, std::u32string_view word) {
  std::optional<std::u32string_view> found;
  for (std::size_t at = line.find(word); at != std::u32string_view::npos;
       at = line.find(word, at + 1)) {
    const std::size_t digits = at + word.size();
    std::size_t end = digits;
    while (end < line.size() && is_ascii_digit(line[end])) ++end;
    if (end < line.size() && line[end] == kPagesWord) found = line.substr(digits, end - digits);
  }
  return found;
}

}  // namespace

std::array<std::optional<std::u32string_view>, 4> read_page_counts(std::u32string_view box_text) {
  // `.` stops at a newline, so only the first line can hold a match.
  const std::u32string_view first_line = box_text.substr(0, box_text.find(U'\n'));
  std::array<std::optional<std::u32string_view>, 4> counts;
  for (std::size_t k = 0; k < kCountWords.size(); ++k) {
    counts[k] = count_of(first_line, kCountWords[k]);
  }
  return counts;
}

}  // namespace quorl::pdf
