// SPDX-License-Identifier: MIT
// PacedSerialSystem: the real serial calls for a serprog backend that faces
// an emulator keeping its own clock: idle gaps pass at once on the host and
// go to the emulator's clock instead, and waits that nothing can end are cut
// short on a clock of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "runtime/serial_system.h"

namespace testsupport {

struct PacedSerialOptions {
  /// The longest real wait for input; a wait cut at it moves this side's
  /// clock on to where the whole wait would have ended. 0: no cap.
  uint32_t capMs = 0;
  /// Given the bytes this side wrote and read, whether nothing more can
  /// arrive (the emulator took them all, has sent nothing left unread, and
  /// waits): a wait then ends at once, as a time-out. Null: never told.
  std::function<bool(uint64_t written, uint64_t read)> settled;
  /// Opening a port fails for want of permission; the port belongs to this
  /// group. Empty: ports open as they do.
  std::string denyGroup;
  /// The emulator's idle channel (SerprogEmulator::IdlePath): the time of
  /// the idle gaps goes there, ahead of the bytes that follow them. Empty:
  /// the gaps are only counted.
  std::string idlePath;
};

/// Forwards every call to the real system, counting the bytes each way.
/// The emulator across the port models the device's time itself: an idle
/// gap costs the host nothing, and its nanoseconds reach the emulator's
/// clock before the next byte written, as they would pass on the device. Without `settled`, or while it says
/// no, a wait for input is a real one, in short slices where `settled` is
/// given, up to `capMs`. A test running as root can fail an open for want
/// of permission only so (`denyGroup`).
class PacedSerialSystem : public SerialSystem {
 public:
  PacedSerialSystem(std::unique_ptr<SerialSystem> real, PacedSerialOptions options);
  ~PacedSerialSystem() override;
  /// From a description such as "timeout=30" (capMs), "deny=dialout" or
  /// "idle=<path>", the form
  /// ROMWICK_TEST_SERPROG takes; empty for none. Null, with the reason in
  /// `error`, for a bad one.
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
  std::unique_ptr<SerialSystem> real_;
  const PacedSerialOptions options_;
  uint64_t written_ = 0;
  uint64_t read_ = 0;
  uint64_t skippedMs_ = 0;
  uint64_t idleNs_ = 0;
  int idleFd_ = -1;
  uint64_t idleDue_ = 0;  // not yet told to the emulator
};

}  // namespace testsupport
