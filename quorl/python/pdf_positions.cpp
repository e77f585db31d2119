// PdfDocument's text positions: whole-text offsets in a line, and addrect's rectangles.
#include "quorl/python/pdf_positions.hpp"

#include <optional>
#include <string>

#include "quorl/pdf/box.hpp"
#include "quorl/pdf/shown_text.hpp"
#include "quorl/python/convert.hpp"
#include "quorl/python/pyclass.hpp"
#include "quorl/python/pymupdf_access.hpp"

namespace quorl::python {

// The characters of a line's text that the whole text shows: those not in `fix`.
std::vector<std::size_t> shown_of(const py::object& text, const py::object& fix) {
  if (PyUnicode_Check(text.ptr()) && PyUnicode_Check(fix.ptr())) {
    return pdf::shown_indexes(to_u32(text), to_u32(fix));
  }
  std::vector<std::size_t> shown;
  std::size_t index = 0;
  for (py::handle c : py::iter(text)) {
    const int hidden = PySequence_Contains(fix.ptr(), c.ptr());
    if (hidden < 0) throw py::error_already_set();
    if (!hidden) shown.push_back(index);
    ++index;
  }
  return shown;
}

// shown[offset] when len(shown) > offset, else `fallback`, with Python's list indexing.
py::object shown_index(const std::vector<std::size_t>& shown, const py::object& offset,
                       const py::object& fallback) {
  py::int_ count(shown.size());
  if (!PyIndex_Check(offset.ptr())) {
    const int beyond = PyObject_RichCompareBool(count.ptr(), offset.ptr(), Py_GT);
    if (beyond < 0) throw py::error_already_set();
    if (beyond) {
      throw py::type_error(std::string("list indices must be integers or slices, not ") +
                           Py_TYPE(offset.ptr())->tp_name);
    }
    return fallback;
  }
  py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(offset.ptr()));
  if (!index) throw py::error_already_set();
  const int inside = PyObject_RichCompareBool(count.ptr(), index.ptr(), Py_GT);
  if (inside < 0) throw py::error_already_set();
  if (!inside) return fallback;
  int overflow = 0;
  long long k = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
  if (overflow == 0 && k < 0) k += static_cast<long long>(shown.size());
  if (overflow != 0 || k < 0) throw py::index_error("list index out of range");
  return py::int_(shown[static_cast<std::size_t>(k)]);
}

// Logs `lines` with the failure's traceback and raises Exception('Reduce Error') in its place,
// chained to it as Python's raise inside an except block would.
[[noreturn]] void raise_reduce_error(const py::object& lines, py::error_already_set& failure) {
  py::object value = failure.value();
  py::object trace = failure.trace();
  if (!trace.is_none()) PyException_SetTraceback(value.ptr(), trace.ptr());
  PyObject *old_type, *old_value, *old_trace;
  PyErr_GetExcInfo(&old_type, &old_value, &old_trace);
  // The failure becomes the exception being handled, for logging.exception's traceback and as
  // the context of the new error.
  PyErr_SetExcInfo(failure.type().inc_ref().ptr(), value.inc_ref().ptr(),
                   trace.is_none() ? nullptr : trace.inc_ref().ptr());
  try {
    module_global("logging").attr("exception")(lines);
  } catch (...) {
    PyErr_SetExcInfo(old_type, old_value, old_trace);
    throw;
  }
  py::object error = py::reinterpret_borrow<py::object>(PyExc_Exception)("Reduce Error");
  PyErr_SetObject(PyExc_Exception, error.ptr());
  PyErr_SetExcInfo(old_type, old_value, old_trace);
  throw py::error_already_set();
}

namespace {

py::object rect_from_union(const pdf::Box& b) {
  py::object rect = make_rect(b);
  if (pdf::is_infinite(b)) {
    // PyMuPDF stores the infinite rectangle's limits as ints.
    rect.attr("x0") = py::int_(static_cast<long long>(b.x0));
    rect.attr("y0") = py::int_(static_cast<long long>(b.y0));
    rect.attr("x1") = py::int_(static_cast<long long>(b.x1));
    rect.attr("y1") = py::int_(static_cast<long long>(b.y1));
  }
  return rect;
}

}  // namespace

py::object union_of_boxes(const py::object& lines) {
  std::optional<pdf::BoxUnion> acc;
  for (py::handle entry : py::iter(lines)) {
    const pdf::Box b = box_of(get(entry, dict_keys.bbox));
    if (acc) {
      acc->include(b);
    } else {
      acc.emplace(b);
    }
  }
  if (!acc) {
    PyErr_SetString(PyExc_TypeError, "reduce() of empty iterable with no initial value");
    throw py::error_already_set();
  }
  return rect_from_union(acc->box());
}

}  // namespace quorl::python
