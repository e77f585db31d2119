// Python surface of the glyph selection, for reading annotations back: the characters of a
// page's lines under annotation quads or at points, and whether a page shows a line's characters.
// The names start with an underscore: they serve the quorl_mark package, not the module's users.
#include "quorl/pdf/glyph_selection.hpp"

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "quorl/python/bindings.hpp"
#include "quorl/python/convert.hpp"

namespace quorl::python {

namespace {

using pdf::Box;
using pdf::Point;
using pdf::Quad;
using pdf::SelectableGlyph;
using pdf::SelectableLine;
using pdf::Stretch;

constexpr std::int64_t kLargestOffset = std::int64_t{1} << 62;

[[noreturn]] void fail(PyObject* type, const std::string& message) {
  PyErr_SetString(type, message.c_str());
  throw py::error_already_set();
}

// The helpers below name the object at fault in their messages through `what`, a callable
// that builds the name only when it is needed: the records are read character by character.

// An interned str made once per key and kept for the process, so that reading a dict item
// costs one hashed lookup.
PyObject* interned(const char* key) {
  PyObject* str = PyUnicode_InternFromString(key);
  if (str == nullptr) throw py::error_already_set();
  return str;
}

// obj[key], refused with a TypeError when obj has no such item.
template <typename What>
py::object entry(py::handle obj, PyObject* key, const What& what) {
  PyObject* value = nullptr;
  if (PyDict_CheckExact(obj.ptr())) {
    value = PyDict_GetItemWithError(obj.ptr(), key);  // borrowed
    if (value == nullptr && PyErr_Occurred()) throw py::error_already_set();
    Py_XINCREF(value);
  } else {
    value = PyObject_GetItem(obj.ptr(), key);
    if (value == nullptr) {
      if (!PyErr_ExceptionMatches(PyExc_LookupError) && !PyErr_ExceptionMatches(PyExc_TypeError)) {
        throw py::error_already_set();
      }
      PyErr_Clear();
    }
  }
  if (value == nullptr) {
    fail(PyExc_TypeError, what() + " has no '" + PyUnicode_AsUTF8(key) + "' item");
  }
  return py::reinterpret_steal<py::object>(value);
}

// The one character of a str, else a ValueError.
template <typename What>
char32_t single_character(py::handle str, const What& what) {
  if (!PyUnicode_Check(str.ptr()) || PyUnicode_GET_LENGTH(str.ptr()) != 1) {
    fail(PyExc_ValueError, what() + " must be a str of one character");
  }
  return PyUnicode_READ_CHAR(str.ptr(), 0);
}

// A list or tuple, the only sequences the functions read (a str or a dict would iterate, wrongly).
template <typename What>
py::sequence sequence(py::handle obj, const What& what) {
  if (!PyList_Check(obj.ptr()) && !PyTuple_Check(obj.ptr())) {
    fail(PyExc_TypeError,
         what() + " must be a list or a tuple, not " + Py_TYPE(obj.ptr())->tp_name);
  }
  return py::reinterpret_borrow<py::sequence>(obj);
}

template <typename What>
double finite(py::handle value, const What& what) {
  if (!PyFloat_Check(value.ptr()) && !PyLong_Check(value.ptr())) {
    fail(PyExc_TypeError, what() + ": a number is expected, not " + Py_TYPE(value.ptr())->tp_name);
  }
  const double v = PyFloat_AsDouble(value.ptr());
  if (v == -1.0 && PyErr_Occurred()) throw py::error_already_set();
  if (!std::isfinite(v)) fail(PyExc_ValueError, what() + ": numbers must be finite");
  return v;
}

// Four numbers x0, y0, x1, y1.
template <typename What>
Box read_box(py::handle bbox, const What& what) {
  PyObject* b = bbox.ptr();
  if (PyTuple_CheckExact(b) && PyTuple_GET_SIZE(b) == 4) {  // PyMuPDF's own form
    double v[4];
    bool plain = true;
    for (Py_ssize_t i = 0; i < 4 && plain; ++i) {
      PyObject* item = PyTuple_GET_ITEM(b, i);
      plain = PyFloat_CheckExact(item) && std::isfinite(v[i] = PyFloat_AS_DOUBLE(item));
    }
    if (plain) return {v[0], v[1], v[2], v[3]};
  }
  py::sequence numbers = sequence(bbox, what);
  if (numbers.size() != 4) fail(PyExc_ValueError, what() + " must hold 4 numbers");
  return {finite(numbers[0], what), finite(numbers[1], what), finite(numbers[2], what),
          finite(numbers[3], what)};
}

template <typename What>
Point read_point(py::handle point, const What& what) {
  py::sequence xy = sequence(point, what);
  if (xy.size() != 2) fail(PyExc_ValueError, what() + " must hold 2 numbers");
  return {finite(xy[0], what), finite(xy[1], what)};
}

template <typename What>
Quad read_quad(py::handle quad, const What& what) {
  py::sequence corners = sequence(quad, what);
  if (corners.size() != 4) fail(PyExc_ValueError, what() + " must hold 4 corner points");
  Quad q;
  for (std::size_t i = 0; i < 4; ++i) q.corners[i] = read_point(corners[i], what);
  return q;
}

struct Keys {
  PyObject *text = interned("text"), *chars = interned("chars"), *bbox = interned("bbox"),
           *blocks = interned("blocks"), *type = interned("type"), *lines = interned("lines"),
           *spans = interned("spans"), *c = interned("c");
};

const Keys& keys() {
  static const Keys made;
  return made;
}

std::string indexed(const std::string& name, std::size_t index) {
  return name + "[" + std::to_string(index) + "]";
}

// Calls f(item) for each item of a list or tuple, by index (no iterator objects).
template <typename What, typename F>
void for_each_item(py::handle obj, const What& what, F&& f) {
  py::sequence items = sequence(obj, what);
  PyObject** begin = PySequence_Fast_ITEMS(items.ptr());
  const Py_ssize_t size = PySequence_Fast_GET_SIZE(items.ptr());
  for (Py_ssize_t i = 0; i < size; ++i) f(py::handle(begin[i]));
}

// Line records: a "text" str and "chars", one dict with a "bbox" per character of the text.
// Every line's offset is left at 0.
std::vector<SelectableLine> read_line_records(py::handle lines) {
  py::sequence records = sequence(lines, [] { return std::string("lines"); });
  std::vector<SelectableLine> out(records.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    auto line = [i] { return indexed("lines", i); };
    py::object text_object = entry(records[i], keys().text, line);
    if (!PyUnicode_Check(text_object.ptr())) fail(PyExc_TypeError, line() + "['text'] must be str");
    const std::u32string text = to_u32(text_object);
    auto chars_of = [&] { return line() + "['chars']"; };
    py::object chars = entry(records[i], keys().chars, line);
    std::size_t k = 0;
    out[i].glyphs.resize(text.size());
    for_each_item(chars, chars_of, [&](py::handle c) {
      if (k == text.size()) return;  // too many: refused below
      auto glyph = [&] { return indexed(chars_of(), k) + "['bbox']"; };
      out[i].glyphs[k] = {text[k], read_box(entry(c, keys().bbox, glyph), glyph)};
      ++k;
    });
    if (py::len(chars) != text.size()) {
      fail(PyExc_ValueError, line() + " has " + std::to_string(py::len(chars)) +
                                 " chars for a text of " + std::to_string(text.size()));
    }
  }
  return out;
}

// Line records with the offset of each line's first shown character in the whole text.
std::vector<SelectableLine> read_lines(py::handle lines, py::handle offsets) {
  py::sequence starts = sequence(offsets, [] { return std::string("offsets"); });
  std::vector<SelectableLine> out = read_line_records(lines);
  if (out.size() != starts.size()) {
    fail(PyExc_ValueError, "lines and offsets must be of the same length");
  }
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i].offset = to_int64(starts[i]);
    // Bounded so that an offset plus a line's length cannot overflow.
    if (out[i].offset < 0 || out[i].offset > kLargestOffset) {
      fail(PyExc_ValueError, "offsets must lie between 0 and 2**62");
    }
  }
  return out;
}

py::list stretch_list(const std::vector<Stretch>& stretches) {
  py::list out;
  for (const Stretch& s : stretches) out.append(py::make_tuple(s.start, s.end));
  return out;
}

py::list text_under_quads(py::handle lines, py::handle offsets, py::handle quad_groups,
                          py::handle fallback_points, py::handle hidden) {
  const std::vector<SelectableLine> selectable = read_lines(lines, offsets);
  const std::u32string hidden_chars = to_u32(hidden, "hidden");
  py::sequence group_list = sequence(quad_groups, [] { return std::string("quad_groups"); });
  py::sequence point_list =
      sequence(fallback_points, [] { return std::string("fallback_points"); });
  if (group_list.size() != point_list.size()) {
    fail(PyExc_ValueError, "quad_groups and fallback_points must be of the same length");
  }
  std::vector<std::vector<Quad>> groups(group_list.size());
  std::vector<std::optional<Point>> fallbacks(group_list.size());
  for (std::size_t g = 0; g < group_list.size(); ++g) {
    auto group = [g] { return indexed("quad_groups", g); };
    py::sequence quads = sequence(group_list[g], group);
    for (std::size_t q = 0; q < quads.size(); ++q) {
      groups[g].push_back(read_quad(quads[q], [&] { return indexed(group(), q); }));
    }
    py::object point = point_list[g];
    if (!point.is_none()) {
      fallbacks[g] = read_point(point, [g] { return indexed("fallback_points", g); });
    }
  }
  std::vector<std::vector<Stretch>> found(groups.size());
  {
    py::gil_scoped_release released;
    for (std::size_t g = 0; g < groups.size(); ++g) {
      found[g] = pdf::stretches_under_quads(selectable, groups[g], hidden_chars);
      if (found[g].empty() && fallbacks[g]) {
        found[g] = pdf::stretches_at_point(selectable, *fallbacks[g], hidden_chars);
      }
    }
  }
  py::list out;
  for (const auto& stretches : found) out.append(stretch_list(stretches));
  return out;
}

// The glyphs and image boxes of a page as PyMuPDF's get_text("rawdict") gives them.
void read_rawdict(py::handle rawdict, std::vector<SelectableGlyph>& glyphs,
                  std::vector<Box>& images) {
  auto page = [] { return std::string("rawdict"); };
  py::sequence blocks = sequence(entry(rawdict, keys().blocks, page), page);
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    auto block = [b] { return indexed("rawdict['blocks']", b); };
    const std::int64_t type = to_int64(entry(blocks[b], keys().type, block));
    if (type == 1) images.push_back(read_box(entry(blocks[b], keys().bbox, block), block));
    if (type != 0) continue;
    for_each_item(entry(blocks[b], keys().lines, block), block, [&](py::handle line) {
      for_each_item(entry(line, keys().spans, block), block, [&](py::handle span) {
        for_each_item(entry(span, keys().chars, block), block, [&](py::handle c) {
          const char32_t code = single_character(entry(c, keys().c, block), block);
          glyphs.push_back({code, read_box(entry(c, keys().bbox, block), block)});
        });
      });
    });
  }
}

std::size_t glyphs_not_on_page(py::handle lines, py::handle rawdict, py::handle tolerance) {
  const std::vector<SelectableLine> selectable = read_line_records(lines);
  std::vector<SelectableGlyph> glyphs;
  std::vector<Box> images;
  read_rawdict(rawdict, glyphs, images);
  const double within = finite(tolerance, [] { return std::string("tolerance"); });
  if (within < 0) fail(PyExc_ValueError, "tolerance must not be negative");
  py::gil_scoped_release released;
  return pdf::glyphs_not_on_page(selectable, glyphs, images, within);
}

}  // namespace

// _text_under_quads(lines, offsets, quad_groups, fallback_points, hidden): for each group of
// quads (four (x, y) corners each), the stretches of the whole text, as (start, end) pairs,
// whose characters have their box centre inside a quad of the group; when there are none and
// the group's fallback point is not None, those whose box holds the point. `lines` are line
// records, `offsets` where each line's first shown character stands in the whole text;
// characters in `hidden` are not shown.
// _glyphs_not_on_page(lines, rawdict, tolerance): how many characters of the line records the
// page whose get_text("rawdict") is given does not show.
void bind_glyph_selection(py::module_& m) {
  m.def("_text_under_quads", &text_under_quads, py::arg("lines"), py::arg("offsets"),
        py::arg("quad_groups"), py::arg("fallback_points"), py::arg("hidden"));
  m.def("_glyphs_not_on_page", &glyphs_not_on_page, py::arg("lines"), py::arg("rawdict"),
        py::arg("tolerance"));
}

}  // namespace quorl::python
