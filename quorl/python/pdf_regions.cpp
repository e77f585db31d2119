// Which lines a region of a PdfDocument's page reads.
#include "quorl/python/pdf_regions.hpp"

#include <utility>

#include "quorl/pdf/overhang.hpp"
#include "quorl/python/pymupdf_access.hpp"

namespace quorl::python {

using quorl::pdf::Box;

namespace {

bool is_plain_rect(py::handle obj) {
  return Py_TYPE(obj.ptr()) == reinterpret_cast<PyTypeObject*>(rect_class().ptr());
}

bool same_box(const Box& a, const Box& b) {
  return a.x0 == b.x0 && a.y0 == b.y0 && a.x1 == b.x1 && a.y1 == b.y1;
}

// The plain Rects of a kind entry's `margins`; none when the entry is not laid out as the
// constructor lays it out.
std::vector<Box> margins_of(PyObject* entry) {
  std::vector<Box> boxes;
  if (!PyDict_CheckExact(entry)) return boxes;
  PyObject* margins = PyDict_GetItemWithError(entry, dict_keys.margins);
  if (!margins) {
    if (PyErr_Occurred()) throw py::error_already_set();
    return boxes;
  }
  if (!PyList_CheckExact(margins)) return boxes;
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(margins); ++i) {
    py::handle margin = PyList_GET_ITEM(margins, i);
    if (is_plain_rect(margin)) boxes.push_back(box_from_attributes(margin));
  }
  return boxes;
}

}  // namespace

RegionTest::RegionTest(py::object region) : region_(std::move(region)) {
  if (is_plain_rect(region_)) box_ = box_from_attributes(region_);
}

bool RegionTest::holds(py::handle bbox) const {
  if (box_) return pdf::contains(*box_, box_of(bbox));
  const int inside = PySequence_Contains(region_.ptr(), rect_class()(bbox).ptr());
  if (inside < 0) throw py::error_already_set();
  return inside == 1;
}

RegionReader::RegionReader(const py::object& self, py::object region) : test_(std::move(region)) {
  if (!test_.box()) return;
  py::object parsedict = py::getattr(self, "parsedict", py::none());
  if (!PyDict_CheckExact(parsedict.ptr())) return;
  // A snapshot of the entries: reading a Rect's coordinates must not meet a dict that changes.
  py::list entries = py::reinterpret_steal<py::list>(PyDict_Values(parsedict.ptr()));
  if (!entries) throw py::error_already_set();
  for (py::handle entry : entries) {
    std::vector<Box> regions = margins_of(entry.ptr());
    for (std::size_t i = 0; i < regions.size(); ++i) {
      if (same_box(regions[i], *test_.box())) {
        kind_regions_ = std::move(regions);
        index_ = i;
        return;
      }
    }
  }
}

bool RegionReader::reads_text(py::handle bbox) const {
  if (test_.holds(bbox)) return true;
  if (kind_regions_.empty()) return false;
  const auto region = pdf::region_of_overhanging_piece(box_of(bbox), kind_regions_);
  return region && *region == index_;
}

}  // namespace quorl::python
