// libFuzzer target for the Intel HEX reader: any input read into a small
// buffer must stay within it, and what it stored must write out and read
// back to the same bytes.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "image/fuzz/fuzz_support.h"
#include "image/ihex.h"

namespace {

/// Just past one 64 KB page, so that page changes and the capacity limit
/// are both within reach.
constexpr uint32_t kCapacity = 0x10100;
/// Wider images are not written back: the round trip would cost more than
/// the read it checks, and spans across a page boundary fit well within this.
constexpr uint32_t kMaxRoundTrip = 4096;

/// Writes buffer[low, end) as records at their own addresses.
std::string WriteRecords(std::vector<uint8_t>& buffer, uint32_t low, uint32_t end) {
  MemoryOutput output;
  Check(output.get() != nullptr);
  IHEX writer;
  writer.AttachBuffer(buffer.data(), kCapacity);
  writer.SetLinear();
  Check(writer.AttachOutput(output.get()));
  for (uint32_t at = low; at < end; at += 32) {
    const uint32_t n = end - at < 32 ? end - at : 32;
    Check(writer.WriteRecord(static_cast<int32_t>(n), at, buffer.data() + at));
  }
  Check(writer.CloseOutput());
  output.Forget();
  return output.Text();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryInput input(data, size);
  if (!input.get()) return 0;
  // Exactly the capacity, so that the sanitizer catches any store past it.
  std::vector<uint8_t> buffer(kCapacity);
  IHEX ihex;
  ReadWith(ihex, input.get(), buffer);
  const int32_t length = ihex.GetDataLength();
  const uint32_t low = ihex.GetLowAddress();
  const uint32_t end = ihex.GetEndAddress();
  Check(length >= 0 && (length == 0 || (low < end && end <= kCapacity)));
  if (length == 0 || end - low > kMaxRoundTrip) return 0;

  const std::string text = WriteRecords(buffer, low, end);
  MemoryInput written(text.data(), text.size());
  std::vector<uint8_t> copy(kCapacity);
  IHEX reader;
  Check(ReadWith(reader, written.get(), copy));
  Check(reader.GetLowAddress() == low && reader.GetEndAddress() == end);
  Check(std::memcmp(copy.data() + low, buffer.data() + low, end - low) == 0);
  return 0;
}
