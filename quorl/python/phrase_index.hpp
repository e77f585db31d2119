// quorl._phrase_index, _phrase_occurrences, _phrase_folded and _place_phrases: the phrase lookups
// and the placing of phrase mark records (quorl_mark.anchoring), on the C++ core's PhraseIndex.
#pragma once

#include <pybind11/pybind11.h>

namespace quorl::python {

namespace py = pybind11;

void bind_phrase_index(py::module_& m);

}  // namespace quorl::python
