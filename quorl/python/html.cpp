// Python surface of the HTML document model: the info parsers, ContentParser and HtmlDocument.
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "quorl/html/marker_index.hpp"
#include "quorl/html/marker_scan.hpp"
#include "quorl/html/vocabulary.hpp"
#include "quorl/html/whitespace.hpp"
#include "quorl/python/bindings.hpp"
#include "quorl/python/convert.hpp"
#include "quorl/python/html_soup.hpp"
#include "quorl/python/pyclass.hpp"

namespace quorl::python {

namespace {

using quorl::html::MarkedElement;
using quorl::html::Piece;

// text[piece.start:piece.end] as a new str.
py::str substring(const py::handle& text, Piece piece) {
  PyObject* s = PyUnicode_Substring(text.ptr(), static_cast<Py_ssize_t>(piece.start),
                                    static_cast<Py_ssize_t>(piece.end));
  if (!s) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(s);
}

py::object get_item(const py::handle& obj, const py::handle& key) {
  PyObject* v = PyObject_GetItem(obj.ptr(), key.ptr());
  if (!v) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(v);
}

void set_item(const py::handle& obj, const py::handle& key, const py::handle& value) {
  if (PyObject_SetItem(obj.ptr(), key.ptr(), value.ptr()) < 0) throw py::error_already_set();
}

[[noreturn]] void raise_key_error(const py::handle& key) {
  PyErr_SetObject(PyExc_KeyError, key.ptr());
  throw py::error_already_set();
}

// cls(**keywords), with Python's rules for what may follow `**`.
py::object call_with_keywords(const py::object& cls, const py::handle& keywords) {
  py::dict kwargs;
  if (PyDict_Check(keywords.ptr())) {
    kwargs = py::reinterpret_steal<py::dict>(PyDict_Copy(keywords.ptr()));
  } else if (py::hasattr(keywords, "keys")) {
    for (py::handle key : keywords.attr("keys")()) set_item(kwargs, key, get_item(keywords, key));
  } else {
    throw py::type_error(std::string(py::str(cls.attr("__name__"))) +
                         "() argument after ** must be a mapping, not " +
                         Py_TYPE(keywords.ptr())->tp_name);
  }
  PyObject* result = PyObject_Call(cls.ptr(), py::tuple().ptr(), kwargs.ptr());
  if (!result) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(result);
}

py::object parse_html(const py::object& markup) {
  return module_global("BeautifulSoup")(markup, "lxml");
}

// Ids that a marker cannot carry whole (a line break, "|" or "@##" in them), each written into
// its markers as a stand-in that can: a NUL, which no id or text of a tree lxml parsed holds,
// and a number. An element with such an id is then measured like any other, and no marker is
// left in the document text.
class IdStandIns {
 public:
  // What the markers of the element with `id` hold in its place.
  py::object written(const py::object& id, const py::object& tagname) {
    if (!PyUnicode_CheckExact(id.ptr()) || !PyUnicode_CheckExact(tagname.ptr())) return id;
    std::u32string text = to_u32(id);
    if (quorl::html::marker_carries(to_u32(tagname), text)) return id;
    auto [it, fresh] = stand_in_of_.try_emplace(std::move(text));
    if (fresh) {
      const std::string number = std::to_string(id_of_.size());
      it->second = U'\0' + std::u32string(number.begin(), number.end());
      id_of_.emplace(it->second, id);
    }
    return from_u32(it->second);
  }

  // The id a marker's id field stands for.
  py::str id(std::u32string_view field) const {
    auto it = id_of_.find(std::u32string(field));
    return it == id_of_.end() ? from_u32(field) : py::str(it->second);
  }

 private:
  std::unordered_map<std::u32string, std::u32string> stand_in_of_;
  std::unordered_map<std::u32string, py::object> id_of_;
};

// The marked elements of a marked text, with the errors Python code walking the markers would
// raise: KeyError naming the id of an end marker that has no start, IndexError for a marker
// without its id field.
std::vector<MarkedElement> index_or_raise(const std::u32string& text,
                                          const std::vector<quorl::html::MarkerSpan>& markers,
                                          const IdStandIns* stand_ins = nullptr) {
  try {
    return quorl::html::index_markers(text, markers);
  } catch (const quorl::html::EndWithoutStart& e) {
    raise_key_error(stand_ins ? stand_ins->id(e.id.of(text)) : from_u32(e.id.of(text)));
  } catch (const quorl::html::MarkerTooShort&) {
    throw py::index_error("a position marker has fewer than three '|'-separated fields");
  }
}

// Record keys, made once: every record of every document uses them.
struct RecordKeys {
  py::str type = interned("type"), id = interned("id"), src = interned("src"),
          start = interned("start"), end = interned("end");

  static py::str interned(const char* key) {
    PyObject* s = PyUnicode_InternFromString(key);
    if (!s) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(s);
  }
};

const RecordKeys& keys() {
  // Lives as long as the process, like the module that uses it.
  static const RecordKeys* const k = new RecordKeys();
  return *k;
}

// The marker with `word` whose other fields str.format fills in, for tag names and ids that are
// not plain str and so are formatted by their own __format__.
py::str marker_format(std::u32string_view word) {
  return from_u32(quorl::html::write_marker(word, U"{}", U"{}"));
}

// The marker `format` writes for the element, written natively for plain str fields.
std::u32string marker_text(std::u32string_view word, const py::object& tagname,
                           const py::object& id, const py::str& format) {
  if (!PyUnicode_CheckExact(tagname.ptr()) || !PyUnicode_CheckExact(id.ptr())) {
    return to_u32(format.format(tagname, id), "marker");
  }
  return quorl::html::write_marker(word, to_u32(tagname), to_u32(id));
}

// The function behind obj.<name> when that is a method bound to obj, else nullptr.
PyObject* bound_function(const py::object& obj, const char* name) {
  py::object method = obj.attr(name);
  if (!PyMethod_Check(method.ptr()) || PyMethod_GET_SELF(method.ptr()) != obj.ptr()) return nullptr;
  return PyMethod_GET_FUNCTION(method.ptr());  // the class keeps it alive
}

// --- ImageInfoParser, ItemInfoParser ------------------------------------------------------------

// Gives every element the parser describes that has an id a position record, and writes a start
// marker before and an end marker after the element's content. With a plan, the markers go into
// the plan instead of the tree, and `table` is the tree's table of tags. With stand-ins, an id
// no marker can carry is written as its stand-in.
py::object mark_elements(const py::object& self, const py::object& soup, bool record_src,
                         MarkerPlan* plan = nullptr, const TagTable* table = nullptr,
                         IdStandIns* stand_ins = nullptr) {
  const RecordKeys& k = keys();
  const py::object tagname = self.attr("tagname");
  const py::object infodict = self.attr("infodict");
  const py::list elements = soup_find_all(soup, self.attr("itemname"), self.attr("attrs"), table);
  const py::str start_format = marker_format(quorl::html::kStartWord);
  const py::str end_format = marker_format(quorl::html::kEndWord);
  const py::int_ unmeasured(-1);
  for (py::handle element : elements) {
    py::dict record;
    record[k.type] = tagname;
    py::object id = element.attr("get")("id", py::none());
    record[k.id] = id;
    if (record_src) record[k.src] = element.attr("get")("src", "");
    record[k.start] = unmeasured;
    record[k.end] = unmeasured;
    if (!truth_of(id)) continue;
    set_item(infodict, id, record);
    const py::object written = stand_ins ? stand_ins->written(id, tagname) : id;
    if (plan) {
      PlannedMarkers& planned = (*plan)[element.ptr()];
      planned.starts.insert(planned.starts.begin(),
                            marker_text(quorl::html::kStartWord, tagname, written, start_format));
      planned.ends.push_back(marker_text(quorl::html::kEndWord, tagname, written, end_format));
    } else {
      element.attr("insert")(0, start_format.format(tagname, written));
      element.attr("append")(end_format.format(tagname, written));
    }
  }
  return infodict;
}

// The functions behind ItemInfoParser.mark and ImageInfoParser.mark, kept for the life of the
// process to recognise a parser whose mark is the module's own.
PyObject* item_mark_function = nullptr;
PyObject* image_mark_function = nullptr;

PyObject* index_function = nullptr;  // behind HtmlDocument.info_index_parser

// Whether `iparser.mark` is one of the module's own, and if so whether it records `src`.
std::optional<bool> own_mark(const py::object& iparser) {
  PyObject* function = bound_function(iparser, "mark");
  if (function && function == item_mark_function) return false;
  if (function && function == image_mark_function) return true;
  return std::nullopt;
}

// Writes planned markers into the tree, as the parsers that planned them would have.
void materialise(const MarkerPlan& plan) {
  for (const auto& [element, planned] : plan) {
    py::handle tag(element);
    for (auto it = planned.starts.rbegin(); it != planned.starts.rend(); ++it) {
      tag.attr("insert")(0, from_u32(*it));
    }
    for (const std::u32string& end : planned.ends) tag.attr("append")(from_u32(end));
  }
}

void bind_info_parser(py::module_& m, const char* name, const char* tagname,
                      py::object default_name, bool record_src, PyObject*& mark_function) {
  py::object cls = make_class(m, name);
  // Each default is one object shared by every parser built without the argument, as Python's
  // defaults are; the parsers only read them.
  def_method(
      cls, "__init__",
      [tagname](py::object self, py::object name, py::object attrs) {
        self.attr("tagname") = py::str(tagname);
        self.attr("infodict") = py::dict();
        self.attr("itemname") = name;
        self.attr("attrs") = attrs;
      },
      py::arg("name") = default_name, py::arg("attrs") = py::dict());
  def_method(
      cls, "mark",
      [record_src](py::object self, py::object soup) -> py::object {
        return mark_elements(self, soup, record_src);
      },
      py::arg("soup"));
  mark_function = py::object(cls.attr("mark")).release().ptr();
}

// --- ContentParser ------------------------------------------------------------------------------

void bind_content_parser(py::module_& m) {
  py::object cls = make_class(m, "ContentParser");
  def_method(
      cls, "__init__",
      [](py::object self, py::object content, py::object parserdict) {
        self.attr("content") =
            from_u32(quorl::html::normalise_whitespace(to_u32(content, "content")));
        self.attr("tagname") = parserdict.attr("get")("tagname", "");
        self.attr("attrs") = parserdict.attr("get")("attrs", py::dict());
        self.attr("text") = self.attr("get_content")(self.attr("content"));
      },
      py::arg("content"), py::arg("parserdict") = py::dict());
  def_method(
      cls, "get_content",
      [](py::object self, py::object content) -> py::object {
        py::object strainer = module_global("SoupStrainer")(py::arg("attrs") = self.attr("attrs"));
        py::object soup =
            module_global("BeautifulSoup")(content, "lxml", py::arg("parse_only") = strainer);
        return with_tree(soup, [&] { return soup.attr("text"); });
      },
      py::arg("content"));
  def_method(cls, "__str__", [](py::object self) -> py::object { return self.attr("text"); });
}

// --- HtmlDocument -------------------------------------------------------------------------------

// The four sections of a patent, by the ids of their elements.
py::list section_descriptions() {
  py::list out;
  for (const char* id : quorl::html::kSectionIds) {
    py::dict attrs;
    attrs["id"] = id;
    py::dict description;
    description["attrs"] = attrs;
    out.append(description);
  }
  return out;
}

py::object info_index_parser(const py::object& markcontent, const py::object& pos) {
  const RecordKeys& k = keys();
  py::object offset = py::reinterpret_steal<py::object>(PyNumber_Index(pos.ptr()));
  if (!offset) throw py::error_already_set();
  const std::u32string text = to_u32(markcontent, "markcontent");
  const std::vector<MarkedElement> elements = index_or_raise(text, quorl::html::find_markers(text));
  auto shifted = [&](std::int64_t position) -> py::object {
    PyObject* sum = PyNumber_Add(py::int_(position).ptr(), offset.ptr());
    if (!sum) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(sum);
  };
  py::dict markdict;
  for (const MarkedElement& e : elements) {
    py::str id = substring(markcontent, e.id);
    py::dict record;
    record[k.id] = id;
    record[k.type] = substring(markcontent, e.type);
    record[k.start] = shifted(e.start);
    record[k.end] = e.end < 0 ? py::object(py::int_(-1)) : shifted(e.end);
    markdict[id] = record;
  }
  return std::move(markdict);
}

// Measures the marked text into the records, as updating each record with the position record
// info_index_parser gives for its id would, and returns the text without markers.
std::u32string measure(const py::dict& infodict, const std::u32string& marked,
                       const IdStandIns& stand_ins) {
  const RecordKeys& k = keys();
  const std::vector<quorl::html::MarkerSpan> markers = quorl::html::find_markers(marked);
  for (const MarkedElement& e : index_or_raise(marked, markers, &stand_ins)) {
    py::str id = stand_ins.id(e.id.of(marked));
    py::object record = get_item(infodict, id);
    py::dict position;
    position[k.id] = id;
    position[k.type] = from_u32(e.type.of(marked));
    position[k.start] = py::int_(e.start);
    position[k.end] = py::int_(e.end);
    if (PyDict_CheckExact(record.ptr())) {
      if (PyDict_Update(record.ptr(), position.ptr()) < 0) throw py::error_already_set();
    } else {
      record.attr("update")(position);
    }
  }
  return quorl::html::remove_spans(marked, markers);
}

py::object parse_info(const py::object& self, const py::object& infolist, py::object rawcontent) {
  if (!truth_of(rawcontent)) {
    py::object own = self.attr("rawcontent");
    if (!PyUnicode_Check(own.ptr())) {
      throw py::type_error(std::string("HtmlDocument content must be str, not ") +
                           Py_TYPE(own.ptr())->tp_name);
    }
    rawcontent = own.attr("replace")("\n", "");
  }
  py::dict infodict;
  std::optional<std::u32string> marked;  // the marked text, when read here rather than by page.text
  // Stand-ins only where the measuring is the module's own, which knows them; an
  // info_index_parser of the caller's own reads the markers as they are written without them.
  const bool own_index = bound_function(self, "info_index_parser") == index_function;
  IdStandIns stand_ins;
  IdStandIns* written_ids = own_index ? &stand_ins : nullptr;
  py::object page = parse_html(rawcontent);
  py::object markcontent = with_tree(page, [&]() -> py::object {
    // While every parser is the module's own, the markers are planned rather than inserted and
    // the marked text is read off the tree with the planned markers in their places: the same
    // text, without BeautifulSoup's costly tree edits. A parser of the caller's own gets the
    // tree with every marker planned so far written into it.
    std::optional<std::vector<PyObject*>> string_types = plain_text_types(page);
    std::optional<TagTable> table;
    if (string_types) table = TagTable::of(page);
    MarkerPlan plan;
    bool planning = table.has_value();
    for (py::handle parseinfo : py::iter(infolist)) {
      py::object iparser = call_with_keywords(module_global("ItemInfoParser"), parseinfo);
      std::optional<bool> own = own_mark(iparser);
      if (planning && !own) {
        materialise(plan);
        planning = false;
      }
      py::object tempinfo = own ? mark_elements(iparser, page, *own, planning ? &plan : nullptr,
                                                planning ? &*table : nullptr, written_ids)
                                : iparser.attr("mark")(page);
      infodict.attr("update")(tempinfo);
    }
    if (!planning) return page.attr("text");
    marked = planned_text(page, *string_types, plan);
    return py::none();
  });
  std::u32string text;
  if (own_index) {
    text = measure(infodict, marked ? *marked : to_u32(markcontent, "page text"), stand_ins);
  } else {
    if (marked) markcontent = from_u32(*marked);
    py::object markinfo = self.attr("info_index_parser")(markcontent);
    for (py::handle id : py::iter(markinfo)) {
      get_item(infodict, id).attr("update")(get_item(markinfo, id));
    }
    text = quorl::html::remove_markers(to_u32(markcontent, "page text"));
  }
  self.attr("text") = from_u32(text);
  self.attr("infodict").attr("update")(infodict);
  return std::move(infodict);
}

// The class that names an element's related PDF positions.
py::object relation_class(const py::object& relatelist) {
  if (!truth_of(relatelist)) return py::str(quorl::html::kUnrelatedClass);
  if (py::len(relatelist) == 1) {
    return py::str(quorl::html::kOneLineClassFormat).format(get_item(relatelist, py::int_(0)));
  }
  return py::str(quorl::html::kLineRunClassFormat)
      .format(get_item(relatelist, py::int_(0)), get_item(relatelist, py::int_(-1)));
}

py::object set_info(const py::object& self, py::object info) {
  if (!truth_of(info)) info = self.attr("infodict");
  py::object soup = parse_html(self.attr("rawcontent"));
  return with_tree(soup, [&]() -> py::object {
    SoupIdIndex ids(soup);
    const py::str relateitem(quorl::html::kItemRecordType);
    for (py::handle identity : py::iter(info)) {
      py::object record = get_item(info, identity);
      if (!get_item(record, py::str("type")).equal(relateitem)) continue;
      py::object item = ids.find(py::reinterpret_borrow<py::object>(identity));
      if (item.is_none()) raise_key_error(identity);
      py::object value = relation_class(record.attr("get")("relatelist", py::list()));
      py::object classes = item.attr("get")("class");
      if (classes.is_none()) {
        py::list fresh;
        fresh.append(value);
        set_item(item, py::str("class"), fresh);
      } else if (PyList_Check(classes.ptr())) {
        classes.attr("append")(value);
      } else {
        py::list joined;
        joined.append(classes);
        joined.append(value);
        set_item(item, py::str("class"), joined);
      }
    }
    return soup.attr("decode")();
  });
}

void bind_html_document(py::module_& m) {
  py::object cls = make_class(m, "HtmlDocument");
  def_method(
      cls, "__init__",
      [](py::object self, py::object content, py::object parserlist) {
        self.attr("rawcontent") = content;
        self.attr("infoparserlist") = parserlist;
        self.attr("infodict") = py::dict();
        self.attr("contentparserlist") = section_descriptions();
        self.attr("content") = self.attr("rawcontent");
        self.attr("text") = py::str("");
        py::object all = py::reinterpret_steal<py::object>(
            PyNumber_Add(self.attr("infoparserlist").ptr(), self.attr("contentparserlist").ptr()));
        if (!all) throw py::error_already_set();
        self.attr("parse_info")(all);
      },
      py::arg("content"), py::arg("parserlist") = py::list());
  def_method(
      cls, "_html_format",
      [](py::object, py::object html) -> py::object {
        return from_u32(quorl::html::normalise_whitespace(to_u32(html, "html")));
      },
      py::arg("html"));
  def_method(
      cls, "_get_content_with_break",
      [](py::object, py::object soup) -> py::object {
        if (!truth_of(soup)) return py::str("");
        return soup.attr("text");
      },
      py::arg("soup"), method_doc({"根据html获取分段的文本"}).c_str());
  def_method(
      cls, "get_content",
      [](py::object self, py::object rawcontent) -> py::object {
        py::dict contentdict;
        py::object page = parse_html(rawcontent);
        with_tree(page, [&] {
          for (py::handle cparser : py::iter(self.attr("contentparserlist"))) {
            py::object attrs = get_item(cparser, py::str("attrs"));
            py::object contentitem = page.attr("find")(py::arg("attrs") = attrs);
            set_item(contentdict, get_item(attrs, py::str("id")),
                     self.attr("_get_content_with_break")(contentitem));
          }
          return py::object(py::none());
        });
        return std::move(contentdict);
      },
      py::arg("rawcontent"), method_doc({"根据不同的内容parser获取对应的内容"}).c_str());
  def_method(
      cls, "get_text",
      [](py::object self, py::object tag) -> py::object {
        py::object item = self.attr("infodict").attr("get")(tag);
        py::object start = py::int_(0), end = py::none();
        if (truth_of(item)) {
          start = item.attr("get")("start", 0);
          end = item.attr("get")("end", py::none());
        }
        py::object bounds =
            py::reinterpret_steal<py::object>(PySlice_New(start.ptr(), end.ptr(), nullptr));
        if (!bounds) throw py::error_already_set();
        return get_item(self.attr("text"), bounds);
      },
      py::arg("tag") = py::none());
  def_method(
      cls, "get_mark_content",
      [](py::object self) -> py::object { return self.attr("rawcontent"); },
      method_doc({"获取标注的html，其中每个文本内容元素都包含位置信息，图片中的元素包含pdf位置信息",
                  "步骤：", "1，获取相关文本信息", "2，相关文本与pdf文本进行匹配",
                  "3，根据匹配信息，得到每个文本单元，以及图片的pdf信息",
                  "4，根据匹配的信息，在html元素中添加pdf位置信息"})
          .c_str());
  def_method(
      cls, "info_index_parser",
      [](py::object, py::object markcontent, py::object pos) -> py::object {
        return info_index_parser(markcontent, pos);
      },
      py::arg("markcontent"), py::arg("pos") = 0,
      method_doc({"根据标注文本获取对应标注信息"}).c_str());
  index_function = py::object(cls.attr("info_index_parser")).release().ptr();
  def_method(
      cls, "parse_info",
      [](py::object self, py::object infolist, py::object rawcontent) -> py::object {
        return parse_info(self, infolist, rawcontent);
      },
      py::arg("infolist") = py::dict(), py::arg("rawcontent") = "",
      method_doc({"根据不同的信息parser获取对应的信息"}).c_str());
  def_method(
      cls, "set_info",
      [](py::object self, py::object info) -> py::object { return set_info(self, info); },
      py::arg("info") = py::none(), method_doc({"在html中设置对应信息"}).c_str());
  // Every tree the document builds is freed before the operation that built it returns, so
  // there is nothing left to release.
  def_method(cls, "delete", [](py::object) {});
}

}  // namespace

void bind_html(py::module_& m) {
  py::list image_names;
  image_names.append(quorl::html::kImageElement);
  bind_info_parser(m, "ImageInfoParser", quorl::html::kImageRecordType, image_names, true,
                   image_mark_function);
  bind_info_parser(m, "ItemInfoParser", quorl::html::kItemRecordType, py::none(), false,
                   item_mark_function);
  bind_content_parser(m);
  bind_html_document(m);
}

}  // namespace quorl::python
