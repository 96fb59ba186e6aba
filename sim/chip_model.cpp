// SPDX-License-Identifier: MIT
// The select-period framing, busy time and array access that both chip
// families share.
#include "sim/chip_model.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/platform.h"

namespace {

// The array is written whole as soon as it exists (erased, then loaded from
// the image file), so a 16 MB part gains from large pages.
std::vector<uint8_t> ErasedArray(size_t size) {
  std::vector<uint8_t> array;
  array.reserve(size);
  platform::AdviseLargePages(array.data(), size);
  array.assign(size, 0xFF);
  return array;
}

}  // namespace

ChipModel::ChipModel(const SimChipFacts& facts, const VirtualClock& clock, const ChipFaults& faults)
    : memory_(ErasedArray(facts.Size())), facts_(facts), clock_(clock), faults_(faults) {}

void ChipModel::Select() {
  selected_ = true;
  position_ = 0;
  address_ = 0;
}

void ChipModel::Deselect() {
  if (selected_ && position_ > 0) EndCommand();
  selected_ = false;
  position_ = 0;
}

size_t ChipModel::Clock(TxBytes tx, uint8_t* rx, size_t n) {
  size_t taken = 1;
  driven_ = false;
  if (position_ == 0) {
    limitHz_ = facts_.maxHz;
    // tx and rx may be one buffer: take the byte in before answering.
    Decode(tx[0]);
    Float(rx, 1);
  } else {
    taken = Exchange(tx, rx, n);
  }
  if (driven_ && rx && clock_.Hz() > limitHz_) {
    for (size_t i = 0; i < taken; ++i) rx[i] = static_cast<uint8_t>(~rx[i]);
  }
  position_ += taken;
  return taken;
}

size_t ChipModel::TakeAddressByte(TxBytes tx, uint8_t* rx) {
  address_ = (address_ << 8) | tx[0];
  Float(rx, 1);
  return 1;
}

uint8_t ChipModel::IdByte(size_t i) {
  if (i == 0) ++idReads_;
  uint8_t value = i < facts_.idLength ? facts_.idAnswer[i] : 0xFF;
  if (faults_.id && i < faults_.id->size()) value = (*faults_.id)[i];
  if (faults_.idGlitch && idReads_ == 2 && i == 2) value ^= kGlitchBit;
  return value;
}

void ChipModel::StartProgramOrErase(uint64_t ns) {
  busyUntilNs_ = faults_.stuck ? std::numeric_limits<uint64_t>::max() : clock_.Now() + ns;
}

uint32_t ChipModel::ReadArray(uint32_t start, uint8_t* rx, size_t count) {
  driven_ = true;
  const size_t size = memory_.size();
  size_t at = start;
  while (count > 0) {
    const size_t run = std::min(count, size - at);
    if (rx) {
      std::memcpy(rx, memory_.data() + at, run);
      // A loose wire: the second read of this byte drops a bit.
      if (faults_.readGlitch && *faults_.readGlitch >= at && *faults_.readGlitch < at + run &&
          ++glitchReads_ == 2) {
        rx[*faults_.readGlitch - at] ^= kGlitchBit;
      }
      rx += run;
    }
    count -= run;
    at = (at + run) % size;
  }
  return static_cast<uint32_t>(at);
}

void ChipModel::Float(uint8_t* rx, size_t n) {
  if (rx) std::memset(rx, 0xFF, n);
}
