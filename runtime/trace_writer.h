// TraceWriter: one readable line per runtime call of an interface, appended
// to a file, with runs of identical calls (status polls) folded into one.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

class TraceWriter {
 public:
  TraceWriter() = default;
  ~TraceWriter();
  TraceWriter(const TraceWriter&) = delete;
  TraceWriter& operator=(const TraceWriter&) = delete;

  /// Opens `path` for appending; false when it cannot be opened.
  bool Open(const std::string& path);
  bool IsOpen() const { return file_ != nullptr; }

  /// Records one call, already rendered; identical consecutive calls fold.
  void Record(const std::string& call);

  /// Writes what is pending and the closing summary line, and closes the file.
  void Close(const std::string& summary);

  /// Renders bytes as hex pairs, the first `limit` of them, then the count of the rest.
  static std::string Bytes(const uint8_t* data, size_t count, size_t limit = 32);

 private:
  void Flush();

  FILE* file_ = nullptr;
  uint64_t calls_ = 0;
  std::string pending_;
  uint64_t pendingFirst_ = 0;
  uint64_t pendingCount_ = 0;
};
