// SPDX-License-Identifier: MIT
// The table of open interfaces.
#include "runtime/interface_table.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "runtime/interface_device.h"

namespace interface_table {

namespace {
// Handle h is entry h - 1; a closed interface leaves its entry empty.
std::vector<std::unique_ptr<InterfaceDevice>>& Table() {
  static std::vector<std::unique_ptr<InterfaceDevice>> table;
  return table;
}
}  // namespace

bool Open(const char* name, uint32_t* handle) {
  std::string error;
  std::unique_ptr<InterfaceDevice> device = InterfaceDevice::Open(name ? name : "", &error);
  if (!device) {
    std::fprintf(stderr, "romwick runtime: cannot open '%s': %s\n", name ? name : "", error.c_str());
    return false;
  }
  Table().push_back(std::move(device));
  *handle = static_cast<uint32_t>(Table().size());
  return true;
}

InterfaceDevice* Find(uint32_t handle) {
  if (handle == 0 || handle > Table().size()) return nullptr;
  return Table()[handle - 1].get();
}

bool Close(const char* entry, uint32_t handle) {
  InterfaceDevice* device = Find(handle);
  if (!device) return false;
  const bool ok = device->Close(entry);
  Table()[handle - 1].reset();
  return ok;
}

}  // namespace interface_table
