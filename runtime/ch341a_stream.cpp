// SPDX-License-Identifier: MIT
// The packets of a USB write to the CH341A.
#include "runtime/ch341a_stream.h"

#include <algorithm>
#include <array>

namespace {

// The most one OUT transfer carries: 128 packets.
constexpr size_t kTransferBytes = 4096;

constexpr std::array<uint8_t, 256> kReversed = [] {
  std::array<uint8_t, 256> table{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    unsigned reversed = 0;
    for (unsigned bit = 0; bit < 8; ++bit) reversed |= ((byte >> bit) & 1u) << (7 - bit);
    table[byte] = static_cast<uint8_t>(reversed);
  }
  return table;
}();

}  // namespace

uint8_t ch341a::Reversed(uint8_t byte) { return kReversed[byte]; }

void Ch341aStream::AddUio(std::initializer_list<uint8_t> subCommands) {
  const bool fits = !packets_.empty() && packets_.back()[0] == ch341a::kUioStream &&
                    packets_.back().size() + subCommands.size() <= ch341a::kPacketSize;
  if (!fits) {
    packets_.push_back({ch341a::kUioStream, ch341a::kUioEnd});
    outBytes_ += 2;
  }
  // Before the end mark.
  std::vector<uint8_t>& packet = packets_.back();
  packet.insert(packet.end() - 1, subCommands);
  outBytes_ += subCommands.size();
}

void Ch341aStream::SetPins(uint8_t levels) { AddUio({static_cast<uint8_t>(ch341a::kUioOut | levels)}); }

void Ch341aStream::SetDirection(bool outputs, uint8_t levels) {
  // The levels first, so that a pin turning output starts at its level.
  AddUio({static_cast<uint8_t>(ch341a::kUioOut | levels),
          static_cast<uint8_t>(ch341a::kUioDirection | (outputs ? ch341a::kOutputPins : 0))});
}

void Ch341aStream::SetSingleDataLines() {
  packets_.push_back({ch341a::kI2cStream, ch341a::kI2cSet | ch341a::kI2c100kHz, ch341a::kI2cEnd});
  outBytes_ += packets_.back().size();
}

void Ch341aStream::Clock(const uint8_t* tx, uint8_t fill, uint8_t* rx, size_t count) {
  if (count == 0) return;
  segments_.push_back({rx, count});
  spiBytes_ += count;
  const uint8_t reversedFill = ch341a::Reversed(fill);
  for (size_t done = 0; done < count;) {
    if (packets_.empty() || packets_.back()[0] != ch341a::kSpiStream || packets_.back().size() == ch341a::kPacketSize) {
      packets_.push_back({ch341a::kSpiStream});
      ++outBytes_;
    }
    std::vector<uint8_t>& packet = packets_.back();
    const size_t n = std::min(count - done, ch341a::kPacketSize - packet.size());
    for (size_t i = 0; i < n; ++i) packet.push_back(tx ? ch341a::Reversed(tx[done + i]) : reversedFill);
    outBytes_ += n;
    done += n;
  }
}

std::vector<std::vector<uint8_t>> Ch341aStream::Transfers() const {
  std::vector<std::vector<uint8_t>> transfers;
  bool open = false;
  for (const std::vector<uint8_t>& packet : packets_) {
    if (!open) transfers.emplace_back();
    transfers.back().insert(transfers.back().end(), packet.begin(), packet.end());
    open = packet.size() == ch341a::kPacketSize && transfers.back().size() < kTransferBytes;
  }
  return transfers;
}

std::vector<uint8_t> Ch341aStream::ReplyLengths() const {
  std::vector<uint8_t> lengths;
  for (const std::vector<uint8_t>& packet : packets_) {
    if (packet[0] == ch341a::kSpiStream) lengths.push_back(static_cast<uint8_t>(packet.size() - 1));
  }
  return lengths;
}

void Ch341aStream::TakeReply(const uint8_t* bytes, size_t n) {
  for (size_t i = 0; i < n && segment_ < segments_.size(); ++i) {
    const Segment& s = segments_[segment_];
    if (s.rx) s.rx[segmentDone_] = ch341a::Reversed(bytes[i]);
    if (++segmentDone_ == s.length) {
      ++segment_;
      segmentDone_ = 0;
    }
  }
}

void Ch341aStream::Clear() {
  packets_.clear();
  segments_.clear();
  segment_ = 0;
  segmentDone_ = 0;
  outBytes_ = 0;
  spiBytes_ = 0;
}
