// SPDX-License-Identifier: MIT
// SerialSystem: the system calls through which the serprog backend reaches a
// serial port or a TCP connection to a serprog device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

/// Abstract so that tests can count and pace what passes; the real one is
/// PosixSerialSystem. Descriptors are non-blocking: Read and Write take what
/// is ready and Wait says when more is. Failures give the errno value in
/// `err`.
class SerialSystem {
 public:
  virtual ~SerialSystem() = default;

  /// Opens the serial port `path` for reading and writing, not as the
  /// process's controlling terminal, without waiting for a carrier: a
  /// descriptor, or -1.
  virtual int OpenPort(const std::string& path, int* err) = 0;
  /// Raw mode, 8 data bits, no parity, one stop bit, no flow control, modem
  /// lines ignored; `baud` bits a second, or the port's rate left as it is
  /// for 0. False when the port refuses (ENOTTY: it is no terminal; EINVAL:
  /// a rate it does not take). Close puts the old settings back.
  virtual bool ConfigurePort(int fd, uint32_t baud, int* err) = 0;
  /// Connects to `host`:`port` over TCP, with Nagle's delay off: a
  /// descriptor, or -1 with the reason in `error`. Waits at most `timeoutMs`.
  virtual int Connect(const std::string& host, const std::string& port, uint32_t timeoutMs,
                      std::string* error) = 0;
  /// Drops what has arrived and not been read.
  virtual void DropInput(int fd) = 0;
  /// write(2) of what the descriptor takes now: the bytes taken (0 when it
  /// takes none), or -1.
  virtual long Write(int fd, const uint8_t* bytes, size_t count, int* err) = 0;
  /// read(2) of what has arrived: the bytes read, 0 at the end of the
  /// stream (the other side closed), -1 with EAGAIN when none has arrived.
  virtual long Read(int fd, uint8_t* bytes, size_t count, int* err) = 0;
  /// Waits until the descriptor can be read or, when `forWrite`, written,
  /// at most `timeoutMs`: 1 when it can (or the other side hung up), 0 at
  /// the time-out, -1 on an error. Waiting to write, it wakes for input
  /// too: a device whose answers nobody reads may take no more.
  virtual int Wait(int fd, bool forWrite, uint32_t timeoutMs, int* err) = 0;
  virtual void Close(int fd) = 0;
  /// The name of the group that owns `path`; empty when it cannot be told.
  virtual std::string GroupOf(const std::string& path) = 0;
  /// Lets `ns` nanoseconds pass with nothing sent.
  virtual void Idle(uint64_t ns) = 0;
  /// A monotonic millisecond count, for deadlines.
  virtual uint64_t NowMs() = 0;
};
