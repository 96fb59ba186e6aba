// SPDX-License-Identifier: MIT
// The kernel's side of the spidev backend.
#include "runtime/linux_spidev_system.h"

#include <grp.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "runtime/linux_device_calls.h"

namespace {
// A module parameter of the spidev driver; it exists also when the driver
// is built into the kernel.
constexpr const char* kBufferSizeFile = "/sys/module/spidev/parameters/bufsiz";
}  // namespace

int LinuxSpidevSystem::Open(const std::string& path, int* err) { return linux_device_calls::Open(path, err); }

int LinuxSpidevSystem::Ioctl(int fd, unsigned long request, void* arg, int* err) {
  return linux_device_calls::Ioctl(fd, request, arg, err);
}

void LinuxSpidevSystem::Close(int fd) { linux_device_calls::Close(fd); }

std::optional<uint32_t> LinuxSpidevSystem::BufferSize() {
  std::FILE* file = std::fopen(kBufferSizeFile, "r");
  if (!file) return std::nullopt;
  unsigned long size = 0;
  const bool read = std::fscanf(file, "%lu", &size) == 1 && size > 0 && size <= 0xFFFFFFFFul;
  std::fclose(file);
  if (!read) return std::nullopt;
  return static_cast<uint32_t>(size);
}

std::string LinuxSpidevSystem::GroupOf(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return "";
  std::vector<char> buffer(4096);
  struct group entry {};
  struct group* found = nullptr;
  if (::getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return "";
  return found->gr_name;
}

void LinuxSpidevSystem::Idle(uint64_t ns) { std::this_thread::sleep_for(std::chrono::nanoseconds(ns)); }

std::vector<std::string> LinuxSpidevSystem::Nodes() { return linux_device_calls::Nodes("spidev"); }
