// SPDX-License-Identifier: MIT
// PacedSerialSystem: the real serial calls for a serprog backend that faces
// an emulator keeping its own clock: pauses cost the host nothing and pass on
// the emulator's clock, and a wait for an answer that cannot come ends at
// once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "runtime/serial_system.h"
#include "testsupport/serprog_channel.h"

namespace testsupport {

struct PacedSerialOptions {
  /// The emulator's side channel (SerprogEmulator::Channel); empty: none,
  /// and the calls are the real ones but for the pauses, which are counted.
  std::string channel;
  /// Opening a port fails for want of permission; the port belongs to this
  /// group. Empty: ports open as they do. (A test running as root can fail
  /// an open for want of permission only so.)
  std::string denyGroup;
};

/// Forwards every call to the real system, counting the bytes each way.
/// The emulator across the port models the device's time itself: a pause
/// the program asks for costs the host nothing, and its nanoseconds reach
/// the emulator's clock through the channel before the next byte written.
/// A wait for input that the channel says nothing can end (the emulator has
/// taken everything and sent nothing left unread, and waits) ends at once
/// as a time-out, this side's clock moved on to where it would have ended;
/// otherwise waits are real, in short slices between which the channel is
/// asked again.
class PacedSerialSystem : public SerialSystem {
 public:
  /// Null, with the reason in `error`, when the channel cannot be joined.
  static std::unique_ptr<PacedSerialSystem> Create(std::unique_ptr<SerialSystem> real, PacedSerialOptions options,
                                                   std::string* error);
  /// From a description such as "channel=<folder>,deny=dialout", the form
  /// ROMWICK_TEST_SERPROG takes; empty for none.
  static std::unique_ptr<SerialSystem> FromDescription(const std::string& text, std::unique_ptr<SerialSystem> real,
                                                       std::string* error);

  int OpenPort(const std::string& path, int* err) override;
  bool ConfigurePort(int fd, uint32_t baud, int* err) override { return real_->ConfigurePort(fd, baud, err); }
  int Connect(const std::string& host, const std::string& port, uint32_t timeoutMs, std::string* error) override {
    return real_->Connect(host, port, timeoutMs, error);
  }
  void DropInput(int fd) override;
  long Write(int fd, const uint8_t* bytes, size_t count, int* err) override;
  long Read(int fd, uint8_t* bytes, size_t count, int* err) override;
  int Wait(int fd, bool forWrite, uint32_t timeoutMs, int* err) override;
  void Close(int fd) override { real_->Close(fd); }
  std::string GroupOf(const std::string& path) override;
  void Idle(uint64_t ns) override;
  uint64_t NowMs() override { return real_->NowMs() + skippedMs_; }

  uint64_t IdleNs() const { return idleNs_; }

 private:
  PacedSerialSystem(std::unique_ptr<SerialSystem> real, PacedSerialOptions options);

  std::unique_ptr<SerialSystem> real_;
  const PacedSerialOptions options_;
  std::unique_ptr<SerprogChannel> channel_;
  uint64_t written_ = 0;
  uint64_t read_ = 0;
  uint64_t skippedMs_ = 0;
  uint64_t idleNs_ = 0;
  uint64_t idleDue_ = 0;  // not yet told to the emulator
};

}  // namespace testsupport
