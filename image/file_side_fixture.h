// SPDX-License-Identifier: MIT
// FileSide: a test fixture with an application object of its own, its image
// buffer allocated, and helpers that load and save through its file side.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "app/flashapp.h"
#include "app/options.h"
#include "image/test_hex_text.h"
#include "testsupport/run_program.h"

using Spans = std::vector<ImageSpan>;

inline void PrintTo(const ImageSpan& s, std::ostream* os) {
  *os << "{0x" << std::hex << s.offset << ", 0x" << s.length << std::dec << "}";
}

/// What a load or save returned and printed.
struct Outcome {
  bool ok;
  std::string printed;
  bool operator==(const Outcome&) const = default;
  friend void PrintTo(const Outcome& o, std::ostream* os) {
    *os << (o.ok ? "true" : "false") << ", printed \"" << o.printed << "\"";
  }
};

class FileSide : public testing::Test {
 protected:
  void SetUp() override {
    options.FreeNames();
    options.SetDefaults();
    app.imageBuffer.reset(new uint8_t[kImageBufferSize]);
  }
  void TearDown() override {
    app.CloseImageFile();
    options.FreeNames();
    options.SetDefaults();
  }

  /// Opens `path` as the file to write into the flash and loads it.
  Outcome Load(const std::string& path, int32_t format) {
    options.SetFileName(path.c_str());
    options.SetReadFlash(false);
    options.SetWriteFlash(true);
    options.SetFileFormat(format);
    testing::internal::CaptureStdout();
    const bool ok = app.OpenImageFile() && app.LoadImage();
    app.CloseImageFile();
    return {ok, testing::internal::GetCapturedStdout()};
  }

  /// Writes `text` to a file and loads it.
  Outcome LoadText(const std::string& text, int32_t format) {
    testsupport::WriteFile(dir.File("in"), text);
    return Load(dir.File("in"), format);
  }

  /// Opens `path` as the file to read the flash into and saves the first
  /// `length` buffer bytes to it.
  Outcome Save(const std::string& path, int32_t format, int32_t length) {
    options.SetFileName(path.c_str());
    options.SetWriteFlash(false);
    options.SetReadFlash(true);
    options.SetFileFormat(format);
    app.dataLength = length;
    testing::internal::CaptureStdout();
    const bool ok = app.OpenImageFile() && app.SaveImage();
    const std::string printed = testing::internal::GetCapturedStdout();
    app.CloseImageFile();
    return {ok, printed};
  }

  /// Saves and returns the file's contents.
  std::string SavedText(int32_t format, int32_t length) {
    const Outcome saved = Save(dir.File("out"), format, length);
    EXPECT_TRUE(saved.ok);
    EXPECT_EQ("", saved.printed);
    return testsupport::ReadFile(dir.File("out"));
  }

  void Fill(const std::string& bytes) { std::memcpy(app.imageBuffer.get(), bytes.data(), bytes.size()); }
  std::string Buffer(uint32_t from, size_t n) const {
    return std::string(reinterpret_cast<const char*>(app.imageBuffer.get()) + from, n);
  }

  testsupport::ScratchDir dir;
  FLASHAPP app;
};
