// Python surface of the marks group: the annotation primitives and the Marker family.
#include <cstddef>
#include <string>
#include <utility>

#include "quorl/marks/image_note.hpp"
#include "quorl/marks/label_font.hpp"
#include "quorl/marks/label_geometry.hpp"
#include "quorl/marks/vocabulary.hpp"
#include "quorl/python/bindings.hpp"
#include "quorl/python/convert.hpp"
#include "quorl/python/drawing_session.hpp"
#include "quorl/python/pyclass.hpp"
#include "quorl/python/pymupdf_access.hpp"

// After Python.h, which the binding headers bring in.
#include <structmember.h>

namespace quorl::python {

namespace {

using marks::Box;
using marks::ImageRegion;
using namespace pybind11::literals;

// ---------------------------------------------------------------------------------------------
// Methods as Python functions behave.
//
// Two methods of the family cannot be plain pybind11 functions wrapped as instancemethods:
// - `abstractmethod` sets `__isabstractmethod__` on what it wraps, which neither a builtin
//   function nor an instancemethod accepts;
// - pybind11 treats a function named "__init__" as the constructor of one of its own classes and
//   reads `self` as a pybind11 instance, which a plain class's instance is not.
// This small type holds the C++ function (under an internal name for "__init__"), binds `self`
// like a Python function (a bound method on instance access, itself on class access) and keeps a
// `__dict__` with the method's public `__name__` and `__qualname__`.

struct CppMethod {
  PyObject_HEAD PyObject* function;
  PyObject* dict;
};

PyObject* cpp_method_call(PyObject* self, PyObject* args, PyObject* kwargs) {
  return PyObject_Call(reinterpret_cast<CppMethod*>(self)->function, args, kwargs);
}

PyObject* cpp_method_get(PyObject* self, PyObject* obj, PyObject* /*type*/) {
  if (obj == nullptr || obj == Py_None) {
    Py_INCREF(self);
    return self;
  }
  return PyMethod_New(self, obj);
}

int cpp_method_traverse(PyObject* self, visitproc visit, void* arg) {
  auto* method = reinterpret_cast<CppMethod*>(self);
  Py_VISIT(Py_TYPE(self));
  Py_VISIT(method->function);
  Py_VISIT(method->dict);
  return 0;
}

int cpp_method_clear(PyObject* self) {
  auto* method = reinterpret_cast<CppMethod*>(self);
  Py_CLEAR(method->function);
  Py_CLEAR(method->dict);
  return 0;
}

void cpp_method_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  PyObject_GC_UnTrack(self);
  cpp_method_clear(self);
  type->tp_free(self);
  Py_DECREF(type);
}

PyObject* cpp_method_repr(PyObject* self) {
  PyObject* qualname = PyObject_GetAttrString(self, "__qualname__");
  if (qualname == nullptr) return nullptr;
  PyObject* repr = PyUnicode_FromFormat("<method %S>", qualname);
  Py_DECREF(qualname);
  return repr;
}

// The wrapped function's own documentation (None for the Marker family).
PyObject* cpp_method_doc(PyObject* self, void* /*closure*/) {
  return PyObject_GetAttrString(reinterpret_cast<CppMethod*>(self)->function, "__doc__");
}

PyMemberDef cpp_method_members[] = {
    {const_cast<char*>("__func__"), T_OBJECT, offsetof(CppMethod, function), READONLY, nullptr},
    {const_cast<char*>("__dictoffset__"), T_PYSSIZET, offsetof(CppMethod, dict), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef cpp_method_getset[] = {
    {const_cast<char*>("__dict__"), PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr,
     nullptr},
    {const_cast<char*>("__doc__"), cpp_method_doc, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot cpp_method_slots[] = {
    {Py_tp_call, reinterpret_cast<void*>(cpp_method_call)},
    {Py_tp_descr_get, reinterpret_cast<void*>(cpp_method_get)},
    {Py_tp_traverse, reinterpret_cast<void*>(cpp_method_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(cpp_method_clear)},
    {Py_tp_dealloc, reinterpret_cast<void*>(cpp_method_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(cpp_method_repr)},
    {Py_tp_members, cpp_method_members},
    {Py_tp_getset, cpp_method_getset},
    {0, nullptr},
};

PyType_Spec cpp_method_spec = {
    "quorl.cpp_method", sizeof(CppMethod), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC,
    cpp_method_slots,
};

// Created once, when the module binds its names, and kept for the life of the process.
PyTypeObject* cpp_method_type() {
  static PyObject* type = nullptr;
  if (type == nullptr) {
    type = PyType_FromSpec(&cpp_method_spec);
    if (type == nullptr) throw py::error_already_set();
  }
  return reinterpret_cast<PyTypeObject*>(type);
}

// `name` of `cls` as a CppMethod; the C++ function is named by the method's qualified name, which
// pybind11's argument errors then show.
template <typename Func, typename... Extra>
py::object make_cpp_method(const py::object& cls, const char* name, Func&& f,
                           const Extra&... extra) {
  const std::string qualname = py::str(cls.attr("__qualname__")).cast<std::string>() + "." + name;
  py::cpp_function fn(std::forward<Func>(f), py::name(qualname.c_str()), py::is_method(cls),
                      extra...);
  // pybind11 wraps a method in an instancemethod; this type does the binding itself.
  py::object function =
      PyInstanceMethod_Check(fn.ptr())
          ? py::reinterpret_borrow<py::object>(PyInstanceMethod_GET_FUNCTION(fn.ptr()))
          : py::object(fn);
  auto* method = PyObject_GC_New(CppMethod, cpp_method_type());
  if (method == nullptr) throw py::error_already_set();
  method->function = function.release().ptr();
  method->dict = nullptr;
  PyObject_GC_Track(method);
  py::object wrapped = py::reinterpret_steal<py::object>(reinterpret_cast<PyObject*>(method));
  wrapped.attr("__module__") = "quorl";
  wrapped.attr("__name__") = name;
  wrapped.attr("__qualname__") = qualname;
  return wrapped;
}

template <typename Func, typename... Extra>
void def_cpp_method(const py::object& cls, const char* name, Func&& f, const Extra&... extra) {
  cls.attr(name) = make_cpp_method(cls, name, std::forward<Func>(f), extra...);
}

// `name` of `cls` passed through the module's `abstractmethod`, as the class body would.
template <typename Func, typename... Extra>
void def_abstract_method(const py::object& cls, const char* name, Func&& f, const Extra&... extra) {
  cls.attr(name) =
      module_global("abstractmethod")(make_cpp_method(cls, name, std::forward<Func>(f), extra...));
}

// ---------------------------------------------------------------------------------------------
// Conversions of the objects callers hand in.

std::size_t length_of(const py::handle& value) {
  return py::len(value);
}

// `token in container`, with the interpreter's meaning of `in` for whatever `container` is.
bool contains(const py::handle& container, const char* token) {
  const int found = PySequence_Contains(container.ptr(), py::str(token).ptr());
  if (found < 0) throw py::error_already_set();
  return found == 1;
}

py::list as_list(const Box& box) {
  py::list list;
  for (double edge : {box.x0, box.y0, box.x1, box.y1}) list.append(edge);
  return list;
}

py::tuple as_tuple(const Box& box) {
  return py::make_tuple(box.x0, box.y0, box.x1, box.y1);
}

py::dict annotation_info(const char* subject, const py::object& content) {
  py::dict info;
  info["subject"] = subject;
  info["title"] = marks::kAnnotationAuthor;
  info["content"] = content;
  return info;
}

// ---------------------------------------------------------------------------------------------
// Annotation primitives.

// Labels holding text beyond Latin-1 are redrawn under a Chinese annotation language, so the
// PDF library picks its CJK font instead of the default one, which has no such glyphs.
bool use_cjk_font(const py::handle& annot, const py::handle& text) {
  if (!marks::label_needs_cjk_font(to_u32(text))) return false;
  annot.attr("set_language")(marks::kCjkLabelLanguage);
  return true;
}

// The text of a label. PyMuPDF takes nothing but a string, and it checks only after creating the
// annotation (leaving a broken one behind) or, for None, not at all.
py::object label_text(const char* function, const py::object& ninfo) {
  py::object text = ninfo[py::str("content")];
  if (!PyUnicode_Check(text.ptr())) {
    throw py::type_error(std::string(function) +
                         "(): the label text ninfo['content'] must be str, not " +
                         Py_TYPE(text.ptr())->tp_name);
  }
  return text;
}

py::object add_label(const py::object& page, const py::object& rect, const py::object& text,
                     const py::object& tsize, const py::object& tcolor, const py::object& fcolor) {
  return page.attr("add_freetext_annot")(rect, "text"_a = text, "fontsize"_a = tsize, "align"_a = 1,
                                         "text_color"_a = tcolor, "fill_color"_a = fcolor);
}

void add_highlight_mark(const py::object& page, const py::object& rectlist,
                        const py::object& hinfo) {
  if (draw_session_highlight(page, rectlist, hinfo)) return;
  py::object annot = page.attr("add_highlight_annot")(rectlist);
  annot.attr("set_info")(hinfo);
  annot.attr("update")();
}

void add_num_mark(const py::object& page, const py::object& rect, const py::object& ninfo,
                  const py::object& tsize, const py::object& tcolor, const py::object& fcolor) {
  py::object text = label_text("_add_num_mark", ninfo);
  py::object annot = add_label(page, rect, text, tsize, tcolor, fcolor);
  use_cjk_font(annot, text);
  annot.attr("set_info")(ninfo);
  annot.attr("update")();
}

void add_flag_mark(const py::object& page, const py::object& rect, const py::object& ninfo,
                   const py::object& tsize, const py::object& tcolor, const py::object& fcolor) {
  py::object text = label_text("_add_flag_mark", ninfo);
  py::object annot = add_label(page, rect, text, tsize, tcolor, fcolor);
  // A flag keeps the appearance it is created with; only a CJK label needs it redrawn.
  if (use_cjk_font(annot, text)) annot.attr("update")();
}

void bind_primitives(py::module_& m) {
  m.def("_add_highlight_mark", &add_highlight_mark, py::arg("page"), py::arg("rectlist"),
        py::arg("hinfo"));
  m.def("_add_num_mark", &add_num_mark, py::arg("page"), py::arg("rect"), py::arg("ninfo"),
        py::arg("tsize") = 9, py::arg("tcolor") = py::make_tuple(1, 0, 0),
        py::arg("fcolor") = py::make_tuple(1, 1, 1));
  m.def("_add_flag_mark", &add_flag_mark, py::arg("page"), py::arg("rect"), py::arg("ninfo"),
        py::arg("tsize") = 10, py::arg("tcolor") = py::make_tuple(0, 0, 0),
        py::arg("fcolor") = py::make_tuple(1, 1, 1));
}

// ---------------------------------------------------------------------------------------------
// Marker family.

// The label record of a numbered mark: a duplicate ("EQUAL" in info) reads "=" + title, a title
// with a hyphen is a range, anything else a single number.
py::dict number_info(const py::object& self) {
  py::str title = py::str(self.attr("title"));
  py::dict numinfo = annotation_info(
      contains(title, marks::kRangeToken) ? marks::kRangeSubject : marks::kSingleNumberSubject,
      title);
  if (contains(self.attr("info"), marks::kEqualToken)) {
    numinfo = annotation_info(marks::kDuplicateSubject, py::str(marks::kDuplicatePrefix) + title);
  }
  return numinfo;
}

// `int(field) / 1000` by the interpreter, for the region values the fast path leaves to it.
double interpreter_fraction(const py::handle& field) {
  py::object value =
      py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyLong_Type))(field);
  PyObject* quotient = PyNumber_TrueDivide(value.ptr(), py::int_(1000).ptr());
  if (quotient == nullptr) throw py::error_already_set();
  return to_double(py::reinterpret_steal<py::object>(quotient));
}

double region_fraction(std::u32string_view field) {
  if (auto fraction = marks::note_fraction(field)) return *fraction;
  return interpreter_fraction(from_u32(field));
}

[[noreturn]] void raise_too_few_region_values(std::size_t count) {
  throw py::value_error("not enough values to unpack (expected 4, got " + std::to_string(count) +
                        ")");
}

// The figure region after "imagenote": `info.split('#')[1].split('$')[0].split(',')`, its first
// four values read as thousandths.
ImageRegion image_region(const py::object& info) {
  double values[4];
  if (PyUnicode_CheckExact(info.ptr())) {
    const std::u32string text = to_u32(info);
    const marks::ImageNoteFields note = marks::image_note_fields(text);
    if (note.status == marks::ImageNoteStatus::kNoRegionField) {
      throw py::index_error("list index out of range");
    }
    if (note.status == marks::ImageNoteStatus::kTooFewFields) {
      raise_too_few_region_values(note.fields.size());
    }
    for (std::size_t i = 0; i < 4; ++i) values[i] = region_fraction(note.fields[i]);
  } else {
    // Some other object that passed the `in` test: its own split decides, as it would in Python.
    py::object fields = item(item(info.attr("split")("#"), 1).attr("split")("$"), 0)
                            .attr("split")(",")[py::slice(0, 4, 1)];
    const std::size_t count = py::len(fields);
    if (count < 4) raise_too_few_region_values(count);
    for (std::size_t i = 0; i < 4; ++i) values[i] = interpreter_fraction(item(fields, i));
  }
  return {values[0], values[1], values[2], values[3]};
}

void marker_init(const py::object& self, const py::object& title, const py::object& content,
                 const py::object& position, const py::object& info) {
  self.attr("mid") = py::none();
  self.attr("title") = py::str(title);
  self.attr("content") = content;
  self.attr("position") = position;
  self.attr("info") = info;
}

py::object marker_str(const py::object& self) {
  return py::str("<{} {} object of {}>")
      .format(self.attr("__class__"), self.attr("title"), self.attr("content"));
}

py::object title_of(const py::object& self) {
  return self.attr("title");
}

void ignore_setmarker(const py::object&, const py::object&) {}

// The pages of a marker's lines, each loaded once for a run of lines on it: loading a page costs
// PyMuPDF about as much as the bookkeeping of a highlight, and most marks lie on one page.
class LinePages {
 public:
  explicit LinePages(const py::object& pdfdoc) : pdfdoc_(pdfdoc) {}
  py::object operator()(const py::object& number) {
    // Only plain ints are known to name the same page when equal.
    const bool same = page_ && PyLong_CheckExact(number.ptr()) &&
                      PyLong_CheckExact(number_.ptr()) && number.equal(number_);
    if (!same) {
      page_ = marking_page(pdfdoc_, number);
      number_ = number;
    }
    return page_;
  }

 private:
  py::object pdfdoc_, page_, number_;
};

void cth_addmarker(const py::object& self, const py::object& pdfdoc) {
  py::dict highlightinfo = annotation_info(marks::kHighlightSubject, self.attr("content"));
  py::object add_highlight = module_global("_add_highlight_mark");
  LinePages pages(pdfdoc);
  for (py::handle pos : self.attr("position")) {
    add_highlight(pages(item(pos, 0)), item(pos, 1), highlightinfo);
  }
}

void par_addmarker(const py::object& self, const py::object& pdfdoc) {
  py::dict highlightinfo = annotation_info(marks::kHighlightSubject, self.attr("content"));
  py::dict numinfo = number_info(self);
  bool flag = false;
  LinePages pages(pdfdoc);
  for (py::handle pos : self.attr("position")) {
    py::object page = pages(item(pos, 0));
    py::object rectlist = item(pos, 1);
    module_global("_add_highlight_mark")(page, rectlist, highlightinfo);
    if (flag) continue;
    const Box label =
        marks::number_label_box(box_from_attributes(rectlist), length_of(self.attr("title")));
    module_global("_add_num_mark")(page, as_list(label), numinfo);
    flag = true;
  }
}

// The page and the marked rectangle of the first line (for a figure: its image).
std::pair<py::object, py::object> first_position(const py::object& self, const py::object& pdfdoc) {
  py::object first = item(self.attr("position"), 0);
  return {marking_page(pdfdoc, item(first, 0)), item(first, 1)};
}

void image_marker_init(const py::object& cls, const py::object& self, const py::args& args,
                       const py::kwargs& kwargs) {
  py::object super = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PySuper_Type));
  super(cls, self).attr("__init__")(*args, **kwargs);
  self.attr("imageinfo") = py::none();
}

void imgpar_addmarker(const py::object& self, const py::object& pdfdoc) {
  py::dict numinfo = number_info(self);
  auto [page, rectlist] = first_position(self, pdfdoc);
  py::object info = self.attr("info");
  if (contains(info, marks::kImageNoteToken)) {
    const ImageRegion region = image_region(info);
    const Box label = marks::image_number_label_box(box_from_items(rectlist), region,
                                                    length_of(self.attr("title")));
    rectlist = as_tuple(label);
  }
  module_global("_add_num_mark")(page, rectlist, numinfo);
}

void imgig_addmarker(const py::object& self, const py::object& pdfdoc) {
  py::object content = self.attr("content");
  py::dict numinfo = annotation_info(marks::kFigureContentSubject, content);
  auto [page, rectlist] = first_position(self, pdfdoc);
  py::object info = self.attr("info");
  if (contains(info, marks::kImageNoteToken)) {
    const ImageRegion region = image_region(info);
    const Box label = marks::image_content_label_box(box_from_items(rectlist), region,
                                                     length_of(self.attr("content")));
    rectlist = as_tuple(label);
  }
  module_global("_add_num_mark")(page, rectlist, numinfo, "tsize"_a = 14,
                                 "tcolor"_a = py::make_tuple(0.5, 0, 0.5));
}

void flag_addmarker(const py::object& self, const py::object& pdfdoc) {
  py::dict claims_info = annotation_info(marks::kFlagSubject, py::str(marks::kClaimsFlagText));
  py::object claims_page = marking_page(pdfdoc, py::int_(marks::kClaimsFlagPage));
  const auto& claims_box = marks::kClaimsFlagBox;
  module_global("_add_flag_mark")(
      claims_page, py::make_tuple(claims_box[0], claims_box[1], claims_box[2], claims_box[3]),
      claims_info, "fcolor"_a = py::make_tuple(1, 0.4, 0.4));

  py::dict examples_info = annotation_info(marks::kFlagSubject, self.attr("content"));
  auto [page, rectlist] = first_position(self, pdfdoc);
  // The marker's own rectangle is moved to the flag column, in place.
  rectlist[py::int_(0)] = py::int_(marks::kFlagLeft);
  rectlist[py::int_(2)] = py::int_(marks::kFlagRight);
  py::object top = item(rectlist, 1);
  rectlist[py::int_(3)] = top + py::int_(marks::kFlagHeight);
  module_global("_add_flag_mark")(page, rectlist, examples_info,
                                  "fcolor"_a = py::make_tuple(0.52, 0.64, 1));
}

// getmarker and setmarker are the same in every kind of marker.
void def_accessors(const py::object& cls) {
  def_method(cls, "setmarker", &ignore_setmarker, py::arg("info"));
  def_method(cls, "getmarker", &title_of);
}

py::object make_marker_kind(py::module_& m, const char* name, const py::object& base,
                            void (*addmarker)(const py::object&, const py::object&)) {
  py::object cls = make_class(m, name, py::make_tuple(base));
  def_accessors(cls);
  def_method(cls, "addmarker", addmarker, py::arg("pdfdoc"));
  return cls;
}

py::object make_image_marker_kind(py::module_& m, const char* name, const py::object& base,
                                  void (*addmarker)(const py::object&, const py::object&)) {
  py::object cls = make_class(m, name, py::make_tuple(base));
  // Like Python's zero-argument super(), the class the method is defined in, not a lookup.
  def_cpp_method(cls, "__init__",
                 [cls](const py::object& self, const py::args& args, const py::kwargs& kwargs) {
                   image_marker_init(cls, self, args, kwargs);
                 });
  def_accessors(cls);
  def_method(cls, "addmarker", addmarker, py::arg("pdfdoc"));
  return cls;
}

void bind_marker_family(py::module_& m) {
  py::object marker = make_class(m, marks::kMarkerBaseClass);
  def_cpp_method(marker, "__init__", &marker_init, py::arg("title"), py::arg("content"),
                 py::arg("position"), py::arg("info") = "");
  def_method(marker, "__str__", &marker_str);
  def_abstract_method(marker, "setmarker", &ignore_setmarker, py::arg("info"));
  def_abstract_method(marker, "getmarker",
                      [](const py::object&) { return py::object(py::none()); });
  def_abstract_method(
      marker, "addmarker", [](const py::object&, const py::object&) {}, py::arg("pdfdoc"));

  make_marker_kind(m, marks::kCthMarkerClass, marker, &cth_addmarker);
  make_marker_kind(m, marks::kParMarkerClass, marker, &par_addmarker);
  make_image_marker_kind(m, marks::kImgParMarkerClass, marker, &imgpar_addmarker);
  make_image_marker_kind(m, marks::kImgIgMarkerClass, marker, &imgig_addmarker);
  make_marker_kind(m, marks::kFlagMarkerClass, marker, &flag_addmarker);
}

}  // namespace

void bind_marks(py::module_& m) {
  bind_primitives(m);
  bind_marker_family(m);
}

}  // namespace quorl::python
