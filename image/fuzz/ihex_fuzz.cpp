// SPDX-License-Identifier: MIT
// libFuzzer target for the Intel HEX reader, differential: what the reader
// stores, the ranges and address span it reports, its status and the line it
// names must be what a plain decoder of the format's rules, written here,
// gives. What it stored must also write out and read back to the same bytes.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
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
/// What both buffers hold before the read, so that stray stores show.
constexpr uint8_t kUntouched = 0xA5;

/// What the rules say a text reads as.
struct Expected {
  bool ok = true;
  int32_t status = IHEX_OK;
  TextFault fault;
  std::vector<uint8_t> image = std::vector<uint8_t>(kCapacity, kUntouched);
  std::vector<uint32_t> filled;  // every address a data byte went to, in the file's order
  uint16_t startSegment = 0;
  uint32_t startAddress = 0;
};

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

/// Decodes one file by the format's rules.
class Decoder {
 public:
  Expected Decode(std::string_view text) {
    // Lines end at LF, CR LF or a lone CR; the end record ends the reading.
    for (size_t start = 0; start < text.size(); ++line) {
      const size_t end = std::min(text.find_first_of("\r\n", start), text.size());
      if (!DecodeLine(text.substr(start, end - start)) || ended) break;
      start = end + 1;
      if (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n') ++start;
    }
    return e;
  }

 private:
  bool Refuse(int32_t status, TextFaultReason reason, uint32_t value = 0) {
    e.ok = false;
    e.status = status;
    e.fault = {reason, line, value};
    return false;
  }

  /// The byte whose digits begin at `at`; false past the line's end or at a
  /// character that is no digit.
  bool ByteAt(std::string_view text, size_t at, uint8_t& value) {
    for (size_t i = at; i < at + 2; ++i) {
      if (i >= text.size()) return Refuse(IHEX_BAD_DIGIT, TEXTFAULT_ENDS_EARLY);
      if (DigitValue(text[i]) < 0) {
        const auto c = static_cast<uint8_t>(text[i]);
        return Refuse(IHEX_BAD_DIGIT, c == 0 ? TEXTFAULT_NUL : TEXTFAULT_NOT_HEX_DIGIT, c);
      }
    }
    value = static_cast<uint8_t>(DigitValue(text[at]) * 16 + DigitValue(text[at + 1]));
    return true;
  }

  bool DecodeLine(std::string_view text) {
    if (text.empty() || text[0] != ':') {
      if (std::all_of(text.begin(), text.end(), IsBlank)) return Refuse(IHEX_BAD_RECORD, TEXTFAULT_BLANK_LINE);
      return Refuse(IHEX_BAD_RECORD, text[0] == '\0' ? TEXTFAULT_NUL : TEXTFAULT_NO_COLON);
    }
    // Length, address, type, data, checksum.
    std::vector<uint8_t> bytes(1);
    if (!ByteAt(text, 1, bytes[0])) return false;
    bytes.resize(bytes[0] + 5u);
    for (size_t i = 1; i < bytes.size(); ++i) {
      if (!ByteAt(text, 1 + 2 * i, bytes[i])) return false;
    }
    uint8_t sum = 0;
    for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
    if (sum != 0) return Refuse(IHEX_BAD_RECORD, TEXTFAULT_CHECKSUM);
    for (char c : text.substr(1 + 2 * bytes.size())) {
      if (c == '\0') return Refuse(IHEX_BAD_RECORD, TEXTFAULT_NUL);
      if (!IsBlank(c)) return Refuse(IHEX_BAD_RECORD, TEXTFAULT_TEXT_AFTER_CHECKSUM);
    }
    return Act(bytes[3], static_cast<uint32_t>(bytes[1] << 8 | bytes[2]),
               std::vector<uint8_t>(bytes.begin() + 4, bytes.end() - 1));
  }

  bool Act(uint8_t type, uint32_t address, const std::vector<uint8_t>& data) {
    static constexpr size_t kNeeds[] = {0, 0, 2, 4, 2, 4};
    if (type > 5) return Refuse(IHEX_BAD_RECORD, TEXTFAULT_RECORD_TYPE, type);
    if (data.size() < kNeeds[type]) return Refuse(IHEX_BAD_RECORD, TEXTFAULT_RECORD_TOO_SHORT, type);
    const uint32_t first16 = data.size() >= 2 ? static_cast<uint32_t>(data[0] << 8 | data[1]) : 0;
    const uint32_t second16 = data.size() >= 4 ? static_cast<uint32_t>(data[2] << 8 | data[3]) : 0;
    switch (type) {
      case 0:
        return Store(address, data);
      case 1:
        ended = true;
        break;
      case 2:
        mode = kSegment;
        base = first16 * 16;
        break;
      case 3:
        e.startSegment = static_cast<uint16_t>(first16);
        e.startAddress = second16;
        break;
      case 4:
        mode = kLinear;
        base = first16 << 16;
        break;
      case 5:
        e.startAddress = first16 << 16 | second16;
        break;
    }
    return true;
  }

  bool Store(uint32_t address, const std::vector<uint8_t>& data) {
    for (size_t i = 0; i < data.size(); ++i) {
      uint64_t at = address + i;
      if (mode == kLinear) at += base;
      if (mode == kSegment) at = base + (at % 0x10000);
      if (at >= kCapacity) return Refuse(IHEX_OUT_OF_RANGE, TEXTFAULT_BEYOND_IMAGE, static_cast<uint32_t>(at));
      e.image[at] = data[i];
      e.filled.push_back(static_cast<uint32_t>(at));
    }
    return true;
  }

  enum Mode { kNone, kSegment, kLinear };
  Expected e;
  uint32_t line = 1;
  Mode mode = kNone;
  uint64_t base = 0;
  bool ended = false;
};

/// The runs of consecutive addresses among `filled`.
std::vector<IHEX::Range> Runs(std::vector<uint32_t> filled) {
  std::sort(filled.begin(), filled.end());
  filled.erase(std::unique(filled.begin(), filled.end()), filled.end());
  std::vector<IHEX::Range> runs;
  for (uint32_t a : filled) {
    if (!runs.empty() && runs.back().end == a) {
      ++runs.back().end;
    } else {
      runs.push_back({a, a + 1});
    }
  }
  return runs;
}

/// Writes buffer[low, end) as records at their own addresses.
std::string WriteRecords(std::vector<uint8_t>& buffer, uint32_t low, uint32_t end) {
  MemoryOutput output;
  Check(output.get() != nullptr);
  IHEX writer;
  Check(writer.AttachBuffer(buffer.data(), kCapacity));
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
  std::vector<uint8_t> buffer(kCapacity, kUntouched);
  IHEX ihex;
  const bool ok = ReadWith(ihex, input.get(), buffer);

  const Expected e = Decoder().Decode(std::string_view(reinterpret_cast<const char*>(data), size));
  Check(ok == e.ok && ihex.GetStatus() == e.status && ihex.GetFault() == e.fault);
  Check(buffer == e.image);
  const std::vector<IHEX::Range> runs = Runs(e.filled);
  Check(ihex.GetFilledRanges() == runs);
  const uint32_t low = ihex.GetLowAddress();
  const uint32_t end = ihex.GetEndAddress();
  Check(runs.empty() ? low == 0xFFFFFFFF && end == 0 : low == runs.front().start && end == runs.back().end);
  uint16_t segment = 0, offset = 0;
  uint32_t linear = 0;
  ihex.GetStartSegment(segment, offset);
  ihex.GetStartLinear(linear);
  Check(segment == e.startSegment && linear == e.startAddress && offset == static_cast<uint16_t>(linear));
  const int32_t length = ihex.GetDataLength();
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
