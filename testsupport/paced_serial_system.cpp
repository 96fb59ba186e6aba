// SPDX-License-Identifier: MIT
// The serial calls of a backend facing an emulator.
#include "testsupport/paced_serial_system.h"

#include <algorithm>
#include <cerrno>

#include "testsupport/fake_description.h"

namespace testsupport {

namespace {

// A real wait while the emulator may still answer is cut into slices this
// long, between which the channel is asked again.
constexpr uint32_t kSliceMs = 5;

bool ApplyKey(const KeyItem& item, PacedSerialOptions* options) {
  if (item.key == "deny") return item.Path(&options->denyGroup);
  return item.key == "channel" && item.Path(&options->channel);
}

}  // namespace

PacedSerialSystem::PacedSerialSystem(std::unique_ptr<SerialSystem> real, PacedSerialOptions options)
    : real_(std::move(real)), options_(std::move(options)) {}

std::unique_ptr<PacedSerialSystem> PacedSerialSystem::Create(std::unique_ptr<SerialSystem> real,
                                                             PacedSerialOptions options, std::string* error) {
  std::unique_ptr<PacedSerialSystem> system(new PacedSerialSystem(std::move(real), std::move(options)));
  if (!system->options_.channel.empty() && !(system->channel_ = SerprogChannel::Join(system->options_.channel, error))) {
    return nullptr;
  }
  return system;
}

std::unique_ptr<SerialSystem> PacedSerialSystem::FromDescription(const std::string& text,
                                                                 std::unique_ptr<SerialSystem> real,
                                                                 std::string* error) {
  PacedSerialOptions options;
  if (!text.empty() && !ReadDescription(text, "serial pacing", &options, ApplyKey, error)) return nullptr;
  return Create(std::move(real), std::move(options), error);
}

int PacedSerialSystem::OpenPort(const std::string& path, int* err) {
  if (options_.denyGroup.empty()) return real_->OpenPort(path, err);
  *err = EACCES;
  return -1;
}

std::string PacedSerialSystem::GroupOf(const std::string& path) {
  return options_.denyGroup.empty() ? real_->GroupOf(path) : options_.denyGroup;
}

void PacedSerialSystem::Idle(uint64_t ns) {
  idleNs_ += ns;
  idleDue_ += ns;
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
  // A full pipe keeps it for the next write.
  if (channel_ && idleDue_ && channel_->TellIdle(idleDue_)) idleDue_ = 0;
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
  if (forWrite || !channel_) return real_->Wait(fd, forWrite, timeoutMs, err);
  const uint64_t start = real_->NowMs();
  for (;;) {
    if (channel_->Settled(written_, read_)) break;
    const uint64_t spent = real_->NowMs() - start;
    if (spent >= timeoutMs) break;
    const int ready = real_->Wait(fd, false, std::min(static_cast<uint32_t>(timeoutMs - spent), kSliceMs), err);
    if (ready != 0) return ready;
  }
  // Nothing came, and nothing will before the whole wait is over: the
  // clock moves on to its end.
  const uint64_t spent = real_->NowMs() - start;
  if (spent < timeoutMs) skippedMs_ += timeoutMs - spent;
  return 0;
}

}  // namespace testsupport
