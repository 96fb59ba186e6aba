// SPDX-License-Identifier: MIT
// The runtime's device listing.
#include "spi/device_list.h"

#include "runtime/runtime_api.h"
#include "spi/runtime_loader.h"

namespace {

constexpr uint32_t kFirstSize = 4096;

DeviceListResult Ask(HubListDevicesFn list, std::vector<std::string>* names) {
  std::string text(kFirstSize, '\0');
  uint32_t length = 0;
  int32_t result = list(text.data(), static_cast<uint32_t>(text.size()), &length);
  // The list grew beyond the buffer: once more with the size it needs.
  while (result == 0 && length > text.size()) {
    text.assign(length, '\0');
    result = list(text.data(), static_cast<uint32_t>(text.size()), &length);
  }
  text.resize(text.find('\0'));
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    names->push_back(text.substr(start, end - start));
  }
  return result != 0 ? DeviceListResult::kListed : DeviceListResult::kIncomplete;
}

}  // namespace

DeviceListResult ListInterfaceDevices(std::vector<std::string>* names) {
  const platform::Module library = LoadRuntimeLibrary(RT2_DEVICE_LIBRARY);
  if (!library) return DeviceListResult::kNoLibrary;
  HubListDevicesFn list = nullptr;
  const DeviceListResult result =
      LookUp(library, RT2_LIST_ENTRY, list) ? Ask(list, names) : DeviceListResult::kNoEntryPoint;
  platform::FreeModule(library);
  return result;
}
