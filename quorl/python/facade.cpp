// Python surface of the facade group; filled in as the group is built.
#include "quorl/python/bindings.hpp"

namespace quorl::python {

void bind_facade(py::module_& m) { (void)m; }

}  // namespace quorl::python
