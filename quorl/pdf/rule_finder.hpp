// Horizontal rules in a page image: long, thin, dark, nearly level strokes, such as the line a
// patent's first page prints under its bibliographic header. Scans carry them only as pixels.
#pragma once

#include <vector>

#include "quorl/pdf/raster.hpp"

namespace quorl::pdf {

struct RuleOptions {
  int dark = 128;        // a pixel whose gray value is below this is dark
  int min_length = 100;  // a rule spans at least this many pixels, x1 - x0
  int max_gap = 3;       // light pixels bridged within one stroke (scan noise, JPEG blur)
  // The stroke may climb or fall by one row per `min_run` pixels at most (a scan's skew).
  int min_run = 8;
};

// One rule found: its horizontal extent, x0 to x1 (exclusive), and its rows, top to bottom
// (exclusive): a skewed rule covers as many rows as it climbs. `center` is the mean row of
// its pixels, so a thick or skewed rule is placed where its ink is.
struct Rule {
  int x0 = 0;
  int x1 = 0;
  int top = 0;
  int bottom = 0;
  double center = 0;
};

// The rules of a raster, top to bottom. Each row's dark strokes are followed rightwards,
// stepping to a neighbouring row where the stroke goes on there; strokes of adjacent rows that
// cover one another are one rule. A raster_problem() raster throws std::invalid_argument.
std::vector<Rule> find_rules(const Raster& raster, const RuleOptions& options = {});

}  // namespace quorl::pdf
