// SPDX-License-Identifier: MIT
// The second-generation device manager library: opens and closes interface
// devices by name, and lists the ones the runtime can see.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/backends.h"
#include "runtime/interface_table.h"
#include "runtime/runtime_api.h"

RT_EXPORT int32_t RT_CALL HubOpen(uint32_t* hif, const char* deviceName) {
  return interface_table::Open(deviceName, hif) ? 1 : 0;
}

RT_EXPORT int32_t RT_CALL HubClose(uint32_t hif) { return interface_table::Close("HubClose", hif) ? 1 : 0; }

RT_EXPORT int32_t RT_CALL HubListDevices(char* names, uint32_t size, uint32_t* length) {
  return interface_table::Guarded([&] {
    std::vector<std::string> found;
    std::string error;
    const bool listed = ListDevices(&found, &error);
    if (!listed) std::fprintf(stderr, "romwick runtime: %s\n", error.c_str());
    std::string text;
    for (const std::string& name : found) text += name + "\n";
    *length = static_cast<uint32_t>(text.size() + 1);
    if (!names || size < *length) return false;
    std::memcpy(names, text.c_str(), text.size() + 1);
    return listed;
  });
}

static_assert(std::is_same_v<decltype(&HubOpen), HubOpenFn>);
static_assert(std::is_same_v<decltype(&HubListDevices), HubListDevicesFn>);
static_assert(std::is_same_v<decltype(&HubClose), HubCloseFn>);
