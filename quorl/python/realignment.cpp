// The converter's realignment of a section, over str objects.
#include "quorl/python/realignment.hpp"

#include <string>

#include "quorl/align/anchored_alignment.hpp"

namespace quorl::python {

std::optional<std::vector<align::Match>> realigned_section(
    py::handle a_text, py::handle b_text, const std::vector<align::SpanPair>& current) {
  for (py::handle text : {a_text, b_text}) {
    if (!PyUnicode_Check(text.ptr())) {
      throw py::type_error(std::string("a section's text must be a str, not ") +
                           Py_TYPE(text.ptr())->tp_name);
    }
  }
  std::size_t aligned = 0;
  for (const align::SpanPair& p : current) {
    if (p.a.end > p.a.start) aligned += static_cast<std::size_t>(p.a.end - p.a.start);
  }
  const auto a_length = static_cast<std::size_t>(PyUnicode_GET_LENGTH(a_text.ptr()));
  const auto b_length = static_cast<std::size_t>(PyUnicode_GET_LENGTH(b_text.ptr()));
  if (align::alignment_surely_sound(aligned, a_length, b_length)) return std::nullopt;
  const std::size_t bound = with_code_points(a_text.ptr(), [&](auto a) {
    return with_code_points(b_text.ptr(), [&](auto b) { return align::alignment_bound(a, b); });
  });
  if (!align::alignment_falls_short(aligned, bound)) return std::nullopt;
  const std::u32string a = to_u32(a_text), b = to_u32(b_text);
  py::gil_scoped_release unlocked;
  return align::anchored_blocks_keeping_more(a, b, aligned);
}

}  // namespace quorl::python
