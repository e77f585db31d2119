// The outside facilities the module binds before its own names.
#include "quorl/python/bindings.hpp"

namespace quorl::python {

void bind_imports(py::module_& m) {
  m.attr("logging") = py::module_::import("logging");
  m.attr("math") = py::module_::import("math");
  m.attr("re") = py::module_::import("re");
  py::module_ abc = py::module_::import("abc");
  m.attr("ABCMeta") = abc.attr("ABCMeta");
  m.attr("abstractmethod") = abc.attr("abstractmethod");
  m.attr("reduce") = py::module_::import("functools").attr("reduce");
  // Recent PyMuPDF releases warn when imported as `fitz`; the module is the same.
  m.attr("fitz") = py::module_::import("pymupdf");
  py::module_ bs4 = py::module_::import("bs4");
  m.attr("BeautifulSoup") = bs4.attr("BeautifulSoup");
  m.attr("SoupStrainer") = bs4.attr("SoupStrainer");
}

}  // namespace quorl::python
