// SPDX-License-Identifier: MIT
// The first-generation runtime library: the whole interface in one library,
// mode and clock set in one call, no select-bracketed transfer.
#include "runtime/interface_table.h"
#include "runtime/runtime_api.h"

using interface_table::With;

namespace {
// The runtime's own error codes, written to the caller's status word.
constexpr int32_t kStatusOk = 0;
constexpr int32_t kStatusFailed = 1;

int32_t Report(int32_t result, int32_t* status) {
  if (status) *status = result ? kStatusOk : kStatusFailed;
  return result;
}
}  // namespace

RT_EXPORT int32_t RT_CALL PlOpen(uint32_t* hif, const char* deviceName, int32_t* status, int32_t) {
  return Report(interface_table::Open(deviceName, hif) ? 1 : 0, status);
}

RT_EXPORT int32_t RT_CALL PlClose(uint32_t hif, int32_t* status) {
  return Report(interface_table::Close("PlClose", hif) ? 1 : 0, status);
}

RT_EXPORT int32_t RT_CALL PlEnable(uint32_t hif, int32_t* status, int32_t) {
  return Report(With(hif, [&](InterfaceDevice& d) { return d.Enable("PlEnable", 0); }), status);
}

RT_EXPORT int32_t RT_CALL PlDisable(uint32_t hif, int32_t* status, int32_t) {
  return Report(With(hif, [&](InterfaceDevice& d) { return d.Disable("PlDisable"); }), status);
}

RT_EXPORT int32_t RT_CALL PlSetSelect(uint32_t hif, int32_t level, int32_t* status, int32_t) {
  return Report(With(hif, [&](InterfaceDevice& d) { return d.SetSelect("PlSetSelect", level); }), status);
}

RT_EXPORT int32_t RT_CALL PlSetMode(uint32_t hif, uint32_t mode, uint32_t lsbFirst, uint32_t hz, int32_t* status,
                                    int32_t) {
  return Report(With(hif, [&](InterfaceDevice& d) { return d.SetModeAndClock("PlSetMode", mode, lsbFirst, hz); }),
                status);
}

RT_EXPORT int32_t RT_CALL PlXferByte(uint32_t hif, uint8_t tx, uint8_t* rx, int32_t* status, int32_t) {
  return Report(With(hif, [&](InterfaceDevice& d) {
                  return d.Transfer("PlXferByte", d.SelectLevel(), d.SelectLevel(), &tx, 0, rx, 1);
                }),
                status);
}

RT_EXPORT int32_t RT_CALL PlXfer(uint32_t hif, int32_t count, const uint8_t* tx, uint8_t* rx, int32_t* status,
                                 int32_t) {
  return Report(With(hif, [&](InterfaceDevice& d) {
                  return tx && d.Transfer("PlXfer", d.SelectLevel(), d.SelectLevel(), tx, 0, rx, count);
                }),
                status);
}

RT_EXPORT int32_t RT_CALL PlRead(uint32_t hif, int32_t count, uint8_t fill, uint8_t* rx, int32_t* status,
                                 int32_t) {
  return Report(With(hif, [&](InterfaceDevice& d) {
                  return rx && d.Transfer("PlRead", d.SelectLevel(), d.SelectLevel(), nullptr, fill, rx, count);
                }),
                status);
}

RT_EXPORT int32_t RT_CALL PlGetWindowLimit(uint32_t hif, uint32_t* bytes, int32_t* status, int32_t) {
  return Report(With(hif, [&](InterfaceDevice& d) { return bytes && d.GetWindowLimit(RT1_WINDOW_LIMIT_ENTRY, bytes); }),
                status);
}

static_assert(std::is_same_v<decltype(&PlOpen), PlOpenFn>);
static_assert(std::is_same_v<decltype(&PlClose), PlCloseFn>);
static_assert(std::is_same_v<decltype(&PlEnable), PlEnableFn>);
static_assert(std::is_same_v<decltype(&PlDisable), PlDisableFn>);
static_assert(std::is_same_v<decltype(&PlSetSelect), PlSetSelectFn>);
static_assert(std::is_same_v<decltype(&PlSetMode), PlSetModeFn>);
static_assert(std::is_same_v<decltype(&PlXferByte), PlXferByteFn>);
static_assert(std::is_same_v<decltype(&PlXfer), PlXferFn>);
static_assert(std::is_same_v<decltype(&PlRead), PlReadFn>);
static_assert(std::is_same_v<decltype(&PlGetWindowLimit), PlGetWindowLimitFn>);
