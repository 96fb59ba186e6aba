// SPDX-License-Identifier: MIT
// The serial calls of a backend facing an emulator.
#include "testsupport/paced_serial_system.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "testsupport/fake_description.h"

namespace testsupport {

namespace {

// A real wait while the emulator may still answer is cut into slices this
// long, between which `settled` is asked again.
constexpr uint32_t kSliceMs = 5;

bool ApplyKey(const KeyItem& item, PacedSerialOptions* options) {
  if (item.key == "deny") return item.Path(&options->denyGroup);
  if (item.key == "idle") return item.Path(&options->idlePath);
  return item.key == "timeout" && item.Unsigned(&options->capMs) && options->capMs > 0;
}

}  // namespace

PacedSerialSystem::PacedSerialSystem(std::unique_ptr<SerialSystem> real, PacedSerialOptions options)
    : real_(std::move(real)), options_(std::move(options)) {
  if (!options_.idlePath.empty()) idleFd_ = ::open(options_.idlePath.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
}

PacedSerialSystem::~PacedSerialSystem() {
  if (idleFd_ >= 0) ::close(idleFd_);
}

void PacedSerialSystem::Idle(uint64_t ns) {
  idleNs_ += ns;
  idleDue_ += ns;
}

std::unique_ptr<SerialSystem> PacedSerialSystem::FromDescription(const std::string& text,
                                                                 std::unique_ptr<SerialSystem> real,
                                                                 std::string* error) {
  PacedSerialOptions options;
  if (!text.empty() && !ReadDescription(text, "serial pacing", &options, ApplyKey, error)) return nullptr;
  return std::make_unique<PacedSerialSystem>(std::move(real), std::move(options));
}

int PacedSerialSystem::OpenPort(const std::string& path, int* err) {
  if (options_.denyGroup.empty()) return real_->OpenPort(path, err);
  *err = EACCES;
  return -1;
}

std::string PacedSerialSystem::GroupOf(const std::string& path) {
  return options_.denyGroup.empty() ? real_->GroupOf(path) : options_.denyGroup;
}

void PacedSerialSystem::DropInput(int fd) {
  // What is there is read and counted, so that the counts stay those of
  // the emulator; the real call drops what comes meanwhile.
  uint8_t scrap[4096];
  int err = 0;
  while (Read(fd, scrap, sizeof scrap, &err) > 0) {
  }
  real_->DropInput(fd);
}

long PacedSerialSystem::Write(int fd, const uint8_t* bytes, size_t count, int* err) {
  // The pause first: the emulator reads it before the bytes that follow it.
  // Eight bytes go into a pipe whole; one that is full keeps them for the
  // next write.
  if (idleFd_ >= 0 && idleDue_ && ::write(idleFd_, &idleDue_, sizeof idleDue_) == sizeof idleDue_) idleDue_ = 0;
  const long n = real_->Write(fd, bytes, count, err);
  if (n > 0) written_ += static_cast<uint64_t>(n);
  return n;
}

long PacedSerialSystem::Read(int fd, uint8_t* bytes, size_t count, int* err) {
  const long n = real_->Read(fd, bytes, count, err);
  if (n > 0) read_ += static_cast<uint64_t>(n);
  return n;
}

int PacedSerialSystem::Wait(int fd, bool forWrite, uint32_t timeoutMs, int* err) {
  if (forWrite) return real_->Wait(fd, forWrite, timeoutMs, err);
  const uint64_t start = real_->NowMs();
  const uint32_t cap = options_.capMs ? std::min(timeoutMs, options_.capMs) : timeoutMs;
  for (;;) {
    if (options_.settled && options_.settled(written_, read_)) break;
    const uint64_t spent = real_->NowMs() - start;
    if (spent >= cap) break;
    const uint32_t left = static_cast<uint32_t>(cap - spent);
    const int ready = real_->Wait(fd, false, options_.settled ? std::min(left, kSliceMs) : left, err);
    if (ready != 0) return ready;
  }
  // Nothing came, and nothing will before the whole wait is over: the
  // clock moves on to its end.
  const uint64_t spent = real_->NowMs() - start;
  if (spent < timeoutMs) skippedMs_ += timeoutMs - spent;
  return 0;
}

}  // namespace testsupport
