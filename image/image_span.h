// SPDX-License-Identifier: MIT
// ImageSpan: a run of bytes an image file gave, by where it lies in the image
// buffer.
#pragma once

#include <cstdint>

/// `length` bytes at buffer offset `offset`, which is also their distance
/// from the flash address the image is written at.
struct ImageSpan {
  uint32_t offset;
  uint32_t length;

  uint32_t End() const { return offset + length; }
  bool operator==(const ImageSpan&) const = default;
};
