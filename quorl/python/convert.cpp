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

void append_code_points(std::u32string& out, PyObject* s) {
#if PY_VERSION_HEX < 0x030C0000
  if (PyUnicode_READY(s) < 0) throw py::error_already_set();
#endif
  const Py_ssize_t n = PyUnicode_GET_LENGTH(s);
  const std::size_t at = out.size();
  out.resize(at + static_cast<std::size_t>(n));
  char32_t* dst = out.data() + at;
  // One loop per storage width, so each is a plain widening copy.
  switch (PyUnicode_KIND(s)) {
    case PyUnicode_1BYTE_KIND: {
      const Py_UCS1* src = PyUnicode_1BYTE_DATA(s);
      for (Py_ssize_t i = 0; i < n; ++i) dst[i] = src[i];
      break;
    }
    case PyUnicode_2BYTE_KIND: {
      const Py_UCS2* src = PyUnicode_2BYTE_DATA(s);
      for (Py_ssize_t i = 0; i < n; ++i) dst[i] = src[i];
      break;
    }
    default: {
      const Py_UCS4* src = PyUnicode_4BYTE_DATA(s);
      for (Py_ssize_t i = 0; i < n; ++i) dst[i] = src[i];
      break;
    }
  }
}

std::u32string to_u32(py::handle str, const char* what) {
  if (!PyUnicode_Check(str.ptr())) {
    const std::string type = Py_TYPE(str.ptr())->tp_name;
    throw py::type_error(what ? std::string(what) + " must be str, not " + type
                              : "expected str, got " + type);
  }
  std::u32string out;
  append_code_points(out, str.ptr());
  return out;
}

py::str from_u32(std::u32string_view text) {
  PyObject* s = PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, text.data(),
                                          static_cast<Py_ssize_t>(text.size()));
  if (!s) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(s);
}

bool truth_of(py::handle obj) {
  const int r = PyObject_IsTrue(obj.ptr());
  if (r < 0) throw py::error_already_set();
  return r == 1;
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

py::list line_pieces_list(const std::vector<align::LinePiece>& pieces) {
  py::list out(pieces.size());
  for (std::size_t k = 0; k < pieces.size(); ++k) {
    py::list within(2);
    within[0] = py::int_(pieces[k].from);
    within[1] = py::int_(pieces[k].to);
    out[k] = py::make_tuple(pieces[k].line, within);
  }
  return out;
}

}  // namespace quorl::python
