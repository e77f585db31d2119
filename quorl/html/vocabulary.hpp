// The words of the HTML document model: section ids, record types, marked elements, classes.
#pragma once

#include <array>

namespace quorl::html {

// The sections of a patent's full text, by the ids of their elements, in document order.
inline constexpr const char* kBibliographicSection = "cn-bibliographic-info";
inline constexpr const char* kClaimsSection = "claims";
inline constexpr const char* kDescriptionSection = "description";
inline constexpr const char* kDrawingsSection = "drawings";
inline constexpr std::array<const char*, 4> kSectionIds = {kBibliographicSection, kClaimsSection,
                                                           kDescriptionSection, kDrawingsSection};

// The record types the two info parsers write, and the element ImageInfoParser looks for unless
// told otherwise.
inline constexpr const char* kItemRecordType = "relateitem";
inline constexpr const char* kImageRecordType = "image";
inline constexpr const char* kImageElement = "img";

// The elements the converter's info parser marks: figures, and the blocks and headings that hold
// the numbered paragraphs and claims.
inline constexpr std::array<const char*, 3> kConverterMarkedElements = {"img", "div", "h2"};

// The class set_info gives an element: related to no PDF line, to one line (its number), or to
// a run of lines (the first and the last number), as str.format patterns.
inline constexpr const char* kUnrelatedClass = "pdferror";
inline constexpr const char* kOneLineClassFormat = "pdf{}";
inline constexpr const char* kLineRunClassFormat = "pdf{}_{}";

}  // namespace quorl::html
