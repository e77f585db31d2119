// Checked conversions between Python objects and the core's native types.
#include "quorl/python/convert.hpp"

namespace quorl::python {

std::int64_t to_int64(py::handle obj) {
  py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(obj.ptr()));
  if (!index) throw py::error_already_set();
  long long value = PyLong_AsLongLong(index.ptr());
  if (value == -1 && PyErr_Occurred()) throw py::error_already_set();
  return value;
}

std::u32string to_u32(py::handle str) {
  if (!PyUnicode_Check(str.ptr())) {
    throw py::type_error(std::string("expected str, got ") + Py_TYPE(str.ptr())->tp_name);
  }
  PyObject* s = str.ptr();
  const Py_ssize_t n = PyUnicode_GET_LENGTH(s);
  const int kind = PyUnicode_KIND(s);
  const void* data = PyUnicode_DATA(s);
  std::u32string out(static_cast<std::size_t>(n), U'\0');
  for (Py_ssize_t i = 0; i < n; ++i) {
    out[static_cast<std::size_t>(i)] = static_cast<char32_t>(PyUnicode_READ(kind, data, i));
  }
  return out;
}

py::str from_u32(std::u32string_view text) {
  PyObject* s = PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, text.data(),
                                          static_cast<Py_ssize_t>(text.size()));
  if (!s) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(s);
}

std::vector<std::int64_t> to_int64_list(py::handle iterable) {
  std::vector<std::int64_t> out;
  for (py::handle v : py::iter(iterable)) out.push_back(to_int64(v));
  return out;
}

py::object item(py::handle obj, Py_ssize_t index) {
  PyObject* key = PyLong_FromSsize_t(index);
  if (!key) throw py::error_already_set();
  PyObject* value = PyObject_GetItem(obj.ptr(), key);
  Py_DECREF(key);
  if (!value) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(value);
}

std::vector<align::SpanPair> read_span_pairs(py::handle spandiff) {
  std::vector<align::SpanPair> pairs;
  for (py::handle p : py::iter(spandiff)) {
    py::object a = item(p, 0), b = item(p, 1);
    pairs.push_back({{to_int64(item(a, 0)), to_int64(item(a, 1))},
                     {to_int64(item(b, 0)), to_int64(item(b, 1))}});
  }
  return pairs;
}

}  // namespace quorl::python
