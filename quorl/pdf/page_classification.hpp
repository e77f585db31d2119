// A page's kind, read from the words of its header.
#pragma once

#include <string_view>

namespace quorl::pdf {

// The kind (one of the page kinds of vocabulary.hpp) whose header word the header text holds
// once its blanks are dropped, the words tried in their fixed order; nullptr when it holds none.
const char* classify_header(std::u32string_view header);

}  // namespace quorl::pdf
