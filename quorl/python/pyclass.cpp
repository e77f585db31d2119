// Building ordinary Python classes with C++ methods, and the module's globals.
#include "quorl/python/pyclass.hpp"

namespace quorl::python {

namespace {
// Borrowed: the module object lives for the whole process once imported.
PyObject* module_namespace = nullptr;
}  // namespace

py::object make_class(py::module_& m, const char* name, const py::tuple& bases) {
  py::dict ns;
  ns["__module__"] = "quorl";
  ns["__qualname__"] = name;
  py::object cls = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyType_Type))(
      name, bases, ns);
  m.attr(name) = cls;
  return cls;
}

void set_module_namespace(const py::module_& m) {
  module_namespace = m.attr("__dict__").ptr();
  Py_INCREF(module_namespace);
}

py::object module_global(const char* name) {
  PyObject* value = PyDict_GetItemString(module_namespace, name);
  if (value == nullptr) {
    PyErr_Format(PyExc_NameError, "name '%s' is not defined", name);
    throw py::error_already_set();
  }
  return py::reinterpret_borrow<py::object>(value);
}

std::string docstring(std::initializer_list<const char*> lines, int indent, int tail_indent) {
  const std::string pad(static_cast<size_t>(indent), ' ');
  std::string doc;
  for (const char* line : lines) {
    doc += '\n';
    doc += pad;
    doc += line;
  }
  doc += '\n';
  doc.append(static_cast<size_t>(tail_indent), ' ');
  return doc;
}

}  // namespace quorl::python
