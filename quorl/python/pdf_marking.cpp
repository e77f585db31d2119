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
        return self.attr("doc").attr("write")();
      },
      py::arg("marklist"), method_doc({"获取标注pdf文件"}).c_str());
}

}  // namespace quorl::python
