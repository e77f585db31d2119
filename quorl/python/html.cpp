// Python surface of the html group; filled in as the group is built.
#include "quorl/python/bindings.hpp"

namespace quorl::python {

void bind_html(py::module_& m) { (void)m; }

}  // namespace quorl::python
