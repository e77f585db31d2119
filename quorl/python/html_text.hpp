// Python str <-> code points for the HTML model, reading a str's storage directly.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <string_view>

namespace quorl::python {

namespace py = pybind11;

// Appends the code points of a str (or str subclass), lone surrogates included.
inline void append_code_points(std::u32string& out, PyObject* s) {
#if PY_VERSION_HEX < 0x030C0000
  if (PyUnicode_READY(s) < 0) throw py::error_already_set();
#endif
  const Py_ssize_t n = PyUnicode_GET_LENGTH(s);
  const std::size_t at = out.size();
  out.resize(at + static_cast<std::size_t>(n));
  char32_t* dst = out.data() + at;
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

// The code points of a str; `what` names the argument in the TypeError for anything else.
inline std::u32string code_points(const py::handle& text, const char* what) {
  if (!PyUnicode_Check(text.ptr())) {
    throw py::type_error(std::string(what) + " must be str, not " + Py_TYPE(text.ptr())->tp_name);
  }
  std::u32string out;
  append_code_points(out, text.ptr());
  return out;
}

inline py::str to_str(std::u32string_view text) {
  PyObject* s = PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, text.data(),
                                          static_cast<Py_ssize_t>(text.size()));
  if (!s) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(s);
}

}  // namespace quorl::python
