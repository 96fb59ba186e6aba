// SPDX-License-Identifier: MIT
// The progress line: its texts and when it is redrawn.
#include "app/progress_line.h"

#include <algorithm>

#include "platform/platform.h"

namespace {

constexpr uint32_t kRedrawMs = 100;

std::string Format(const char* format, auto... values) {
  char text[160];
  std::snprintf(text, sizeof text, format, values...);
  return text;
}

std::string Rate(double bytesPerSecond) {
  if (bytesPerSecond >= 1024.0 * 1024.0) return Format("%.1f MB/s", bytesPerSecond / (1024.0 * 1024.0));
  return Format("%.1f KB/s", bytesPerSecond / 1024.0);
}

std::string Duration(uint64_t seconds) {
  return Format("%llu:%02llu", static_cast<unsigned long long>(seconds / 60),
                static_cast<unsigned long long>(seconds % 60));
}

}  // namespace

void ProgressLine::Start(const char* step, uint64_t total) {
  Clear();
  step_ = step;
  total_ = total;
  startTick_ = platform::GetTickCount();
}

void ProgressLine::Update(uint64_t done) {
  if (!out_ || !Due()) return;
  const uint32_t ms = lastDrawTick_ - startTick_;
  const unsigned percent = total_ == 0 ? 100 : static_cast<unsigned>(std::min<uint64_t>(done, total_) * 100 / total_);
  std::string text = Format("%s %3u%%  %llu of %llu bytes", step_, percent, static_cast<unsigned long long>(done),
                            static_cast<unsigned long long>(total_));
  if (ms > 0 && done > 0) {
    const double rate = static_cast<double>(done) * 1000.0 / ms;
    const uint64_t left = total_ > done ? static_cast<uint64_t>(static_cast<double>(total_ - done) / rate) : 0;
    text += "  " + Rate(rate) + "  " + Duration(left) + " left";
  }
  Draw(text);
}

void ProgressLine::Waiting(uint32_t elapsedMs, uint32_t typicalMs) {
  if (!out_ || !Due()) return;
  Draw(Format("%s  %u s, typically %u s", step_, elapsedMs / 1000, (typicalMs + 500) / 1000));
}

void ProgressLine::Clear() {
  if (!drawn_) return;
  std::fprintf(out_, "\r%*s\r", static_cast<int>(width_), "");
  std::fflush(out_);
  drawn_ = false;
  width_ = 0;
}

bool ProgressLine::Due() {
  const uint32_t now = platform::GetTickCount();
  if (drawn_ && now - lastDrawTick_ < kRedrawMs) return false;
  lastDrawTick_ = now;
  return true;
}

void ProgressLine::Draw(const std::string& text) {
  // Spaces over whatever the longer line before left.
  const int pad = static_cast<int>(std::max(width_, text.size()) - text.size());
  std::fprintf(out_, "\r%s%*s", text.c_str(), pad, "");
  std::fflush(out_);
  width_ = std::max(width_, text.size());
  drawn_ = true;
}
