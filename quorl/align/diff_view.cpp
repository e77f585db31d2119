// The HTML difference view of an alignment.
#include "quorl/align/diff_view.hpp"

#include <algorithm>

namespace quorl::align {

namespace {

constexpr std::u32string_view kStyle =
    U"<style>.insert {background: lightgreen;}.delete {background: pink;}            "
    U".rinsert {background: yellow;}.rdelete {background: red;}</style>";

// Python's text[lo:hi] for a step of 1.
std::u32string_view py_slice(std::u32string_view text, std::int64_t lo, std::int64_t hi) {
  const auto n = static_cast<std::int64_t>(text.size());
  auto clip = [n](std::int64_t v) {
    if (v < 0) v = std::max<std::int64_t>(v + n, 0);
    return std::min(v, n);
  };
  lo = clip(lo);
  hi = clip(hi);
  if (hi <= lo) return {};
  return text.substr(static_cast<std::size_t>(lo), static_cast<std::size_t>(hi - lo));
}

void append_escaped(std::u32string& out, std::u32string_view text) {
  for (char32_t c : text) {
    switch (c) {
      case U'&':
        out += U"&amp;";
        break;
      case U'<':
        out += U"&lt;";
        break;
      case U'>':
        out += U"&gt;";
        break;
      case U'"':
        out += U"&quot;";
        break;
      case U'\'':
        out += U"&#x27;";
        break;
      case U'\n':
        out += U"&para;<br>\n\u3000\u3000";
        break;
      default:
        out += c;
    }
  }
}

void append_span(std::u32string& out, std::u32string_view cls, std::u32string_view text) {
  out += U"<span class=\"";
  out += cls;
  out += U"\">";
  append_escaped(out, text);
  out += U"</span>";
}

}  // namespace

std::u32string render_diff_view(std::u32string_view a_text, std::u32string_view b_text,
                                const std::vector<ViewOp>& ops) {
  std::u32string out(kStyle);
  for (const ViewOp& op : ops) {
    switch (op.kind) {
      case ViewOp::kEqual:
        append_span(out, U"equal", py_slice(b_text, op.j1, op.j2));
        break;
      case ViewOp::kDelete:
        append_span(out, U"delete", py_slice(a_text, op.i1, op.i2));
        break;
      case ViewOp::kInsert:
        append_span(out, U"insert", py_slice(b_text, op.j1, op.j2));
        break;
      case ViewOp::kReplace:
        append_span(out, U"rdelete", py_slice(a_text, op.i1, op.i2));
        append_span(out, U"rinsert", py_slice(b_text, op.j1, op.j2));
        break;
      case ViewOp::kOther:
        break;
    }
  }
  return out;
}

}  // namespace quorl::align
