// HTML whitespace normalisation in one pass.
#include "quorl/html/whitespace.hpp"

namespace quorl::html {

namespace {

bool is_space(char32_t c) {
  return c == U' ' || c == U'\t' || c == U'\r' || c == U'\n';
}

}  // namespace

std::u32string normalise_whitespace(std::u32string_view html) {
  std::u32string out;
  out.reserve(html.size());
  const std::size_t n = html.size();
  std::size_t i = 0;
  while (i < n) {
    if (!is_space(html[i])) {
      out.push_back(html[i++]);
      continue;
    }
    std::size_t j = i;
    while (j < n && is_space(html[j])) ++j;
    // After the first substitution a run is a single blank between its neighbours, so the other
    // two only look at the characters on either side of the run.
    const bool after_tag = !out.empty() && out.back() == U'>';
    const bool before_tag = j < n && html[j] == U'<';
    if (!after_tag && !before_tag) out.push_back(U' ');
    i = j;
  }
  return out;
}

}  // namespace quorl::html
