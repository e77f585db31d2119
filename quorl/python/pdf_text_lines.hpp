// The adapters between PyMuPDF's line dicts and the core's text lines, one each way.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <vector>

#include "quorl/pdf/line_ranges.hpp"
#include "quorl/pdf/text_line.hpp"

namespace quorl::python {

namespace py = pybind11;

// The raw line an image block is read as: one span spelling the image placeholder, every
// character carrying the block's box.
py::dict image_line(const py::object& bbox);

// The text line of one band of `page`: its raw lines (PyMuPDF's rawdict lines, left to right)
// read into glyphs, each character dict checked for a one-character str 'c' and a 'bbox'.
// PyMuPDF's own character dicts are appended to `char_dicts`, one per glyph, for the record.
pdf::TextLine read_text_line(std::int64_t page, const std::vector<py::handle>& band,
                             const pdf::Extent& range, py::list& char_dicts);

// The published record of a line: wmod, dir, page, bbox, chars (`char_dicts`, the dicts
// read_text_line collected) and text.
py::dict line_record(const pdf::TextLine& line, const py::list& char_dicts);

}  // namespace quorl::python
