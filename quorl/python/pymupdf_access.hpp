// The bindings' access to PyMuPDF: pages by number, rectangles as Boxes, extraction dicts.
#pragma once

#include <pybind11/pybind11.h>

#include "quorl/pdf/box.hpp"

namespace quorl::python {

namespace py = pybind11;

// `doc[number]`. PyMuPDF counts a negative page number up by the page count in a loop, so it wraps
// a number below -page_count around to some page, and a huge negative one takes forever; such
// numbers are refused as a list would refuse them.
py::object page_of(const py::object& doc, const py::handle& number);

// Interned keys of the extraction dicts and of the records built from them, made once by
// init_dict_keys and kept for the process.
struct DictKeys {
  PyObject *bbox, *spans, *chars, *c, *type, *lines, *blocks, *text, *page, *wmod, *dir, *pages,
      *margins, *rect;
};
extern DictKeys dict_keys;
void init_dict_keys();

// obj[key], with a shortcut for plain dicts. Inline, as it runs several times per character.
inline py::object get(py::handle obj, PyObject* key) {
  if (PyDict_CheckExact(obj.ptr())) {
    PyObject* value = PyDict_GetItemWithError(obj.ptr(), key);
    if (value) return py::reinterpret_borrow<py::object>(value);
    if (!PyErr_Occurred()) PyErr_SetObject(PyExc_KeyError, key);
    throw py::error_already_set();
  }
  PyObject* value = PyObject_GetItem(obj.ptr(), key);
  if (!value) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(value);
}

// Calls f on every item of an iterable, without copying lists.
template <typename F>
void for_each(py::handle iterable, F&& f) {
  if (PyList_CheckExact(iterable.ptr())) {
    // Index by index: f may run Python code that changes the list's length.
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(iterable.ptr()); ++i) {
      py::object entry = py::reinterpret_borrow<py::object>(PyList_GET_ITEM(iterable.ptr(), i));
      f(entry);
    }
    return;
  }
  for (py::handle entry : py::iter(iterable)) f(py::reinterpret_borrow<py::object>(entry));
}

// block['type'] == value: 0 for a text block, 1 for an image.
bool has_type(py::handle block, long value);

// The module's `fitz.Rect`, looked up at call time.
py::object rect_class();

py::object make_rect(const pdf::Box& box);

// A rectangle through the attributes x0, y0, x1, y1 that a PyMuPDF Rect has.
pdf::Box box_from_attributes(py::handle rect);

// A rectangle through indexing: left, top, right, bottom.
pdf::Box box_from_items(py::handle rect);

// The coordinates of `fitz.Rect(bbox)`: read directly from a plain 4-tuple or list of numbers,
// anything else goes through PyMuPDF's own constructor.
pdf::Box box_of_any(py::handle bbox);

// box_of_any, with PyMuPDF's own form (a tuple of four floats) read inline: every character of a
// document is read through it.
inline pdf::Box box_of(py::handle bbox) {
  PyObject* b = bbox.ptr();
  if (PyTuple_CheckExact(b) && PyTuple_GET_SIZE(b) == 4) {
    PyObject *x0 = PyTuple_GET_ITEM(b, 0), *y0 = PyTuple_GET_ITEM(b, 1),
             *x1 = PyTuple_GET_ITEM(b, 2), *y1 = PyTuple_GET_ITEM(b, 3);
    if (PyFloat_CheckExact(x0) && PyFloat_CheckExact(y0) && PyFloat_CheckExact(x1) &&
        PyFloat_CheckExact(y1)) {
      return {PyFloat_AS_DOUBLE(x0), PyFloat_AS_DOUBLE(y0), PyFloat_AS_DOUBLE(x1),
              PyFloat_AS_DOUBLE(y1)};
    }
  }
  return box_of_any(bbox);
}

}  // namespace quorl::python
