// Python surface of the pdf group; filled in as the group is built.
#include "quorl/python/bindings.hpp"

namespace quorl::python {

void bind_pdf(py::module_& m) { (void)m; }

}  // namespace quorl::python
