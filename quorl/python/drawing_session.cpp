// Drawing sessions: pages loaded once and annotation names kept per page while marks are drawn.
#include "quorl/python/drawing_session.hpp"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "quorl/python/highlight_drawing.hpp"
#include "quorl/python/pyclass.hpp"
#include "quorl/python/pymupdf_access.hpp"

namespace quorl::python {

namespace {

// The annotation names of one page, read once from the page and added to as names are given.
struct PageNames {
  std::unordered_set<std::string> names;
  // Per name prefix ("fitz-A"): every number below it is taken, so the search starts there.
  std::unordered_map<std::string, long long> next;
};

}  // namespace

// A page of a session: its dictionary, and its own /Annots while fresh arrays stand in for it.
struct SessionPage {
  py::object dict;
  py::object annots;
  bool swapped = false;
};

struct DrawingSession::State {
  py::object doc;
  std::uintptr_t pdf = 0;  // MuPDF's pdf_document of doc, 0 when doc is no PDF
  // The one page kept loaded, and its number.
  py::object page;
  long long page_number = -1;
  // MuPDF's handles of the loaded page, read when a highlight is first drawn on it.
  PdfPageHandles handles;
  std::unordered_map<long long, SessionPage> pages;
  std::unordered_map<long long, PageNames> names;  // by the page dictionary's xref
};

namespace {

// Sessions open in this thread, innermost last. Sessions on one document are never open twice:
// an inner scope shares the outer one's state.
thread_local std::vector<DrawingSession::State*> open_sessions;
// PyMuPDF's own naming function while this module's stands in for it (any thread's session).
PyObject* library_add_annot_id = nullptr;
int sessions_in_process = 0;

DrawingSession::State* session_of_doc(const py::handle& doc) {
  for (auto* state : open_sessions) {
    if (state->doc.ptr() == doc.ptr()) return state;
  }
  return nullptr;
}

DrawingSession::State* session_of_pdf(std::uintptr_t pdf) {
  for (auto* state : open_sessions) {
    if (pdf != 0 && state->pdf == pdf) return state;
  }
  return nullptr;
}

py::object pymupdf() {
  return module_global("fitz");
}

std::uintptr_t pointer_value(const py::object& wrapper) {
  return wrapper.attr("m_internal_value")().cast<std::uintptr_t>();
}

std::uintptr_t pdf_of(const py::object& doc) {
  py::object fitz = pymupdf();
  if (!py::hasattr(fitz, "_as_pdf_document")) return 0;
  try {
    return pointer_value(fitz.attr("_as_pdf_document")(doc));
  } catch (py::error_already_set&) {
    return 0;  // not a PDF: no annotations to name
  }
}

// The names on a page, read from it the first time (when it still shows all its annotations).
PageNames& names_of_page(DrawingSession::State* state, const py::object& pdf_page, long long xref) {
  auto [found, first_time] = state->names.try_emplace(xref);
  if (first_time) {
    for (py::handle name : pymupdf().attr("JM_get_annot_id_list")(pdf_page)) {
      found->second.names.insert(py::str(name).cast<std::string>());
    }
  }
  return found->second;
}

PageNames& names_of_page(DrawingSession::State* state, const py::object& pdf_page) {
  const long long xref =
      pymupdf().attr("mupdf").attr("pdf_to_num")(pdf_page.attr("obj")()).cast<long long>();
  return names_of_page(state, pdf_page, xref);
}

// The first "<id stem>-<stem><i>" not yet on the page, taken.
std::string take_name(PageNames& page_names, const char* stem) {
  const std::string prefix =
      py::str(pymupdf().attr("JM_annot_id_stem")).cast<std::string>() + "-" + stem;
  long long& number = page_names.next[prefix];
  std::string name = prefix + std::to_string(number);
  while (page_names.names.count(name)) name = prefix + std::to_string(++number);
  page_names.names.insert(name);
  return name;
}

// PyMuPDF's JM_add_annot_id(annot, stem) for annotations of a document in a session: the first
// "<id stem>-<stem><i>" not yet on the page, found without listing the page's names again.
void add_annot_id(py::object annot, py::object stem) {
  py::object fitz = pymupdf();
  py::object mupdf = fitz.attr("mupdf");
  py::object page = fitz.attr("_pdf_annot_page")(annot);
  DrawingSession::State* state = session_of_pdf(pointer_value(page.attr("doc")()));
  if (state == nullptr) {
    py::reinterpret_borrow<py::object>(library_add_annot_id)(annot, stem);
    return;
  }
  const std::string stem_text = py::str(stem).cast<std::string>();
  py::str text(take_name(names_of_page(state, page), stem_text.c_str()));
  mupdf.attr("pdf_dict_puts")(mupdf.attr("pdf_annot_obj")(annot), "NM",
                              mupdf.attr("pdf_new_string")(text, py::len(text)));
  page.attr("doc")().attr("m_internal").attr("resynth_required") = 0;
}

// PyMuPDF versions without these names keep their own naming; drawing is then slower on pages
// with many annotations, and the same.
bool can_stand_in(const py::object& fitz) {
  for (const char* name : {"JM_add_annot_id", "JM_get_annot_id_list", "JM_annot_id_stem",
                           "_pdf_annot_page", "_as_pdf_page"}) {
    if (!py::hasattr(fitz, name)) return false;
  }
  return true;
}

void stand_in_for_library() {
  if (sessions_in_process++ > 0) return;
  py::object fitz = pymupdf();
  if (!can_stand_in(fitz)) return;
  library_add_annot_id = py::object(fitz.attr("JM_add_annot_id")).release().ptr();
  fitz.attr("JM_add_annot_id") = py::cpp_function(&add_annot_id, py::name("JM_add_annot_id"),
                                                  py::arg("annot"), py::arg("stem"));
}

void give_back_to_library() {
  if (--sessions_in_process > 0 || library_add_annot_id == nullptr) return;
  py::object library = py::reinterpret_steal<py::object>(library_add_annot_id);
  library_add_annot_id = nullptr;
  pymupdf().attr("JM_add_annot_id") = library;
}

// Whether pages may hide their annotations while loaded (see park_page): only where this
// module names the annotations, since PyMuPDF's own naming reads the names off the loaded page.
bool may_hide_annotations(const DrawingSession::State* state) {
  return state->pdf != 0 && library_add_annot_id != nullptr;
}

// MuPDF brings every annotation a page's /Annots lists into memory when the page is loaded, and
// after each change to an annotation it goes over all annotations of every loaded page to
// regenerate the ones that changed. Each primitive leaves its annotations as they are to be
// written, so that pass finds nothing to do but the newest one; it costs time in proportion to
// the annotations loaded all the same. So the session keeps one page loaded, and a page it puts
// aside lends MuPDF a fresh /Annots array, holding only what is drawn on it from then on: the
// page's own array gets those back when the session ends. With highlights drawn directly, that
// pass was a third of a highlight's cost at 64 annotations a page; at 16 it is small, and 4 or 8
// (more reloads of the page) measured the same.
constexpr std::size_t kLoadedAnnotations = 16;

std::size_t annotation_count(const py::object& mupdf, const SessionPage& page) {
  return mupdf
      .attr("pdf_array_len")(
          mupdf.attr("pdf_dict_get")(page.dict, mupdf.attr("PDF_ENUM_NAME_Annots")))
      .cast<std::size_t>();
}

// Moves what the stand-in array holds into the page's own one.
void take_back(const py::object& mupdf, SessionPage& page) {
  py::object lent = mupdf.attr("pdf_dict_get")(page.dict, mupdf.attr("PDF_ENUM_NAME_Annots"));
  const std::size_t count = mupdf.attr("pdf_array_len")(lent).cast<std::size_t>();
  for (std::size_t i = 0; i < count; ++i) {
    mupdf.attr("pdf_array_push")(page.annots, mupdf.attr("pdf_array_get")(lent, i));
  }
}

// Unloads the session's page; when it has annotations, a fresh array stands in for them.
void park_page(DrawingSession::State* state) {
  if (!state->page) return;
  py::object page = std::move(state->page);
  state->handles = PdfPageHandles();
  const long long number = state->page_number;
  state->page_number = -1;
  auto found = state->pages.find(number);
  if (found == state->pages.end()) return;
  SessionPage& parked = found->second;
  py::object fitz = pymupdf();
  py::object mupdf = fitz.attr("mupdf");
  if (annotation_count(mupdf, parked) == 0) return;
  names_of_page(state, fitz.attr("_as_pdf_page")(page));
  if (parked.swapped) {
    take_back(mupdf, parked);
  } else {
    // The value as the dictionary holds it: an indirect array goes back as the reference.
    parked.annots = mupdf.attr("pdf_dict_get")(parked.dict, mupdf.attr("PDF_ENUM_NAME_Annots"));
    parked.swapped = true;
  }
  py::object pdf = fitz.attr("_as_pdf_document")(state->doc);
  mupdf.attr("pdf_dict_put")(parked.dict, mupdf.attr("PDF_ENUM_NAME_Annots"),
                             mupdf.attr("pdf_new_array")(pdf, kLoadedAnnotations));
}

// Gives every page its own /Annots again, with all that was drawn on it in order.
void restore_pages(DrawingSession::State* state) {
  py::object mupdf = pymupdf().attr("mupdf");
  for (auto& [number, page] : state->pages) {
    if (!page.swapped) continue;
    take_back(mupdf, page);
    mupdf.attr("pdf_dict_put")(page.dict, mupdf.attr("PDF_ENUM_NAME_Annots"), page.annots);
    page.swapped = false;
  }
}

}  // namespace

DrawingSession::DrawingSession(const py::object& doc) : state_(nullptr) {
  if (session_of_doc(doc) != nullptr) return;
  auto* state = new State{doc, pdf_of(doc), {}, -1, {}, {}, {}};
  try {
    stand_in_for_library();
  } catch (...) {
    delete state;
    throw;
  }
  open_sessions.push_back(state);
  state_ = state;
}

DrawingSession::~DrawingSession() {
  if (state_ == nullptr) return;
  for (auto it = open_sessions.begin(); it != open_sessions.end(); ++it) {
    if (*it == state_) {
      open_sessions.erase(it);
      break;
    }
  }
  // Nothing may escape a destructor. Should giving the arrays back fail, the error is printed
  // (the pages would lack annotations drawn on them); a failure to give the library its
  // function back leaves this module's, which names annotations the same.
  try {
    state_->page = py::object();
    restore_pages(state_);
  } catch (py::error_already_set& e) {
    e.discard_as_unraisable("quorl: giving the pages their annotations back");
  }
  try {
    give_back_to_library();
  } catch (py::error_already_set&) {
    PyErr_Clear();
  }
  delete state_;
}

py::object marking_page(const py::object& doc, const py::handle& number) {
  DrawingSession::State* state = session_of_doc(doc);
  if (state == nullptr || !PyLong_CheckExact(number.ptr())) return page_of(doc, number);
  int overflow = 0;
  const long long key = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
  // Negative numbers count from the end; they are looked up as they come.
  if (overflow != 0 || key < 0) return page_of(doc, number);
  const bool hide = may_hide_annotations(state);
  if (state->page && state->page_number == key) {
    if (!hide ||
        annotation_count(pymupdf().attr("mupdf"), state->pages.at(key)) < kLoadedAnnotations) {
      return state->page;
    }
  }
  if (hide) {
    park_page(state);
  } else {
    state->page = py::object();
    state->handles = PdfPageHandles();
  }
  py::object page = page_of(doc, number);
  if (hide && state->pages.find(key) == state->pages.end()) {
    state->pages[key].dict = pymupdf().attr("_as_pdf_page")(page).attr("obj")();
  }
  state->page = page;
  state->page_number = key;
  return page;
}

bool draw_session_highlight(const py::object& page, const py::handle& rect,
                            const py::handle& info) {
  DrawingSession::State* state = nullptr;
  for (auto* open : open_sessions) {
    if (open->page.ptr() == page.ptr()) state = open;
  }
  // Annotations are named here only while this module names them for PyMuPDF too.
  if (state == nullptr || !may_hide_annotations(state) || !direct_highlights_checked()) {
    return false;
  }
  if (!state->handles.page) state->handles = pdf_page_handles(page);
  const PdfPageHandles& handles = state->handles;
  return draw_highlight_directly(
      handles, rect, info, [&](const py::object&, const py::object& obj) {
        PageNames& names = names_of_page(state, handles.pdf_page_wrapper, handles.xref);
        name_annotation(obj, take_name(names, "A"), handles);
      });
}

void bind_drawing_session(py::module_& m) {
  m.def(
      "_drawing_session",
      [](py::object doc, py::object draw) -> py::object {
        DrawingSession session(doc);
        return draw();
      },
      py::arg("doc"), py::arg("draw"));
  bind_highlight_drawing(m);
}

}  // namespace quorl::python
