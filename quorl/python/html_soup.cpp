// Walks over BeautifulSoup trees in C++. BeautifulSoup's own searches test every element
// against a filter object in Python, which costs more than parsing the document; for the plain
// filters the HTML model uses, the same elements are found here by walking `contents` lists.
#include "quorl/python/html_soup.hpp"

#include <algorithm>
#include <utility>

#include "quorl/python/convert.hpp"

namespace quorl::python {

namespace {

py::object bs4_tag_type() {
  return py::module_::import("bs4.element").attr("Tag");
}

// `tree` is a bs4 Tag whose class has not replaced Tag's `method`.
bool plain_tree(const py::object& tree, const py::object& tag_type, const char* method) {
  const int is_tag = PyObject_IsInstance(tree.ptr(), tag_type.ptr());
  if (is_tag < 0) throw py::error_already_set();
  return is_tag && py::type::of(tree).attr(method).is(tag_type.attr(method));
}

bool equal(PyObject* a, PyObject* b) {
  const int r = PyObject_RichCompareBool(a, b, Py_EQ);
  if (r < 0) throw py::error_already_set();
  return r == 1;
}

py::object get_attr(PyObject* obj, const py::str& name) {
  PyObject* value = PyObject_GetAttr(obj, name.ptr());
  if (!value) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(value);
}

// Calls visit(tag) for every Tag below `root`, in document order, which for a tree kept by
// BeautifulSoup's own operations is the order of its `descendants`. Stops and returns false when
// visit does, or when a tag's contents are not a list.
template <typename Visit>
bool walk_tags(const py::object& root, const py::object& tag_type, Visit&& visit) {
  const py::str contents_name("contents");
  auto* tag_cls = reinterpret_cast<PyTypeObject*>(tag_type.ptr());
  py::object top = get_attr(root.ptr(), contents_name);
  if (!PyList_Check(top.ptr())) return false;
  std::vector<std::pair<py::object, Py_ssize_t>> stack;
  stack.emplace_back(std::move(top), 0);
  while (!stack.empty()) {
    PyObject* list = stack.back().first.ptr();
    Py_ssize_t& next = stack.back().second;
    if (next >= PyList_GET_SIZE(list)) {
      stack.pop_back();
      continue;
    }
    py::object child = py::reinterpret_borrow<py::object>(PyList_GET_ITEM(list, next++));
    if (!PyObject_TypeCheck(child.ptr(), tag_cls)) continue;
    if (!visit(child)) return false;
    py::object sub = get_attr(child.ptr(), contents_name);
    if (!PyList_Check(sub.ptr())) return false;
    if (PyList_GET_SIZE(sub.ptr()) > 0) stack.emplace_back(std::move(sub), 0);
  }
  return true;
}

enum class Fit { kNo, kYes, kUnknown };

// One attribute condition: equal to a str, present, or absent.
struct AttrRule {
  enum Kind { kEquals, kPresent, kAbsent } kind;
  py::object key;
  py::object value;

  // As BeautifulSoup matches a rule against a tag's attribute value: a list value (a
  // multi-valued attribute such as class) matches when one of its items does or, failing that
  // and unless it has exactly one item, when its items joined by blanks do.
  Fit test(PyObject* v) const {
    if (v == nullptr) v = Py_None;
    if (!PyList_Check(v)) return single(v) ? Fit::kYes : Fit::kNo;
    const Py_ssize_t n = PyList_GET_SIZE(v);
    for (Py_ssize_t k = 0; k < n; ++k) {
      if (single(PyList_GET_ITEM(v, k))) return Fit::kYes;
    }
    if (n == 1) return Fit::kNo;
    for (Py_ssize_t k = 0; k < n; ++k) {
      if (!PyUnicode_Check(PyList_GET_ITEM(v, k))) return Fit::kUnknown;
    }
    py::object joined = py::str(" ").attr("join")(py::reinterpret_borrow<py::object>(v));
    return single(joined.ptr()) ? Fit::kYes : Fit::kNo;
  }

  bool single(PyObject* v) const {
    switch (kind) {
      case kEquals:
        return equal(value.ptr(), v);
      case kPresent:
        return v != Py_None;
      case kAbsent:
        return v == Py_None;
    }
    return false;
  }
};

struct PlainFilter {
  bool any_name = true;
  std::vector<py::object> names;
  std::vector<AttrRule> attrs;
};

std::optional<PlainFilter> plain_filter(const py::object& name, const py::object& attrs) {
  PlainFilter f;
  PyObject* n = name.ptr();
  if (n == Py_None || n == Py_True) {
    f.any_name = true;
  } else if (PyUnicode_CheckExact(n)) {
    f.any_name = false;
    f.names.push_back(name);
  } else if (PyList_CheckExact(n) || PyTuple_CheckExact(n)) {
    f.any_name = false;
    for (py::handle item : name) {
      if (!PyUnicode_CheckExact(item.ptr())) return std::nullopt;
      f.names.push_back(py::reinterpret_borrow<py::object>(item));
    }
    if (f.names.empty()) return std::nullopt;
  } else {
    return std::nullopt;
  }
  if (attrs.is_none()) return f;
  if (!PyDict_CheckExact(attrs.ptr())) return std::nullopt;
  PyObject *key, *value;
  Py_ssize_t pos = 0;
  while (PyDict_Next(attrs.ptr(), &pos, &key, &value)) {
    if (!PyUnicode_CheckExact(key)) return std::nullopt;
    AttrRule rule{AttrRule::kEquals, py::reinterpret_borrow<py::object>(key),
                  py::reinterpret_borrow<py::object>(value)};
    if (value == Py_True) {
      rule.kind = AttrRule::kPresent;
    } else if (value == Py_False || value == Py_None) {
      rule.kind = AttrRule::kAbsent;
    } else if (!PyUnicode_CheckExact(value)) {
      return std::nullopt;
    }
    f.attrs.push_back(std::move(rule));
  }
  return f;
}

// Whether a tag passes the filter; kUnknown for a tag the filter's reading does not cover (a
// namespace prefix, attributes that are not a dict).
Fit filter_tag(const TagTable::Entry& tag, const PlainFilter& f) {
  if (!f.any_name) {
    if (tag.prefixed) return Fit::kUnknown;
    bool hit = false;
    for (const py::object& want : f.names) {
      if (equal(want.ptr(), tag.name.ptr())) {
        hit = true;
        break;
      }
    }
    if (!hit) return Fit::kNo;
  }
  if (f.attrs.empty()) return Fit::kYes;
  if (!PyDict_Check(tag.attrs.ptr())) return Fit::kUnknown;
  for (const AttrRule& rule : f.attrs) {
    PyObject* v = PyDict_GetItemWithError(tag.attrs.ptr(), rule.key.ptr());
    if (!v && PyErr_Occurred()) throw py::error_already_set();
    const Fit fit = rule.test(v);
    if (fit != Fit::kYes) return fit;
  }
  return Fit::kYes;
}

}  // namespace

std::optional<TagTable> TagTable::of(const py::object& tree) {
  const py::object tag_type = bs4_tag_type();
  if (!plain_tree(tree, tag_type, "find_all")) return std::nullopt;
  const py::str name("name"), attrs("attrs"), prefix("prefix");
  TagTable table;
  const bool covered = walk_tags(tree, tag_type, [&](const py::object& tag) {
    table.entries.push_back({tag, get_attr(tag.ptr(), name), get_attr(tag.ptr(), attrs),
                             !get_attr(tag.ptr(), prefix).is_none()});
    return true;
  });
  if (!covered) return std::nullopt;
  return table;
}

py::list soup_find_all(const py::object& tree, const py::object& name, const py::object& attrs,
                       const TagTable* table) {
  if (std::optional<PlainFilter> filter = plain_filter(name, attrs)) {
    std::optional<TagTable> own;
    if (!table && (own = TagTable::of(tree))) table = &*own;
    if (table) {
      py::list found;
      bool covered = true;
      for (const TagTable::Entry& tag : table->entries) {
        const Fit fit = filter_tag(tag, *filter);
        if (fit == Fit::kUnknown) {
          covered = false;
          break;
        }
        if (fit == Fit::kYes) found.append(tag.tag);
      }
      if (covered) return found;
    }
  }
  return py::list(tree.attr("find_all")(py::arg("name") = name, py::arg("attrs") = attrs));
}

void SoupIdIndex::build() {
  built_ = true;
  const py::object tag_type = bs4_tag_type();
  if (!plain_tree(tree_, tag_type, "find")) return;
  const py::str attrs_name("attrs"), id_name("id");
  usable_ = walk_tags(tree_, tag_type, [&](const py::object& tag) {
    py::object tag_attrs = get_attr(tag.ptr(), attrs_name);
    if (!PyDict_Check(tag_attrs.ptr())) return false;
    PyObject* id = PyDict_GetItemWithError(tag_attrs.ptr(), id_name.ptr());
    if (!id) {
      if (PyErr_Occurred()) throw py::error_already_set();
      return true;
    }
    if (id == Py_None) return true;
    if (!PyUnicode_CheckExact(id)) return false;
    if (!PyDict_SetDefault(first_.ptr(), id, tag.ptr())) throw py::error_already_set();
    return true;
  });
}

py::object SoupIdIndex::find(const py::object& identity) {
  if (!built_) build();
  if (usable_ && PyUnicode_CheckExact(identity.ptr())) {
    PyObject* tag = PyDict_GetItemWithError(first_.ptr(), identity.ptr());
    if (!tag && PyErr_Occurred()) throw py::error_already_set();
    return tag ? py::reinterpret_borrow<py::object>(tag) : py::object(py::none());
  }
  return tree_.attr("find")(py::arg("id") = identity);
}

std::optional<std::vector<PyObject*>> plain_text_types(const py::object& tree) {
  py::module_ bs4 = py::module_::import("bs4");
  if (!py::type::of(tree).is(bs4.attr("BeautifulSoup"))) return std::nullopt;
  // Older releases have no per-tag string types; their documents take the searched path.
  if (!py::hasattr(tree, "interesting_string_types")) return std::nullopt;
  py::object types = tree.attr("interesting_string_types");
  if (types.is_none()) types = tree.attr("MAIN_CONTENT_STRING_TYPES");
  std::vector<PyObject*> out;
  if (PyType_Check(types.ptr())) {
    out.push_back(types.ptr());
  } else if (PySet_Check(types.ptr()) || PyFrozenSet_Check(types.ptr()) ||
             PyTuple_Check(types.ptr()) || PyList_Check(types.ptr())) {
    for (py::handle t : types) {
      if (!PyType_Check(t.ptr())) return std::nullopt;
      out.push_back(t.ptr());  // the tree's set keeps the types alive
    }
  } else {
    return std::nullopt;
  }
  return out;
}

std::u32string planned_text(const py::object& tree, const std::vector<PyObject*>& string_types,
                            const MarkerPlan& plan) {
  py::module_ element = py::module_::import("bs4.element");
  const py::object tag_type = element.attr("Tag");
  const py::object string_type = element.attr("NavigableString");
  auto* tag_cls = reinterpret_cast<PyTypeObject*>(tag_type.ptr());
  auto* string_cls = reinterpret_cast<PyTypeObject*>(string_type.ptr());
  auto counted = [&](PyObject* type) {
    return std::find(string_types.begin(), string_types.end(), type) != string_types.end();
  };
  const bool markers_counted = counted(string_type.ptr());
  const py::str contents_name("contents");

  std::u32string text;
  auto append_all = [&](const std::vector<std::u32string>& strings) {
    if (markers_counted) {
      for (const std::u32string& s : strings) text += s;
    }
  };
  // One frame per open tag: its contents, the next child, and its planned end strings.
  struct Frame {
    py::object contents;
    Py_ssize_t next;
    const PlannedMarkers* planned;
  };
  std::vector<Frame> stack;
  stack.push_back({get_attr(tree.ptr(), contents_name), 0, nullptr});
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (!PyList_Check(top.contents.ptr())) throw py::type_error("tag contents must be a list");
    if (top.next >= PyList_GET_SIZE(top.contents.ptr())) {
      if (top.planned) append_all(top.planned->ends);
      stack.pop_back();
      continue;
    }
    PyObject* child = PyList_GET_ITEM(top.contents.ptr(), top.next++);
    if (PyObject_TypeCheck(child, tag_cls)) {
      auto it = plan.find(child);
      const PlannedMarkers* planned = it == plan.end() ? nullptr : &it->second;
      if (planned) append_all(planned->starts);
      stack.push_back({get_attr(child, contents_name), 0, planned});
    } else if (PyObject_TypeCheck(child, string_cls) &&
               counted(reinterpret_cast<PyObject*>(Py_TYPE(child)))) {
      append_code_points(text, child);
    }
  }
  return text;
}

void discard_tree(const py::object& tree) noexcept {
  try {
    tree.attr("decompose")();
  } catch (...) {
  }
}

}  // namespace quorl::python
