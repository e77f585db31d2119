// PdfDocument.make_mark and get_marked_file: marks drawn on the open document, which is then
// written out as bytes.
#include "quorl/python/pdf_marking.hpp"

#include <string>

#include "quorl/marks/vocabulary.hpp"
#include "quorl/python/convert.hpp"
#include "quorl/python/diagnostics.hpp"
#include "quorl/python/drawing_session.hpp"
#include "quorl/python/pyclass.hpp"

namespace quorl::python {

namespace {

// The marker kind of a mark: the type with the equal type replaced by the one that draws it.
py::object marker_kind(const py::object& type) {
  if (!PyUnicode_Check(type.ptr())) {
    throw py::type_error(std::string("mark type must be a str, not ") +
                         Py_TYPE(type.ptr())->tp_name);
  }
  return type.attr("replace")(marks::kEqualMarkType, marks::kEqualDrawnAs);
}

py::object make_mark(const py::object& self, const py::object& mark) {
  // Printed before anything can fail, so every mark tried leaves its line.
  print_line(py::make_tuple("markinfo:", mark));
  py::object marktype = marker_kind(mark[py::str("type")]);
  py::object pdflines = mark[py::str("pdflines")];
  if (PySequence_Check(pdflines.ptr())) {
    const Py_ssize_t count = PySequence_Size(pdflines.ptr());
    // Without a usable length the list is simply indexed below, as Python code would.
    if (count < 0) PyErr_Clear();
    if (count == 0) throw py::index_error("mark has no pdflines: it covers no PDF text");
  }
  py::object first = item(pdflines, 0);
  py::object last = item(pdflines, -1);
  py::tuple start_pos = py::make_tuple(item(first, 0), item(item(first, 1), 0));
  py::tuple end_pos = py::make_tuple(item(last, 0), item(item(last, 1), 1));
  py::object position_lines = self.attr("getcontentposition")(start_pos, end_pos);
  py::object position_info = mark.attr("get")("info", "");
  py::object marker_class = self.attr("markerdict")[marktype];
  py::object marker =
      marker_class(mark[py::str("title")], mark[py::str("content")], position_lines, position_info);
  marker.attr("addmarker")(self.attr("doc"));
  return py::none();
}

// True where `doc.<name>` is PyMuPDF's own Document method.
bool library_method(const py::object& doc, const py::object& document_class, const char* name,
                    const py::object& library) {
  py::object bound = doc.attr(name);
  if (!py::hasattr(bound, "__func__")) return false;
  py::object method = document_class.attr(name);
  return py::object(bound.attr("__func__")).is(method) &&
         py::str(method.attr("__module__")).equal(library.attr("__name__"));
}

// The bytes doc.write() returns. PyMuPDF writes into a Python stream through one call per piece,
// several hundred thousand for a document with many annotations (over a second), and into a
// file by MuPDF alone: a plain PyMuPDF document is saved to a temporary file and read back, the
// same bytes in a tenth of the time. Where that fails, write() is called, and says why.
py::object written(const py::object& doc) {
  py::object fitz = module_global("fitz");
  py::object document_class = fitz.attr("Document");
  if (Py_TYPE(doc.ptr()) != reinterpret_cast<PyTypeObject*>(document_class.ptr()) ||
      !library_method(doc, document_class, "write", fitz) ||
      !library_method(doc, document_class, "save", fitz)) {
    return doc.attr("write")();
  }
  py::object os = py::module_::import("os");
  py::tuple made;
  try {
    made = py::module_::import("tempfile")
               .attr("mkstemp")(py::arg("prefix") = "quorl-", py::arg("suffix") = ".pdf");
    os.attr("close")(made[0]);
  } catch (py::error_already_set&) {
    return doc.attr("write")();
  }
  py::object path = made[1];
  py::object data;
  try {
    doc.attr("save")(path);
    data = py::module_::import("pathlib").attr("Path")(path).attr("read_bytes")();
  } catch (py::error_already_set&) {
  }
  try {
    os.attr("unlink")(path);
  } catch (py::error_already_set&) {
  }
  return data ? data : doc.attr("write")();
}

}  // namespace

void def_pdf_marking(const py::object& pdf_document_class) {
  def_method(
      pdf_document_class, "make_mark",
      [](py::object self, py::object mark) -> py::object { return make_mark(self, mark); },
      py::arg("mark"), method_doc({"标注内容"}).c_str());

  def_method(
      pdf_document_class, "get_marked_file",
      [](py::object self, py::object marklist) -> py::object {
        py::object make = self.attr("make_mark");
        {
          // Closed before writing: it gives the pages their annotations back.
          DrawingSession session(self.attr("doc"));
          for (py::handle mark : py::iter(marklist)) make(mark);
        }
        return written(self.attr("doc"));
      },
      py::arg("marklist"), method_doc({"获取标注pdf文件"}).c_str());
}

}  // namespace quorl::python
