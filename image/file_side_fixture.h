// SPDX-License-Identifier: MIT
// FileSide: a test fixture with an image file of its own and an image buffer,
// and helpers that load and save through it as the application does.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "image/image_file.h"
#include "image/test_hex_text.h"
#include "testsupport/run_program.h"

using Spans = std::vector<ImageSpan>;

inline void PrintTo(const ImageSpan& s, std::ostream* os) {
  *os << "{0x" << std::hex << s.offset << ", 0x" << s.length << std::dec << "}";
}

/// What a load or save returned and printed, and the outcome it came to: the
/// last one its steps recorded, as the application keeps its result code.
struct Outcome {
  bool ok;
  std::string printed;
  ImageFileOutcome recorded = IMAGEFILE_NONE;
  bool operator==(const Outcome&) const = default;
  friend void PrintTo(const Outcome& o, std::ostream* os) {
    *os << (o.ok ? "true" : "false") << ", printed \"" << o.printed << "\", recorded " << o.recorded;
  }
};

class FileSide : public testing::Test {
 protected:
  /// The image buffer of a 16 MiB chip.
  static constexpr uint32_t kCapacity = 0x1000000;

  explicit FileSide(uint32_t size = kCapacity) : capacity(size), buffer(new uint8_t[size]) {}
  void TearDown() override { static_cast<void>(file.Close()); }

  /// Opens `path` as the file to write into the flash and loads it.
  Outcome Load(const std::string& path, int32_t format) {
    recorded = IMAGEFILE_NONE;
    testing::internal::CaptureStdout();
    const bool ok = Step(file.Open(path.c_str(), format, false)) && Step(file.Load(format, buffer.get(), capacity));
    Step(file.Close());
    return {ok, testing::internal::GetCapturedStdout(), recorded};
  }

  /// Writes `text` to a file and loads it.
  Outcome LoadText(const std::string& text, int32_t format) {
    testsupport::WriteFile(dir.File("in"), text);
    return Load(dir.File("in"), format);
  }

  /// Opens `path` as the file to read the flash into, saves the first
  /// `length` buffer bytes to it and closes it.
  Outcome Save(const std::string& path, int32_t format, int32_t length) {
    recorded = IMAGEFILE_NONE;
    file.dataLength = length;
    testing::internal::CaptureStdout();
    const bool ok = Step(file.Open(path.c_str(), format, true)) && Step(file.Save(format, buffer.get(), capacity));
    Step(file.Close());
    return {ok, testing::internal::GetCapturedStdout(), recorded};
  }

  /// Saves and returns the file's contents.
  std::string SavedText(int32_t format, int32_t length) {
    const Outcome saved = Save(dir.File("out"), format, length);
    EXPECT_EQ((Outcome{true, ""}), saved);
    return testsupport::ReadFile(dir.File("out"));
  }

  void Fill(const std::string& bytes) { std::memcpy(buffer.get(), bytes.data(), bytes.size()); }
  std::string Buffer(uint32_t from, size_t n) const {
    return std::string(reinterpret_cast<const char*>(buffer.get()) + from, n);
  }

  const uint32_t capacity;
  std::unique_ptr<uint8_t[]> buffer;
  testsupport::ScratchDir dir;
  ImageFile file;

 private:
  /// Keeps what the file's last operation recorded, if anything; passes
  /// its result on.
  bool Step(bool ok) {
    if (file.LastOutcome() != IMAGEFILE_NONE) recorded = file.LastOutcome();
    return ok;
  }

  ImageFileOutcome recorded = IMAGEFILE_NONE;
};
