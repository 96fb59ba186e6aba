// The second-generation device manager library: opens and closes interface devices by name.
#include "runtime/interface_table.h"
#include "runtime/runtime_api.h"

RT_EXPORT int32_t RT_CALL HubOpen(uint32_t* hif, const char* deviceName) {
  return interface_table::Open(deviceName, hif) ? 1 : 0;
}

RT_EXPORT int32_t RT_CALL HubClose(uint32_t hif) { return interface_table::Close("HubClose", hif) ? 1 : 0; }

static_assert(std::is_same_v<decltype(&HubOpen), HubOpenFn>);
static_assert(std::is_same_v<decltype(&HubClose), HubCloseFn>);
