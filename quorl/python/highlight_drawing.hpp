// Highlights drawn through MuPDF's low-level calls directly, in the order PyMuPDF's
// Page.add_highlight_annot, Annot.set_info and Annot.update make them. Those methods spend about
// a millisecond per highlight in their own Python (wrapper objects, properties read and checks
// repeated on every call); the calls that change the document cost a tenth of that.
#pragma once

#include <pybind11/pybind11.h>

#include <functional>
#include <string>

namespace quorl::python {

namespace py = pybind11;

// A loaded PDF page as MuPDF's low-level calls take it, read once for all highlights on it.
struct PdfPageHandles {
  py::object page;              // the fitz.Page
  py::object pdf_page_wrapper;  // its mupdf.PdfPage
  py::object wrappers;          // the page dictionary's and the document's mupdf wrappers
  py::object pdf_page, page_obj, pdf_doc;  // their plain pointers
  py::object pdf_doc_fields;               // the pdf_document struct, for its flags
  long long xref = 0;                      // the page dictionary's object number
};

// The handles of `page`, a fitz.Page of a PDF.
PdfPageHandles pdf_page_handles(const py::object& page);

// Gives a new annotation (plain pointers to it and its dictionary) its /NM name.
using AnnotNamer = std::function<void(const py::object& annot, const py::object& annot_obj)>;

// Puts `name` as the /NM of an annotation drawn by draw_highlight_directly on `page`, as
// PyMuPDF's JM_add_annot_id does.
void name_annotation(const py::object& annot_obj, const std::string& name,
                     const PdfPageHandles& page);

// Draws what page.add_highlight_annot(rect), annot.set_info(info) and annot.update() draw, and
// returns true; returns false, having drawn nothing, where those methods are to be called
// instead: when this PyMuPDF does not draw a highlight the way this function does (checked once
// per process, see direct_highlights_checked), when the page is no plain fitz.Page or the
// methods have been replaced, and for a rectangle or info of another form than a fitz.Rect or 4
// numbers and a dict of strings (PyMuPDF decides about anything else, and raises its errors).
bool draw_highlight_directly(const PdfPageHandles& page, const py::handle& rect,
                             const py::handle& info, const AnnotNamer& name);

// Whether direct drawing writes what PyMuPDF's methods write: a highlight is drawn both ways into
// scratch documents (a plain page, and a turned page with a cropbox offset, non-ASCII info) and
// the written files compared. Checked on the first use in the process, or again when `again`.
bool direct_highlights_checked(bool again = false);

// _direct_highlights(check_again=False) -> bool: the check above, for tests and diagnostics.
void bind_highlight_drawing(py::module_& m);

}  // namespace quorl::python
