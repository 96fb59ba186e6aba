// SPDX-License-Identifier: MIT
// Streams over memory, the invariant check and the read step for the image
// reader fuzz targets.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

/// A broken invariant is a crash for the fuzzer to report.
inline void Check(bool condition) {
  if (!condition) std::abort();
}

/// A read stream over bytes in memory.
class MemoryInput {
 public:
  MemoryInput(const void* data, size_t size)
      : stream(fmemopen(const_cast<void*>(data), size, "r")) {}
  ~MemoryInput() {
    if (stream) std::fclose(stream);
  }
  MemoryInput(const MemoryInput&) = delete;
  MemoryInput& operator=(const MemoryInput&) = delete;
  FILE* get() const { return stream; }

 private:
  FILE* stream;
};

/// A write stream into memory.
class MemoryOutput {
 public:
  MemoryOutput() : stream(open_memstream(&text, &size)) {}
  ~MemoryOutput() {
    Close();
    std::free(text);
  }
  MemoryOutput(const MemoryOutput&) = delete;
  MemoryOutput& operator=(const MemoryOutput&) = delete;
  FILE* get() const { return stream; }
  /// Its writer closed the stream (the Intel HEX codec ends its output so).
  void Forget() { stream = nullptr; }
  /// Ends the stream and gives what was written.
  std::string Text() {
    Close();
    return text ? std::string(text, size) : std::string();
  }

 private:
  void Close() {
    if (stream) std::fclose(stream);
    stream = nullptr;
  }
  char* text = nullptr;
  size_t size = 0;
  FILE* stream;
};

/// Reads `input` with `codec` into all of `buffer`. A failed read must have
/// set a status.
template <typename Codec>
bool ReadWith(Codec& codec, FILE* input, std::vector<uint8_t>& buffer) {
  codec.AttachBuffer(buffer.data(), static_cast<uint32_t>(buffer.size()));
  codec.AttachInput(input);
  const bool ok = codec.ReadData();
  Check(ok || codec.GetStatus() != 0);
  return ok;
}
