// BeautifulSoup trees as the HTML model uses them: searches done in C++ for the plain filters,
// and trees freed on every way out of an operation.
#pragma once

#include <pybind11/pybind11.h>

namespace quorl::python {

namespace py = pybind11;

// The elements of tree.find_all(name=name, attrs=attrs), in document order. Names given as None,
// a str or a list or tuple of str, with attribute values given as str, True, False or None, are
// matched here as BeautifulSoup matches them; any other filter or tree is handed to find_all.
py::list soup_find_all(const py::object& tree, const py::object& name, const py::object& attrs);

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
