// Underscore names for the OCR of scanned pages (quorl_mark.ocr): reading a page image's
// pixels, which Python would loop over far too slowly.
#include <pybind11/pybind11.h>

#include <limits>
#include <string>

#include "quorl/pdf/rule_finder.hpp"
#include "quorl/python/bindings.hpp"
#include "quorl/python/convert.hpp"

namespace quorl::python {
namespace {

// An int argument within [low, high], else ValueError naming it.
int bounded(py::handle obj, const char* name, std::int64_t low, std::int64_t high) {
  std::int64_t value = to_int64(obj);
  if (value < low || value > high) {
    throw py::value_error(std::string(name) + " must be between " + std::to_string(low) + " and " +
                          std::to_string(high) + ", not " + std::to_string(value));
  }
  return static_cast<int>(value);
}

py::list find_rules(py::object samples, py::object width, py::object height, py::object stride,
                    py::object channels, py::object dark, py::object min_length, py::object max_gap,
                    py::object min_run) {
  constexpr std::int64_t kMaxSide = 1 << 16;  // 65536 pixels: 20 m at 84 dpi, far above a page
  if (!PyObject_CheckBuffer(samples.ptr())) {
    throw py::type_error(std::string("samples must be a bytes-like object, not ") +
                         Py_TYPE(samples.ptr())->tp_name);
  }
  pdf::Raster raster;
  raster.width = bounded(width, "width", 1, kMaxSide);
  raster.height = bounded(height, "height", 1, kMaxSide);
  raster.channels = bounded(channels, "channels", 1, 4);
  raster.stride = bounded(stride, "stride", 1, kMaxSide * 4);
  pdf::RuleOptions options;
  options.dark = bounded(dark, "dark", 0, 256);
  options.min_length = bounded(min_length, "min_length", 1, kMaxSide);
  options.max_gap = bounded(max_gap, "max_gap", 0, kMaxSide);
  options.min_run = bounded(min_run, "min_run", 1, kMaxSide);

  py::buffer_info view = py::reinterpret_borrow<py::buffer>(samples).request();
  // A strided or multi-dimensional view would not be the raster's bytes in order.
  if (view.ndim > 1 && view.strides.back() != view.itemsize) {
    throw py::value_error("samples must be contiguous");
  }
  raster.samples = static_cast<const std::uint8_t*>(view.ptr);
  raster.size = static_cast<std::size_t>(view.size) * static_cast<std::size_t>(view.itemsize);
  if (const char* problem = pdf::raster_problem(raster)) throw py::value_error(problem);

  std::vector<pdf::Rule> rules;
  {
    // The buffer stays exported while the view lives, so its owner cannot resize it.
    py::gil_scoped_release unlocked;
    rules = pdf::find_rules(raster, options);
  }
  py::list out;
  for (const pdf::Rule& r : rules)
    out.append(py::make_tuple(r.x0, r.top, r.x1, r.bottom, r.center));
  return out;
}

}  // namespace

void bind_page_image(py::module_& m) {
  m.def("_find_rules", &find_rules, py::arg("samples"), py::arg("width"), py::arg("height"),
        py::arg("stride"), py::arg("channels"), py::arg("dark") = 128, py::arg("min_length") = 100,
        py::arg("max_gap") = 3, py::arg("min_run") = 8,
        "_find_rules(samples, width, height, stride, channels, dark=128, min_length=100, "
        "max_gap=3, min_run=8)\n\n"
        "The horizontal rules of a page image, top to bottom, as (x0, top, x1, bottom, center) "
        "in pixels: x1 and bottom exclusive, center the mean row of the rule's ink. samples "
        "holds height rows of stride bytes, each of width pixels of channels bytes (1 to 4; "
        "3 and 4 read as RGB). A pixel is dark below `dark`; a rule is a stroke at least "
        "min_length pixels long, bridging max_gap light pixels and moving one row at most "
        "every min_run pixels.");
}

}  // namespace quorl::python
