// Which lines a region of a PdfDocument's page reads.
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <optional>
#include <vector>

#include "quorl/pdf/box.hpp"

namespace quorl::python {

namespace py = pybind11;

// `fitz.Rect(bbox) in region` for one region, computed natively when the region is a plain Rect.
class RegionTest {
 public:
  explicit RegionTest(py::object region);
  bool holds(py::handle bbox) const;
  // The region's box when it is a plain Rect.
  const std::optional<pdf::Box>& box() const { return box_; }

 private:
  py::object region_;
  std::optional<pdf::Box> box_;
};

// The text lines a region of the PdfDocument `self` reads: those lying in it and, when the region
// is one of those a page kind is read in (a Rect of a `margins` list of `parsedict`), also those
// that lie in none of that kind's regions but mostly in this one, so that a line running past its
// column is read by the column. Images are read only when they lie in the region.
class RegionReader {
 public:
  RegionReader(const py::object& self, py::object region);
  bool reads_text(py::handle bbox) const;
  bool reads_image(py::handle bbox) const { return test_.holds(bbox); }

 private:
  RegionTest test_;
  std::vector<pdf::Box> kind_regions_;  // empty unless the region is one of a kind's
  std::size_t index_ = 0;               // the region's place among them
};

}  // namespace quorl::python
