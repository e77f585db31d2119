// Underscore names for the OCR of scanned pages (quorl_mark.ocr): reading a page image's
// pixels, which Python would loop over far too slowly.
#include <pybind11/pybind11.h>

#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "quorl/pdf/blot.hpp"
#include "quorl/pdf/ink_box.hpp"
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

constexpr std::int64_t kMaxSide = 1 << 16;  // 65536 pixels: 20 m at 84 dpi, far above a page

// A page image's samples viewed as a Raster, checked. The buffer stays exported while the view
// lives, so its owner cannot resize it under the raster.
struct RasterView {
  py::buffer_info view;
  pdf::Raster raster;
};

RasterView raster_view(py::object samples, py::object width, py::object height, py::object stride,
                       py::object channels) {
  if (!PyObject_CheckBuffer(samples.ptr())) {
    throw py::type_error(std::string("samples must be a bytes-like object, not ") +
                         Py_TYPE(samples.ptr())->tp_name);
  }
  RasterView out;
  pdf::Raster& raster = out.raster;
  raster.width = bounded(width, "width", 1, kMaxSide);
  raster.height = bounded(height, "height", 1, kMaxSide);
  raster.channels = bounded(channels, "channels", 1, 4);
  raster.stride = bounded(stride, "stride", 1, kMaxSide * 4);
  out.view = py::reinterpret_borrow<py::buffer>(samples).request();
  // A strided or multi-dimensional view would not be the raster's bytes in order.
  if (out.view.ndim > 1 && out.view.strides.back() != out.view.itemsize) {
    throw py::value_error("samples must be contiguous");
  }
  raster.samples = static_cast<const std::uint8_t*>(out.view.ptr);
  raster.size =
      static_cast<std::size_t>(out.view.size) * static_cast<std::size_t>(out.view.itemsize);
  if (const char* problem = pdf::raster_problem(raster)) throw py::value_error(problem);
  return out;
}

py::list find_rules(py::object samples, py::object width, py::object height, py::object stride,
                    py::object channels, py::object dark, py::object min_length, py::object max_gap,
                    py::object min_run) {
  pdf::RuleOptions options;
  options.dark = bounded(dark, "dark", 0, 256);
  options.min_length = bounded(min_length, "min_length", 1, kMaxSide);
  options.max_gap = bounded(max_gap, "max_gap", 0, kMaxSide);
  options.min_run = bounded(min_run, "min_run", 1, kMaxSide);
  RasterView image = raster_view(samples, width, height, stride, channels);
  std::vector<pdf::Rule> rules;
  {
    py::gil_scoped_release unlocked;
    rules = pdf::find_rules(image.raster, options);
  }
  py::list out;
  for (const pdf::Rule& r : rules)
    out.append(py::make_tuple(r.x0, r.top, r.x1, r.bottom, r.center));
  return out;
}

py::list ink_boxes(py::object samples, py::object width, py::object height, py::object stride,
                   py::object channels, py::object boxes, py::object dark, py::object min_dark) {
  pdf::InkOptions options;
  options.dark = bounded(dark, "dark", 0, 256);
  options.min_dark = bounded(min_dark, "min_dark", 1, kMaxSide);
  std::vector<pdf::PixelBox> within;
  for (py::handle box : py::iter(boxes)) {
    if (!py::isinstance<py::sequence>(box) || py::len(box) != 4) {
      throw py::type_error("each box must be a sequence (x0, y0, x1, y1) of four ints");
    }
    auto side = [&](Py_ssize_t i) {
      return bounded(item(box, i), "a box side", -kMaxSide, 2 * kMaxSide);
    };
    within.push_back({side(0), side(1), side(2), side(3)});
  }
  RasterView image = raster_view(samples, width, height, stride, channels);
  std::vector<std::optional<pdf::PixelBox>> found;
  {
    py::gil_scoped_release unlocked;
    for (const pdf::PixelBox& box : within)
      found.push_back(pdf::ink_box(image.raster, box, options));
  }
  py::list out;
  for (const auto& box : found) {
    if (box) {
      out.append(py::make_tuple(box->x0, box->y0, box->x1, box->y1));
    } else {
      out.append(py::none());
    }
  }
  return out;
}

bool has_blot(py::object samples, py::object width, py::object height, py::object stride,
              py::object channels, py::object contrast, py::object min_blot) {
  pdf::BlotOptions options;
  options.contrast = bounded(contrast, "contrast", 0, 255);
  options.min_blot = bounded(min_blot, "min_blot", 1, kMaxSide);
  RasterView image = raster_view(samples, width, height, stride, channels);
  py::gil_scoped_release unlocked;
  return pdf::has_blot(image.raster, options);
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
  m.def("_ink_boxes", &ink_boxes, py::arg("samples"), py::arg("width"), py::arg("height"),
        py::arg("stride"), py::arg("channels"), py::arg("boxes"), py::arg("dark") = 128,
        py::arg("min_dark") = 2,
        "_ink_boxes(samples, width, height, stride, channels, boxes, dark=128, min_dark=2)\n\n"
        "For each (x0, y0, x1, y1) of boxes (pixels, x1 and y1 exclusive, clipped to the "
        "image), the smallest box (x0, y0, x1, y1) holding every column and row of it with at "
        "least min_dark pixels darker than `dark`, or None when none has. The image is read as "
        "by _find_rules.");
  m.def("_has_blot", &has_blot, py::arg("samples"), py::arg("width"), py::arg("height"),
        py::arg("stride"), py::arg("channels"), py::arg("contrast") = 60, py::arg("min_blot") = 4,
        "_has_blot(samples, width, height, stride, channels, contrast=60, min_blot=4)\n\n"
        "Whether the image holds min_blot or more pixels joined to one another (8-neighbours) "
        "that are `contrast` darker than its paper, the gray value of its brightest tenth: "
        "something printed, not specks. The image is read as by _find_rules.");
}

}  // namespace quorl::python
