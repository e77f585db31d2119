// Whitespace normalisation of an HTML text.
#pragma once

#include <string>
#include <string_view>

namespace quorl::html {

// Every run of blanks, tabs, carriage returns and line feeds becomes one blank, and such a blank
// right after a ">" or right before a "<" is dropped: the result of the substitutions
// "[ \t\r\n]+" -> " ", then ">[ \t\r\n]+" -> ">", then "[ \t\r\n]+<" -> "<" applied in turn.
std::u32string normalise_whitespace(std::u32string_view html);

}  // namespace quorl::html
