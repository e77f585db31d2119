// The quorl extension module: binds the published names in their fixed order.
#include <pybind11/pybind11.h>

#include "quorl/python/bindings.hpp"
#include "quorl/python/drawing_session.hpp"
#include "quorl/python/phrase_index.hpp"
#include "quorl/python/pyclass.hpp"
#include "quorl/python/raw_text_page.hpp"

namespace py = pybind11;
using namespace quorl::python;

PYBIND11_MODULE(quorl, m) {
  // Docstrings are part of the published surface, so pybind11 must not prepend signatures.
  py::options options;
  options.disable_function_signatures();
  set_module_namespace(m);

  bind_imports(m);
  bind_facade(m);
  bind_pdf(m);
  bind_html(m);
  bind_marks(m);
  m.attr("difflib") = py::module_::import("difflib");
  m.attr("logging") = py::module_::import("logging");
  bind_align(m);
  bind_glyph_selection(m);
  bind_page_image(m);
  bind_raw_text_page(m);
  bind_align_helpers(m);
  bind_drawing_session(m);
  bind_phrase_index(m);
  m.attr("__test__") = py::dict();
}
