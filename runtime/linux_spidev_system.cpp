// SPDX-License-Identifier: MIT
// The kernel's side of the spidev backend.
#include "runtime/linux_spidev_system.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

namespace {
// A module parameter of the spidev driver; it exists also when the driver
// is built into the kernel.
constexpr const char* kBufferSizeFile = "/sys/module/spidev/parameters/bufsiz";
}  // namespace

int LinuxSpidevSystem::Open(const std::string& path, int* err) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) *err = errno;
  return fd;
}

int LinuxSpidevSystem::Ioctl(int fd, unsigned long request, void* arg, int* err) {
  const int result = ::ioctl(fd, request, arg);
  if (result < 0) *err = errno;
  return result;
}

void LinuxSpidevSystem::Close(int fd) { ::close(fd); }

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

std::vector<std::string> LinuxSpidevSystem::Nodes() {
  std::vector<std::string> nodes;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/dev", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("spidev", 0) == 0) nodes.push_back(entry.path().string());
  }
  std::sort(nodes.begin(), nodes.end());
  return nodes;
}
