// The words of the marks: marker kinds and classes, info tokens, annotation subjects and texts.
#pragma once

#include <array>

namespace quorl::marks {

// The marker classes, by the names the module publishes.
inline constexpr const char* kMarkerBaseClass = "Marker";
inline constexpr const char* kParMarkerClass = "PARMarker";
inline constexpr const char* kCthMarkerClass = "CTHMarker";
inline constexpr const char* kImgParMarkerClass = "ImgPARMarker";
inline constexpr const char* kImgIgMarkerClass = "ImgIGMarker";
inline constexpr const char* kFlagMarkerClass = "FlagMarker";

// The marker class that draws each mark type.
struct MarkerKind {
  const char* type;
  const char* class_name;
};
inline constexpr std::array<MarkerKind, 5> kMarkerRegistry = {{
    {"par", kParMarkerClass},
    {"cth", kCthMarkerClass},
    {"imgpar", kImgParMarkerClass},
    {"imgig", kImgIgMarkerClass},
    {"flag", kFlagMarkerClass},
}};

// A mark of this type is drawn as a mark of kEqualDrawnAs: the same paragraph mark, whose info
// then usually carries kEqualToken.
inline constexpr const char* kEqualMarkType = "equal";
inline constexpr const char* kEqualDrawnAs = "par";

// Tokens looked for in a mark's info and title.
// The number label reads kDuplicatePrefix + title and is recorded as a duplicate.
inline constexpr const char* kEqualToken = "EQUAL";
inline constexpr const char* kDuplicatePrefix = "=";
// The label goes into a region of the figure that the info string gives.
inline constexpr const char* kImageNoteToken = "imagenote";
// A title holding it names a range of numbers.
inline constexpr const char* kRangeToken = "-";

// The subjects of the annotations, one per kind of label or highlight.
inline constexpr const char* kHighlightSubject = "Highlight";
inline constexpr const char* kSingleNumberSubject = "SingleNUM";
inline constexpr const char* kRangeSubject = "Range";
inline constexpr const char* kDuplicateSubject = "Duplicate";
inline constexpr const char* kFigureContentSubject = "IGseq";
inline constexpr const char* kFlagSubject = "Flag";

// Every annotation's info names this author, in the field PyMuPDF calls its title.
inline constexpr const char* kAnnotationAuthor = "vexil";

// The text of the fixed flag a flag marker puts beside the claims.
inline constexpr const char* kClaimsFlagText = "Claims";

}  // namespace quorl::marks
