// A page's raw-dict extraction without the encoding of its images, which only their boxes are
// read for.
#pragma once

#include <pybind11/pybind11.h>

namespace quorl::python {

namespace py = pybind11;

// page.get_text('rawdict') as the document is built from it: the text blocks exactly as PyMuPDF
// gives them, and each image block PyMuPDF would give reduced to its type and bbox.
//
// PyMuPDF's raw dict carries every image of the page encoded anew (as PNG for most patent
// drawings), a fifth of the extraction's work on a patent; the document reads nothing of an image
// block but its box. The image blocks are unlinked from the text page for the extraction and
// linked back before the page is freed, which keeps the text blocks as they are (an image block
// separates the text around it) and lets the text page release its images. A page that is not
// PyMuPDF's own, or a PyMuPDF whose text page is not laid out as expected, is extracted by
// get_text as before.
py::object raw_text_of_page(const py::object& page);

// quorl._raw_text_of_page, for the tests that hold it to PyMuPDF's own raw dict.
void bind_raw_text_page(py::module_& m);

}  // namespace quorl::python
