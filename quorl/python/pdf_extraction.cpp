// One extraction per page while a PdfDocument is being built, and the collector paused meanwhile.
#include "quorl/python/pdf_extraction.hpp"

#include <vector>

#include "quorl/python/pymupdf_access.hpp"
#include "quorl/python/raw_text_page.hpp"

namespace quorl::python {

namespace {

thread_local std::vector<ExtractionCache*> active_caches;

ExtractionCache* cache_of(py::handle owner) {
  for (ExtractionCache* cache : active_caches) {
    if (cache->owner == owner.ptr()) return cache;
  }
  return nullptr;
}

}  // namespace

CacheScope::CacheScope(ExtractionCache* cache) : cache_(cache) {
  active_caches.push_back(cache);
}

void CacheScope::end() {
  for (auto it = active_caches.begin(); it != active_caches.end(); ++it) {
    if (*it == cache_) {
      active_caches.erase(it);
      break;
    }
  }
}

py::object load_page(const py::object& self, const py::object& doc, const py::object& index) {
  ExtractionCache* cache = cache_of(self);
  if (cache && cache->doc.is(doc) && PyLong_CheckExact(index.ptr())) {
    int overflow = 0;
    const long long key = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    if (overflow == 0) {
      auto found = cache->pages.find(key);
      if (found != cache->pages.end()) return found->second;
      py::object page = page_of(doc, index);
      cache->pages.emplace(key, page);
      return page;
    }
  }
  return page_of(doc, index);
}

py::object raw_text(const py::object& self, const py::object& page) {
  ExtractionCache* cache = cache_of(self);
  if (cache) {
    auto found = cache->rawdicts.find(page.ptr());
    if (found != cache->rawdicts.end()) return found->second.second;
  }
  py::object contentdict = raw_text_of_page(page);
  if (cache) cache->rawdicts.emplace(page.ptr(), std::make_pair(page, contentdict));
  return contentdict;
}

CollectorPause::CollectorPause() {
  py::module_ gc = py::module_::import("gc");
  was_enabled_ = gc.attr("isenabled")().cast<bool>();
  if (was_enabled_) gc.attr("disable")();
}

CollectorPause::~CollectorPause() {
  if (!was_enabled_) return;
    // Runs during stack unwinding as well: keep a pending exception intact.
#if PY_VERSION_HEX >= 0x030C0000
  PyObject* pending = PyErr_GetRaisedException();
#else
  PyObject *type, *value, *trace;
  PyErr_Fetch(&type, &value, &trace);
#endif
  PyObject* gc = PyImport_ImportModule("gc");
  PyObject* result = gc ? PyObject_CallMethod(gc, "enable", nullptr) : nullptr;
  if (!result) PyErr_WriteUnraisable(nullptr);
  Py_XDECREF(result);
  Py_XDECREF(gc);
#if PY_VERSION_HEX >= 0x030C0000
  PyErr_SetRaisedException(pending);
#else
  PyErr_Restore(type, value, trace);
#endif
}

}  // namespace quorl::python
