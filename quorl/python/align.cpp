// Python surface of the align group; filled in as the group is built.
#include "quorl/python/bindings.hpp"

namespace quorl::python {

void bind_align(py::module_& m) { (void)m; }

}  // namespace quorl::python
