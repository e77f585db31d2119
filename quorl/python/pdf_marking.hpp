// PdfDocument's marking methods: drawing each mark by its marker and writing the marked file.
#pragma once

#include <pybind11/pybind11.h>

namespace quorl::python {

namespace py = pybind11;

// Adds make_mark and get_marked_file to the PdfDocument class, after its other methods.
void def_pdf_marking(const py::object& pdf_document_class);

}  // namespace quorl::python
