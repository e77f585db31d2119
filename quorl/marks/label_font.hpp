// Which label texts need a CJK-capable font.
#pragma once

#include <string_view>

namespace quorl::marks {

// The free-text annotation's default font (Helvetica, WinAnsi) covers Latin-1. Text beyond it,
// the Chinese of a content or flag label in the first place, must be drawn with a CJK font or it
// comes out as empty boxes.
bool label_needs_cjk_font(std::u32string_view text);

// The annotation language under which the PDF library draws such labels with its Simplified
// Chinese font (Adobe-GB1), which also holds Latin, Greek and Cyrillic letters.
inline constexpr const char* kCjkLabelLanguage = "zh-Hans";

}  // namespace quorl::marks
