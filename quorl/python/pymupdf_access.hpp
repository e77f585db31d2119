// Access to PyMuPDF objects for the binding files: pages by number and rectangles as core Boxes.
#pragma once

#include <pybind11/pybind11.h>

#include "quorl/pdf/box.hpp"

namespace quorl::python {

namespace py = pybind11;

// `doc[number]`. PyMuPDF counts a negative page number up by the page count in a loop, so it wraps
// a number below -page_count around to some page, and a huge negative one takes forever; such
// numbers are refused as a list would refuse them.
py::object page_of(const py::object& doc, const py::handle& number);

// The module's `fitz.Rect`, looked up at call time.
py::object rect_class();

py::object make_rect(const pdf::Box& box);

// A rectangle through the attributes x0, y0, x1, y1 that a PyMuPDF Rect has.
pdf::Box box_from_attributes(py::handle rect);

// A rectangle through indexing: left, top, right, bottom.
pdf::Box box_from_items(py::handle rect);

// The coordinates of `fitz.Rect(bbox)`: read directly from a plain 4-tuple or list of numbers,
// anything else goes through PyMuPDF's own constructor.
pdf::Box box_of(py::handle bbox);

}  // namespace quorl::python
