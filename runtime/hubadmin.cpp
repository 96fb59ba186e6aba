// SPDX-License-Identifier: MIT
// The second-generation device management library: capabilities and configuration reset.
#include "runtime/interface_table.h"
#include "runtime/runtime_api.h"

using interface_table::With;

RT_EXPORT int32_t RT_CALL AdmGetCaps(uint32_t hif, uint32_t* caps) {
  return With(hif, [&](InterfaceDevice& d) { return d.GetCaps("AdmGetCaps", caps); });
}

RT_EXPORT int32_t RT_CALL AdmConfigReset(uint32_t hif, int32_t asserted) {
  return With(hif, [&](InterfaceDevice& d) { return d.ConfigReset("AdmConfigReset", asserted); });
}

static_assert(std::is_same_v<decltype(&AdmGetCaps), AdmGetCapsFn>);
static_assert(std::is_same_v<decltype(&AdmConfigReset), AdmConfigResetFn>);
