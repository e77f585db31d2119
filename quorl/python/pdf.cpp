// Python surface of the PDF document model: the PdfDocument class over an open PyMuPDF document.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "quorl/align/line_starts.hpp"
#include "quorl/pdf/bands.hpp"
#include "quorl/pdf/box.hpp"
#include "quorl/pdf/layout.hpp"
#include "quorl/pdf/line_ranges.hpp"
#include "quorl/pdf/page_classification.hpp"
#include "quorl/pdf/page_counts.hpp"
#include "quorl/pdf/shown_text.hpp"
#include "quorl/pdf/vocabulary.hpp"
#include "quorl/python/bindings.hpp"
#include "quorl/python/convert.hpp"
#include "quorl/python/pdf_marking.hpp"
#include "quorl/python/pdf_text_lines.hpp"
#include "quorl/python/pyclass.hpp"
#include "quorl/python/pymupdf_access.hpp"

namespace quorl::python {

using quorl::pdf::Box;
using quorl::pdf::Extent;

namespace {

template <typename... Items>
py::list list_of(Items&&... items) {
  py::list out;
  (out.append(std::forward<Items>(items)), ...);
  return out;
}

// `fitz.Rect(bbox) in region` for one region, computed natively when the region is a plain Rect.
class RegionTest {
 public:
  explicit RegionTest(py::object region) : region_(std::move(region)) {
    if (Py_TYPE(region_.ptr()) == reinterpret_cast<PyTypeObject*>(rect_class().ptr())) {
      box_ = box_from_attributes(region_);
    }
  }

  bool holds(py::handle bbox) const {
    if (box_) return pdf::contains(*box_, box_of(bbox));
    const int inside = PySequence_Contains(region_.ptr(), rect_class()(bbox).ptr());
    if (inside < 0) throw py::error_already_set();
    return inside == 1;
  }

 private:
  py::object region_;
  std::optional<Box> box_;
};

// ----------------------------------------------------------------------------------------------
// One extraction per page while a document is being built

// The constructor classifies every page by its header and then reads the regions of every kind
// from the same pages. PyMuPDF's extraction of an unchanged page is deterministic, so during
// construction each page is loaded and extracted once and the result reused.
struct ExtractionCache {
  PyObject* owner;  // the PdfDocument under construction
  py::object doc;
  std::unordered_map<long long, py::object> pages;
  std::unordered_map<PyObject*, std::pair<py::object, py::object>> rawdicts;  // page -> dict
};

thread_local std::vector<ExtractionCache*> active_caches;

class CacheScope {
 public:
  explicit CacheScope(ExtractionCache* cache) : cache_(cache) { active_caches.push_back(cache); }
  ~CacheScope() { end(); }
  void end() {
    for (auto it = active_caches.begin(); it != active_caches.end(); ++it) {
      if (*it == cache_) {
        active_caches.erase(it);
        break;
      }
    }
  }
  CacheScope(const CacheScope&) = delete;
  CacheScope& operator=(const CacheScope&) = delete;

 private:
  ExtractionCache* cache_;
};

ExtractionCache* cache_of(py::handle owner) {
  for (ExtractionCache* cache : active_caches) {
    if (cache->owner == owner.ptr()) return cache;
  }
  return nullptr;
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

// page.get_text('rawdict')
py::object raw_text(const py::object& self, const py::object& page) {
  ExtractionCache* cache = cache_of(self);
  if (cache) {
    auto found = cache->rawdicts.find(page.ptr());
    if (found != cache->rawdicts.end()) return found->second.second;
  }
  py::object contentdict = page.attr("get_text")("rawdict");
  if (cache) cache->rawdicts.emplace(page.ptr(), std::make_pair(page, contentdict));
  return contentdict;
}

// Construction allocates the dicts of every character of the document, and most of them stay
// alive in the line records. Cyclic collections in the middle of it would walk the growing heap
// over and over without finding garbage (they cost as much as the extraction itself), so the
// collector pauses while a document is built and resumes as it was.
class CollectorPause {
 public:
  CollectorPause() {
    py::module_ gc = py::module_::import("gc");
    was_enabled_ = gc.attr("isenabled")().cast<bool>();
    if (was_enabled_) gc.attr("disable")();
  }
  ~CollectorPause() {
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
  CollectorPause(const CollectorPause&) = delete;
  CollectorPause& operator=(const CollectorPause&) = delete;

 private:
  bool was_enabled_ = false;
};

// ----------------------------------------------------------------------------------------------
// Line records

Extent vertical_extent(py::handle raw_line) {
  py::object bbox = get(raw_line, dict_keys.bbox);
  return {to_double(item(bbox, 1)), to_double(item(bbox, 3))};
}

// ----------------------------------------------------------------------------------------------
// Text positions

// The characters of a line's text that the whole text shows: those not in `fix`.
std::vector<std::size_t> shown_of(const py::object& text, const py::object& fix) {
  if (PyUnicode_Check(text.ptr()) && PyUnicode_Check(fix.ptr())) {
    return pdf::shown_indexes(to_u32(text), to_u32(fix));
  }
  std::vector<std::size_t> shown;
  std::size_t index = 0;
  for (py::handle c : py::iter(text)) {
    const int hidden = PySequence_Contains(fix.ptr(), c.ptr());
    if (hidden < 0) throw py::error_already_set();
    if (!hidden) shown.push_back(index);
    ++index;
  }
  return shown;
}

// shown[offset] when len(shown) > offset, else `fallback`, with Python's list indexing.
py::object shown_index(const std::vector<std::size_t>& shown, const py::object& offset,
                       const py::object& fallback) {
  py::int_ count(shown.size());
  if (!PyIndex_Check(offset.ptr())) {
    const int beyond = PyObject_RichCompareBool(count.ptr(), offset.ptr(), Py_GT);
    if (beyond < 0) throw py::error_already_set();
    if (beyond) {
      throw py::type_error(std::string("list indices must be integers or slices, not ") +
                           Py_TYPE(offset.ptr())->tp_name);
    }
    return fallback;
  }
  py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(offset.ptr()));
  if (!index) throw py::error_already_set();
  const int inside = PyObject_RichCompareBool(count.ptr(), index.ptr(), Py_GT);
  if (inside < 0) throw py::error_already_set();
  if (!inside) return fallback;
  int overflow = 0;
  long long k = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
  if (overflow == 0 && k < 0) k += static_cast<long long>(shown.size());
  if (overflow != 0 || k < 0) throw py::index_error("list index out of range");
  return py::int_(shown[static_cast<std::size_t>(k)]);
}

// Logs `lines` with the failure's traceback and raises Exception('Reduce Error') in its place,
// chained to it as Python's raise inside an except block would.
[[noreturn]] void raise_reduce_error(const py::object& lines, py::error_already_set& failure) {
  py::object value = failure.value();
  py::object trace = failure.trace();
  if (!trace.is_none()) PyException_SetTraceback(value.ptr(), trace.ptr());
  PyObject *old_type, *old_value, *old_trace;
  PyErr_GetExcInfo(&old_type, &old_value, &old_trace);
  // The failure becomes the exception being handled, for logging.exception's traceback and as
  // the context of the new error.
  PyErr_SetExcInfo(failure.type().inc_ref().ptr(), value.inc_ref().ptr(),
                   trace.is_none() ? nullptr : trace.inc_ref().ptr());
  try {
    module_global("logging").attr("exception")(lines);
  } catch (...) {
    PyErr_SetExcInfo(old_type, old_value, old_trace);
    throw;
  }
  py::object error = py::reinterpret_borrow<py::object>(PyExc_Exception)("Reduce Error");
  PyErr_SetObject(PyExc_Exception, error.ptr());
  PyErr_SetExcInfo(old_type, old_value, old_trace);
  throw py::error_already_set();
}

py::object rect_from_union(const Box& b) {
  py::object rect = make_rect(b);
  if (pdf::is_infinite(b)) {
    // PyMuPDF stores the infinite rectangle's limits as ints.
    rect.attr("x0") = py::int_(static_cast<long long>(b.x0));
    rect.attr("y0") = py::int_(static_cast<long long>(b.y0));
    rect.attr("x1") = py::int_(static_cast<long long>(b.x1));
    rect.attr("y1") = py::int_(static_cast<long long>(b.y1));
  }
  return rect;
}

py::object union_of_boxes(const py::object& lines) {
  std::optional<pdf::BoxUnion> acc;
  for (py::handle entry : py::iter(lines)) {
    const Box b = box_of(get(entry, dict_keys.bbox));
    if (acc) {
      acc->include(b);
    } else {
      acc.emplace(b);
    }
  }
  if (!acc) {
    PyErr_SetString(PyExc_TypeError, "reduce() of empty iterable with no initial value");
    throw py::error_already_set();
  }
  return rect_from_union(acc->box());
}

// ----------------------------------------------------------------------------------------------

py::list default_kinds() {
  py::list kinds;
  for (const char* kind : pdf::kPageKinds) kinds.append(kind);
  return kinds;
}

py::dict kind_entry(py::list pages, py::list margins) {
  py::dict entry;
  entry[dict_keys.pages] = std::move(pages);
  entry[dict_keys.lines] = py::list();
  entry[dict_keys.margins] = std::move(margins);
  return entry;
}

// The second vector drawing of the first page: the separator between the header and the text.
py::object separator_rect(const py::object& self) {
  const char* lacking =
      "the PDF lacks the separator line that the first page of a patent publication has";
  py::object pagecount = self.attr("pagecount");
  const int empty = PyObject_RichCompareBool(pagecount.ptr(), py::int_(1).ptr(), Py_LT);
  if (empty < 0) throw py::error_already_set();
  if (empty) throw py::index_error(std::string(lacking) + ": it has no pages");
  py::object drawings = load_page(self, self.attr("doc"), py::int_(0)).attr("get_drawings")();
  const std::size_t count = py::len(drawings);
  if (count < pdf::kSeparatorDrawing + 1) {
    throw py::index_error(std::string(lacking) +
                          " (the second vector drawing of the page): " + "its first page has " +
                          std::to_string(count) + " vector drawing" + (count == 1 ? "" : "s"));
  }
  return get(drawings[py::int_(pdf::kSeparatorDrawing)], dict_keys.rect);
}

py::list line_index_of(const py::object& text) {
  py::list index;
  index.append(py::int_(-1));
  if (PyUnicode_Check(text.ptr())) {
    const std::vector<std::int64_t> newlines = with_code_points(
        text.ptr(), [](auto view) { return align::newline_positions(view); });
    for (std::int64_t i : newlines) index.append(py::int_(i));
    return index;
  }
  py::str newline("\n");
  Py_ssize_t i = 0;
  for (py::handle s : py::iter(text)) {
    if (s.equal(newline)) index.append(py::int_(i));
    ++i;
  }
  return index;
}

void bind_pdf_document(py::module_& m) {
  py::object cls = make_class(m, "PdfDocument");
  py::handle cls_handle = cls;

  def_method(
      cls, "__init__",
      [cls_handle](py::object self, py::object pdfdoc, py::object markerdict) {
        py::module_::import("builtins").attr("super")(cls_handle, self).attr("__init__")();
        self.attr("doc") = pdfdoc;
        self.attr("pagecount") = pdfdoc.attr("page_count");

        CollectorPause pause;
        ExtractionCache cache{self.ptr(), pdfdoc, {}, {}};
        CacheScope scope(&cache);

        py::object separatemargin = separator_rect(self);
        self.attr("separatemargin") = separatemargin;
        const pdf::PageLayout layout = pdf::layout_from_separator(box_from_items(separatemargin));
        self.attr("pageinfomargin") = make_rect(layout.page_info);
        self.attr("pagetypemargin") = make_rect(layout.page_type);
        self.attr("docmargin") = make_rect(layout.text_area);
        py::list columns;
        for (const Box& column : layout.abstract_columns) columns.append(make_rect(column));
        py::dict parsedict;
        // The abstract is the first page's text, in two columns; every other kind is found by
        // its pages' headers and read over the whole text area.
        for (const char* kind : pdf::kPageKinds) {
          parsedict[kind] = std::string_view(kind) == pdf::kAbstractKind
                                ? kind_entry(list_of(0), columns)
                                : kind_entry(py::list(), list_of(self.attr("docmargin")));
        }
        self.attr("parsedict") = parsedict;

        self.attr("parsedict") = self.attr("get_page_info")();
        for_each(self.attr("parsedict").attr("values")(),
                 [&](const py::object& entry) { self.attr("parse_content")(entry); });
        scope.end();

        self.attr("lines") = self.attr("get_lines")();
        self.attr("contents") = self.attr("get_content")();
        self.attr("text") = self.attr("get_text")();
        self.attr("lineindex") = line_index_of(self.attr("text"));
        self.attr("markerdict") = markerdict;
      },
      py::arg("pdfdoc"), py::arg("markerdict") = py::dict());

  def_method(cls, "get_page_info", [](py::object self) -> py::object {
    const std::int64_t count = to_int64(self.attr("pagecount"));
    for (std::int64_t idx = 0; idx < count; ++idx) {
      py::int_ number(idx);
      py::object page = load_page(self, self.attr("doc"), number);
      py::object lines = self.attr("parse_lines")(page, self.attr("pagetypemargin"));
      py::list texts;
      for_each(lines, [&](const py::object& line) { texts.append(get(line, dict_keys.text)); });
      py::object header = py::str("").attr("join")(texts);
      if (const char* kind = pdf::classify_header(to_u32(header, "page header"))) {
        get(self.attr("parsedict")[py::str(kind)], dict_keys.pages).attr("append")(number);
      }
    }
    return self.attr("parsedict");
  });

  def_method(cls, "pageinfoparser", [](py::object self) -> py::object {
    py::object contentdict =
        load_page(self, self.attr("doc"), py::int_(0)).attr("get_text")("dict");
    RegionTest region(self.attr("pageinfomargin"));
    py::list pageinfolist;
    for_each(get(contentdict, dict_keys.blocks), [&](const py::object& block) {
      if (has_type(block, 0) && region.holds(get(block, dict_keys.bbox))) {
        pageinfolist.append(get(block, dict_keys.lines));
      }
    });
    if (!(py::len(pageinfolist) == 1 && py::len(pageinfolist[0]) == 1)) {
      module_global("logging").attr("warning")(
          py::str("Not found error or too much error: {}").format(pageinfolist));
    }
    py::list texts;
    for_each(pageinfolist, [&](const py::object& lines) {
      for_each(lines, [&](const py::object& line) {
        for_each(get(line, dict_keys.spans),
                 [&](const py::object& span) { texts.append(get(span, dict_keys.text)); });
      });
    });
    py::object pageinfo = py::str("").attr("join")(texts).attr("replace")(" ", "");
    py::list counts;
    for (const auto& digits : pdf::read_page_counts(to_u32(pageinfo, "page-count box"))) {
      // A word directly followed by 页 prints no number: the section is counted as empty. The
      // interpreter's int() reads the digits, with its own limit on their number.
      counts.append(digits && !digits->empty() ? py::int_(from_u32(*digits)) : py::int_(0));
    }
    return py::tuple(counts);
  });

  def_method(
      cls, "calclinesrange",
      [](py::object /*self*/, py::object lineslist) -> py::object {
        std::vector<Extent> pieces;
        for_each(lineslist, [&](const py::object& raw) { pieces.push_back(vertical_extent(raw)); });
        py::list out;
        for (const Extent& r : pdf::line_ranges(pieces)) out.append(list_of(r.top, r.bottom));
        return out;
      },
      py::arg("lineslist"));

  def_method(
      cls, "sortlines",
      [](py::object self, py::object page, py::object rawlineslist) -> py::object {
        py::object linerangelist = self.attr("calclinesrange")(rawlineslist);
        std::vector<py::object> raws;
        std::vector<pdf::Piece> pieces;
        for_each(rawlineslist, [&](const py::object& raw) {
          py::object bbox = get(raw, dict_keys.bbox);
          pieces.push_back(
              {{to_double(item(bbox, 1)), to_double(item(bbox, 3))}, to_double(item(bbox, 0))});
          raws.push_back(raw);
        });
        std::vector<std::pair<py::object, py::object>> bounds;
        std::vector<Extent> ranges;
        for_each(linerangelist, [&](const py::object& r) {
          bounds.emplace_back(item(r, 0), item(r, 1));
          ranges.push_back({to_double(bounds.back().first), to_double(bounds.back().second)});
        });
        const auto bands = pdf::assemble_bands(pieces, ranges);
        // Asked only once a record is made: an empty region needs nothing of its page.
        std::optional<std::int64_t> page_number;
        py::list records;
        for (std::size_t k = 0; k < bands.size(); ++k) {
          if (bands[k].empty()) {
            const std::string range = "[" + py::repr(bounds[k].first).cast<std::string>() + ", " +
                                      py::repr(bounds[k].second).cast<std::string>() + "]";
            throw py::index_error("line range " + range +
                                  " holds none of the pieces of the region");
          }
          std::vector<py::handle> band;
          for (std::size_t i : bands[k]) band.push_back(raws[i]);
          if (!page_number) page_number = to_int64(page.attr("number"));
          py::list char_dicts;
          const pdf::TextLine line = read_text_line(*page_number, band, ranges[k], char_dicts);
          records.append(line_record(line, char_dicts));
        }
        return records;
      },
      py::arg("page"), py::arg("rawlineslist"));

  def_method(
      cls, "get_content_by_margin",
      [](py::object /*self*/, py::object page, py::object margin) -> py::object {
        py::object contentdict = page.attr("get_text")("dict");
        RegionTest region(margin);
        py::list lines;
        for_each(get(contentdict, dict_keys.blocks), [&](const py::object& block) {
          if (!has_type(block, 0)) return;
          for_each(get(block, dict_keys.lines), [&](const py::object& line) {
            if (region.holds(get(line, dict_keys.bbox))) lines.append(line);
          });
        });
        return lines;
      },
      py::arg("page"), py::arg("margin"), method_doc({"根据区域获取文本内容"}).c_str());

  def_method(
      cls, "parse_lines",
      [](py::object self, py::object page, py::object margin) -> py::object {
        py::object contentdict = raw_text(self, page);
        py::object blocks = get(contentdict, dict_keys.blocks);
        RegionTest region(margin);
        py::list lineslist;
        for_each(blocks, [&](const py::object& block) {
          if (!has_type(block, 0)) return;
          for_each(get(block, dict_keys.lines), [&](const py::object& line) {
            if (region.holds(get(line, dict_keys.bbox))) lineslist.append(line);
          });
        });
        for_each(blocks, [&](const py::object& block) {
          if (!has_type(block, 1)) return;
          py::object bbox = get(block, dict_keys.bbox);
          if (region.holds(bbox)) lineslist.append(image_line(bbox));
        });
        return self.attr("sortlines")(page, lineslist);
      },
      py::arg("page"), py::arg("margin"), method_doc({"根据区域获取图片和文本"}).c_str());

  def_method(
      cls, "parse_content",
      [](py::object self, py::object contentdict) -> py::object {
        py::object pagenumlist = contentdict[py::str("pages")];
        if (!py::bool_(pagenumlist)) return py::list();
        py::list retlist;
        py::object numbers =
            py::module_::import("builtins")
                .attr("range")(item(pagenumlist, 0), item(pagenumlist, -1) + py::int_(1));
        for (py::handle num : py::iter(numbers)) {
          py::object page =
              load_page(self, self.attr("doc"), py::reinterpret_borrow<py::object>(num));
          for_each(contentdict[py::str("margins")], [&](const py::object& margin) {
            for_each(self.attr("parse_lines")(page, margin),
                     [&](const py::object& line) { retlist.append(line); });
          });
        }
        contentdict[py::str("lines")] = retlist;
        return retlist;
      },
      py::arg("contentdict"), method_doc({"根据词典获取对应内容"}).c_str());

  def_method(
      cls, "get_lines",
      [](py::object self, py::object typelist) -> py::object {
        py::list out;
        for_each(typelist, [&](const py::object& kind) {
          for_each(get(self.attr("parsedict")[kind], dict_keys.lines),
                   [&](const py::object& line) { out.append(line); });
        });
        return out;
      },
      py::arg("typelist") = default_kinds());

  def_method(
      cls, "get_content",
      [](py::object self, py::object typelist) -> py::object {
        py::dict out;
        for_each(typelist, [&](const py::object& kind) {
          py::list texts;
          for_each(get(self.attr("parsedict")[kind], dict_keys.lines),
                   [&](const py::object& line) { texts.append(get(line, dict_keys.text)); });
          out[kind] = texts;
        });
        return out;
      },
      py::arg("typelist") = default_kinds());

  def_method(
      cls, "get_text",
      [](py::object self, py::object typelist) -> py::object {
        py::object pdf_lines = self.attr("get_lines")(typelist);
        py::list pdf_content;
        for_each(pdf_lines,
                 [&](const py::object& line) { pdf_content.append(get(line, dict_keys.text)); });
        return py::str("\n").attr("join")(pdf_content).attr("replace")("\u00a0", "");
      },
      py::arg("typelist") = default_kinds());

  def_method(
      cls, "getpageimages",
      [](py::object self, py::object num) -> py::object {
        py::object page = page_of(self.attr("doc"), num);
        py::object docmargin = self.attr("docmargin");
        py::list imglist;
        py::dict full;
        full["full"] = true;
        for_each(page.attr("get_images")(**full), [&](const py::object& p) {
          py::object bbox = page.attr("get_image_bbox")(p);
          const int inside = PySequence_Contains(docmargin.ptr(), bbox.ptr());
          if (inside < 0) throw py::error_already_set();
          if (inside) imglist.append(bbox);
        });
        return imglist;
      },
      py::arg("num"));

  def_method(
      cls, "addrect",
      [](py::object /*self*/, py::object lines) -> py::object {
        try {
          try {
            return union_of_boxes(lines);
          } catch (const std::overflow_error& e) {
            PyErr_SetString(PyExc_OverflowError, e.what());
            throw py::error_already_set();
          }
        } catch (py::error_already_set& failure) {
          raise_reduce_error(lines, failure);
        }
      },
      py::arg("lines"));

  def_method(
      cls, "getcontentposition",
      [](py::object self, py::object pstart, py::object pend, py::object fix) -> py::object {
        py::object lines = self.attr("lines");
        py::object start_no = item(pstart, 0);
        py::object end_no = item(pend, 0);
        py::object startline = lines[start_no];
        py::object endline = lines[end_no];
        py::object startpointindex =
            shown_index(shown_of(get(startline, dict_keys.text), fix), item(pstart, 1), py::int_(-1));
        py::object endpointindex =
            shown_index(shown_of(get(endline, dict_keys.text), fix), item(pend, 1), py::none());
        auto place = [&](const py::object& line, const py::object& from, const py::object& to) {
          py::object chars = get(line, dict_keys.chars)[py::slice(from, to, py::none())];
          return py::make_tuple(get(line, dict_keys.page), self.attr("addrect")(chars));
        };
        py::list positions;
        if (start_no.equal(end_no)) {
          positions.append(place(startline, startpointindex, endpointindex));
          return positions;
        }
        module_global("logging").attr("warning")("Get multilines");
        positions.append(place(startline, startpointindex, py::none()));
        const std::int64_t first = to_int64(start_no + py::int_(1));
        const std::int64_t stop = to_int64(end_no);
        for (std::int64_t lnum = first; lnum < stop; ++lnum) {
          positions.append(place(lines[py::int_(lnum)], py::none(), py::none()));
        }
        positions.append(place(endline, py::none(), endpointindex));
        return positions;
      },
      py::arg("pstart"), py::arg("pend"), py::arg("fix") = py::str("\u00a0"),
      method_doc({"根据pdf文本list和par的坐标获取par所在行"}).c_str());

  def_pdf_marking(cls);
}

}  // namespace

void bind_pdf(py::module_& m) {
  init_dict_keys();
  bind_pdf_document(m);
}

}  // namespace quorl::python
