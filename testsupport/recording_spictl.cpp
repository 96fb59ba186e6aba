// SPDX-License-Identifier: MIT
// The recording fake controller: its answers, its log and the log's renderings.
#include "testsupport/recording_spictl.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace testsupport {

namespace {

std::string Hex(uint8_t byte) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", byte);
  return text;
}

bool IsTransfer(SpiCall::Op op) {
  return op == SpiCall::Op::PutByte || op == SpiCall::Op::Put || op == SpiCall::Op::Get;
}

// Renders calls that are neither select nor transfer.
std::string SettingLine(const SpiCall& c) {
  switch (c.op) {
    case SpiCall::Op::Open:
      return "open";
    case SpiCall::Op::Close:
      return "close";
    case SpiCall::Op::EnableSpi:
      return "enable " + std::to_string(c.arg);
    case SpiCall::Op::SetPort:
      return "port " + std::to_string(c.arg);
    case SpiCall::Op::SetSpiMode:
      return "mode " + std::to_string(c.arg) + " lsb " + std::to_string(c.lsbFirst);
    case SpiCall::Op::SetSpeed:
      return "speed " + std::to_string(c.arg);
    default:
      return "?";
  }
}

// One select period being rendered.
class PeriodText {
 public:
  explicit PeriodText(const std::map<uint8_t, std::vector<uint8_t>>& statusOpcodes)
      : statusOpcodes_(statusOpcodes) {}

  void Add(const SpiCall& c) {
    failed_ = failed_ || c.failed;
    if (!IsTransfer(c.op) && c.op != SpiCall::Op::PutSelect) return;
    size_t shown = 0;
    while (bytes_.size() < kHeader && shown < c.sent.size()) bytes_.push_back(c.sent[shown++]);
    const size_t rest = c.sent.size() - shown;
    if (rest == 0) return;
    tail_ += " +" + std::to_string(rest);
    if (c.op == SpiCall::Op::Get) tail_ += " of " + Hex(static_cast<uint8_t>(c.arg));
  }

  std::string Text(const char* end) const {
    std::string text;
    if (bytes_.size() == 2 && statusOpcodes_.count(bytes_[0]) && tail_.empty()) {
      text = Hex(bytes_[0]) + " poll";
    } else {
      for (uint8_t b : bytes_) {
        if (!text.empty()) text += ' ';
        text += Hex(b);
      }
      text += tail_;
    }
    if (text.empty()) text = "(empty)";
    if (failed_) text += " !failed";
    return text + end;
  }

 private:
  static constexpr size_t kHeader = 4;
  const std::map<uint8_t, std::vector<uint8_t>>& statusOpcodes_;
  std::vector<uint8_t> bytes_;
  std::string tail_;
  bool failed_ = false;
};

// Bytes clocked with nobody selected, as a controller waiting for a chip clocks them.
bool IsIdle(const SpiCall& c) {
  return !c.sent.empty() && std::all_of(c.sent.begin(), c.sent.end(), [](uint8_t b) { return b == 0xFF; });
}

std::string IdleLine(const SpiCall& c) {
  return "idle " + std::to_string(c.sent.size()) + (c.failed ? " !failed" : "");
}

constexpr uint32_t kSelectKeptHigh = 3;  // PutSelect levels 1 at the start and 1 at the end

std::vector<std::string> CollapseRuns(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (size_t i = 0; i < lines.size();) {
    size_t j = i;
    while (j < lines.size() && lines[j] == lines[i]) ++j;
    out.push_back(j - i == 1 ? lines[i] : lines[i] + " x" + std::to_string(j - i));
    i = j;
  }
  return out;
}

}  // namespace

RecordingSpiCtl::RecordingSpiCtl(uint32_t controllerKind, bool ready) {
  kind = controllerKind;
  if (ready) flags.SetFlags(SPIF_OPEN | SPIF_ENABLED);
}

void RecordingSpiCtl::Answer(uint8_t opcode, std::vector<uint8_t> bytes, size_t from) {
  replies_[opcode] = Reply{from, std::move(bytes)};
}

void RecordingSpiCtl::AnswerStatus(uint8_t opcode, std::vector<uint8_t> sequence) {
  statusSequences_[opcode] = std::move(sequence);
  statusReads_[opcode] = 0;
}

void RecordingSpiCtl::FailCall(size_t index, int32_t code) { failures_[index] = code; }

bool RecordingSpiCtl::Record(SpiCall call, int32_t* out) {
  const auto failure = failures_.find(calls_.size());
  const bool failed = failure != failures_.end();
  call.failed = failed;
  if (failed) call.answered.clear();
  calls_.push_back(std::move(call));
  if (out) *out = failed ? failure->second : 0;
  if (hook_) hook_(calls_.back());
  return !failed;
}

bool RecordingSpiCtl::Refuse(SpiCall call) {
  call.failed = true;
  calls_.push_back(std::move(call));
  if (hook_) hook_(calls_.back());
  return false;
}

void RecordingSpiCtl::StartPeriod() {
  selected_ = true;
  period_.clear();
}

uint8_t RecordingSpiCtl::AnswerAt(size_t position) {
  const uint8_t opcode = period_.at(0);
  const auto status = statusSequences_.find(opcode);
  if (status != statusSequences_.end() && !status->second.empty()) {
    if (position == 0) {
      const size_t n = statusReads_[opcode]++;
      currentStatus_ = status->second[std::min(n, status->second.size() - 1)];
    }
    return position == 0 ? 0xFF : currentStatus_;
  }
  const auto reply = replies_.find(opcode);
  if (reply == replies_.end() || position < reply->second.from) return 0xFF;
  const size_t i = position - reply->second.from;
  return i < reply->second.bytes.size() ? reply->second.bytes[i] : 0xFF;
}

bool RecordingSpiCtl::Exchange(SpiCall call, uint8_t* rx, int32_t* out) {
  call.receiving = rx != nullptr;
  if (!CheckReady()) return Refuse(std::move(call));
  const bool fails = failures_.count(calls_.size()) != 0;
  if (selected_ && !fails) {
    for (uint8_t b : call.sent) {
      period_.push_back(b);
      call.answered.push_back(AnswerAt(period_.size() - 1));
    }
  } else if (!fails) {
    call.answered.assign(call.sent.size(), 0xFF);
  }
  if (rx) std::copy(call.answered.begin(), call.answered.end(), rx);
  return Record(std::move(call), out);
}

bool RecordingSpiCtl::Setup(int32_t*) { return false; }

bool RecordingSpiCtl::Open(int32_t* out) {
  if (!Record({SpiCall::Op::Open}, out)) return false;
  flags.SetFlags(SPIF_OPEN);
  return true;
}

void RecordingSpiCtl::Close() {
  Record({SpiCall::Op::Close}, nullptr);
  flags.ClearFlags(SPIF_OPEN);
}

bool RecordingSpiCtl::EnableSpi(bool enable, int32_t* out) {
  if (!Record({SpiCall::Op::EnableSpi, enable ? 1u : 0u}, out)) return false;
  if (enable) {
    flags.SetFlags(SPIF_ENABLED);
  } else {
    flags.ClearFlags(SPIF_ENABLED);
  }
  return true;
}

bool RecordingSpiCtl::SetSelect(bool selected, int32_t* out) {
  const SpiCall call{SpiCall::Op::SetSelect, selected ? 1u : 0u};
  if (!CheckReady()) return Refuse(call);
  if (!Record(call, out)) return false;
  if (selected) {
    StartPeriod();
  } else {
    selected_ = false;
  }
  return true;
}

bool RecordingSpiCtl::SetPort(int port, int32_t* out) {
  return Record({SpiCall::Op::SetPort, static_cast<uint32_t>(port)}, out);
}

bool RecordingSpiCtl::SetSpiMode(uint32_t mode, int lsb, int32_t* out) {
  const SpiCall call{SpiCall::Op::SetSpiMode, mode, static_cast<uint32_t>(lsb)};
  if (!CheckReady()) return Refuse(call);
  if (!Record(call, out)) return false;
  spiMode = mode;
  lsbFirst = static_cast<uint32_t>(lsb);
  return true;
}

bool RecordingSpiCtl::SetSpeed(uint32_t hz, int32_t* out) {
  const SpiCall call{SpiCall::Op::SetSpeed, hz};
  if (!CheckReady()) return Refuse(call);
  if (!Record(call, out)) return false;
  speedHz = hz;
  return true;
}

bool RecordingSpiCtl::PutByte(uint8_t tx, uint8_t* rx, int32_t* out) {
  return Exchange({SpiCall::Op::PutByte, 0, 0, {tx}}, rx, out);
}

bool RecordingSpiCtl::PutSelect(int32_t count, uint8_t levelStart, uint8_t levelEnd, const uint8_t* tx,
                                uint8_t* rx, int32_t* out) {
  SpiCall call{SpiCall::Op::PutSelect, levelStart + 2u * levelEnd, 0, {tx, tx + count}};
  if (!CheckReady()) return Refuse(std::move(call));
  if (levelStart == 0) StartPeriod();
  const bool ok = Exchange(std::move(call), rx, out);
  if (levelEnd == 1) selected_ = false;
  return ok;
}

bool RecordingSpiCtl::Put(int32_t count, const uint8_t* tx, uint8_t* rx, int32_t* out) {
  return Exchange({SpiCall::Op::Put, 0, 0, {tx, tx + count}}, rx, out);
}

bool RecordingSpiCtl::Get(int32_t count, uint8_t fill, uint8_t* rx, int32_t* out) {
  return Exchange({SpiCall::Op::Get, fill, 0, std::vector<uint8_t>(static_cast<size_t>(count), fill)}, rx,
                  out);
}

std::vector<std::string> RecordingSpiCtl::Transactions() const {
  std::vector<std::string> lines;
  std::unique_ptr<PeriodText> open;
  const auto finish = [&](const char* end) {
    if (open) lines.push_back(open->Text(end));
    open.reset();
  };
  for (const SpiCall& c : calls_) {
    if (c.op == SpiCall::Op::SetSelect && c.arg == 1) {
      finish(" !no release");
      open = std::make_unique<PeriodText>(statusSequences_);
      open->Add(c);
    } else if (c.op == SpiCall::Op::SetSelect) {
      if (open) {
        open->Add(c);
        finish("");
      } else {
        lines.push_back(c.failed ? "release !failed" : "release");
      }
    } else if (c.op == SpiCall::Op::PutSelect && c.arg == kSelectKeptHigh && !open) {
      lines.push_back(IdleLine(c));
    } else if (c.op == SpiCall::Op::PutSelect) {
      finish(" !no release");
      PeriodText one(statusSequences_);
      one.Add(c);
      lines.push_back(one.Text(""));
    } else if (IsTransfer(c.op)) {
      if (open) {
        open->Add(c);
      } else if (c.op == SpiCall::Op::Put && IsIdle(c)) {
        lines.push_back(IdleLine(c));
      } else {
        PeriodText stray(statusSequences_);
        stray.Add(c);
        lines.push_back("unselected " + stray.Text(""));
      }
    } else {
      lines.push_back(SettingLine(c));
    }
  }
  finish(" !no release");
  return CollapseRuns(lines);
}

std::vector<std::string> RecordingSpiCtl::CallShapes() const {
  std::vector<std::string> shapes;
  for (const SpiCall& c : calls_) {
    std::string s;
    switch (c.op) {
      case SpiCall::Op::SetSelect:
        s = c.arg ? "select" : "release";
        break;
      case SpiCall::Op::PutByte:
        s = "putbyte";
        break;
      case SpiCall::Op::Put:
        s = "put " + std::to_string(c.sent.size()) + (c.receiving ? " rx" : "");
        break;
      case SpiCall::Op::Get:
        s = "get " + std::to_string(c.sent.size()) + " fill " + Hex(static_cast<uint8_t>(c.arg));
        break;
      case SpiCall::Op::PutSelect:
        s = "putselect " + std::to_string(c.sent.size()) + (c.receiving ? " rx" : "") +
            (c.arg == kSelectKeptHigh ? " high" : "");
        break;
      default:
        s = SettingLine(c);
        break;
    }
    shapes.push_back(c.failed ? s + " !failed" : s);
  }
  return shapes;
}

std::vector<std::vector<uint8_t>> RecordingSpiCtl::SentPerTransaction() const {
  std::vector<std::vector<uint8_t>> periods;
  bool open = false;
  for (const SpiCall& c : calls_) {
    if (c.op == SpiCall::Op::SetSelect) {
      if (c.arg == 1) periods.emplace_back();
      open = c.arg == 1;
    } else if (c.op == SpiCall::Op::PutSelect) {
      periods.push_back(c.sent);
      open = false;
    } else if (IsTransfer(c.op) && open) {
      periods.back().insert(periods.back().end(), c.sent.begin(), c.sent.end());
    }
  }
  return periods;
}

}  // namespace testsupport
