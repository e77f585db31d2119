// The converter's realignment of a section that a passage written twice captured, over str
// objects.
#pragma once

#include <optional>
#include <vector>

#include "quorl/align/sequence_matcher.hpp"
#include "quorl/align/spans.hpp"
#include "quorl/python/convert.hpp"

namespace quorl::python {

// The matching blocks that replace the alignment `current` (the section's PositionMapper pairs)
// of texts `a_text` and `b_text`, or nothing when it stands. The check reads the str objects in
// place; only a section that fails it is copied and realigned, without the GIL.
std::optional<std::vector<align::Match>> realigned_section(
    py::handle a_text, py::handle b_text, const std::vector<align::SpanPair>& current);

}  // namespace quorl::python
