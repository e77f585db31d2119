// The debug lines the facade and the marking print while they work.
#include "quorl/python/diagnostics.hpp"

namespace quorl::python {

void print_line(const py::object& value) {
  py::module_::import("builtins").attr("print")(value);
}

}  // namespace quorl::python
