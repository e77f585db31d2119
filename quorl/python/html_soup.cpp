// Walks over BeautifulSoup trees in C++. BeautifulSoup's own searches test every element
// against a filter object in Python, which costs more than parsing the document; for the plain
// filters the HTML model uses, the same elements are found here by walking `contents` lists.
#include "quorl/python/html_soup.hpp"

#include <optional>
#include <utility>
#include <vector>

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
    PyObject* child = PyList_GET_ITEM(list, next++);
    if (!PyObject_TypeCheck(child, tag_cls)) continue;
    // The walk holds the child's list and does not change it, so the borrowed child lives.
    if (!visit(child)) return false;
    py::object sub = get_attr(child, contents_name);
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

// Attribute names read from every tag, made once per search.
struct TagFields {
  py::str prefix{"prefix"}, name{"name"}, attrs{"attrs"};
};

// Whether `tag` passes the filter; kUnknown for a tag the filter's reading does not cover (a
// namespace prefix, attributes that are not a dict).
Fit filter_tag(PyObject* tag, const PlainFilter& f, const TagFields& fields) {
  if (!f.any_name) {
    if (!get_attr(tag, fields.prefix).is_none()) return Fit::kUnknown;
    py::object tag_name = get_attr(tag, fields.name);
    bool hit = false;
    for (const py::object& want : f.names) {
      if (equal(want.ptr(), tag_name.ptr())) {
        hit = true;
        break;
      }
    }
    if (!hit) return Fit::kNo;
  }
  if (f.attrs.empty()) return Fit::kYes;
  py::object tag_attrs = get_attr(tag, fields.attrs);
  if (!PyDict_Check(tag_attrs.ptr())) return Fit::kUnknown;
  for (const AttrRule& rule : f.attrs) {
    PyObject* v = PyDict_GetItemWithError(tag_attrs.ptr(), rule.key.ptr());
    if (!v && PyErr_Occurred()) throw py::error_already_set();
    const Fit fit = rule.test(v);
    if (fit != Fit::kYes) return fit;
  }
  return Fit::kYes;
}

}  // namespace

py::list soup_find_all(const py::object& tree, const py::object& name, const py::object& attrs) {
  const py::object tag_type = bs4_tag_type();
  if (plain_tree(tree, tag_type, "find_all")) {
    if (std::optional<PlainFilter> filter = plain_filter(name, attrs)) {
      py::list found;
      const TagFields fields;
      const bool covered = walk_tags(tree, tag_type, [&](PyObject* tag) {
        const Fit fit = filter_tag(tag, *filter, fields);
        if (fit == Fit::kYes) found.append(py::handle(tag));
        return fit != Fit::kUnknown;
      });
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
  usable_ = walk_tags(tree_, tag_type, [&](PyObject* tag) {
    py::object tag_attrs = get_attr(tag, attrs_name);
    if (!PyDict_Check(tag_attrs.ptr())) return false;
    PyObject* id = PyDict_GetItemWithError(tag_attrs.ptr(), id_name.ptr());
    if (!id) {
      if (PyErr_Occurred()) throw py::error_already_set();
      return true;
    }
    if (id == Py_None) return true;
    if (!PyUnicode_CheckExact(id)) return false;
    if (!PyDict_SetDefault(first_.ptr(), id, tag)) throw py::error_already_set();
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

void discard_tree(const py::object& tree) noexcept {
  try {
    tree.attr("decompose")();
  } catch (...) {
  }
}

}  // namespace quorl::python
