// The parsing of the figure region that follows the image-note token of a mark's info string.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace quorl::marks {

enum class ImageNoteStatus {
  kOk,
  // No "#" in the info string, so there is no second field to read.
  kNoRegionField,
  // Fewer than four comma-separated values.
  kTooFewFields,
};

struct ImageNoteFields {
  ImageNoteStatus status;
  // The first four comma-separated values (all of them when there are fewer), as views into the
  // info string.
  std::vector<std::u32string_view> fields;
};

// The region values of an info string such as "imagenote#100,200,300,400$...": the text between
// the first and the second "#", up to its first "$", split on ",".
ImageNoteFields image_note_fields(std::u32string_view info);

// A region value as a fraction: the decimal integer text divided by 1000. Handles plain ASCII
// integers (blanks around, one sign, digits with single underscores between them) whose value is
// exact as a double; anything else, valid or not, is left to the interpreter's int() by returning
// nothing, so that exotic digits and error messages are exactly the interpreter's.
std::optional<double> note_fraction(std::u32string_view field);

}  // namespace quorl::marks
