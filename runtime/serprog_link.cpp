// SPDX-License-Identifier: MIT
// The byte stream with a serprog device.
#include "runtime/serprog_link.h"

#include <algorithm>
#include <cstring>

#include "runtime/serprog_commands.h"

namespace {

// NOPs sent before synchronising: a device halfway through a command takes
// them as its parameters and answers it, then each further NOP with an ACK
// (flashrom's serprog.c sends as many). A device waiting for the data of a
// long S_CMD_O_SPIOP cannot be brought back so: it has to be reset.
constexpr size_t kSyncNops = 8;
// Rounds of the synchronisation before the device counts as absent or as
// one that answers something else: each sends the NOPs and S_CMD_SYNCNOP,
// looks for NAK ACK among what arrives, and confirms it with another.
constexpr int kSyncRounds = 4;
// How long a device that has answered everything stays silent before the
// synchronisation starts a round afresh: far longer than any answer due
// takes to begin on a USB or TCP link, or at 9600 baud.
constexpr uint64_t kQuietMs = 50;
// Bytes of an unexpected answer shown in a reason.
constexpr size_t kShownBytes = 16;
// A command's bytes shown in the trace: S_CMD_O_SPIOP's header and the
// first four bytes of its select period.
constexpr size_t kTracedBytes = 11;

std::string Hex(const uint8_t* bytes, size_t n, size_t shown) {
  std::string s;
  static const char kDigits[] = "0123456789ABCDEF";
  for (size_t i = 0; i < std::min(n, shown); ++i) {
    if (i) s += ' ';
    s += kDigits[bytes[i] >> 4];
    s += kDigits[bytes[i] & 15];
  }
  if (n > shown) s += " +" + std::to_string(n - shown);
  return s;
}

}  // namespace

SerprogLink::SerprogLink(SerialSystem& system, int fd, std::string name, std::string goneText, TraceWriter& trace,
                         uint32_t timeoutMs)
    : system_(system),
      fd_(fd),
      name_(std::move(name)),
      goneText_(std::move(goneText)),
      trace_(trace),
      timeoutMs_(timeoutMs) {}

bool SerprogLink::Fail(std::string reason) {
  reason_ = std::move(reason);
  return false;
}

bool SerprogLink::Break(std::string reason) {
  broken_ = true;
  out_.clear();
  outCommands_.clear();
  due_.clear();
  return Fail(std::move(reason));
}

bool SerprogLink::TakeIn() {
  uint8_t chunk[4096];
  for (bool any = false;; any = true) {
    int err = 0;
    const long n = system_.Read(fd_, chunk, sizeof chunk, &err);
    if (n > 0) {
      in_.insert(in_.end(), chunk, chunk + n);
      continue;
    }
    // The end of the stream after bytes: the bytes are read first, and the
    // end is found again by the next call.
    if ((n < 0 && err == EAGAIN) || any) return true;
    return Break(n == 0 ? name_ + " is gone: " + goneText_
                        : name_ + ": reading failed (" + std::strerror(err) + ")");
  }
}

bool SerprogLink::WriteOut() {
  if (out_.empty()) return true;
  TraceWrite();
  ++writes_;
  size_t done = 0;
  uint64_t deadline = system_.NowMs() + timeoutMs_;
  while (done < out_.size()) {
    int err = 0;
    const long n = system_.Write(fd_, out_.data() + done, out_.size() - done, &err);
    if (n < 0) {
      return Break(err == EPIPE || err == ECONNRESET || err == EIO || err == ENXIO || err == ENODEV
                       ? name_ + " is gone: " + goneText_
                       : name_ + ": writing failed (" + std::strerror(err) + ")");
    }
    if (n > 0) {
      done += static_cast<size_t>(n);
      deadline = system_.NowMs() + timeoutMs_;
      continue;
    }
    // The device takes no more until its answers are read: take them in.
    if (!TakeIn()) return false;
    const uint64_t now = system_.NowMs();
    if (now > deadline) {
      return Break(name_ + ": the device took no bytes for " + std::to_string(timeoutMs_) +
                   " ms: it stopped answering");
    }
    if (system_.Wait(fd_, true, static_cast<uint32_t>(deadline - now), &err) < 0) {
      return Break(name_ + ": waiting to write failed (" + std::strerror(err) + ")");
    }
  }
  bytesOut_ += out_.size();
  out_.clear();
  outCommands_.clear();
  return true;
}

void SerprogLink::TraceWrite() {
  if (!trace_.IsOpen()) return;
  std::string line = "serial write: " + std::to_string(outCommands_.size()) + " commands, " +
                     std::to_string(out_.size()) + " bytes:";
  for (size_t i = 0; i < outCommands_.size(); ++i) {
    const size_t end = i + 1 < outCommands_.size() ? outCommands_[i + 1] : out_.size();
    line += (i ? " | " : " ") + Hex(out_.data() + outCommands_[i], end - outCommands_[i], kTracedBytes);
  }
  trace_.Detail(line);
}

SerprogLink::Got SerprogLink::Receive(uint8_t* into, size_t n, uint64_t deadlineMs, size_t* got) {
  *got = 0;
  for (;;) {
    const size_t take = std::min(n - *got, in_.size() - inAt_);
    if (into && take > 0) std::memcpy(into + *got, in_.data() + inAt_, take);
    inAt_ += take;
    *got += take;
    if (inAt_ == in_.size()) {
      in_.clear();
      inAt_ = 0;
    }
    if (*got == n) {
      bytesIn_ += n;
      return Got::kBytes;
    }
    if (!TakeIn()) return Got::kFailed;
    if (!in_.empty()) {
      // Bytes keep coming: a long answer over a slow link is no device
      // that stopped answering.
      deadlineMs = std::max(deadlineMs, system_.NowMs() + timeoutMs_);
      continue;
    }
    // What has arrived is all taken: wait, and after the deadline look once
    // more before giving up.
    const uint64_t now = system_.NowMs();
    if (now >= deadlineMs) {
      if (!TakeIn()) return Got::kFailed;
      if (!in_.empty()) continue;
      return Got::kTimedOut;
    }
    int err = 0;
    if (system_.Wait(fd_, false, static_cast<uint32_t>(deadlineMs - now), &err) < 0) {
      Break(name_ + ": waiting to read failed (" + std::strerror(err) + ")");
      return Got::kFailed;
    }
  }
}

std::string SerprogLink::TimeOut(uint8_t opcode, uint64_t waitedMs) const {
  return name_ + ": no answer within " + std::to_string(waitedMs) + " ms to " + serprog::CommandName(opcode) +
         ": the device stopped answering";
}

bool SerprogLink::SendBare(uint8_t opcode, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    outCommands_.push_back(out_.size());
    out_.push_back(opcode);
  }
  commands_ += count;
  return WriteOut();
}

bool SerprogLink::Synchronise() {
  system_.DropInput(fd_);
  in_.clear();
  inAt_ = 0;
  std::vector<uint8_t> seen;
  auto see = [&](const uint8_t* bytes, size_t n) {
    for (size_t i = 0; i < n && seen.size() < kShownBytes; ++i) seen.push_back(bytes[i]);
  };
  for (int round = 0; round < kSyncRounds; ++round) {
    if (!SendBare(serprog::kNop, kSyncNops) || !SendBare(serprog::kSyncNop, 1)) return false;
    // The NOPs' ACKs, and anything still on its way from before, come
    // ahead of the answer.
    const uint64_t deadline = system_.NowMs() + timeoutMs_;
    bool found = false;
    for (uint8_t previous = 0, b = 0; !found; previous = b) {
      size_t got = 0;
      const Got result = Receive(&b, 1, deadline, &got);
      if (result == Got::kFailed) return false;
      if (result == Got::kTimedOut) break;
      see(&b, 1);
      found = previous == serprog::kNak && b == serprog::kAck;
    }
    if (found) {
      // The NAK ACK found may have been an old one: another must follow
      // at once.
      if (!SendBare(serprog::kSyncNop, 1)) return false;
      uint8_t answer[2] = {};
      size_t got = 0;
      const Got result = Receive(answer, 2, system_.NowMs() + timeoutMs_, &got);
      if (result == Got::kFailed) return false;
      if (got == 2 && answer[0] == serprog::kNak && answer[1] == serprog::kAck) {
        if (trace_.IsOpen()) trace_.Detail("synchronised: S_CMD_SYNCNOP answered NAK ACK twice");
        return true;
      }
      see(answer, got);
    }
    // What is still on its way goes, so that the next round starts with
    // nothing due and no old answer is taken for a new one; a device that
    // was starting up (an Arduino resets when its port opens) may answer
    // by then.
    if (!Drain(system_.NowMs() + timeoutMs_)) return false;
  }
  const std::string tries = " in " + std::to_string(kSyncRounds) + " tries of " + std::to_string(timeoutMs_) + " ms";
  if (seen.empty()) {
    return Fail(name_ + ": no answer to the serprog synchronisation (S_CMD_SYNCNOP)" + tries +
                ": no serprog device is there, it runs at another baud rate, or it hangs in a command (reset it)");
  }
  return Fail(name_ + ": the synchronisation (S_CMD_SYNCNOP) was answered with " +
              Hex(seen.data(), seen.size(), kShownBytes) + " and never NAK ACK twice" + tries +
              ": this is no serprog device, or it runs at another baud rate");
}

bool SerprogLink::Drain(uint64_t deadlineMs) {
  for (;;) {
    const uint64_t now = system_.NowMs();
    if (now >= deadlineMs) return true;
    size_t got = 0;
    const Got result = Receive(nullptr, 1, std::min(deadlineMs, now + kQuietMs), &got);
    if (result != Got::kBytes) return result == Got::kTimedOut;
  }
}

bool SerprogLink::Queue(std::vector<uint8_t> command, size_t replyLength, uint8_t* reply, uint64_t busyNs) {
  if (broken_) return Fail("");
  // Room in the device's buffer: what it has not answered, and this.
  if (unanswered_ > 0 && unanswered_ + command.size() > bufferSize_ && !Settle()) return false;
  outCommands_.push_back(out_.size());
  out_.insert(out_.end(), command.begin(), command.end());
  due_.push_back({command[0], command.size(), replyLength, reply, busyNs / 1'000'000});
  unanswered_ += command.size();
  ++commands_;
  return true;
}

bool SerprogLink::Push() {
  if (broken_) return Fail("");
  return WriteOut();
}

bool SerprogLink::ReadAnswer(const Answer& answer) {
  const uint64_t waited = timeoutMs_ + answer.busyMs;
  const uint64_t deadline = system_.NowMs() + waited;
  uint8_t status = 0;
  size_t got = 0;
  Got result = Receive(&status, 1, deadline, &got);
  if (result == Got::kBytes && status == serprog::kNak) return false;
  if (result == Got::kBytes && status != serprog::kAck) {
    return Break(name_ + ": " + serprog::CommandName(answer.opcode) + " was answered with " + Hex(&status, 1, 1) +
                 " where ACK or NAK was due: the byte stream is out of step");
  }
  if (result == Got::kBytes) result = Receive(answer.reply, answer.replyLength, deadline, &got);
  if (result == Got::kTimedOut) return Break(TimeOut(answer.opcode, waited));
  return result == Got::kBytes;
}

bool SerprogLink::Settle() {
  if (broken_) return Fail("");
  if (!WriteOut()) return false;
  std::string refused;
  size_t answered = 0;
  const uint64_t inBefore = bytesIn_;
  while (!due_.empty()) {
    const Answer answer = due_.front();
    if (!ReadAnswer(answer)) {
      if (broken_) return false;
      if (refused.empty()) refused = name_ + " refused " + serprog::CommandName(answer.opcode) + " (NAK)";
    }
    due_.pop_front();
    unanswered_ -= answer.commandBytes;
    ++answered;
  }
  if (answered && trace_.IsOpen()) {
    trace_.Detail("serial read: " + std::to_string(answered) + " answers, " + std::to_string(bytesIn_ - inBefore) +
                  " bytes" + (refused.empty() ? "" : ", a NAK among them"));
  }
  return refused.empty() || Fail(refused);
}

bool SerprogLink::Ask(std::vector<uint8_t> command, size_t replyLength, uint8_t* reply, uint64_t busyNs) {
  return Queue(std::move(command), replyLength, reply, busyNs) && Settle();
}
