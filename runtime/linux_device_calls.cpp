// SPDX-License-Identifier: MIT
// The Linux system calls of the kernel-facing seams.
#include "runtime/linux_device_calls.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

namespace linux_device_calls {

int Open(const std::string& path, int* err) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) *err = errno;
  return fd;
}

int Ioctl(int fd, unsigned long request, void* arg, int* err) {
  const int result = ::ioctl(fd, request, arg);
  if (result < 0) *err = errno;
  return result;
}

void Close(int fd) { ::close(fd); }

std::vector<std::string> Nodes(const std::string& prefix) {
  std::vector<std::string> nodes;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/dev", ec)) {
    if (entry.path().filename().string().rfind(prefix, 0) == 0) nodes.push_back(entry.path().string());
  }
  std::sort(nodes.begin(), nodes.end());
  return nodes;
}

}  // namespace linux_device_calls
