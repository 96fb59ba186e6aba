// SPDX-License-Identifier: MIT
// Lists of address ranges kept ascending: a range added where the last one
// ends (or inside it) extends that one instead of starting another.
#pragma once

#include <algorithm>
#include <vector>

/// Adds `range` (any type with `start` and `end`, [start, end)) after the
/// ranges of `ranges`, none of which starts after it: the last range grows
/// to take it in when they meet or overlap; otherwise it is appended.
template <typename Range>
void AppendRange(std::vector<Range>& ranges, const Range& range) {
  if (!ranges.empty() && range.start <= ranges.back().end) {
    ranges.back().end = std::max(ranges.back().end, range.end);
  } else {
    ranges.push_back(range);
  }
}
