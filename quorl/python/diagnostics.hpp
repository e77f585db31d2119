// The debug lines the facade and the marking print while they work.
#pragma once

#include <pybind11/pybind11.h>

namespace quorl::python {

namespace py = pybind11;

// The interpreter's own print, so that a redirected sys.stdout receives the line.
void print_line(const py::object& value);

}  // namespace quorl::python
