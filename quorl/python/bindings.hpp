// The binding entry of each group of the module's names. module.cpp calls them in the order the
// names are published. New binding code calls the core on native types, never the overridable
// methods (README.md in this folder says why the existing ones do).
#pragma once

#include <pybind11/pybind11.h>

namespace quorl::python {

namespace py = pybind11;

// logging, math, re, ABCMeta, abstractmethod, reduce, fitz, BeautifulSoup, SoupStrainer.
void bind_imports(py::module_& m);
// PatentConverter, html_format, get_patent_converter, pdf_marker.
void bind_facade(py::module_& m);
// PdfDocument.
void bind_pdf(py::module_& m);
// ImageInfoParser, ItemInfoParser, ContentParser, HtmlDocument.
void bind_html(py::module_& m);
// _add_highlight_mark, _add_num_mark, _add_flag_mark and the Marker family.
void bind_marks(py::module_& m);
// check_span ... get_span_text, PositionMapper.
void bind_align(py::module_& m);
// _text_under_quads, _glyphs_not_on_page: reading annotations back.
void bind_glyph_selection(py::module_& m);
// _find_rules, for the OCR of scanned pages.
void bind_page_image(py::module_& m);
// _realigned_opcodes: the converter's realignment of a section, for the diff view.
void bind_align_helpers(py::module_& m);

}  // namespace quorl::python
