// SPDX-License-Identifier: MIT
// The verify step: what the write programmed, read back and compared with
// the image, since a chip can ignore or garble a program without a word.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/flashapp.h"
#include "app/options.h"
#include "flash/sfprg.h"
#include "platform/platform.h"

namespace {

/// The parts of `ranges` that lie in `within`; both ascending, neither
/// overlapping itself.
std::vector<FlashRange> Intersect(const std::vector<FlashRange>& ranges, const std::vector<FlashRange>& within) {
  std::vector<FlashRange> parts;
  for (auto r = ranges.begin(), w = within.begin(); r != ranges.end() && w != within.end();) {
    const uint64_t start = std::max(r->start, w->start);
    const uint64_t end = std::min(r->end, w->end);
    if (start < end) parts.push_back({start, end});
    // The one that ends first has nothing more in common with the other.
    if (r->end < w->end) {
      ++r;
    } else {
      ++w;
    }
  }
  return parts;
}

}  // namespace

bool FLASHAPP::VerifyStep() {
  const uint32_t startTick = platform::GetTickCount();
  // After "-u" only the units it rewrote need reading: it found the others
  // holding the image already.
  const bool updated = options.GetUpdate();
  const std::vector<FlashRange> ranges = updated ? Intersect(ImageRanges(), rewritten) : ImageRanges();
  uint64_t total = 0;
  for (const FlashRange& r : ranges) total += r.end - r.start;
  progress.Start("Verifying", total);

  const uint64_t base = options.GetAddress();
  std::vector<uint8_t> scratch(kChunkSize);
  int32_t differing = 0;
  uint32_t firstAddress = 0;
  uint8_t flashHolds = 0, fileHolds = 0;
  uint64_t done = 0;
  for (const FlashRange& r : ranges) {
    for (uint64_t at = r.start; at < r.end;) {
      if (Interrupted()) return false;
      const uint32_t chunk = static_cast<uint32_t>(std::min<uint64_t>(kChunkSize, r.end - at));
      if (!programmer->Read(controller.get(), static_cast<uint32_t>(at), static_cast<int32_t>(chunk), scratch.data())) {
        return FlashFailed("Error reading from flash memory\n", RC_DEVICE_ACCESS);
      }
      const uint8_t* image = imageBuffer.get() + (at - base);
      for (uint32_t i = 0; i < chunk; ++i) {
        if (scratch[i] == image[i]) continue;
        if (differing++ == 0) {
          firstAddress = static_cast<uint32_t>(at + i);
          flashHolds = scratch[i];
          fileHolds = image[i];
        }
      }
      at += chunk;
      done += chunk;
      progress.Update(done);
    }
  }
  progress.Clear();
  if (differing > 0) {
    printf("Verify failed at address 0x%06X: flash holds 0x%02X, file holds 0x%02X (%d bytes differ)\n", firstAddress,
           flashHolds, fileHolds, differing);
    return Fail(nullptr, RC_VERIFY_FAILED);
  }
  printf("Bytes verified: %d\n", static_cast<int32_t>(total) + (updated ? bytesAlreadyThere : 0));
  if (options.GetPrintTime()) PrintElapsed("Elapsed time", startTick);
  return true;
}
