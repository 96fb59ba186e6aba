// libFuzzer target for the raw hex reader: any input read into a small
// buffer must stay within it, and what it stored must write out and read
// back to the same bytes.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "image/fuzz/fuzz_support.h"
#include "image/ghex.h"

namespace {

/// Small, so that inputs often hold more bytes than the buffer.
constexpr uint32_t kCapacity = 100;

/// Writes the first `length` buffer bytes as records of up to 32.
std::string WriteRecords(std::vector<uint8_t>& buffer, int32_t length) {
  MemoryOutput output;
  Check(output.get() != nullptr);
  GHEX writer;
  writer.AttachBuffer(buffer.data(), kCapacity);
  Check(writer.AttachOutput(output.get()));
  for (int32_t at = 0; at < length; at += 32) {
    Check(writer.WriteRecord(length - at < 32 ? length - at : 32, at));
  }
  return output.Text();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryInput input(data, size);
  if (!input.get()) return 0;
  // Exactly the capacity, so that the sanitizer catches any store past it.
  std::vector<uint8_t> buffer(kCapacity);
  GHEX ghex;
  const bool ok = ReadWith(ghex, input.get(), buffer);
  const int32_t length = ghex.GetDataLength();
  Check(length >= 0 && static_cast<uint32_t>(length) <= kCapacity);
  Check(!ghex.HasDroppedBytes() || static_cast<uint32_t>(length) == kCapacity);
  if (!ok) return 0;

  const std::string text = WriteRecords(buffer, length);
  MemoryInput written(text.data(), text.size());
  std::vector<uint8_t> copy(kCapacity);
  GHEX reader;
  Check(ReadWith(reader, written.get(), copy));
  Check(reader.GetDataLength() == length && !reader.HasDroppedBytes());
  Check(std::memcmp(copy.data(), buffer.data(), static_cast<size_t>(length)) == 0);
  return 0;
}
