// Drawing many marks onto one document at a cost linear in the marks: while a drawing session is
// open on a document, its pages stay loaded and the annotation names on each page are known.
#pragma once

#include <pybind11/pybind11.h>

namespace quorl::python {

namespace py = pybind11;

// Opens a drawing session on `doc` (a PyMuPDF Document) for its lifetime; a session already open
// on the same document is shared, so nested scopes see one set of pages and names.
//
// Without a session, each mark loads its page again (MuPDF then reads every annotation already
// on it), and PyMuPDF names each new annotation by listing the page's names and trying
// "fitz-A0", "fitz-A1", ... against that list: both grow with the annotations on the page, so
// the thousandth mark on a page costs a thousand times the first. In a session, a page is loaded
// once and its names are read once, then kept up to date; each annotation gets the very name
// PyMuPDF would give it, so the written PDF is the same.
//
// Highlights drawn on a session's page go through MuPDF's low-level calls directly
// (highlight_drawing.hpp): the same annotation objects at a fraction of the cost of PyMuPDF's
// methods.
class DrawingSession {
 public:
  explicit DrawingSession(const py::object& doc);
  ~DrawingSession();
  DrawingSession(const DrawingSession&) = delete;
  DrawingSession& operator=(const DrawingSession&) = delete;

  struct State;

 private:
  State* state_;  // null when an enclosing session on the same document is shared
};

// Page `number` of `doc`: the session's loaded page when a session is open on `doc` and `number`
// is a page number of it, otherwise page_of(doc, number).
py::object marking_page(const py::object& doc, const py::handle& number);

// Draws a highlight as _add_highlight_mark(page, rect, info) does, through MuPDF's calls directly
// (see highlight_drawing.hpp), when `page` is the page a session has loaded; returns false,
// having drawn nothing, where PyMuPDF's methods are to draw it.
bool draw_session_highlight(const py::object& page, const py::handle& rect, const py::handle& info);

// _drawing_session(doc, draw): calls draw() with a session open on doc, returns its result.
// While a session is open, a page's annotations as PyMuPDF reads or writes them may be only those
// drawn lately: the document is written, and its annotations read, after the session.
void bind_drawing_session(py::module_& m);

}  // namespace quorl::python
