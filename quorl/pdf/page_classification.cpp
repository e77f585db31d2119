// A page's kind, read from the words of its header.
#include "quorl/pdf/page_classification.hpp"

#include <string>

#include "quorl/pdf/vocabulary.hpp"

namespace quorl::pdf {

const char* classify_header(std::u32string_view header) {
  // Headers are spaced out with blanks of several widths; the words are looked for without them.
  std::u32string squeezed;
  squeezed.reserve(header.size());
  for (char32_t c : header) {
    if (kHeaderBlanks.find(c) == std::u32string_view::npos) squeezed.push_back(c);
  }
  for (const HeaderWord& entry : kHeaderWords) {
    if (squeezed.find(entry.word) != std::u32string::npos) return entry.kind;
  }
  return nullptr;
}

}  // namespace quorl::pdf
