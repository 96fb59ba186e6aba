// SPDX-License-Identifier: MIT
// ProgressLine: how far a long step has come, as one line on standard error
// that is redrawn in place and cleared when the step ends.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

/// Draws only where someone watches (standard error is a terminal), so that
/// standard output reads the same with or without it, and at most ten times
/// a second, by the platform tick.
class ProgressLine {
 public:
  /// Where the line goes; null draws nothing.
  void SetOutput(FILE* out) { out_ = out; }

  /// A step begins: `step` names it ("Writing"), `total` is its bytes.
  void Start(const char* step, uint64_t total);
  /// Percent, bytes done of the total, rate and time left.
  void Update(uint64_t done);
  /// A long status wait: its time so far beside the operation's typical time.
  void Waiting(uint32_t elapsedMs, uint32_t typicalMs);
  /// Removes the line, if one was drawn, and leaves the cursor where it began.
  void Clear();

 private:
  /// True when a redraw is allowed: the first of a step, then one a tenth
  /// of a second.
  bool Due();
  void Draw(const std::string& text);

  FILE* out_ = nullptr;
  const char* step_ = "";
  uint64_t total_ = 0;
  uint32_t startTick_ = 0;
  uint32_t lastDrawTick_ = 0;
  bool drawn_ = false;
  size_t width_ = 0;  // of the line on the terminal
};
