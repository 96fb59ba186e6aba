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

bool Open(const char* name, uint32_t* handle) noexcept {
  const char* shown = name ? name : "";
  std::string error;
  try {
    std::unique_ptr<InterfaceDevice> device = InterfaceDevice::Open(shown, &error);
    if (device) {
      Table().push_back(std::move(device));
      *handle = static_cast<uint32_t>(Table().size());
      return true;
    }
  } catch (const std::bad_alloc&) {
    error = "out of memory";
  } catch (const std::exception& e) {
    error = e.what();
  }
  std::fprintf(stderr, "romwick runtime: cannot open '%s': %s\n", shown, error.c_str());
  return false;
}

InterfaceDevice* Find(uint32_t handle) {
  if (handle == 0 || handle > Table().size()) return nullptr;
  return Table()[handle - 1].get();
}

bool Close(const char* entry, uint32_t handle) noexcept {
  InterfaceDevice* device = Find(handle);
  if (!device) return false;
  const bool ok = Guarded([&] { return device->Close(entry); }) != 0;
  Table()[handle - 1].reset();
  return ok;
}

}  // namespace interface_table
