// One extraction per page while a PdfDocument is being built, and the collector paused meanwhile.
#pragma once

#include <pybind11/pybind11.h>

#include <unordered_map>
#include <utility>

namespace quorl::python {

namespace py = pybind11;

// The constructor classifies every page by its header and then reads the regions of every kind
// from the same pages. PyMuPDF's extraction of an unchanged page is deterministic, so during
// construction each page is loaded and extracted once and the result reused.
struct ExtractionCache {
  PyObject* owner;  // the PdfDocument under construction
  py::object doc;
  std::unordered_map<long long, py::object> pages;
  std::unordered_map<PyObject*, std::pair<py::object, py::object>> rawdicts;  // page -> dict
};

// Makes `cache` the one load_page and raw_text use for its owner until end() or destruction.
class CacheScope {
 public:
  explicit CacheScope(ExtractionCache* cache);
  ~CacheScope() { end(); }
  void end();
  CacheScope(const CacheScope&) = delete;
  CacheScope& operator=(const CacheScope&) = delete;

 private:
  ExtractionCache* cache_;
};

// doc[index] for the PdfDocument `self`, from its construction's cache while there is one.
py::object load_page(const py::object& self, const py::object& doc, const py::object& index);

// page.get_text('rawdict') for the PdfDocument `self` (raw_text_of_page: image blocks hold only
// their box), from its construction's cache while there is one.
py::object raw_text(const py::object& self, const py::object& page);

// Construction allocates the dicts of every character of the document, and most of them stay
// alive in the line records. Cyclic collections in the middle of it would walk the growing heap
// over and over without finding garbage (they cost as much as the extraction itself), so the
// collector pauses while a document is built and resumes as it was.
class CollectorPause {
 public:
  CollectorPause();
  ~CollectorPause();
  CollectorPause(const CollectorPause&) = delete;
  CollectorPause& operator=(const CollectorPause&) = delete;

 private:
  bool was_enabled_ = false;
};

}  // namespace quorl::python
