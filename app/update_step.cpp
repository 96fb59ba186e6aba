// SPDX-License-Identifier: MIT
// The write of "-u": only the erase units that differ from the image are
// rewritten, and only those whose new contents set a bit are erased.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/flashapp.h"
#include "app/options.h"
#include "base/ranges.h"
#include "flash/sfprg.h"

namespace {

/// Programming only clears bits: `wanted` needs no erase when every bit it
/// has clear is clear or may be cleared, that is wanted AND current == wanted.
bool OnlyClearsBits(const uint8_t* wanted, const uint8_t* current, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) {
    if ((wanted[i] & current[i]) != wanted[i]) return false;
  }
  return true;
}

}  // namespace

bool FLASHAPP::ReadChunks(uint32_t start, uint32_t length, uint8_t* destination) {
  for (uint32_t done = 0; done < length;) {
    if (Interrupted()) return false;
    const uint32_t chunk = std::min(length - done, kChunkSize);
    if (!programmer->Read(controller.get(), start + done, static_cast<int32_t>(chunk), destination + done)) {
      return FlashFailed("Error reading from flash memory\n", RC_DEVICE_ACCESS);
    }
    done += chunk;
  }
  return true;
}

uint32_t FLASHAPP::LayImageOver(uint32_t start, uint32_t unit, const uint8_t* current, uint8_t* wanted,
                                RestoredBytes* restored) const {
  std::memcpy(wanted, current, unit);
  // Bytes of the unit outside the image keep what the chip holds: "-u" loses nothing.
  const uint64_t base = options.GetAddress();
  const uint64_t end = uint64_t{start} + unit;
  const auto keep = [&](uint64_t from, uint64_t to) {
    if (!restored || from >= to) return;
    AppendRange(restored->runs, FlashRange{from, to});
    restored->bytes.insert(restored->bytes.end(), current + (from - start), current + (to - start));
  };
  auto span = std::upper_bound(imageSpans.begin(), imageSpans.end(), start,
                               [base](uint64_t at, const ImageSpan& s) { return at < base + s.End(); });
  uint32_t laid = 0;
  uint64_t outside = start;  // the first byte not yet laid or kept
  for (; span != imageSpans.end() && base + span->offset < end; ++span) {
    const uint64_t from = std::max<uint64_t>(start, base + span->offset);
    const uint64_t to = std::min<uint64_t>(end, base + span->End());
    keep(outside, from);
    std::memcpy(wanted + (from - start), imageBuffer.get() + (from - base), to - from);
    laid += static_cast<uint32_t>(to - from);
    outside = to;
  }
  keep(outside, end);
  return laid;
}

bool FLASHAPP::UpdateFlash() {
  byteCount = 0;
  bytesAlreadyThere = 0;
  rewritten.clear();
  restored.Clear();
  const uint32_t unit = plan.updateUnit;
  const std::vector<FlashRange>& runs = plan.updateRuns;
  uint64_t total = 0;
  for (const FlashRange& r : runs) total += r.end - r.start;
  progress.Start("Writing", total);

  // A read brings in as many whole units as fit in a chunk, or one unit in
  // several chunks.
  const uint32_t batch = std::max(unit, kChunkSize / unit * unit);
  std::vector<uint8_t> current(batch);
  std::vector<uint8_t> wanted(unit);
  int32_t unchanged = 0, erased = 0, programmedOnly = 0;
  uint64_t done = 0;
  for (const FlashRange& run : runs) {
    for (uint64_t at = run.start; at < run.end;) {
      const uint32_t length = static_cast<uint32_t>(std::min<uint64_t>(batch, run.end - at));
      if (!ReadChunks(static_cast<uint32_t>(at), length, current.data())) return false;
      for (uint32_t offset = 0; offset < length; offset += unit) {
        if (Interrupted()) return false;
        const uint32_t start = static_cast<uint32_t>(at) + offset;
        const uint8_t* holds = current.data() + offset;
        const uint32_t imageBytes = LayImageOver(start, unit, holds, wanted.data(), nullptr);
        if (std::memcmp(wanted.data(), holds, unit) == 0) {
          ++unchanged;
          bytesAlreadyThere += static_cast<int32_t>(imageBytes);
        } else {
          const bool erase = !OnlyClearsBits(wanted.data(), holds, unit);
          // The verify reads the whole unit back: its bytes outside the image
          // were programmed too, and a cell that fails there loses data.
          LayImageOver(start, unit, holds, wanted.data(), &restored);
          if (!programmer->RewriteUnit(controller.get(), start, wanted.data(), holds, erase)) {
            return FlashFailed("Error writing to the flash memory\n", RC_DEVICE_ACCESS);
          }
          ++(erase ? erased : programmedOnly);
          byteCount += static_cast<int32_t>(imageBytes);
          AppendRange(rewritten, FlashRange{start, uint64_t{start} + unit});
        }
        done += unit;
        progress.Update(done);
      }
      at += length;
    }
  }
  progress.Clear();
  printf("Erase units unchanged: %d, erased: %d, programmed without erase: %d\n", unchanged, erased, programmedOnly);
  return true;
}
