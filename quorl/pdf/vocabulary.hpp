// The words of the PDF document model: page kinds, header words, page-count words, image text.
#pragma once

#include <array>
#include <string_view>

namespace quorl::pdf {

// The kinds of pages, in the order PdfDocument keeps them. A sequence listing is read as part of
// the description, so no page is ever classified as kSeqsKind.
inline constexpr const char* kAbstractKind = "abstract";
inline constexpr const char* kClaimsKind = "claims";
inline constexpr const char* kDescriptionsKind = "descriptions";
inline constexpr const char* kSeqsKind = "seqs";
inline constexpr const char* kDrawingsKind = "drawings";
inline constexpr std::array<const char*, 5> kPageKinds = {
    kAbstractKind, kClaimsKind, kDescriptionsKind, kSeqsKind, kDrawingsKind};

// A page header naming one of these words is a page of that kind. They are tested in this order
// and the first one found decides: the drawings' header reads "说明书附图".
struct HeaderWord {
  std::u32string_view word;
  const char* kind;
};
inline constexpr std::array<HeaderWord, 4> kHeaderWords = {{
    {U"附图", kDrawingsKind},
    {U"序列表", kDescriptionsKind},
    {U"说明书", kDescriptionsKind},
    {U"权利要求书", kClaimsKind},
}};

// Blanks a header may be spaced out with; they are dropped before the words are looked for.
inline constexpr std::u32string_view kHeaderBlanks = U" \u3000\u00a0";

// The page-count box of the first page: each word, the number of its pages, then kPagesWord;
// in the order the counts are given (claims, description, sequence listing, drawings).
inline constexpr std::array<std::u32string_view, 4> kCountWords = {U"权利要求书", U"说明书",
                                                                   U"序列表", U"附图"};
inline constexpr char32_t kPagesWord = U'页';

// The text of the line an image block is read as; each of its characters carries the image's box.
inline constexpr const char* kImagePlaceholder = "#imagefile#";

}  // namespace quorl::pdf
