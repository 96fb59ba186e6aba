// SPDX-License-Identifier: MIT
// The call trace of an interface.
#include "runtime/trace_writer.h"

TraceWriter::~TraceWriter() {
  if (file_) Close("");
}

bool TraceWriter::Open(const std::string& path) {
  file_ = std::fopen(path.c_str(), "a");
  return file_ != nullptr;
}

void TraceWriter::Detail(const std::string& line) {
  if (file_) details_.push_back(line);
}

void TraceWriter::Record(const std::string& call) {
  if (!file_) return;
  Feed(++calls_, Entry{call, std::move(details_)});
  details_.clear();
}

void TraceWriter::Feed(uint64_t number, Entry entry) {
  if (seen_ > 0 && entry == cycle_[seen_ % cycle_.size()]) {
    ++seen_;
    return;
  }
  // A second call, different from the first, may start two taking turns.
  if (seen_ == 1) {
    cycle_.push_back(std::move(entry));
    seen_ = 2;
    return;
  }
  if (seen_ > 0) {
    // The run ends here; what its end leaves over may pair with this call.
    Flush();
    return Feed(number, std::move(entry));
  }
  cycle_ = {std::move(entry)};
  first_ = number;
  seen_ = 1;
}

void TraceWriter::Flush() {
  if (seen_ == 0) return;
  const std::vector<Entry> cycle = std::move(cycle_);
  const uint64_t first = first_, seen = seen_;
  cycle_.clear();
  seen_ = 0;
  if (cycle.size() == 1) {
    Write(first, cycle[0], seen > 1 ? " [x" + std::to_string(seen) + "]" : "");
    return;
  }
  const uint64_t turns = seen / 2;
  if (turns == 1) {
    // Two different calls, once each: the first stands alone, and what
    // follows it may fold with what comes next.
    Write(first, cycle[0], "");
    for (uint64_t i = 1; i < seen; ++i) Feed(first + i, cycle[i % 2]);
    return;
  }
  Write(first, cycle[0], " [x" + std::to_string(turns) + ", taking turns with the next line]");
  Write(first + 1, cycle[1], " [x" + std::to_string(turns) + "]");
  if (seen % 2) Feed(first + seen - 1, cycle[0]);
}

void TraceWriter::Write(uint64_t number, const Entry& entry, const std::string& folded) {
  std::fprintf(file_, "%llu %s%s\n", static_cast<unsigned long long>(number), entry.call.c_str(), folded.c_str());
  for (const std::string& line : entry.details) std::fprintf(file_, "    %s\n", line.c_str());
}

void TraceWriter::Close(const std::string& summary) {
  if (!file_) return;
  // A flush may leave the end of a pair behind to start a run of its own.
  while (seen_ > 0) Flush();
  if (!summary.empty()) std::fprintf(file_, "%s\n", summary.c_str());
  std::fclose(file_);
  file_ = nullptr;
}

std::string TraceWriter::Bytes(const uint8_t* data, size_t count, size_t limit) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string s;
  const size_t shown = count < limit ? count : limit;
  for (size_t i = 0; i < shown; ++i) {
    if (i) s += ' ';
    s += kHex[data[i] >> 4];
    s += kHex[data[i] & 15];
  }
  if (shown < count) s += " ...(+" + std::to_string(count - shown) + ")";
  return s;
}
