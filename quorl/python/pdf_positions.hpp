// PdfDocument's text positions: whole-text offsets in a line, and addrect's rectangles.
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <vector>

namespace quorl::python {

namespace py = pybind11;

// The characters of a line's text that the whole text shows: those not in `fix`.
std::vector<std::size_t> shown_of(const py::object& text, const py::object& fix);

// shown[offset] when len(shown) > offset, else `fallback`, with Python's list indexing.
py::object shown_index(const std::vector<std::size_t>& shown, const py::object& offset,
                       const py::object& fallback);

// Logs `lines` with the failure's traceback and raises Exception('Reduce Error') in its place,
// chained to it as Python's raise inside an except block would.
[[noreturn]] void raise_reduce_error(const py::object& lines, py::error_already_set& failure);

// fitz.Rect of the union of the entries' 'bbox', folded as PyMuPDF's `|` folds them; TypeError
// as reduce() gives for no entries.
py::object union_of_boxes(const py::object& lines);

}  // namespace quorl::python
