// SPDX-License-Identifier: MIT
// Micro-benchmarks of the text codecs: an image written as 32-byte records
// and read back, as the application's file side drives them, on a scratch
// file that stays in the page cache.
#include <cstdlib>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "image/ghex.h"
#include "image/ihex.h"

namespace {

constexpr int32_t kRecordBytes = 32;

std::vector<uint8_t> RandomImage(int64_t size) {
  std::vector<uint8_t> image(static_cast<size_t>(size));
  std::mt19937 random(1);
  std::ranges::generate(image, [&] { return static_cast<uint8_t>(random()); });
  return image;
}

/// A file the system deletes when it is closed.
class ScratchStream {
 public:
  ScratchStream() : file_(std::tmpfile()) {}
  ~ScratchStream() {
    if (file_) std::fclose(file_);
  }
  ScratchStream(const ScratchStream&) = delete;
  ScratchStream& operator=(const ScratchStream&) = delete;
  /// Rewound to its start; null when no scratch file could be made.
  FILE* Rewound() {
    if (file_) std::rewind(file_);
    return file_;
  }

 private:
  FILE* file_;
};

// What differs between the two codecs when they write: Intel HEX needs linear
// address records above 64 KB and is handed the record's bytes.
void PrepareOutput(IHEX& codec) { codec.SetLinear(); }
void PrepareOutput(GHEX&) {}
bool WriteRun(IHEX& codec, const uint8_t* image, int32_t count, int32_t offset) {
  return codec.WriteRecord(count, static_cast<uint32_t>(offset), image + offset);
}
bool WriteRun(GHEX& codec, const uint8_t*, int32_t count, int32_t offset) {
  return codec.WriteRecord(count, offset);
}

template <typename Codec>
bool WriteImage(std::vector<uint8_t>& image, FILE* out) {
  const auto size = static_cast<int32_t>(image.size());
  Codec codec;
  if (!codec.AttachBuffer(image.data(), static_cast<uint32_t>(size))) std::abort();
  PrepareOutput(codec);
  bool ok = out && codec.AttachOutput(out);
  for (int32_t offset = 0; ok && offset < size; offset += kRecordBytes) {
    ok = WriteRun(codec, image.data(), std::min(kRecordBytes, size - offset), offset);
  }
  codec.Release();
  return ok && std::fflush(out) == 0;
}

template <typename Codec>
bool ReadImage(std::vector<uint8_t>& image, FILE* in) {
  Codec codec;
  const bool ok = codec.AttachBuffer(image.data(), static_cast<uint32_t>(image.size())) && in && codec.AttachInput(in) && codec.ReadData() &&
                  codec.GetDataLength() == static_cast<int32_t>(image.size());
  codec.Release();
  return ok;
}

template <typename Codec>
void Write(benchmark::State& state) {
  std::vector<uint8_t> image = RandomImage(state.range(0));
  ScratchStream text;
  for (auto _ : state) {
    if (!WriteImage<Codec>(image, text.Rewound())) return state.SkipWithError("write failed");
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

template <typename Codec>
void Read(benchmark::State& state) {
  std::vector<uint8_t> image = RandomImage(state.range(0));
  ScratchStream text;
  if (!WriteImage<Codec>(image, text.Rewound())) return state.SkipWithError("cannot prepare the text");
  std::vector<uint8_t> readBack(image.size());
  for (auto _ : state) {
    if (!ReadImage<Codec>(readBack, text.Rewound())) return state.SkipWithError("read failed");
  }
  if (readBack != image) return state.SkipWithError("read back differs");
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

BENCHMARK_TEMPLATE(Write, IHEX)->Arg(1 << 20)->Arg(16 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(Read, IHEX)->Arg(1 << 20)->Arg(16 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(Write, GHEX)->Arg(1 << 20)->Arg(16 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(Read, GHEX)->Arg(1 << 20)->Arg(16 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
