// SPDX-License-Identifier: MIT
// PosixSerialSystem: the serprog backend's system calls, made to a POSIX
// system (termios for serial ports, BSD sockets for TCP).
#pragma once

#include <map>
#include <memory>

#include "runtime/serial_system.h"

struct termios;

class PosixSerialSystem : public SerialSystem {
 public:
  PosixSerialSystem();
  ~PosixSerialSystem() override;

  int OpenPort(const std::string& path, int* err) override;
  bool ConfigurePort(int fd, uint32_t baud, int* err) override;
  int Connect(const std::string& host, const std::string& port, uint32_t timeoutMs, std::string* error) override;
  void DropInput(int fd) override;
  long Write(int fd, const uint8_t* bytes, size_t count, int* err) override;
  long Read(int fd, uint8_t* bytes, size_t count, int* err) override;
  int Wait(int fd, bool forWrite, uint32_t timeoutMs, int* err) override;
  void Close(int fd) override;
  std::string GroupOf(const std::string& path) override;
  void Idle(uint64_t ns) override;
  uint64_t NowMs() override;

 private:
  // Each configured port's settings as they were found, put back at Close.
  std::map<int, std::unique_ptr<termios>> saved_;
};
