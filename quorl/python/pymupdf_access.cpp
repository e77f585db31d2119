// The bindings' access to PyMuPDF: pages by number, rectangles as Boxes, extraction dicts.
#include "quorl/python/pymupdf_access.hpp"

#include <string>

#include "quorl/python/convert.hpp"
#include "quorl/python/pyclass.hpp"

namespace quorl::python {

namespace {

bool is_plain_number(PyObject* v) {
  return PyFloat_CheckExact(v) || PyLong_CheckExact(v);
}

}  // namespace

py::object page_of(const py::object& doc, const py::handle& number) {
  if (PyLong_Check(number.ptr())) {
    int overflow = 0;
    const long long n = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
    if (n == -1 && PyErr_Occurred()) throw py::error_already_set();
    if (overflow < 0 || n < 0) {
      const Py_ssize_t pages = PyObject_Length(doc.ptr());
      if (pages < 0) {
        PyErr_Clear();  // no length to check against; the document decides
      } else if (overflow < 0 || n < -static_cast<long long>(pages)) {
        throw py::index_error("page " + py::str(number).cast<std::string>() + " not in document");
      }
    }
  }
  return doc[number];
}

DictKeys dict_keys;

void init_dict_keys() {
  auto intern = [](const char* s) {
    PyObject* k = PyUnicode_InternFromString(s);
    if (!k) throw py::error_already_set();
    return k;
  };
  dict_keys = {intern("bbox"),  intern("spans"),  intern("chars"),   intern("c"),    intern("type"),
               intern("lines"), intern("blocks"), intern("text"),    intern("page"), intern("wmod"),
               intern("dir"),   intern("pages"),  intern("margins"), intern("rect")};
}

bool has_type(py::handle block, long value) {
  py::object type = get(block, dict_keys.type);
  if (PyLong_CheckExact(type.ptr())) {
    int overflow = 0;
    const long v = PyLong_AsLongAndOverflow(type.ptr(), &overflow);
    return overflow == 0 && v == value;
  }
  const int equal = PyObject_RichCompareBool(type.ptr(), py::int_(value).ptr(), Py_EQ);
  if (equal < 0) throw py::error_already_set();
  return equal == 1;
}

py::object rect_class() {
  return module_global("fitz").attr("Rect");
}

py::object make_rect(const pdf::Box& box) {
  return rect_class()(box.x0, box.y0, box.x1, box.y1);
}

pdf::Box box_from_attributes(py::handle rect) {
  return {to_double(rect.attr("x0")), to_double(rect.attr("y0")), to_double(rect.attr("x1")),
          to_double(rect.attr("y1"))};
}

pdf::Box box_from_items(py::handle rect) {
  return {to_double(item(rect, 0)), to_double(item(rect, 1)), to_double(item(rect, 2)),
          to_double(item(rect, 3))};
}

pdf::Box box_of_any(py::handle bbox) {
  PyObject* b = bbox.ptr();
  if ((PyTuple_CheckExact(b) && PyTuple_GET_SIZE(b) == 4) ||
      (PyList_CheckExact(b) && PyList_GET_SIZE(b) == 4)) {
    PyObject* v[4];
    for (Py_ssize_t i = 0; i < 4; ++i) {
      v[i] = PyTuple_CheckExact(b) ? PyTuple_GET_ITEM(b, i) : PyList_GET_ITEM(b, i);
    }
    if (is_plain_number(v[0]) && is_plain_number(v[1]) && is_plain_number(v[2]) &&
        is_plain_number(v[3])) {
      return {to_double(v[0]), to_double(v[1]), to_double(v[2]), to_double(v[3])};
    }
  }
  return box_from_attributes(rect_class()(bbox));
}

}  // namespace quorl::python
