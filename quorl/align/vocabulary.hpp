// The aligned sections of a patent: each HTML section id with its PDF page kind.
#pragma once

#include <array>

#include "quorl/html/vocabulary.hpp"
#include "quorl/pdf/vocabulary.hpp"

namespace quorl::align {

struct AlignedSection {
  const char* html_section;
  const char* pdf_kind;
};

// In document order; the bibliographic section's text is the abstract's.
inline constexpr std::array<AlignedSection, 4> kAlignedSections = {{
    {html::kBibliographicSection, pdf::kAbstractKind},
    {html::kClaimsSection, pdf::kClaimsKind},
    {html::kDescriptionSection, pdf::kDescriptionsKind},
    {html::kDrawingsSection, pdf::kDrawingsKind},
}};

}  // namespace quorl::align
