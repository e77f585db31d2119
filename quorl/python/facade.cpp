// Python surface of the facade: PatentConverter and the entry points callers start from.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "quorl/align/anchored_alignment.hpp"
#include "quorl/align/line_starts.hpp"
#include "quorl/align/spans.hpp"
#include "quorl/align/vocabulary.hpp"
#include "quorl/html/vocabulary.hpp"
#include "quorl/marks/vocabulary.hpp"
#include "quorl/python/bindings.hpp"
#include "quorl/python/convert.hpp"
#include "quorl/python/diagnostics.hpp"
#include "quorl/python/pyclass.hpp"
#include "quorl/python/realignment.hpp"

namespace quorl::python {

using quorl::align::Span;
using quorl::align::SpanPair;

namespace {

std::int64_t shifted(std::int64_t position, std::int64_t offset) {
  std::int64_t r;
  if (__builtin_add_overflow(position, offset, &r)) {
    PyErr_SetString(PyExc_OverflowError, "alignment position out of range");
    throw py::error_already_set();
  }
  return r;
}

// Line start offsets of a text split on newlines, newlines not counted: one entry more than
// there are lines.
std::vector<std::int64_t> line_starts(py::handle text, const char* what = "the PDF text") {
  if (!PyUnicode_Check(text.ptr())) {
    throw py::type_error(std::string(what) + " must be a str, not " + Py_TYPE(text.ptr())->tp_name);
  }
  return with_code_points(text.ptr(), [](auto view) { return align::line_starts(view); });
}

py::tuple shifted_pair(py::handle pair, std::int64_t a_offset, std::int64_t b_offset) {
  py::object a = item(pair, 0), b = item(pair, 1);
  return py::make_tuple(py::make_tuple(shifted(to_int64(item(a, 0)), a_offset),
                                       shifted(to_int64(item(a, 1)), a_offset)),
                        py::make_tuple(shifted(to_int64(item(b, 0)), b_offset),
                                       shifted(to_int64(item(b, 1)), b_offset)));
}

// The section's record in the document's infodict, or nothing for a section the document
// lacks; the same test get_text makes before falling back to the whole text.
std::optional<py::object> section_record(const py::object& infodict, const char* id) {
  py::object record = infodict.attr("get")(id);
  if (!truth_of(record)) return std::nullopt;
  return record;
}

void init_mapper(const py::object& self) {
  py::object htmldoc = self.attr("htmldoc");
  py::object pdfdoc = self.attr("pdfdoc");
  py::object difflist = self.attr("difflist");

  using align::kAlignedSections;
  py::list htmltextlist;
  for (const auto& section : kAlignedSections) {
    htmltextlist.append(htmldoc.attr("get_text")(section.html_section));
  }

  py::object infodict = htmldoc.attr("infodict");
  py::list htmlindexlist;
  std::array<bool, kAlignedSections.size()> present{};
  for (std::size_t i = 0; i < kAlignedSections.size(); ++i) {
    std::optional<py::object> record = section_record(infodict, kAlignedSections[i].html_section);
    present[i] = record.has_value();
    htmlindexlist.append(record ? record->attr("get")("start") : py::int_(0));
  }

  py::list pdftextlist;
  for (const auto& section : kAlignedSections) {
    py::list typelist;
    typelist.append(section.pdf_kind);
    pdftextlist.append(pdfdoc.attr("get_text")(typelist));
  }
  py::list pdfindexlist;
  std::int64_t before = 0;
  for (py::handle text : pdftextlist) {
    pdfindexlist.append(py::int_(before));
    before += line_starts(text, "the PDF text of a page kind").back();
  }

  print_line(py::make_tuple("debug mapper info:", htmlindexlist, pdfindexlist));

  for (std::size_t idx = 0; idx < kAlignedSections.size(); ++idx) {
    // A section the HTML lacks would align the whole HTML text with this page kind and put
    // entries from the start of the text, out of order, into the list.
    if (!present[idx]) continue;
    py::object mapper = module_global("PositionMapper")(htmltextlist[idx], pdftextlist[idx]);
    const std::int64_t a_index = to_int64(htmlindexlist[idx]);
    const std::int64_t b_index = to_int64(pdfindexlist[idx]);
    py::list entries;
    py::object spandiff = mapper.attr("spandiff");
    // A section that a passage written twice captured is realigned; a sound one stays as
    // PositionMapper gives it.
    if (std::optional<std::vector<align::Match>> realigned = realigned_section(
            mapper.attr("a_text"), mapper.attr("b_text"), read_span_pairs(spandiff))) {
      for (const SpanPair& p : align::joined_span_pairs(*realigned)) {
        entries.append(
            py::make_tuple(py::make_tuple(shifted(p.a.start, a_index), shifted(p.a.end, a_index)),
                           py::make_tuple(shifted(p.b.start, b_index), shifted(p.b.end, b_index))));
      }
    } else {
      for (py::handle pair : py::iter(spandiff)) {
        entries.append(shifted_pair(pair, a_index, b_index));
      }
    }
    difflist.attr("extend")(entries);
  }
}

py::object convert_mark(const py::object& self, const py::object& minfo) {
  py::object start = minfo[py::str("start")];
  py::object end = minfo[py::str("end")];
  const Span htmlspan{to_int64(start), to_int64(end)};
  if (htmlspan.start > htmlspan.end) {
    PyErr_Format(PyExc_AssertionError, "mark start %lld is after its end %lld",
                 static_cast<long long>(htmlspan.start), static_cast<long long>(htmlspan.end));
    throw py::error_already_set();
  }
  std::optional<SpanPair> converted =
      quorl::align::convert_span_a2b(htmlspan, read_span_pairs(self.attr("difflist")));
  if (!converted) {
    PyErr_Format(PyExc_IndexError,
                 "mark from %lld to %lld: no part of it is aligned with the PDF text",
                 static_cast<long long>(htmlspan.start), static_cast<long long>(htmlspan.end));
    throw py::error_already_set();
  }
  std::vector<quorl::align::LinePiece> pieces = quorl::align::convert_span2lines(
      converted->b, line_starts(self.attr("pdfdoc").attr("get_text")()));
  minfo[py::str("pdflines")] = line_pieces_list(pieces);
  return minfo;
}

void bind_patent_converter(py::module_& m) {
  py::object cls = make_class(m, "PatentConverter");
  // Stands for an omitted difflist; each such call gets a list of its own.
  py::list omitted;

  def_method(
      cls, "__init__",
      [omitted](py::object self, py::object htmldoc, py::object pdfdoc, py::object difflist) {
        if (difflist.is(omitted)) difflist = py::list();
        const bool empty = !truth_of(difflist);
        if (empty && !PyList_Check(difflist.ptr())) {
          throw py::type_error(std::string("difflist must be a list, not ") +
                               Py_TYPE(difflist.ptr())->tp_name);
        }
        self.attr("htmldoc") = htmldoc;
        self.attr("pdfdoc") = pdfdoc;
        self.attr("difflist") = difflist;
        if (empty) self.attr("_PatentConverter__init_mapper")();
      },
      py::arg("htmldoc"), py::arg("pdfdoc"), py::arg("difflist") = omitted);

  def_method(cls, "_PatentConverter__init_mapper", [](py::object self) { init_mapper(self); });

  def_method(cls, "get_pdf_info", [](py::object /*self*/) -> py::object { return py::list(); });
  def_method(cls, "get_html_info", [](py::object /*self*/) -> py::object { return py::list(); });

  def_method(
      cls, "convert_mark_html2pdf",
      [](py::object self, py::object minfo) -> py::object { return convert_mark(self, minfo); },
      py::arg("minfo"));

  def_method(
      cls, "mark_pdf",
      [](py::object self, py::object marklist) -> py::object {
        return self.attr("pdfdoc").attr("get_marked_file")(marklist);
      },
      py::arg("marklist"));

  // The HTML with the pdf… classes of the related elements written in.
  def_method(
      cls, "mark_html",
      [](py::object self, py::object htmlinfo) -> py::object {
        return self.attr("htmldoc").attr("set_info")(htmlinfo);
      },
      py::arg("htmlinfo"));
}

void bind_entry_points(py::module_& m) {
  m.def(
      "html_format", [](py::object htmlcontent) { return htmlcontent; }, py::arg("htmlcontent"));

  py::list omitted;
  m.def(
      "get_patent_converter",
      [omitted](py::object htmlcontent, py::object pdfcontent, py::object difflist) -> py::object {
        if (difflist.is(omitted)) difflist = py::list();
        py::dict parser;
        py::list names;
        for (const char* name : html::kConverterMarkedElements) names.append(name);
        parser["name"] = names;
        py::list parserlist;
        parserlist.append(parser);
        py::object htmldoc =
            module_global("HtmlDocument")(htmlcontent, py::arg("parserlist") = parserlist);

        py::object pdffile = module_global("fitz").attr("open")("pdf", pdfcontent);
        py::dict markerdict;
        for (const auto& kind : marks::kMarkerRegistry) {
          markerdict[kind.type] = module_global(kind.class_name);
        }
        py::object pdfdoc =
            module_global("PdfDocument")(pdffile, py::arg("markerdict") = markerdict);

        return module_global("PatentConverter")(htmldoc, pdfdoc, difflist);
      },
      py::arg("htmlcontent"), py::arg("pdfcontent"), py::arg("difflist") = omitted);

  m.def(
      "pdf_marker",
      [](py::object patdoc, py::object htmlmarklist) -> py::object {
        py::list pdfmarklist;
        py::object convert = patdoc.attr("convert_mark_html2pdf");
        for (py::handle mark : py::iter(htmlmarklist)) pdfmarklist.append(convert(mark));
        print_line(pdfmarklist);
        return patdoc.attr("mark_pdf")(pdfmarklist);
      },
      py::arg("patdoc"), py::arg("htmlmarklist"),
      function_doc({"{'type':'par','title':'1','content':'hello','start':3705,'end':3710}"})
          .c_str());
}

}  // namespace

void bind_facade(py::module_& m) {
  bind_patent_converter(m);
  bind_entry_points(m);
}

}  // namespace quorl::python
