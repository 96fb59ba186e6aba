// TraceWriter: one readable line per runtime call of an interface, appended
// to a file, with what the call did underneath (a backend's system calls)
// indented below it, and runs of identical calls (status polls) folded into one.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class TraceWriter {
 public:
  TraceWriter() = default;
  ~TraceWriter();
  TraceWriter(const TraceWriter&) = delete;
  TraceWriter& operator=(const TraceWriter&) = delete;

  /// Opens `path` for appending; false when it cannot be opened.
  bool Open(const std::string& path);
  bool IsOpen() const { return file_ != nullptr; }

  /// Adds a line that tells what the call being made did underneath; it is
  /// written, indented and unnumbered, below that call's line.
  void Detail(const std::string& line);

  /// Records one call, already rendered, with the details added since the
  /// last call; consecutive calls identical in both fold.
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
  std::vector<std::string> pendingDetails_;
  std::vector<std::string> details_;  // of the call being made
  uint64_t pendingFirst_ = 0;
  uint64_t pendingCount_ = 0;
};
