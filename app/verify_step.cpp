// SPDX-License-Identifier: MIT
// The verify step: what the write programmed, read back and compared with
// the image, since a chip can ignore or garble a program without a word.
#include <algorithm>
#include <cstring>
#include <cstdio>
#include <vector>

#include "app/flashapp.h"
#include "app/options.h"
#include "flash/sfprg.h"
#include "platform/platform.h"
#include "spi/spictl.h"

namespace {

// A clock that nearly every wiring carries; above it a verify failure may
// be the connection's, not the chip's.
constexpr uint32_t kReliableClockHz = 1000000;

}  // namespace

void FLASHAPP::Expected(uint64_t start, uint32_t length, uint8_t* expected) const {
  const uint64_t end = start + length;
  // Copies what lies in [start, end) of [from, to), whose bytes `source` holds.
  const auto lay = [&](uint64_t from, uint64_t to, const uint8_t* source) {
    const uint64_t first = std::max(from, start);
    const uint64_t last = std::min(to, end);
    if (first < last) std::memcpy(expected + (first - start), source + (first - from), last - first);
  };
  const uint64_t base = options.GetAddress();
  auto span = std::upper_bound(imageSpans.begin(), imageSpans.end(), start,
                               [base](uint64_t at, const ImageSpan& s) { return at < base + s.End(); });
  for (; span != imageSpans.end() && base + span->offset < end; ++span) {
    lay(base + span->offset, base + span->End(), imageBuffer.get() + span->offset);
  }
  size_t at = 0;  // where the run's bytes begin in restored.bytes
  for (const FlashRange& run : restored.runs) {
    lay(run.start, run.end, restored.bytes.data() + at);
    at += run.end - run.start;
  }
}

bool FLASHAPP::VerifyStep() {
  const uint32_t startTick = platform::GetTickCount();
  // After "-u" only the units it rewrote need reading, whole: it found the
  // others holding the image already, and wrote back what the rewritten
  // ones held outside the image.
  const bool updated = options.GetUpdate();
  const std::vector<FlashRange> ranges = updated ? rewritten : plan.program;
  uint64_t total = 0;
  for (const FlashRange& r : ranges) total += r.end - r.start;

  std::vector<uint8_t> scratch(kChunkSize);
  std::vector<uint8_t> expected(kChunkSize);
  int32_t differing = 0;
  uint32_t firstAddress = 0;
  uint8_t flashHolds = 0, fileHolds = 0;
  const bool read = InChunks("Verifying", ranges, [&](uint32_t at, uint32_t chunk) {
    if (!programmer->Read(controller.get(), at, static_cast<int32_t>(chunk), scratch.data())) {
      return FlashFailed("Error reading from flash memory\n", RC_DEVICE_ACCESS);
    }
    Expected(at, chunk, expected.data());
    for (uint32_t i = 0; i < chunk; ++i) {
      if (scratch[i] == expected[i]) continue;
      if (differing++ == 0) {
        firstAddress = at + i;
        flashHolds = scratch[i];
        fileHolds = expected[i];
      }
    }
    return true;
  });
  if (!read) return false;
  progress.Clear();
  if (differing > 0) {
    // A byte "-u" wrote back is not the file's: it is what the chip held.
    const bool restoredByte = std::ranges::any_of(
        restored.runs, [&](const FlashRange& run) { return firstAddress >= run.start && firstAddress < run.end; });
    printf(restoredByte ? "Verify failed at address 0x%06X: flash holds 0x%02X, held 0x%02X before the write (%d bytes "
                          "differ)\n"
                        : "Verify failed at address 0x%06X: flash holds 0x%02X, file holds 0x%02X (%d bytes differ)\n",
           firstAddress, flashHolds, fileHolds, differing);
    SuggestLowerClock();
    return Fail(nullptr, RC_VERIFY_FAILED);
  }
  // The file's bytes: after "-u", those it rewrote and those it found in place.
  printf("Bytes verified: %d\n", updated ? byteCount + bytesAlreadyThere : static_cast<int32_t>(total));
  if (options.GetPrintTime()) PrintElapsed("Elapsed time", startTick);
  return true;
}

void FLASHAPP::SuggestLowerClock() {
  // Long wires and test clips drop bits at speed: say so, and let the user
  // choose; a retry of our own could hide a marginal board.
  const uint32_t hz = controller->GetSpeed();
  if (hz > kReliableClockHz) {
    printf("The SPI clock was %u Hz: a long or clipped connection may need a lower one (-s %u)\n", hz,
           kReliableClockHz);
  }
}

bool FLASHAPP::ReadAgainAndCompare() {
  std::vector<uint8_t> again(kChunkSize);
  const uint64_t start = options.GetAddress();
  uint32_t firstAddress = 0;
  uint8_t first = 0;
  uint8_t second = 0;
  int32_t differing = 0;
  const bool read = InChunks("Reading", {{start, start + static_cast<uint32_t>(dataLength)}}, [&](uint32_t at, uint32_t n) {
    if (!programmer->Read(controller.get(), at, static_cast<int32_t>(n), again.data())) {
      return FlashFailed("Error reading from flash memory\n", RC_DEVICE_ACCESS);
    }
    const uint8_t* once = imageBuffer.get() + (at - start);
    for (uint32_t i = 0; i < n; ++i) {
      if (once[i] == again[i]) continue;
      if (differing++ == 0) {
        firstAddress = at + i;
        first = once[i];
        second = again[i];
      }
    }
    return true;
  });
  if (!read) return false;
  progress.Clear();
  if (differing == 0) return true;
  printf("Second read differs at address 0x%06X: first read 0x%02X, second 0x%02X (%d bytes differ)\n", firstAddress,
         first, second, differing);
  SuggestLowerClock();
  return Fail(nullptr, RC_VERIFY_FAILED);
}
