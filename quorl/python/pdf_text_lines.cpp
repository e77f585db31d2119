// The adapters between PyMuPDF's line dicts and the core's text lines, one each way.
#include "quorl/python/pdf_text_lines.hpp"

#include <string>

#include "quorl/pdf/vocabulary.hpp"
#include "quorl/python/convert.hpp"
#include "quorl/python/pymupdf_access.hpp"

namespace quorl::python {

namespace {

// True for an object the cyclic collector never needs to visit: not a container, or a container
// it has untracked.
bool untracked(PyObject* obj) {
  return !PyObject_IS_GC(obj) || !PyObject_GC_IsTracked(obj);
}

// A character dict holds strings, booleans and tuples of numbers, so it can never be part of a
// cycle. The collector untracks such tuples and dicts itself, but only at a full collection;
// until then every pass walks the hundreds of thousands of them a document keeps alive. Doing
// it here, the way the collector would, spares those passes. A dict that later receives a
// container is tracked again by the interpreter.
void untrack_atomic_dict(PyObject* dict) {
  if (!PyDict_CheckExact(dict) || untracked(dict)) return;
  Py_ssize_t pos = 0;
  PyObject *key, *value;
  while (PyDict_Next(dict, &pos, &key, &value)) {
    if (PyTuple_CheckExact(value) && !untracked(value)) {
      for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(value); ++k) {
        if (!untracked(PyTuple_GET_ITEM(value, k))) return;
      }
      PyObject_GC_UnTrack(value);
    }
    if (!untracked(key) || !untracked(value)) return;
  }
  PyObject_GC_UnTrack(dict);
}

// The code point of a character dict's 'c', which PyMuPDF always makes a one-character str.
char32_t code_point_of(py::handle c) {
  if (!PyUnicode_Check(c.ptr())) {
    throw py::type_error(std::string("a character's 'c' must be str, not ") +
                         Py_TYPE(c.ptr())->tp_name);
  }
#if PY_VERSION_HEX < 0x030C0000
  if (PyUnicode_READY(c.ptr()) < 0) throw py::error_already_set();
#endif
  const Py_ssize_t length = PyUnicode_GET_LENGTH(c.ptr());
  if (length != 1) {
    throw py::value_error("a character's 'c' must be one character, not " + std::to_string(length));
  }
  return static_cast<char32_t>(PyUnicode_READ_CHAR(c.ptr(), 0));
}

}  // namespace

py::dict image_line(const py::object& bbox) {
  py::list chars;
  for (const char* p = pdf::kImagePlaceholder; *p; ++p) {
    py::dict ch;
    ch[dict_keys.bbox] = bbox;
    ch[dict_keys.c] = py::str(p, 1);
    chars.append(ch);
  }
  py::dict span;
  span[dict_keys.chars] = chars;
  py::list spans;
  spans.append(span);
  py::dict line;
  line[dict_keys.bbox] = bbox;
  line[dict_keys.spans] = spans;
  return line;
}

pdf::TextLine read_text_line(std::int64_t page, const std::vector<py::handle>& band,
                             const pdf::Extent& range, py::list& char_dicts) {
  pdf::TextLine line;
  line.page = page;
  line.box = {to_double(item(get(band.front(), dict_keys.bbox), 0)), range.top,
              to_double(item(get(band.back(), dict_keys.bbox), 2)), range.bottom};
  for (py::handle raw : band) {
    for_each(get(raw, dict_keys.spans), [&](const py::object& span) {
      for_each(get(span, dict_keys.chars), [&](const py::object& ch) {
        line.glyphs.push_back(
            {code_point_of(get(ch, dict_keys.c)), box_of(get(ch, dict_keys.bbox))});
        untrack_atomic_dict(ch.ptr());
        char_dicts.append(ch);
      });
    });
  }
  // A box parted from its neighbour's goes into a copy of its character's dict: the page's own
  // dicts stay as PyMuPDF read them.
  for (std::size_t i : pdf::part_overlapping_boxes(line.glyphs)) {
    py::object ch = char_dicts[i];
    py::object bbox = get(ch, dict_keys.bbox);
    const pdf::Box& box = line.glyphs[i].box;
    py::object parted = ch.attr("copy")();
    parted[py::handle(dict_keys.bbox)] =
        py::make_tuple(box.x0, item(bbox, 1), box.x1, item(bbox, 3));
    untrack_atomic_dict(parted.ptr());
    char_dicts[i] = parted;
  }
  return line;
}

py::dict line_record(const pdf::TextLine& line, const py::list& char_dicts) {
  py::dict record;
  record[dict_keys.wmod] = py::int_(0);
  record[dict_keys.dir] = py::make_tuple(1.0, 0.0);
  record[dict_keys.page] = py::int_(line.page);
  record[dict_keys.bbox] = py::make_tuple(line.box.x0, line.box.y0, line.box.x1, line.box.y1);
  record[dict_keys.chars] = char_dicts;
  record[dict_keys.text] = from_u32(pdf::text_of(line));
  return record;
}

}  // namespace quorl::python
