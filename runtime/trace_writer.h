// SPDX-License-Identifier: MIT
// TraceWriter: one readable line per runtime call of an interface, appended
// to a file, with what the call did underneath (a backend's system calls)
// indented below it, and runs of identical calls (status polls), or of two
// calls taking turns (polls with idle gaps between them), folded.
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
  /// last call. Consecutive calls identical in both fold into one line, and
  /// two calls that alternate fold into a pair of lines.
  void Record(const std::string& call);

  /// Writes what is pending and the closing summary line, and closes the file.
  void Close(const std::string& summary);

  /// Renders bytes as hex pairs, the first `limit` of them, then the count of the rest.
  static std::string Bytes(const uint8_t* data, size_t count, size_t limit = 32);

 private:
  struct Entry {
    std::string call;
    std::vector<std::string> details;
    bool operator==(const Entry&) const = default;
  };

  /// Adds call `number` to the run being folded, writing the run out when
  /// the call does not continue it.
  void Feed(uint64_t number, Entry entry);
  /// Writes the run's whole repetitions; what is left of a repetition is fed
  /// again, so that it may start a run of its own.
  void Flush();
  void Write(uint64_t number, const Entry& entry, const std::string& folded);

  FILE* file_ = nullptr;
  uint64_t calls_ = 0;
  std::vector<std::string> details_;  // of the call being made
  // The run: calls first_ to first_ + seen_ - 1, call first_ + i being
  // cycle_[i % cycle_.size()]; one call repeated, or two taking turns.
  std::vector<Entry> cycle_;
  uint64_t first_ = 0;
  uint64_t seen_ = 0;
};
