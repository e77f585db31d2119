// Python surface of the marks group; filled in as the group is built.
#include "quorl/python/bindings.hpp"

namespace quorl::python {

void bind_marks(py::module_& m) { (void)m; }

}  // namespace quorl::python
