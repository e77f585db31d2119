// Python surface of the alignment: PositionMapper and the span and line-relation functions.
#include <optional>

#include "quorl/align/diff_view.hpp"
#include "quorl/align/line_relations.hpp"
#include "quorl/align/sequence_matcher.hpp"
#include "quorl/align/spans.hpp"
#include "quorl/python/bindings.hpp"
#include "quorl/python/convert.hpp"
#include "quorl/python/pyclass.hpp"
#include "quorl/python/realignment.hpp"

namespace quorl::python {

using namespace quorl::align;

namespace {

// Subsystem functions document themselves with a final bare line break.
std::string align_function_doc(std::initializer_list<const char*> lines) {
  return docstring(lines, 4, 0);
}
std::string align_method_doc(std::initializer_list<const char*> lines) {
  return docstring(lines, 8, 0);
}

bool is_str(py::handle obj, const char* text) {
  return PyUnicode_Check(obj.ptr()) && PyUnicode_CompareWithASCIIString(obj.ptr(), text) == 0;
}

// The "equal" opcodes of a list, read as items 1, 2, -2 and -1.
std::vector<EqualStretch> read_equal_stretches(py::handle opcodes) {
  std::vector<EqualStretch> stretches;
  for (py::handle op : py::iter(opcodes)) {
    if (!is_str(item(op, 0), "equal")) continue;
    stretches.push_back({to_int64(item(op, 1)), to_int64(item(op, 2)), to_int64(item(op, -2)),
                         to_int64(item(op, -1))});
  }
  return stretches;
}

py::tuple span_tuple(const Span& s) {
  return py::make_tuple(s.start, s.end);
}

py::tuple pair_tuple(const SpanPair& p) {
  return py::make_tuple(span_tuple(p.a), span_tuple(p.b));
}

// An empty argument (any false value) stands for the mapper's own opcodes.
py::object opcodes_or_own(const py::object& self, const py::object& difflist) {
  return py::bool_(difflist) ? difflist : self.attr("difflist");
}

// Splits a str side on newlines or takes a list side as it is.
py::object side_lines(const py::object& side) {
  if (PyUnicode_Check(side.ptr())) return side.attr("split")("\n");
  if (PyList_Check(side.ptr())) return side;
  PyErr_SetString(PyExc_Exception, "Position Mapper init error");
  throw py::error_already_set();
}

py::list opcode_list(const std::vector<Opcode>& ops) {
  static const char* const kTags[] = {"equal", "replace", "delete", "insert"};
  py::str tags[4] = {py::str(kTags[0]), py::str(kTags[1]), py::str(kTags[2]), py::str(kTags[3])};
  py::list out(ops.size());
  for (std::size_t k = 0; k < ops.size(); ++k) {
    const Opcode& op = ops[k];
    out[k] = py::make_tuple(tags[static_cast<int>(op.tag)], op.i1, op.i2, op.j1, op.j2);
  }
  return out;
}

std::vector<LinePair> split_pieces(const py::object& mapper, const py::object& difflist) {
  return split_at_lines(read_equal_stretches(opcodes_or_own(mapper, difflist)),
                        to_int64_list(mapper.attr("a_index")),
                        to_int64_list(mapper.attr("b_index")));
}

py::list piece_list(const std::vector<LinePair>& pieces) {
  py::list out(pieces.size());
  for (std::size_t k = 0; k < pieces.size(); ++k) {
    const LinePair& p = pieces[k];
    py::list piece(2);
    piece[0] = py::make_tuple(p.a_line, p.a_from, p.a_to);
    piece[1] = py::make_tuple(p.b_line, p.b_from, p.b_to);
    out[k] = piece;
  }
  return out;
}

// check_span over Python numbers: integers exactly, anything else by the host's own operators.
bool check_span_objects(py::handle length, py::handle a_length, py::handle b_length) {
  if (PyLong_Check(length.ptr()) && PyLong_Check(a_length.ptr()) && PyLong_Check(b_length.ptr())) {
    try {
      return check_span(to_int64(length), to_int64(a_length), to_int64(b_length));
    } catch (py::error_already_set& e) {
      if (!e.matches(PyExc_OverflowError)) throw;
    }
  }
  if (!truth_of(a_length) || !truth_of(b_length)) return false;
  py::object two = py::int_(2), half = py::float_(0.5);
  if (py::reinterpret_borrow<py::object>(length) < two) return false;
  auto half_or_more = [&](py::handle n) {
    py::object ratio =
        py::reinterpret_steal<py::object>(PyNumber_TrueDivide(length.ptr(), n.ptr()));
    if (!ratio) throw py::error_already_set();
    return ratio >= half;
  };
  return half_or_more(a_length) || half_or_more(b_length);
}

// The b line numbers that line `linenumber` of side a relates to, given the mapper's pieces.
py::list related_b_lines(const py::object& mapper, py::handle linenumber,
                         const py::object& line_length, const std::vector<LinePair>& pieces) {
  const std::int64_t line = to_int64(linenumber);
  std::vector<std::int64_t> order;           // b lines in order of first appearance
  std::vector<std::int64_t> common_lengths;  // summed piece lengths, parallel to `order`
  for (const LinePair& p : pieces) {
    if (p.a_line != line) continue;
    auto at = std::find(order.begin(), order.end(), p.b_line);
    if (at == order.end()) {
      order.push_back(p.b_line);
      common_lengths.push_back(p.b_to - p.b_from);
    } else {
      common_lengths[static_cast<std::size_t>(at - order.begin())] += p.b_to - p.b_from;
    }
  }
  py::object b_length = mapper.attr("b_length");
  py::list related;
  for (std::size_t k = 0; k < order.size(); ++k) {
    py::int_ common(common_lengths[k]);
    if (check_span_objects(common, line_length, item(b_length, static_cast<Py_ssize_t>(order[k]))))
      related.append(py::int_(order[k]));
  }
  return related;
}

// The pieces of `mapper`, through its own get_relation_split_line so an override is honoured.
std::vector<LinePair> mapper_pieces(const py::object& mapper) {
  py::list pieces = mapper.attr("get_relation_split_line")();
  std::vector<LinePair> out;
  for (py::handle p : pieces) {
    py::object a = item(p, 0), b = item(p, 1);
    out.push_back({to_int64(item(a, 0)), to_int64(item(a, 1)), to_int64(item(a, 2)),
                   to_int64(item(b, 0)), to_int64(item(b, 1)), to_int64(item(b, 2))});
  }
  return out;
}

py::list relation_by_line(const py::object& mapper, py::handle linenumber) {
  py::object line_length = mapper.attr("a_length")[linenumber];
  if (!truth_of(line_length)) return py::list();
  return related_b_lines(mapper, linenumber, line_length, mapper_pieces(mapper));
}

void bind_span_functions(py::module_& m) {
  m.def(
      "check_span",
      [](py::object length, py::object a_length, py::object b_length) {
        return check_span_objects(length, a_length, b_length);
      },
      py::arg("length"), py::arg("a_length"), py::arg("b_length"),
      align_function_doc({"输入：共同长度，a长度，b长度", "输出：是否匹配"}).c_str());
}

void bind_relation_functions(py::module_& m) {
  m.def(
      "get_relation_by_line",
      [](py::object linenumber, py::object mapper) -> py::object {
        return relation_by_line(mapper, linenumber);
      },
      py::arg("linenumber"), py::arg("mapper"),
      align_function_doc({"输入：a的行号，对应关系", "输出，对应b的行号"}).c_str());
  m.def(
      "get_relation_list",
      [](py::object mapper) -> py::object {
        py::list retlist;
        py::object a_length = mapper.attr("a_length");
        // Every line reads the same pieces: the mapper does not change during the call.
        std::optional<std::vector<LinePair>> pieces;
        Py_ssize_t idx = 0;
        for (py::handle v : a_length) {
          if (truth_of(v)) {
            if (!pieces) pieces = mapper_pieces(mapper);
            py::int_ line(idx);
            py::list entry(2);
            entry[0] = line;
            entry[1] =
                related_b_lines(mapper, line, py::reinterpret_borrow<py::object>(v), *pieces);
            retlist.append(entry);
          }
          ++idx;
        }
        return retlist;
      },
      py::arg("mapper"), align_function_doc({"输入：对应关系", "输出：对应列表"}).c_str());
}

void bind_conversions(py::module_& m) {
  m.def(
      "span_binary_search",
      [](py::object spanlist, py::object value, py::object exact) -> py::object {
        const std::int64_t target = to_int64(value);
        const std::size_t count = py::len(spanlist);
        auto bound = [&](std::int64_t i, Py_ssize_t end) {
          return to_int64(item(item(spanlist, static_cast<Py_ssize_t>(i)), end));
        };
        return py::int_(span_binary_search(
            count, [&](std::int64_t i) { return bound(i, 0); },
            [&](std::int64_t i) { return bound(i, 1); }, target, truth_of(exact)));
      },
      py::arg("spanlist"), py::arg("value"), py::arg("exact") = false,
      align_function_doc({"根据值查找大致区间", "查找小于value值的最大区间"}).c_str());
  m.def(
      "convert_span_a2b",
      [](py::object sa, py::object spandiff) -> py::object {
        py::object s0 = item(sa, 0), s1 = item(sa, 1);
        // Checked in every mode: a reversed span has no meaning in b.
        if (!(s0 <= s1)) {
          PyErr_SetNone(PyExc_AssertionError);
          throw py::error_already_set();
        }
        std::optional<SpanPair> r =
            convert_span_a2b({to_int64(s0), to_int64(s1)}, read_span_pairs(spandiff));
        if (!r) return py::list();
        return pair_tuple(*r);
      },
      py::arg("sa"), py::arg("spandiff"),
      align_function_doc({"将a的字符范围转为b的字符范围", "输入：a的字符范围", "输出：b的字符范围"})
          .c_str());
  m.def(
      "convert_position_a2b",
      [](py::object posa, py::object spandiff) -> py::object {
        return py::int_(convert_position_a2b(to_int64(posa), read_span_pairs(spandiff)));
      },
      py::arg("posa"), py::arg("spandiff"), align_function_doc({"根据a的位置找到b的位置"}).c_str());
  m.def(
      "convert_span2lines",
      [](py::object span, py::object lineindex) -> py::object {
        if (!truth_of(span)) return py::list();
        // Line offsets are read by position; a mapping would be read by its keys instead.
        if (!PySequence_Check(lineindex.ptr()) || PyUnicode_Check(lineindex.ptr()))
          throw py::type_error("lineindex must be a sequence of ints, not " +
                               std::string(Py_TYPE(lineindex.ptr())->tp_name));
        std::vector<LinePiece> pieces = convert_span2lines(
            {to_int64(item(span, 0)), to_int64(item(span, 1))}, to_int64_list(lineindex));
        return line_pieces_list(pieces);
      },
      py::arg("span"), py::arg("lineindex"), align_function_doc({"span转为行"}).c_str());
  m.def(
      "get_span_text",
      [](py::object span, py::object text) -> py::object {
        py::object piece = text[py::slice(item(span, 0), item(span, 1), py::none())];
        return piece.attr("replace")("\n", "");
      },
      py::arg("span"), py::arg("text"), "根据文本的坐标获取文本内容");
}

// The converter's realignment of one section, for the diff view and benchmarks: the opcodes
// that replace a PositionMapper's own, given its `spandiff`, or None when they stand. And the
// plain alignment of two texts.
void bind_realignment(py::module_& m) {
  m.def(
      "_realigned_opcodes",
      [](py::object a_text, py::object b_text, py::object spandiff) -> py::object {
        std::optional<std::vector<Match>> blocks =
            realigned_section(a_text, b_text, read_span_pairs(spandiff));
        if (!blocks) return py::none();
        return opcode_list(opcodes_from_blocks(*blocks));
      },
      py::arg("a_text"), py::arg("b_text"), py::arg("spandiff"));
  // The alignment PositionMapper.compare makes, of two texts, without its log line: for
  // proofreading a recognised text against the patent's.
  m.def(
      "_opcodes",
      [](py::object a_text, py::object b_text) -> py::object {
        const std::u32string a = to_u32(a_text, "a_text");
        const std::u32string b = to_u32(b_text, "b_text");
        std::vector<Opcode> ops;
        {
          py::gil_scoped_release unlocked;
          ops = diff_opcodes(a, b);
        }
        return opcode_list(ops);
      },
      py::arg("a_text"), py::arg("b_text"));
}

void bind_position_mapper(py::module_& m) {
  py::object cls = make_class(m, "PositionMapper");
  // One shared default opcode list, as a Python default argument is; it is only read.
  py::list shared_default;

  def_method(
      cls, "__init__",
      [](py::object self, py::object a_list, py::object b_list) {
        for (const char* side : {"a", "b"}) {
          const std::string s(side);
          py::object lines = side_lines(s == "a" ? a_list : b_list);
          self.attr((s + "_list").c_str()) = lines;
          py::object joined = py::str("").attr("join")(lines);
          self.attr((s + "_text").c_str()) = joined;
          py::list lengths;
          for (py::handle line : lines) lengths.append(py::int_(py::len(line)));
          self.attr((s + "_length").c_str()) = lengths;
          self.attr((s + "_index").c_str()) = self.attr("get_line_index")(lengths);
        }
        self.attr("difflist") = self.attr("compare")();
        self.attr("spandiff") = self.attr("get_relation_format")();
      },
      py::arg("a_list"), py::arg("b_list"));

  def_method(
      cls, "get_line_index",
      [](py::object /*self*/, py::object lengthlist) -> py::object {
        py::list out;
        for (std::int64_t v : line_index(to_int64_list(lengthlist))) out.append(py::int_(v));
        return out;
      },
      py::arg("lengthlist"), align_method_doc({"根据长度计算字符的起始位置"}).c_str());

  def_method(cls, "compare", [](py::object self) -> py::object {
    const std::u32string a = to_u32(self.attr("a_text"));
    const std::u32string b = to_u32(self.attr("b_text"));
    std::vector<Opcode> ops;
    {
      py::gil_scoped_release unlocked;
      ops = diff_opcodes(a, b);
    }
    module_global("logging").attr("warning")(py::str("diff opcodes: {}").format(ops.size()));
    return opcode_list(ops);
  });

  def_method(
      cls, "get_relation_format",
      [](py::object self, py::object difflist, py::object interval) -> py::object {
        std::vector<EqualStretch> stretches = read_equal_stretches(opcodes_or_own(self, difflist));
        std::vector<SpanPair> merged;
        if (PyLong_Check(interval.ptr())) {
          int overflow = 0;
          long long limit = PyLong_AsLongLongAndOverflow(interval.ptr(), &overflow);
          if (limit == -1 && PyErr_Occurred()) throw py::error_already_set();
          merged = merge_equal_stretches(
              stretches, [&](__int128 gap) { return overflow != 0 ? overflow > 0 : gap <= limit; });
        } else {
          merged = merge_equal_stretches(stretches, [&](__int128 gap) {
            return py::int_(static_cast<std::int64_t>(gap)) <= interval;
          });
        }
        py::list out(merged.size());
        for (std::size_t k = 0; k < merged.size(); ++k) out[k] = pair_tuple(merged[k]);
        return out;
      },
      py::arg("difflist") = shared_default, py::arg("interval") = 1,
      align_method_doc({"合并相邻的span区间，最小合并间隔为interval"}).c_str());

  def_method(
      cls, "get_relation_split_line",
      [](py::object self, py::object difflist, py::object /*linebreak*/) -> py::object {
        return piece_list(split_pieces(self, difflist));
      },
      py::arg("difflist") = shared_default, py::arg("linebreak") = false,
      align_method_doc({"返回：[(a段号,a开始,a结束),(b段号,b开始,b结束)]"}).c_str());

  def_method(cls, "getdiffviewtext", [](py::object self) -> py::object {
    std::vector<ViewOp> ops;
    for (py::handle op : py::iter(self.attr("difflist"))) {
      py::object tag = item(op, 0);
      ViewOp::Kind kind = is_str(tag, "equal")     ? ViewOp::kEqual
                          : is_str(tag, "delete")  ? ViewOp::kDelete
                          : is_str(tag, "insert")  ? ViewOp::kInsert
                          : is_str(tag, "replace") ? ViewOp::kReplace
                                                   : ViewOp::kOther;
      if (kind == ViewOp::kOther) continue;
      ops.push_back({kind, to_int64(item(op, 1)), to_int64(item(op, 2)), to_int64(item(op, -2)),
                     to_int64(item(op, -1))});
    }
    return from_u32(
        render_diff_view(to_u32(self.attr("a_text")), to_u32(self.attr("b_text")), ops));
  });
}

}  // namespace

void bind_align(py::module_& m) {
  bind_span_functions(m);
  bind_relation_functions(m);
  bind_conversions(m);
  bind_position_mapper(m);
}

void bind_align_helpers(py::module_& m) {
  bind_realignment(m);
}

}  // namespace quorl::python
