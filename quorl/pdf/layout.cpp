// Page regions from the separator line.

// The arithmetic follows the order of the published coordinates, so the boxes are bit-for-bit
// the same.
#include "quorl/pdf/layout.hpp"

#include <algorithm>
#include <string>

#include "quorl/pdf/page_counts.hpp"
#include "quorl/pdf/vocabulary.hpp"

namespace quorl::pdf {

namespace {

constexpr double kPageInfoLeft = 297, kPageInfoRight = 525, kPageInfoHeight = 60;
constexpr Box kPageType = {160, 20, 480, 60};
constexpr Box kTextArea = {50, 55, 555, 770};
// How far a column reaches beyond the separator's ends and, each way, across the middle.
constexpr double kColumnOverhang = 2, kLeftColumnPastMiddle = 1, kRightColumnPastMiddle = 2;
// A rule is drawn as a line (a box with no height) or as a thin filled bar; it spans the text
// columns, which take most of the page's width.
constexpr double kRuleMaxThickness = 3, kRuleMinWidthShare = 0.4;
// How far above its own lower edge a rule may reach into the page-count line's box, where the
// line's descent and the rule's stroke meet.
constexpr double kRuleOverlap = 1;

}  // namespace

PageLayout layout_from_separator(const Box& separator) {
  const double left = separator.x0, right = separator.x1, y = separator.y1;
  const double middle = (left + right) / 2;
  const double bottom = kTextArea.y1;
  PageLayout layout;
  layout.page_info = {kPageInfoLeft, y - kPageInfoHeight, kPageInfoRight, y};
  layout.page_type = kPageType;
  layout.text_area = kTextArea;
  layout.abstract_columns = {
      Box{left - kColumnOverhang, y, middle + kLeftColumnPastMiddle, bottom},
      Box{middle - kRightColumnPastMiddle, y, right + kColumnOverhang, bottom},
  };
  return layout;
}

bool reads_page_counts(std::u32string_view line) {
  // Some producers space the box out or print the numbers in full-width digits.
  std::u32string folded;
  for (char32_t c : line) {
    if (kHeaderBlanks.find(c) != std::u32string_view::npos) continue;
    folded.push_back(c >= U'\uff10' && c <= U'\uff19' ? U'0' + (c - U'\uff10') : c);
  }
  const auto counts = read_page_counts(folded);
  return std::any_of(counts.begin(), counts.end(),
                     [](const auto& digits) { return digits && !digits->empty(); });
}

std::optional<std::size_t> find_separator(const std::vector<Box>& drawings,
                                          const std::vector<Box>& page_count_lines,
                                          double page_width) {
  for (const Box& line : page_count_lines) {
    const double center = (line.x0 + line.x1) / 2;
    std::optional<std::size_t> nearest;
    for (std::size_t i = 0; i < drawings.size(); ++i) {
      const Box& rule = drawings[i];
      const bool level = rule.y1 - rule.y0 <= kRuleMaxThickness;
      const bool across = rule.x1 - rule.x0 >= kRuleMinWidthShare * page_width &&
                          rule.x0 <= center && center <= rule.x1;
      // The page-count box is read in the band of kPageInfoHeight above the separator's edge.
      const bool under = rule.y1 >= line.y1 - kRuleOverlap && rule.y1 - line.y1 <= kPageInfoHeight;
      if (level && across && under && (!nearest || rule.y1 < drawings[*nearest].y1)) nearest = i;
    }
    if (nearest) return nearest;
  }
  return std::nullopt;
}

}  // namespace quorl::pdf
