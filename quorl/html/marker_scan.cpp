// A single forward pass finds the markers: the next closing and the next newline are searched
// from positions that only grow, so no character is looked at more than a few times.
#include "quorl/html/marker_scan.hpp"

namespace quorl::html {

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// The first occurrence at or after a position, for positions given in increasing order.
class ForwardSearch {
 public:
  template <typename Pred>
  std::size_t next(Text text, std::size_t from, Pred&& is_at) {
    if (found_ != kNone && found_ >= from) return found_;
    if (searched_ == kNone) return kNone;
    std::size_t i = from > searched_ ? from : searched_;
    for (; i < text.size(); ++i) {
      if (is_at(i)) {
        found_ = i;
        searched_ = i + 1;
        return i;
      }
    }
    searched_ = kNone;  // nothing further in the text
    found_ = kNone;
    return kNone;
  }

 private:
  std::size_t found_ = kNone;
  std::size_t searched_ = 0;
};

bool is_at(Text t, std::size_t i, Text part) {
  return i + part.size() <= t.size() && t[i] == part[0] && t.substr(i, part.size()) == part;
}

bool opens_at(Text t, std::size_t i) {
  return is_at(t, i, kMarkerOpen);
}

bool closes_at(Text t, std::size_t i) {
  return is_at(t, i, kMarkerClose);
}

}  // namespace

std::u32string write_marker(Text word, Text tagname, Text id) {
  std::u32string out;
  out.reserve(kMarkerOpen.size() + word.size() + tagname.size() + id.size() + 2 +
              kMarkerClose.size());
  out.append(kMarkerOpen).append(word);
  out.push_back(kFieldSeparator);
  out.append(tagname);
  out.push_back(kFieldSeparator);
  out.append(id).append(kMarkerClose);
  return out;
}

std::vector<MarkerSpan> find_markers(Text text) {
  std::vector<MarkerSpan> markers;
  ForwardSearch closing, newline;
  const std::size_t n = text.size();
  std::size_t i = 0;
  const std::size_t shortest = kMarkerOpen.size() + kMarkerClose.size();
  while (i + shortest <= n) {
    if (!opens_at(text, i)) {
      ++i;
      continue;
    }
    const std::size_t body = i + kMarkerOpen.size();
    const std::size_t close =
        closing.next(text, body, [&](std::size_t k) { return closes_at(text, k); });
    // Later openings have later bodies, so they find no closing either.
    if (close == kNone) break;
    const std::size_t nl =
        newline.next(text, body, [&](std::size_t k) { return text[k] == U'\n'; });
    if (nl != kNone && nl < close) {
      ++i;
      continue;
    }
    markers.push_back({i, close + kMarkerClose.size()});
    i = close + kMarkerClose.size();
  }
  return markers;
}

std::u32string remove_spans(Text text, const std::vector<MarkerSpan>& markers) {
  std::u32string out;
  std::size_t removed = 0;
  for (const MarkerSpan& m : markers) removed += m.end - m.start;
  out.reserve(text.size() - removed);
  std::size_t from = 0;
  for (const MarkerSpan& m : markers) {
    out.append(text.substr(from, m.start - from));
    from = m.end;
  }
  out.append(text.substr(from));
  return out;
}

std::u32string remove_markers(Text text) {
  return remove_spans(text, find_markers(text));
}

}  // namespace quorl::html
