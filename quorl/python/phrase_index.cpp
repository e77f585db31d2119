// quorl._phrase_index and the functions on it: one document text's phrase index, for
// quorl_mark.anchoring. Python keeps what is rare or worded (the fold of a character, by
// unicodedata; the records that cannot be placed, with their messages; annotations); the lookups
// and the placing of plain records, ten thousand of them in a marks file, run here without the GIL.
#include "quorl/python/phrase_index.hpp"

#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "quorl/marks/phrase_index.hpp"
#include "quorl/python/convert.hpp"

namespace quorl::python {
namespace {

using marks::FoldedText;
using marks::PhraseIndex;
using marks::TextSpan;

std::u32string without_newlines(PyObject* str) {
  std::u32string out;
  append_code_points(out, str);
  out.erase(
      std::remove_if(out.begin(), out.end(), [](char32_t c) { return c == U'\r' || c == U'\n'; }),
      out.end());
  return out;
}

// A str's code points, else TypeError naming what it is.
std::u32string code_points_of(py::handle obj, const std::string& what) {
  return to_u32(obj, what.c_str());
}

py::list span_list(const std::vector<TextSpan>& spans) {
  py::list out(spans.size());
  for (std::size_t i = 0; i < spans.size(); ++i)
    out[i] = py::make_tuple(spans[i].start, spans[i].end);
  return out;
}

py::list int_list(const std::vector<std::int64_t>& values) {
  py::list out(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) out[i] = py::int_(values[i]);
  return out;
}

// The occurrences of one phrase: exact starts, or the folded matches' spans.
struct Found {
  std::vector<std::int64_t> starts;
  std::vector<TextSpan> folded;
  bool exact = true;
};

// A plain record the index places: its place in the marks and what it asks.
struct Request {
  std::size_t index;
  std::u32string text;
  marks::PhraseChoice choice;
  Found found;
  marks::Placement placement;
  std::vector<std::u32string> matched;  // the texts a folded match found, sorted, each once
};

struct Section {
  std::u32string name;
  TextSpan span;
};

// The keys of a record, made once per call to place.
struct Keys {
  py::str text{"text"}, start{"start"}, end{"end"}, prefix{"prefix"}, suffix{"suffix"},
      section{"section"}, occurrence{"occurrence"}, all{"all"};
};

// d.get(key), borrowed; nullptr when absent.
PyObject* get(PyObject* dict, const py::str& key) {
  PyObject* value = PyDict_GetItemWithError(dict, key.ptr());
  if (!value && PyErr_Occurred()) throw py::error_already_set();
  return value;
}

bool has(PyObject* dict, const py::str& key) {
  return get(dict, key) != nullptr;
}

// "prefix"/"suffix": absent, None or a str (without its newlines); false for anything else.
bool read_context(PyObject* value, std::u32string& out) {
  if (!value || value == Py_None) return true;
  if (!PyUnicode_Check(value)) return false;
  out = without_newlines(value);
  return true;
}

class PhraseIndexObject {
 public:
  explicit PhraseIndexObject(py::handle text) : text_(code_points_of(text, "text")) {}

  // For each phrase: (starts, True), or when it is not there as given, ([(start, end)] of the
  // places equal to it up to the fold, False).
  py::list occurrences(py::handle phrases, py::handle fold) {
    std::vector<std::u32string> texts;
    for (py::handle p : py::iter(phrases)) texts.push_back(code_points_of(p, "a phrase"));
    std::vector<Found> found(texts.size());
    std::vector<const std::u32string*> missing;
    {
      py::gil_scoped_release unlocked;
      std::lock_guard<std::mutex> lock(mutex_);
      const PhraseIndex& index = built();
      for (std::size_t i = 0; i < texts.size(); ++i) {
        found[i].starts = index.find(texts[i]);
        if (found[i].starts.empty()) missing.push_back(&texts[i]);
      }
    }
    if (!missing.empty()) {
      learn_folds(missing, fold);
      py::gil_scoped_release unlocked;
      std::lock_guard<std::mutex> lock(mutex_);
      for (std::size_t i = 0; i < texts.size(); ++i) {
        if (!found[i].starts.empty()) continue;
        found[i].folded = folded_->find(texts[i], table_);
        found[i].exact = false;
      }
    }
    py::list out(found.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
      out[i] = found[i].exact ? py::make_tuple(int_list(found[i].starts), true)
                              : py::make_tuple(span_list(found[i].folded), false);
    }
    return out;
  }

  // The folded text and, for each of its characters, its position in the text.
  py::tuple folded(py::handle fold) {
    learn_folds({}, fold);
    std::lock_guard<std::mutex> lock(mutex_);  // the GIL is held: nothing below waits for it
    return py::make_tuple(from_u32(folded_->folded()), int_list(folded_->positions()));
  }

  // (placed, deferred, notes): see the stub.
  py::tuple place(py::handle records, py::handle section_list, py::handle fold) {
    if (!PyList_Check(records.ptr())) {
      throw py::type_error(std::string("marks must be a list, not ") +
                           Py_TYPE(records.ptr())->tp_name);
    }
    const std::vector<Section> sections = read_sections(section_list);
    // The records as they are now, held: the fold asked below runs Python code.
    const py::tuple marks = py::reinterpret_steal<py::tuple>(PySequence_Tuple(records.ptr()));
    if (!marks) throw py::error_already_set();
    const Keys keys;
    std::vector<Request> requests;
    std::vector<std::size_t> deferred;
    const auto count = static_cast<std::size_t>(PyTuple_GET_SIZE(marks.ptr()));
    for (std::size_t i = 0; i < count; ++i) {
      PyObject* mark = PyTuple_GET_ITEM(marks.ptr(), static_cast<Py_ssize_t>(i));
      if (PyDict_CheckExact(mark) && (!has(mark, keys.text) || has(mark, keys.start))) continue;
      Request request{i, {}, {}, {}, {}, {}};
      if (PyDict_CheckExact(mark) && read_request(mark, keys, sections, request)) {
        requests.push_back(std::move(request));
      } else {
        deferred.push_back(i);
      }
    }
    if (requests.empty() && deferred.empty()) {
      return py::make_tuple(records, py::list(), py::list());
    }
    if (!requests.empty()) place_requests(requests, fold);
    return results(marks, requests, deferred);
  }

 private:
  // The index, built on first use (a job with no phrase records never needs it). Called with
  // the mutex held.
  const PhraseIndex& built() {
    if (!index_) index_.emplace(text_);
    return *index_;
  }

  // Asks `fold` for the folded form of each character of the text and of `phrases` not asked
  // before, and builds the folded text. Called with the GIL held and the mutex free.
  void learn_folds(const std::vector<const std::u32string*>& phrases, py::handle fold) {
    std::u32string asked;
    {
      py::gil_scoped_release unlocked;
      std::lock_guard<std::mutex> lock(mutex_);
      std::unordered_set<char32_t> seen;
      auto note = [&](std::u32string_view text) {
        for (const char32_t c : text) {
          if (!decided_.count(c) && seen.insert(c).second) asked.push_back(c);
        }
      };
      if (!folded_) note(text_);
      for (const std::u32string* p : phrases) note(*p);
    }
    std::vector<std::optional<char32_t>> answers;
    if (!asked.empty()) {
      py::object forms = fold(from_u32(asked));
      py::object items = py::reinterpret_steal<py::object>(
          PySequence_Fast(forms.ptr(), "fold must return a sequence of str"));
      if (!items) throw py::error_already_set();
      if (static_cast<std::size_t>(PySequence_Fast_GET_SIZE(items.ptr())) != asked.size()) {
        throw py::value_error("fold must return one str per character asked");
      }
      for (std::size_t i = 0; i < asked.size(); ++i) {
        const std::u32string form = code_points_of(
            PySequence_Fast_GET_ITEM(items.ptr(), static_cast<Py_ssize_t>(i)), "a folded form");
        if (form.size() > 1) throw py::value_error("a folded form is one character or none");
        answers.push_back(form.empty() ? std::nullopt : std::optional<char32_t>(form[0]));
      }
    }
    py::gil_scoped_release unlocked;
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t i = 0; i < asked.size(); ++i) {
      table_.set(asked[i], answers[i]);
      decided_.insert(asked[i]);
    }
    if (!folded_) folded_.emplace(text_, table_);
  }

  static std::vector<Section> read_sections(py::handle section_list) {
    std::vector<Section> sections;
    for (py::handle item : py::iter(section_list)) {
      py::object triple = py::reinterpret_steal<py::object>(
          PySequence_Fast(item.ptr(), "a section must be (name, start, end)"));
      if (!triple) throw py::error_already_set();
      if (PySequence_Fast_GET_SIZE(triple.ptr()) != 3) {
        throw py::value_error("a section must be (name, start, end)");
      }
      PyObject** parts = PySequence_Fast_ITEMS(triple.ptr());
      sections.push_back(
          {code_points_of(parts[0], "a section's name"), {to_int64(parts[1]), to_int64(parts[2])}});
    }
    return sections;
  }

  // Reads a record given by its text; false when one of its fields is of a kind only the
  // Python side words or chooses for (it then places the record itself).
  static bool read_request(PyObject* mark, const Keys& keys, const std::vector<Section>& sections,
                           Request& request) {
    PyObject* text = get(mark, keys.text);
    if (!PyUnicode_Check(text)) return false;
    request.text = without_newlines(text);
    if (request.text.empty()) return false;
    marks::PhraseChoice& choice = request.choice;
    if (!read_context(get(mark, keys.prefix), choice.prefix) ||
        !read_context(get(mark, keys.suffix), choice.suffix)) {
      return false;
    }
    if (PyObject* section = get(mark, keys.section); section && section != Py_None) {
      if (!PyUnicode_Check(section)) return false;
      std::u32string name;
      append_code_points(name, section);
      const auto it = std::find_if(sections.begin(), sections.end(),
                                   [&](const Section& s) { return s.name == name; });
      if (it == sections.end()) return false;
      choice.section = it->span;
    }
    if (PyObject* occurrence = get(mark, keys.occurrence); occurrence && occurrence != Py_None) {
      if (!PyLong_CheckExact(occurrence)) return false;
      int overflow = 0;
      const long long n = PyLong_AsLongLongAndOverflow(occurrence, &overflow);
      if (overflow || n < 1) return false;
      choice.occurrence = n;
    }
    if (PyObject* all = get(mark, keys.all); all && all != Py_None) {
      if (!PyBool_Check(all)) return false;
      choice.all = all == Py_True;
    }
    return true;
  }

  void place_requests(std::vector<Request>& requests, py::handle fold) {
    std::vector<const std::u32string*> missing;
    {
      py::gil_scoped_release unlocked;
      std::lock_guard<std::mutex> lock(mutex_);
      const PhraseIndex& index = built();
      for (Request& r : requests) {
        r.found.starts = index.find(r.text);
        if (r.found.starts.empty()) missing.push_back(&r.text);
      }
    }
    if (!missing.empty()) learn_folds(missing, fold);
    py::gil_scoped_release unlocked;
    std::lock_guard<std::mutex> lock(mutex_);
    const std::u32string_view text(text_);
    for (Request& r : requests) {
      std::vector<TextSpan> spans;
      if (!r.found.starts.empty()) {
        const auto length = static_cast<std::int64_t>(r.text.size());
        for (const std::int64_t s : r.found.starts) spans.push_back({s, s + length});
      } else {
        r.found.exact = false;
        spans = folded_->find(r.text, table_);
        for (const TextSpan& s : spans) {
          r.matched.emplace_back(text.substr(static_cast<std::size_t>(s.start),
                                             static_cast<std::size_t>(s.end - s.start)));
        }
        std::sort(r.matched.begin(), r.matched.end());
        r.matched.erase(std::unique(r.matched.begin(), r.matched.end()), r.matched.end());
      }
      r.placement = marks::choose_occurrences(text, std::move(spans), r.choice);
    }
  }

  static py::tuple results(const py::tuple& marks, const std::vector<Request>& requests,
                           const std::vector<std::size_t>& deferred_marks) {
    const Keys keys;
    py::list placed, deferred, notes;
    // Every record a request could not place goes to the Python side too, in its turn.
    std::vector<std::size_t> left;
    for (const Request& r : requests) {
      if (!r.placement.placed) left.push_back(r.index);
    }
    std::vector<std::size_t> python_side;
    std::merge(left.begin(), left.end(), deferred_marks.begin(), deferred_marks.end(),
               std::back_inserter(python_side));
    auto next_python = python_side.begin();
    auto next_request = requests.begin();
    const auto count = static_cast<std::size_t>(PyTuple_GET_SIZE(marks.ptr()));
    for (std::size_t i = 0; i < count; ++i) {
      PyObject* mark = PyTuple_GET_ITEM(marks.ptr(), static_cast<Py_ssize_t>(i));
      if (next_python != python_side.end() && *next_python == i) {
        deferred.append(py::make_tuple(placed.size(), i));
        placed.append(py::none());
        ++next_python;
        if (next_request != requests.end() && next_request->index == i) ++next_request;
        continue;
      }
      if (next_request == requests.end() || next_request->index != i) {
        placed.append(mark);
        continue;
      }
      const Request& r = *next_request++;
      for (const TextSpan& s : r.placement.spans) {
        py::object record = py::reinterpret_steal<py::object>(PyDict_Copy(mark));
        if (!record) throw py::error_already_set();
        if (PyDict_SetItem(record.ptr(), keys.start.ptr(), py::int_(s.start).ptr()) < 0 ||
            PyDict_SetItem(record.ptr(), keys.end.ptr(), py::int_(s.end).ptr()) < 0) {
          throw py::error_already_set();
        }
        placed.append(record);
      }
      if (!r.found.exact || r.placement.closest_kept) {
        py::object matched = py::none(), context = py::none();
        if (!r.found.exact) {
          py::list texts;
          for (const std::u32string& t : r.matched) texts.append(from_u32(t));
          matched = texts;
        }
        if (r.placement.closest_kept) context = py::bool_(r.placement.closest_kept > 1);
        notes.append(py::make_tuple(i, matched, context));
      }
    }
    return py::make_tuple(placed, deferred, notes);
  }

  // The mutex guards everything below; it is taken only with the GIL released (or, in
  // folded, held throughout), so neither lock is ever waited for while the other is held.
  std::mutex mutex_;
  const std::u32string text_;
  std::optional<PhraseIndex> index_;
  marks::FoldTable table_;
  std::unordered_set<char32_t> decided_;
  std::optional<FoldedText> folded_;
};

constexpr const char* kCapsuleName = "quorl._phrase_index";

void delete_index(PyObject* capsule) {
  delete static_cast<PhraseIndexObject*>(PyCapsule_GetPointer(capsule, kCapsuleName));
}

py::object new_index(py::handle text) {
  auto index = std::make_unique<PhraseIndexObject>(text);
  PyObject* capsule = PyCapsule_New(index.get(), kCapsuleName, delete_index);
  if (!capsule) throw py::error_already_set();
  index.release();
  return py::reinterpret_steal<py::object>(capsule);
}

// The index behind a handle _phrase_index made, else TypeError.
PhraseIndexObject& index_of(py::handle handle) {
  if (!PyCapsule_IsValid(handle.ptr(), kCapsuleName)) {
    throw py::type_error(std::string("index must be made by quorl._phrase_index, not ") +
                         Py_TYPE(handle.ptr())->tp_name);
  }
  return *static_cast<PhraseIndexObject*>(PyCapsule_GetPointer(handle.ptr(), kCapsuleName));
}

}  // namespace

void bind_phrase_index(py::module_& m) {
  m.def("_phrase_index", &new_index, py::arg("text"));
  m.def(
      "_phrase_occurrences",
      [](py::handle index, py::handle phrases, py::handle fold) {
        return index_of(index).occurrences(phrases, fold);
      },
      py::arg("index"), py::arg("phrases"), py::arg("fold"));
  m.def(
      "_phrase_folded",
      [](py::handle index, py::handle fold) { return index_of(index).folded(fold); },
      py::arg("index"), py::arg("fold"));
  m.def(
      "_place_phrases",
      [](py::handle index, py::handle marks, py::handle sections, py::handle fold) {
        return index_of(index).place(marks, sections, fold);
      },
      py::arg("index"), py::arg("marks"), py::arg("sections"), py::arg("fold"));
}

}  // namespace quorl::python
