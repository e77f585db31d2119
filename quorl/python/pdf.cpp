// Python surface of the PDF document model: the PdfDocument class over an open PyMuPDF document.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "quorl/align/line_starts.hpp"
#include "quorl/pdf/bands.hpp"
#include "quorl/pdf/box.hpp"
#include "quorl/pdf/layout.hpp"
#include "quorl/pdf/line_ranges.hpp"
#include "quorl/pdf/page_classification.hpp"
#include "quorl/pdf/page_counts.hpp"
#include "quorl/pdf/vocabulary.hpp"
#include "quorl/python/bindings.hpp"
#include "quorl/python/convert.hpp"
#include "quorl/python/pdf_extraction.hpp"
#include "quorl/python/pdf_marking.hpp"
#include "quorl/python/pdf_positions.hpp"
#include "quorl/python/pdf_regions.hpp"
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

Extent vertical_extent(py::handle raw_line) {
  py::object bbox = get(raw_line, dict_keys.bbox);
  return {to_double(item(bbox, 1)), to_double(item(bbox, 3))};
}

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

// The boxes of the first page's lines that print page counts, top to bottom, from the page's
// extraction that the document reads anyway.
std::vector<Box> page_count_lines(const py::object& self, const py::object& page) {
  std::vector<Box> lines;
  for_each(get(raw_text(self, page), dict_keys.blocks), [&](const py::object& block) {
    if (!has_type(block, 0)) return;
    for_each(get(block, dict_keys.lines), [&](const py::object& line) {
      std::u32string text;
      for_each(get(line, dict_keys.spans), [&](const py::object& span) {
        for_each(get(span, dict_keys.chars), [&](const py::object& chr) {
          text += to_u32(get(chr, dict_keys.c), "character");
        });
      });
      if (pdf::reads_page_counts(text)) lines.push_back(box_from_items(get(line, dict_keys.bbox)));
    });
  });
  std::stable_sort(lines.begin(), lines.end(),
                   [](const Box& a, const Box& b) { return a.y0 < b.y0; });
  return lines;
}

// The first page's separator between the header and the text: the rule under the page-count
// box, or, where no such rule is found, the page's second vector drawing.
py::object separator_rect(const py::object& self) {
  const char* lacking =
      "the PDF lacks the separator line that the first page of a patent publication has";
  py::object pagecount = self.attr("pagecount");
  const int empty = PyObject_RichCompareBool(pagecount.ptr(), py::int_(1).ptr(), Py_LT);
  if (empty < 0) throw py::error_already_set();
  if (empty) throw py::index_error(std::string(lacking) + ": it has no pages");
  py::object page = load_page(self, self.attr("doc"), py::int_(0));
  py::object drawings = page.attr("get_drawings")();
  std::vector<Box> boxes;
  for_each(drawings, [&](const py::object& drawing) {
    boxes.push_back(box_from_items(get(drawing, dict_keys.rect)));
  });
  // Drawings and text come in the page's own coordinates, which a /Rotate turns only when shown.
  const double width = to_double(page.attr("cropbox").attr("width"));
  if (const auto found = pdf::find_separator(boxes, page_count_lines(self, page), width)) {
    return get(drawings[py::int_(*found)], dict_keys.rect);
  }
  const std::size_t count = boxes.size();
  if (count < pdf::kSeparatorDrawing + 1) {
    throw py::index_error(std::string(lacking) +
                          " (a rule under the page-count box, or the second vector drawing of "
                          "the page): its first page has " +
                          std::to_string(count) + " vector drawing" + (count == 1 ? "" : "s"));
  }
  return get(drawings[py::int_(pdf::kSeparatorDrawing)], dict_keys.rect);
}

py::list line_index_of(const py::object& text) {
  py::list index;
  index.append(py::int_(-1));
  if (PyUnicode_Check(text.ptr())) {
    const std::vector<std::int64_t> newlines =
        with_code_points(text.ptr(), [](auto view) { return align::newline_positions(view); });
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
      [](py::object self, py::object page, py::object margin) -> py::object {
        py::object contentdict = page.attr("get_text")("dict");
        RegionReader region(self, margin);
        py::list lines;
        for_each(get(contentdict, dict_keys.blocks), [&](const py::object& block) {
          if (!has_type(block, 0)) return;
          for_each(get(block, dict_keys.lines), [&](const py::object& line) {
            if (region.reads_text(get(line, dict_keys.bbox))) lines.append(line);
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
        RegionReader region(self, margin);
        py::list lineslist;
        for_each(blocks, [&](const py::object& block) {
          if (!has_type(block, 0)) return;
          for_each(get(block, dict_keys.lines), [&](const py::object& line) {
            if (region.reads_text(get(line, dict_keys.bbox))) lineslist.append(line);
          });
        });
        for_each(blocks, [&](const py::object& block) {
          if (!has_type(block, 1)) return;
          py::object bbox = get(block, dict_keys.bbox);
          if (region.reads_image(bbox)) lineslist.append(image_line(bbox));
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
        py::object startpointindex = shown_index(shown_of(get(startline, dict_keys.text), fix),
                                                 item(pstart, 1), py::int_(-1));
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
