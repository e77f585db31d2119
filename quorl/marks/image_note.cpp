// Splitting the "imagenote" region out of an info string and reading its integer values.
#include "quorl/marks/image_note.hpp"

#include <cstdint>

namespace quorl::marks {

namespace {

constexpr std::size_t kRegionValues = 4;
// Integers up to 2^53 convert to doubles exactly, so dividing them gives the correctly rounded
// quotient the interpreter's true division gives.
constexpr std::uint64_t kExactLimit = std::uint64_t{1} << 53;
// Long digit strings (leading zeros) go to the interpreter, which limits how many digits int()
// converts.
constexpr std::size_t kMaxDigits = 18;

// The blanks int() strips from ASCII text.
bool is_ascii_blank(char32_t c) {
  return c == U' ' || (c >= U'\t' && c <= U'\r');
}

bool is_digit(char32_t c) {
  return c >= U'0' && c <= U'9';
}

// Text before the first occurrence of `sep`, or all of it.
std::u32string_view before(std::u32string_view text, char32_t sep) {
  return text.substr(0, text.find(sep));
}

}  // namespace

ImageNoteFields image_note_fields(std::u32string_view info) {
  const std::size_t first_hash = info.find(U'#');
  if (first_hash == std::u32string_view::npos) return {ImageNoteStatus::kNoRegionField, {}};
  const std::u32string_view region = before(before(info.substr(first_hash + 1), U'#'), U'$');

  ImageNoteFields result{ImageNoteStatus::kOk, {}};
  std::size_t start = 0;
  while (result.fields.size() < kRegionValues) {
    const std::size_t comma = region.find(U',', start);
    result.fields.push_back(region.substr(start, comma - start));
    if (comma == std::u32string_view::npos) break;
    start = comma + 1;
  }
  if (result.fields.size() < kRegionValues) result.status = ImageNoteStatus::kTooFewFields;
  return result;
}

std::optional<double> note_fraction(std::u32string_view field) {
  std::size_t begin = 0, end = field.size();
  while (begin < end && is_ascii_blank(field[begin])) ++begin;
  while (end > begin && is_ascii_blank(field[end - 1])) --end;

  bool negative = false;
  if (begin < end && (field[begin] == U'+' || field[begin] == U'-')) {
    negative = field[begin] == U'-';
    ++begin;
  }
  if (begin == end || !is_digit(field[begin]) || !is_digit(field[end - 1])) return std::nullopt;

  std::uint64_t value = 0;
  std::size_t digits = 0;
  for (std::size_t i = begin; i < end; ++i) {
    const char32_t c = field[i];
    if (c == U'_') {
      // Only single underscores between digits; the first and last characters are digits.
      if (!is_digit(field[i + 1])) return std::nullopt;
      continue;
    }
    if (!is_digit(c) || ++digits > kMaxDigits) return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - U'0');
    if (value > kExactLimit) return std::nullopt;
  }
  const double magnitude = static_cast<double>(value);
  // Integer zero has no sign, so "-0" gives +0.0 as the interpreter's 0 / 1000 does.
  return (negative && value != 0 ? -magnitude : magnitude) / 1000;
}

}  // namespace quorl::marks
