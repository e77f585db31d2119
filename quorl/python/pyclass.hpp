// Helpers shared by the binding files: ordinary Python classes (metaclass `type`) whose methods
// are C++ functions, access to the module's own globals, and docstring layout.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <utility>

namespace quorl::python {

namespace py = pybind11;

// Creates `name` as `type(name, bases, {'__module__': 'quorl', ...})` and binds it in `m`.
// Instances keep their attributes in `__dict__`, and Python subclasses behave as usual.
py::object make_class(py::module_& m, const char* name, const py::tuple& bases = py::tuple());

// Wraps a C++ function as a method of `cls`. pybind11 already returns a method (an
// instancemethod wrapping the builtin), so it binds `self` like a Python function does.
template <typename Func, typename... Extra>
void def_method(const py::object& cls, const char* name, Func&& f, const Extra&... extra) {
  // No overload sibling: a method replaces what the class or a base had under that name, as a
  // Python def does.
  py::cpp_function fn(std::forward<Func>(f), py::name(name), py::is_method(cls), extra...);
  // pybind11 treats any function named __init__ as a constructor of one of its own types and
  // would read our plain instance as its instance layout; ours is an ordinary method.
  py::handle builtin = py::detail::get_function(fn);
  if (auto* rec =
          py::detail::function_record_ptr_from_PyObject(PyCFunction_GET_SELF(builtin.ptr()))) {
    rec->is_constructor = false;
  }
  cls.attr(name) = fn;
}

// The module's global `name`, looked up at call time like a Python function's global, so that a
// caller who rebinds e.g. `quorl.PositionMapper` is honoured.
py::object module_global(const char* name);

// Remembers the module namespace for module_global; called once while the module is built.
void set_module_namespace(const py::module_& m);

// Docstring layout of the module's functions: a line break before each line, indented, and a
// final line break followed by `tail_indent` blanks.
std::string docstring(std::initializer_list<const char*> lines, int indent, int tail_indent);

// Module functions: four blanks before each line and a final line break and four blanks.
inline std::string function_doc(std::initializer_list<const char*> lines) {
  return docstring(lines, 4, 4);
}

// Methods: eight blanks before each line and a final line break and eight blanks.
inline std::string method_doc(std::initializer_list<const char*> lines) {
  return docstring(lines, 8, 8);
}

}  // namespace quorl::python
