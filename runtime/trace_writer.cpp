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
  ++calls_;
  if (pendingCount_ > 0 && call == pending_ && details_ == pendingDetails_) {
    ++pendingCount_;
    details_.clear();
    return;
  }
  Flush();
  pending_ = call;
  pendingDetails_.swap(details_);
  details_.clear();
  pendingFirst_ = calls_;
  pendingCount_ = 1;
}

void TraceWriter::Flush() {
  if (pendingCount_ == 0) return;
  std::fprintf(file_, "%llu %s", static_cast<unsigned long long>(pendingFirst_), pending_.c_str());
  if (pendingCount_ > 1) std::fprintf(file_, " [x%llu]", static_cast<unsigned long long>(pendingCount_));
  std::fputc('\n', file_);
  for (const std::string& line : pendingDetails_) std::fprintf(file_, "    %s\n", line.c_str());
  pendingCount_ = 0;
}

void TraceWriter::Close(const std::string& summary) {
  if (!file_) return;
  Flush();
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
