// SPDX-License-Identifier: MIT
// The run plan.
#include "app/run_plan.h"

#include <algorithm>

#include "base/ranges.h"

namespace {

std::vector<FlashRange> ImageRanges(const RunRequest& request) {
  std::vector<FlashRange> ranges;
  const uint64_t base = request.address;
  for (const ImageSpan& span : request.spans) ranges.push_back({base + span.offset, base + span.End()});
  return ranges;
}

// Spans that share a unit, or lie in neighbouring units, go to one group, so
// that no unit is erased twice and none between spans is erased at all:
// what the chip holds between the file's records stays.
std::vector<FlashRange> GroupsUnderImage(const std::vector<FlashRange>& ranges, uint32_t unit) {
  std::vector<FlashRange> groups;
  for (const FlashRange& r : ranges) {
    if (!groups.empty() && r.start / unit <= (groups.back().end - 1) / unit + 1) {
      groups.back().end = r.end;
    } else {
      groups.push_back(r);
    }
  }
  return groups;
}

FlashRange WholeUnits(FlashRange range, uint32_t unit, uint64_t deviceSize) {
  const uint64_t end = (range.end + unit - 1) / unit * unit;
  return {range.start / unit * unit, std::min(end, deviceSize)};
}

}  // namespace

RunPlan PlanRun(const RunRequest& request, SFPRG& programmer) {
  RunPlan plan;
  const uint64_t size = programmer.GetSize();
  plan.bulkErase = request.bulkErase;
  if (request.writing) plan.program = ImageRanges(request);
  if (request.updating) {
    plan.updateUnit = programmer.GetEraseUnit();
    for (const FlashRange& r : plan.program) AppendRange(plan.updateRuns, WholeUnits(r, plan.updateUnit, size));
    return plan;  // "-u" erases, unit by unit, only what it has to
  }
  if (!request.rangeErase) return plan;
  const uint64_t end = std::min<uint64_t>(size, uint64_t{request.address} + request.length);
  const std::vector<FlashRange> ranges =
      request.writing ? GroupsUnderImage(plan.program, std::max<uint32_t>(1, programmer.GetDevice().sectorSize))
                      : std::vector<FlashRange>{{request.address, std::max<uint64_t>(end, request.address)}};
  for (const FlashRange& r : ranges) {
    const std::vector<SFPRG::EraseCommand> units =
        programmer.PlanErase(static_cast<uint32_t>(r.start), static_cast<uint32_t>(std::min(r.end, size)));
    plan.erase.insert(plan.erase.end(), units.begin(), units.end());
  }
  return plan;
}

std::vector<FlashRange> RunPlan::Touched(uint64_t deviceSize) const {
  std::vector<FlashRange> touched;
  if (bulkErase) touched.push_back({0, deviceSize});
  for (const SFPRG::EraseCommand& c : erase) touched.push_back({c.unitStart, uint64_t{c.unitStart} + c.unitSize});
  const std::vector<FlashRange>& written = updateUnit != 0 ? updateRuns : program;
  touched.insert(touched.end(), written.begin(), written.end());
  return touched;
}
