// Checked conversions between Python objects and the core's native types.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "quorl/align/spans.hpp"

namespace quorl::python {

namespace py = pybind11;

// An integer position or length: anything with __index__, else TypeError; OverflowError beyond
// 64 bits.
std::int64_t to_int64(py::handle obj);

// Appends the code points of a str (or str subclass), lone surrogates included.
void append_code_points(std::u32string& out, PyObject* str);

// The code points of a str, else TypeError; `what`, when given, names the argument.
std::u32string to_u32(py::handle str, const char* what = nullptr);

py::str from_u32(std::u32string_view text);

// f(view) for a str, the view a std::basic_string_view over the str's own storage (1, 2 or 4
// bytes a code point), so a core template reads the code points without a copy.
template <typename F>
decltype(auto) with_code_points(PyObject* str, F&& f) {
#if PY_VERSION_HEX < 0x030C0000
  if (PyUnicode_READY(str) < 0) throw py::error_already_set();
#endif
  const auto n = static_cast<std::size_t>(PyUnicode_GET_LENGTH(str));
  switch (PyUnicode_KIND(str)) {
    case PyUnicode_1BYTE_KIND:
      return f(std::basic_string_view<Py_UCS1>(PyUnicode_1BYTE_DATA(str), n));
    case PyUnicode_2BYTE_KIND:
      return f(std::basic_string_view<Py_UCS2>(PyUnicode_2BYTE_DATA(str), n));
    default:
      return f(std::basic_string_view<Py_UCS4>(PyUnicode_4BYTE_DATA(str), n));
  }
}

// float(obj) as the C API reads it: a float, or anything with __float__ or __index__. Inline,
// as the PDF binding reads four per character of a document.
inline double to_double(py::handle number) {
  if (PyFloat_CheckExact(number.ptr())) return PyFloat_AS_DOUBLE(number.ptr());
  const double v = PyFloat_AsDouble(number.ptr());
  if (v == -1.0 && PyErr_Occurred()) throw py::error_already_set();
  return v;
}

// bool(obj), with an exception raised by __bool__ or __len__ propagated.
bool truth_of(py::handle obj);

// Every item of an iterable read with to_int64.
std::vector<std::int64_t> to_int64_list(py::handle iterable);

// obj[index] with Python's indexing (negative counts from the end).
py::object item(py::handle obj, Py_ssize_t index);

// A span pair list, read positionally as pair[0][0], pair[0][1], pair[1][0], pair[1][1].
std::vector<align::SpanPair> read_span_pairs(py::handle spandiff);

// Line pieces as published: a list of (line, [from, to]).
py::list line_pieces_list(const std::vector<align::LinePiece>& pieces);

}  // namespace quorl::python
