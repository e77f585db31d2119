// Highlights drawn through MuPDF's low-level calls directly, checked against PyMuPDF's methods.
#include "quorl/python/highlight_drawing.hpp"

#include <cmath>
#include <cstddef>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "quorl/python/pyclass.hpp"

namespace quorl::python {

namespace {

// PyMuPDF's methods whose effect is drawn here, and MuPDF's functions they end in, looked up once.
// The functions are mupdf's low-level ones on plain pointers: its class wrappers cost several
// microseconds a call in reference keeping and argument checks, ten times the call itself, so
// the references these functions hand out are dropped here as the wrappers would drop them.
struct Calls {
  py::object fitz, page_class, rect_class, annot_class, annot_wrapper;
  py::object add_highlight_annot, set_info, update;
  py::object dict_get_inheritable, to_int, dict_put_int, create_annot, keep_annot, drop_annot,
      make_quad, add_quad_point, update_annot, annot_obj, set_contents, has_author, set_author,
      new_text_string, new_string, dict_puts, drop_obj, dict_get, dict_len, dict_get_val,
      dict_get_key, is_dict, objcmp, to_name, is_number, to_real, dict_del, dirty_annot, is_stream,
      dict_put_dict, new_dict, dict_put_real, dict_put_name, dict_put, load_stream, to_bytes,
      bytes_data, buffer_from_copy, deflate, deflate_lengths, buffer_from_data, resize_buffer,
      drop_buffer, update_stream;
  // MuPDF's names (static objects, never freed), as pointers.
  py::object rotate, bm, ap, n, resources, ext_g_state, stroke_alpha, fill_alpha, ic, h, filter,
      flate_decode;
  py::object highlight, deflate_best, subject_key, name_key;
};

enum class Verdict { kNotChecked, kSame, kDifferent };

Verdict verdict = Verdict::kNotChecked;
// Made on the first check and kept for the process (never destroyed: it holds Python objects the
// interpreter may have finalized by the time static destructors would run).
Calls* calls = nullptr;

Calls* load_calls() {
  auto* c = new Calls;
  try {
    py::object fitz = module_global("fitz");
    py::object mupdf = fitz.attr("mupdf");
    py::object compiled = mupdf.attr("_mupdf");
    auto fn = [&](const char* name) {
      return py::object(compiled.attr(("ll_" + std::string(name)).c_str()));
    };
    auto pdf_name = [&](const char* name) {
      py::object wrapped =
          mupdf.attr("PdfObj")(mupdf.attr(("PDF_ENUM_NAME_" + std::string(name)).c_str()));
      return py::object(wrapped.attr("m_internal"));
    };
    c->fitz = fitz;
    c->page_class = fitz.attr("Page");
    c->rect_class = fitz.attr("Rect");
    c->annot_class = fitz.attr("Annot");
    c->annot_wrapper = mupdf.attr("PdfAnnot");
    c->add_highlight_annot = c->page_class.attr("add_highlight_annot");
    c->set_info = c->annot_class.attr("set_info");
    c->update = c->annot_class.attr("update");
    using Member = py::object Calls::*;
    const std::pair<Member, const char*> functions[] = {
        {&Calls::dict_get_inheritable, "pdf_dict_get_inheritable"},
        {&Calls::to_int, "pdf_to_int"},
        {&Calls::dict_put_int, "pdf_dict_put_int"},
        {&Calls::create_annot, "pdf_create_annot"},
        {&Calls::keep_annot, "pdf_keep_annot"},
        {&Calls::drop_annot, "pdf_drop_annot"},
        {&Calls::make_quad, "fz_make_quad"},
        {&Calls::add_quad_point, "pdf_add_annot_quad_point"},
        {&Calls::update_annot, "pdf_update_annot"},
        {&Calls::annot_obj, "pdf_annot_obj"},
        {&Calls::set_contents, "pdf_set_annot_contents"},
        {&Calls::has_author, "pdf_annot_has_author"},
        {&Calls::set_author, "pdf_set_annot_author"},
        {&Calls::new_text_string, "pdf_new_text_string"},
        {&Calls::new_string, "pdf_new_string"},
        {&Calls::dict_puts, "pdf_dict_puts"},
        {&Calls::drop_obj, "pdf_drop_obj"},
        {&Calls::dict_get, "pdf_dict_get"},
        {&Calls::dict_len, "pdf_dict_len"},
        {&Calls::dict_get_val, "pdf_dict_get_val"},
        {&Calls::dict_get_key, "pdf_dict_get_key"},
        {&Calls::is_dict, "pdf_is_dict"},
        {&Calls::objcmp, "pdf_objcmp"},
        {&Calls::to_name, "pdf_to_name"},
        {&Calls::is_number, "pdf_is_number"},
        {&Calls::to_real, "pdf_to_real"},
        {&Calls::dict_del, "pdf_dict_del"},
        {&Calls::dirty_annot, "pdf_dirty_annot"},
        {&Calls::is_stream, "pdf_is_stream"},
        {&Calls::dict_put_dict, "pdf_dict_put_dict"},
        {&Calls::new_dict, "pdf_new_dict"},
        {&Calls::dict_put_real, "pdf_dict_put_real"},
        {&Calls::dict_put_name, "pdf_dict_put_name"},
        {&Calls::dict_put, "pdf_dict_put"},
        {&Calls::load_stream, "pdf_load_stream"},
        {&Calls::to_bytes, "fz_buffer_to_bytes_internal"},
        {&Calls::buffer_from_copy, "fz_new_buffer_from_copied_data"},
        {&Calls::deflate, "fz_new_deflated_data_from_buffer_outparams_fn"},
        {&Calls::buffer_from_data, "fz_new_buffer_from_data"},
        {&Calls::resize_buffer, "fz_resize_buffer"},
        {&Calls::drop_buffer, "fz_drop_buffer"},
        {&Calls::update_stream, "pdf_update_stream"},
    };
    for (const auto& [member, name] : functions) c->*member = fn(name);
    c->bytes_data = compiled.attr("python_buffer_data");
    c->deflate_lengths = mupdf.attr("ll_fz_new_deflated_data_from_buffer_outparams");
    const std::pair<Member, const char*> names[] = {
        {&Calls::rotate, "Rotate"},
        {&Calls::bm, "BM"},
        {&Calls::ap, "AP"},
        {&Calls::n, "N"},
        {&Calls::resources, "Resources"},
        {&Calls::ext_g_state, "ExtGState"},
        {&Calls::stroke_alpha, "CA"},
        {&Calls::fill_alpha, "ca"},
        {&Calls::ic, "IC"},
        {&Calls::h, "H"},
        {&Calls::filter, "Filter"},
        {&Calls::flate_decode, "FlateDecode"},
    };
    for (const auto& [member, name] : names) c->*member = pdf_name(name);
    c->highlight = mupdf.attr("PDF_ANNOT_HIGHLIGHT");
    c->deflate_best = mupdf.attr("FZ_DEFLATE_BEST");
    c->subject_key = py::str("Subj");
    c->name_key = py::str("NM");
  } catch (...) {
    delete c;
    throw;
  }
  return c;
}

// A reference MuPDF handed out, dropped when it goes out of scope.
class Owned {
 public:
  Owned(py::object value, const py::object& drop) : value_(std::move(value)), drop_(drop) {}
  ~Owned() {
    if (value_.is_none()) return;
    try {
      drop_(value_);
    } catch (py::error_already_set& e) {
      e.discard_as_unraisable("quorl: dropping a MuPDF reference");
    }
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  const py::object& get() const { return value_; }

 private:
  py::object value_;
  const py::object& drop_;
};

bool truth(const py::handle& value) {
  const int result = PyObject_IsTrue(value.ptr());
  if (result < 0) throw py::error_already_set();
  return result == 1;
}

// Whether a pointer MuPDF returned is set (a null pointer comes back as None).
bool holds(const py::object& pointer) {
  return !pointer.is_none();
}

// A plain number as Python's float() reads it.
bool plain_number(PyObject* value, double& out) {
  if (PyFloat_CheckExact(value)) {
    out = PyFloat_AS_DOUBLE(value);
    return true;
  }
  if (!PyLong_CheckExact(value)) return false;
  out = PyLong_AsDouble(value);
  if (out == -1.0 && PyErr_Occurred()) {
    PyErr_Clear();
    return false;
  }
  return true;
}

struct Corners {
  double x0, y0, x1, y1;
};

// The rectangle of a fitz.Rect or of 4 plain numbers in a tuple or list, when PyMuPDF takes it as
// one highlight quad (neither empty nor infinite).
bool read_rect(const Calls& c, const py::handle& rect, Corners& out) {
  double v[4];
  PyObject* r = rect.ptr();
  if (Py_TYPE(r) == reinterpret_cast<PyTypeObject*>(c.rect_class.ptr())) {
    const char* names[] = {"x0", "y0", "x1", "y1"};
    for (int i = 0; i < 4; ++i) {
      py::object edge = rect.attr(names[i]);
      if (!plain_number(edge.ptr(), v[i])) return false;
    }
  } else if ((PyTuple_CheckExact(r) && PyTuple_GET_SIZE(r) == 4) ||
             (PyList_CheckExact(r) && PyList_GET_SIZE(r) == 4)) {
    for (Py_ssize_t i = 0; i < 4; ++i) {
      PyObject* edge = PyTuple_CheckExact(r) ? PyTuple_GET_ITEM(r, i) : PyList_GET_ITEM(r, i);
      if (!plain_number(edge, v[i])) return false;
    }
  } else {
    return false;
  }
  for (double edge : v) {
    if (!std::isfinite(edge)) return false;
  }
  // PyMuPDF's FZ_MIN_INF_RECT and FZ_MAX_INF_RECT: the infinite rectangle.
  const double min_inf = -2147483648.0, max_inf = 2147483520.0;
  const bool infinite = v[0] == min_inf && v[1] == min_inf && v[2] == max_inf && v[3] == max_inf;
  if (v[0] >= v[2] || v[1] >= v[3] || infinite) return false;
  out = {v[0], v[1], v[2], v[3]};
  return true;
}

// Annot.set_info's fields of an info dict, when each is a str or missing; the dates are left to
// PyMuPDF.
struct InfoFields {
  py::object content, title, subject;
};

bool read_info(const py::handle& info, InfoFields& out) {
  if (!PyDict_CheckExact(info.ptr())) return false;
  auto field = [&](const char* key, py::object& value) {
    PyObject* found = PyDict_GetItemString(info.ptr(), key);
    if (found == nullptr || found == Py_None) {
      value = py::none();
      return true;
    }
    if (!PyUnicode_CheckExact(found)) return false;
    value = py::reinterpret_borrow<py::object>(found);
    return true;
  };
  py::object date;
  return field("content", out.content) && field("title", out.title) &&
         field("subject", out.subject) && field("creationDate", date) && date.is_none() &&
         field("modDate", date) && date.is_none();
}

// PyMuPDF's JM_norm_rotation: 0, 90, 180 or 270.
long norm_rotation(long rotate) {
  rotate %= 360;
  if (rotate < 0) rotate += 360;
  return rotate % 90 == 0 ? rotate : 0;
}

// pdf_dict_getl: the value at the end of a path of keys.
py::object dict_path(const Calls& c, py::object obj,
                     std::initializer_list<const py::object*> keys) {
  for (const py::object* key : keys) {
    if (!holds(obj)) break;
    obj = c.dict_get(obj, *key);
  }
  return obj;
}

// Annot.blendmode: /BM of the annotation, else the first /BM among the graphics states of its
// appearance's resources.
py::object blend_mode(const Calls& c, const py::object& annot_obj) {
  py::object own = c.dict_get(annot_obj, c.bm);
  if (holds(own)) return c.to_name(own);
  py::object states = dict_path(c, annot_obj, {&c.ap, &c.n, &c.resources, &c.ext_g_state});
  if (!truth(c.is_dict(states))) return py::none();
  const long count = c.dict_len(states).cast<long>();
  for (long i = 0; i < count; ++i) {
    py::object state = c.dict_get_val(states, i);
    if (!truth(c.is_dict(state))) continue;
    const long keys = c.dict_len(state).cast<long>();
    for (long j = 0; j < keys; ++j) {
      if (c.objcmp(c.dict_get_key(state, j), c.bm).cast<long>() == 0) {
        return c.to_name(c.dict_get_val(state, j));
      }
    }
  }
  return py::none();
}

// Annot.opacity: /CA of the annotation, -1 without one.
double opacity_of(const Calls& c, const py::object& annot_obj) {
  py::object alpha = c.dict_get(annot_obj, c.stroke_alpha);
  return truth(c.is_number(alpha)) ? c.to_real(alpha).cast<double>() : -1.0;
}

// PyMuPDF's JM_update_stream: the new content, compressed when that makes it shorter. Where
// compressing yields nothing PyMuPDF's Annot._setAP fails, and quietly leaves the stream as it is.
void update_stream(const Calls& c, const PdfPageHandles& page, const py::object& stream,
                   const std::string& content) {
  py::bytes data(content);
  Owned buffer(c.buffer_from_copy(c.bytes_data(data), content.size()), c.drop_buffer);
  if (content.size() > 30) {
    py::object lengths = c.deflate_lengths();
    py::object deflated = c.deflate(buffer.get(), c.deflate_best, lengths);
    const std::size_t compressed_length = lengths.attr("compressed_length").cast<std::size_t>();
    if (!holds(deflated) || compressed_length == 0) return;
    Owned compressed(c.buffer_from_data(deflated, compressed_length), c.drop_buffer);
    c.resize_buffer(compressed.get(), compressed_length);
    if (compressed_length < content.size()) {
      c.dict_put(stream, c.filter, c.flate_decode);
      c.update_stream(page.pdf_doc, stream, compressed.get(), 1);
      return;
    }
  }
  c.update_stream(page.pdf_doc, stream, buffer.get(), 0);
}

// Annot._update_appearance's graphics state /H for an opacity or blend mode, and Annot.update's
// use of it in the appearance stream.
void apply_graphics_state(const Calls& c, const PdfPageHandles& page, const py::object& annot_obj,
                          double opacity, const py::object& blend) {
  py::object ap = dict_path(c, annot_obj, {&c.ap, &c.n});
  if (!holds(ap)) throw std::runtime_error("bad or missing annot AP/N");
  py::object resources = c.dict_get(ap, c.resources);
  if (!holds(resources)) resources = c.dict_put_dict(ap, c.resources, 2);
  Owned state(c.new_dict(page.pdf_doc, 3), c.drop_obj);
  if (opacity >= 0 && opacity < 1) {
    c.dict_put_real(state.get(), c.stroke_alpha, opacity);
    c.dict_put_real(state.get(), c.fill_alpha, opacity);
    c.dict_put_real(annot_obj, c.stroke_alpha, opacity);
  }
  if (truth(blend)) {
    c.dict_put_name(state.get(), c.bm, blend);
    c.dict_put_name(annot_obj, c.bm, blend);
  }
  py::object states = c.dict_get(resources, c.ext_g_state);
  if (!holds(states)) states = c.dict_put_dict(resources, c.ext_g_state, 2);
  c.dict_put(states, c.h, state.get());

  // The appearance MuPDF made, drawn under that state; PyMuPDF leaves anything but a stream.
  py::object stream = dict_path(c, annot_obj, {&c.ap, &c.n});
  if (!holds(stream) || !truth(c.is_stream(stream))) return;
  std::string content = "q\n/H gs\n";
  {
    Owned drawn(c.load_stream(stream), c.drop_buffer);
    content += std::string(py::bytes(c.to_bytes(drawn.get(), 0)));
  }
  content += "\nQ\n";
  update_stream(c, page, stream, content);
}

bool methods_unchanged(const Calls& c, const py::object& page) {
  if (Py_TYPE(page.ptr()) != reinterpret_cast<PyTypeObject*>(c.page_class.ptr())) return false;
  return py::object(c.page_class.attr("add_highlight_annot")).is(c.add_highlight_annot) &&
         py::object(c.annot_class.attr("set_info")).is(c.set_info) &&
         py::object(c.annot_class.attr("update")).is(c.update);
}

void draw(const Calls& c, const PdfPageHandles& page, const Corners& r, const InfoFields& info,
          const AnnotNamer& name) {
  // Page.add_highlight_annot: the quad is placed on the page unturned.
  const long rotation =
      norm_rotation(c.to_int(c.dict_get_inheritable(page.page_obj, c.rotate)).cast<long>());
  if (rotation != 0) c.dict_put_int(page.page_obj, c.rotate, 0);
  std::optional<Owned> annot;
  py::object annot_obj;
  try {
    annot.emplace(c.create_annot(page.pdf_page, c.highlight), c.drop_annot);
    c.add_quad_point(annot->get(), c.make_quad(r.x0, r.y0, r.x1, r.y0, r.x0, r.y1, r.x1, r.y1));
    c.update_annot(annot->get());
    annot_obj = c.annot_obj(annot->get());
    name(annot->get(), annot_obj);
  } catch (...) {
    if (rotation != 0) c.dict_put_int(page.page_obj, c.rotate, rotation);
    throw;
  }
  if (rotation != 0) c.dict_put_int(page.page_obj, c.rotate, rotation);

  // Annot.set_info.
  const py::object& a = annot->get();
  if (truth(info.content)) c.set_contents(a, info.content);
  if (truth(c.has_author(a))) {
    if (truth(info.title)) c.set_author(a, info.title);
    if (truth(info.subject)) {
      Owned subject(c.new_text_string(info.subject), c.drop_obj);
      c.dict_puts(annot_obj, c.subject_key, subject.get());
    }
  }

  // Annot.update: a highlight has no fill colour, no rotation and no line ends.
  py::object blend = blend_mode(c, annot_obj);
  const double opacity = opacity_of(c, annot_obj);
  c.dict_del(annot_obj, c.ic);
  c.dirty_annot(a);
  c.update_annot(a);
  if ((opacity >= 0 && opacity < 1) || truth(blend)) {
    apply_graphics_state(c, page, annot_obj, opacity, blend);
  }
}

// The check's scratch document: a plain page, and a page turned by 90 degrees whose cropbox
// starts away from the mediabox's corner; each gets one highlight with Chinese info.
py::bytes scratch_highlights(bool directly) {
  const Calls& c = *calls;
  py::object doc = c.fitz.attr("open")();
  for (int turn : {0, 90}) {
    py::object page = doc.attr("new_page")(py::arg("width") = 400, py::arg("height") = 500);
    if (turn != 0) {
      page.attr("set_cropbox")(c.rect_class(20, 30, 380, 470));
      page.attr("set_rotation")(turn);
    }
  }
  py::dict info;
  info["subject"] = "高亮";
  info["title"] = "quorl";
  info["content"] = "核对 ünïcode";
  for (int number : {0, 1}) {
    py::object page = doc[py::int_(number)];
    py::object rect = c.rect_class(60.5, 100.25, 210, 112.75);
    if (directly) {
      // PyMuPDF's naming, on its own wrapper of the annotation (which drops what it keeps).
      py::object namer = c.fitz.attr("JM_add_annot_id");
      Corners corners{};
      InfoFields fields;
      read_rect(c, rect, corners);
      read_info(info, fields);
      draw(c, pdf_page_handles(page), corners, fields,
           [&](const py::object& annot, const py::object&) {
             namer(c.annot_wrapper(c.keep_annot(annot)), "A");
           });
    } else {
      py::object annot = page.attr("add_highlight_annot")(rect);
      annot.attr("set_info")(info);
      annot.attr("update")();
    }
  }
  return doc.attr("write")(py::arg("no_new_id") = true);
}

// The plain pointer of a mupdf wrapper, for the low-level functions.
py::object pointer_of(const py::object& wrapper) {
  py::object internal = wrapper.attr("m_internal");
  // Wrapped structs come as proxies around the pointer object.
  return py::hasattr(internal, "this") ? py::object(internal.attr("this")) : internal;
}

}  // namespace

PdfPageHandles pdf_page_handles(const py::object& page) {
  py::object fitz = module_global("fitz");
  PdfPageHandles handles;
  handles.page = page;
  handles.pdf_page_wrapper = fitz.attr("_as_pdf_page")(page);
  py::object page_obj = handles.pdf_page_wrapper.attr("obj")();
  py::object pdf_doc = handles.pdf_page_wrapper.attr("doc")();
  handles.wrappers = py::make_tuple(page_obj, pdf_doc);
  handles.pdf_page = pointer_of(handles.pdf_page_wrapper);
  handles.page_obj = pointer_of(page_obj);
  handles.pdf_doc = pointer_of(pdf_doc);
  handles.pdf_doc_fields = pdf_doc.attr("m_internal");
  handles.xref = fitz.attr("mupdf").attr("pdf_to_num")(page_obj).cast<long long>();
  return handles;
}

void name_annotation(const py::object& annot_obj, const std::string& name,
                     const PdfPageHandles& page) {
  const Calls& c = *calls;
  py::str text(name);
  Owned value(c.new_string(text, py::len(text)), c.drop_obj);
  c.dict_puts(annot_obj, c.name_key, value.get());
  page.pdf_doc_fields.attr("resynth_required") = 0;
}

bool direct_highlights_checked(bool again) {
  if (verdict != Verdict::kNotChecked && !again) return verdict == Verdict::kSame;
  verdict = Verdict::kDifferent;
  try {
    // Looked up again on a new check: the functions are what is checked. The old ones are kept,
    // as another thread may be drawing with them.
    if (again) calls = nullptr;
    if (calls == nullptr) calls = load_calls();
    if (scratch_highlights(true).equal(scratch_highlights(false))) verdict = Verdict::kSame;
  } catch (py::error_already_set&) {
    // A PyMuPDF without one of the calls, or one that draws otherwise: its methods draw.
  } catch (std::exception&) {
  }
  return verdict == Verdict::kSame;
}

bool draw_highlight_directly(const PdfPageHandles& page, const py::handle& rect,
                             const py::handle& info, const AnnotNamer& name) {
  if (!direct_highlights_checked()) return false;
  const Calls& c = *calls;
  Corners corners{};
  InfoFields fields;
  if (!methods_unchanged(c, page.page) || !read_rect(c, rect, corners) ||
      !read_info(info, fields)) {
    return false;
  }
  draw(c, page, corners, fields, name);
  return true;
}

void bind_highlight_drawing(py::module_& m) {
  m.def(
      "_direct_highlights", [](bool check_again) { return direct_highlights_checked(check_again); },
      py::arg("check_again") = false);
}

}  // namespace quorl::python
