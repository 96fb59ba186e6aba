// SPDX-License-Identifier: MIT
// libFuzzer target for the raw hex reader, differential: what the reader
// stores, its status and the line it names must be what a plain decoder of
// the format's rules, written here without pieces or buffers, gives. What it
// stored must also write out and read back to the same bytes.
//
// The first input byte picks the buffer's capacity (16 bytes a step, up to
// 4,080); the rest is the text. Inputs longer than the reader's piece make
// lines that it reads in several pieces (`make fuzz` allows them).
#include <algorithm>
#include <cstdint>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "image/fuzz/fuzz_support.h"
#include "image/ghex.h"

namespace {

/// What the rules say a text reads as.
struct Expected {
  bool ok = true;
  int32_t status = GHEX_OK;
  std::vector<uint8_t> bytes;  // every byte the text gives, the buffer's capacity aside
  TextFault fault;
};

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

/// Takes the tokens off one line: a digit, and a second if one follows on
/// the line; spaces and tabs between tokens; anything else refuses the text.
bool DecodeLine(std::string_view line, uint32_t number, Expected& e) {
  for (size_t i = 0; i < line.size();) {
    const char c = line[i];
    if (c == ' ' || c == '\t') {
      ++i;
    } else if (DigitValue(c) < 0) {
      const auto code = static_cast<uint8_t>(c);
      e.ok = false;
      e.status = GHEX_BAD_TOKEN;
      e.fault = {code == 0 ? TEXTFAULT_NUL : TEXTFAULT_NOT_HEX_DIGIT, number, code};
      return false;
    } else if (i + 1 < line.size() && DigitValue(line[i + 1]) >= 0) {
      e.bytes.push_back(static_cast<uint8_t>(DigitValue(c) * 16 + DigitValue(line[i + 1])));
      i += 2;
    } else {
      e.bytes.push_back(static_cast<uint8_t>(DigitValue(c)));
      ++i;
    }
  }
  return true;
}

/// Lines end at LF, CR LF or a lone CR.
Expected Decode(std::string_view text) {
  Expected e;
  uint32_t number = 1;
  for (size_t start = 0; start < text.size(); ++number) {
    const size_t end = std::min(text.find_first_of("\r\n", start), text.size());
    if (!DecodeLine(text.substr(start, end - start), number, e)) break;
    start = end + 1;
    if (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n') ++start;
  }
  return e;
}

/// Writes the first `length` buffer bytes as records of up to 32.
std::string WriteRecords(std::vector<uint8_t>& buffer, int32_t length) {
  MemoryOutput output;
  Check(output.get() != nullptr);
  GHEX writer;
  Check(writer.AttachBuffer(buffer.data(), static_cast<uint32_t>(buffer.size())));
  Check(writer.AttachOutput(output.get()));
  for (int32_t at = 0; at < length; at += 32) {
    Check(writer.WriteRecord(length - at < 32 ? length - at : 32, at));
  }
  return output.Text();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t capacity = size_t{data[0]} * 16;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  MemoryInput input(text.data(), text.size());
  if (!input.get()) return 0;
  // Exactly the capacity, so that the sanitizer catches any store past it.
  std::vector<uint8_t> buffer(capacity);
  GHEX ghex;
  const bool ok = ReadWith(ghex, input.get(), buffer);

  const Expected e = Decode(text);
  const size_t stored = std::min(e.bytes.size(), capacity);
  Check(ok == e.ok && ghex.GetStatus() == e.status && ghex.GetFault() == e.fault);
  Check(ghex.GetDataLength() == static_cast<int32_t>(stored));
  Check(ghex.HasDroppedBytes() == (e.bytes.size() > capacity));
  Check(std::equal(buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(stored), e.bytes.begin()));
  if (!ok) return 0;

  const std::string written = WriteRecords(buffer, static_cast<int32_t>(stored));
  MemoryInput back(written.data(), written.size());
  std::vector<uint8_t> copy(capacity);
  GHEX reader;
  Check(ReadWith(reader, back.get(), copy));
  Check(copy == buffer);
  Check(reader.GetDataLength() == static_cast<int32_t>(stored) && !reader.HasDroppedBytes());
  return 0;
}
