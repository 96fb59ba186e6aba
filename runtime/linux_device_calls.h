// SPDX-License-Identifier: MIT
// The Linux system calls that the kernel-facing seams (spidev, the GPIO
// character device) share: opening a device node, ioctl(2), listing nodes.
#pragma once

#include <string>
#include <vector>

namespace linux_device_calls {

/// Opens `path` for reading and writing, close-on-exec: a descriptor, or -1
/// with errno in `err`.
int Open(const std::string& path, int* err);
/// ioctl(2): its result, or -1 with errno in `err`.
int Ioctl(int fd, unsigned long request, void* arg, int* err);
void Close(int fd);
/// The nodes in /dev whose names begin with `prefix`, sorted.
std::vector<std::string> Nodes(const std::string& prefix);

}  // namespace linux_device_calls
