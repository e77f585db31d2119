// BeautifulSoup trees as the HTML model uses them: searches done in C++ for the plain filters,
// and trees freed on every way out of an operation.
#pragma once

#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace quorl::python {

namespace py = pybind11;

// The tags below a tree in document order, with what a search reads of each, taken in one walk;
// several searches over a tree whose tags stay as they are can share it.
struct TagTable {
  struct Entry {
    py::object tag, name, attrs;
    bool prefixed;  // the tag has a namespace prefix
  };
  std::vector<Entry> entries;

  // nullopt when `tree` is not a bs4 tree whose class keeps Tag's find_all, or holds contents
  // that are not lists.
  static std::optional<TagTable> of(const py::object& tree);
};

// The elements of tree.find_all(name=name, attrs=attrs), in document order. Names given as None,
// True, a str or a list or tuple of str, with attribute values given as str, True, False or None,
// are matched here as BeautifulSoup matches them; any other filter or tree is handed to find_all.
// `table`, when given, must be the table of `tree` as it is now.
py::list soup_find_all(const py::object& tree, const py::object& name, const py::object& attrs,
                       const TagTable* table = nullptr);

// tree.find(id=...) for many ids over a tree whose ids do not change: one walk records the
// first element of each id.
class SoupIdIndex {
 public:
  explicit SoupIdIndex(py::object tree) : tree_(std::move(tree)) {}
  // The first element carrying `identity` as its id, or None.
  py::object find(const py::object& identity);

 private:
  void build();
  py::object tree_;
  py::dict first_;
  bool built_ = false;
  bool usable_ = false;
};

// Strings that stand for ones inserted as an element's first children (`starts`, in text order)
// and last children (`ends`), without changing the tree.
struct PlannedMarkers {
  std::vector<std::u32string> starts, ends;
};
using MarkerPlan = std::unordered_map<PyObject*, PlannedMarkers>;

// The string types whose strings tree.text joins, when `tree` is a bs4.BeautifulSoup document
// whose text planned_text reproduces; nullopt for any other tree.
std::optional<std::vector<PyObject*>> plain_text_types(const py::object& tree);

// tree.text as it would read with the planned strings inserted as plain NavigableStrings.
std::u32string planned_text(const py::object& tree, const std::vector<PyObject*>& string_types,
                            const MarkerPlan& plan);

// Decomposes a tree while an error is already on its way out; a failure here is dropped so that
// the first error is the one the caller sees.
void discard_tree(const py::object& tree) noexcept;

// body(), then tree.decompose(); the tree is decomposed as well when body fails.
template <typename Body>
py::object with_tree(const py::object& tree, Body&& body) {
  py::object result;
  try {
    result = body();
  } catch (...) {
    discard_tree(tree);
    throw;
  }
  tree.attr("decompose")();
  return result;
}

}  // namespace quorl::python
