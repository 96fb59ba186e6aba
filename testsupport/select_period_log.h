// SPDX-License-Identifier: MIT
// SelectPeriodLog: the chip-select periods a fake interface device drove,
// each told by the first bytes the chip got in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace testsupport {

/// A period reads "02 00 01 00 +256": its first four bytes in hex, then
/// "+N" for the rest; "(empty)" without a byte; the one still open ends in
/// " (held)".
class SelectPeriodLog {
 public:
  /// A log that does not `keep` its periods only tells the open one.
  explicit SelectPeriodLog(bool keep) : keep_(keep) {}

  /// Chip select fell.
  void Begin() {
    open_ = true;
    text_.clear();
    bytes_ = 0;
  }
  /// `n` bytes reached the chip: `bytes`, or zeros when it is null.
  void Add(const uint8_t* bytes, size_t n) {
    for (size_t i = 0; i < n && bytes_ + i < kShownBytes; ++i) {
      char hex[4];
      std::snprintf(hex, sizeof hex, text_.empty() ? "%02X" : " %02X", bytes ? bytes[i] : 0);
      text_ += hex;
    }
    bytes_ += n;
  }
  /// Chip select rose; returns the period's text.
  std::string End() {
    open_ = false;
    const std::string text = Text();
    if (keep_) periods_.push_back(text);
    return text;
  }
  std::vector<std::string> Periods() const {
    std::vector<std::string> periods = periods_;
    if (open_) periods.push_back(Text() + " (held)");
    return periods;
  }
  void Clear() { periods_.clear(); }

 private:
  static constexpr uint64_t kShownBytes = 4;

  std::string Text() const {
    std::string text = text_.empty() ? "(empty)" : text_;
    if (bytes_ > kShownBytes) text += " +" + std::to_string(bytes_ - kShownBytes);
    return text;
  }

  const bool keep_;
  bool open_ = false;
  std::string text_;
  uint64_t bytes_ = 0;
  std::vector<std::string> periods_;
};

}  // namespace testsupport
