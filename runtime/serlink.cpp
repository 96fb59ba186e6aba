// SPDX-License-Identifier: MIT
// The second-generation SPI library: port, select line, mode, clock and transfers.
#include "runtime/interface_table.h"
#include "runtime/runtime_api.h"

using interface_table::With;

RT_EXPORT int32_t RT_CALL SerEnable(uint32_t hif, int32_t port) {
  return With(hif, [&](InterfaceDevice& d) { return d.Enable("SerEnable", port); });
}

RT_EXPORT int32_t RT_CALL SerDisable(uint32_t hif) {
  return With(hif, [&](InterfaceDevice& d) { return d.Disable("SerDisable"); });
}

RT_EXPORT int32_t RT_CALL SerSetSelect(uint32_t hif, int32_t level) {
  return With(hif, [&](InterfaceDevice& d) { return d.SetSelect("SerSetSelect", level); });
}

RT_EXPORT int32_t RT_CALL SerSetMode(uint32_t hif, uint32_t mode, uint32_t lsbFirst) {
  return With(hif, [&](InterfaceDevice& d) { return d.SetMode("SerSetMode", mode, lsbFirst); });
}

RT_EXPORT int32_t RT_CALL SerGetClock(uint32_t hif, uint32_t* hz) {
  return With(hif, [&](InterfaceDevice& d) { return d.GetClock("SerGetClock", hz); });
}

RT_EXPORT int32_t RT_CALL SerSetClock(uint32_t hif, uint32_t hz, uint32_t* granted) {
  return With(hif, [&](InterfaceDevice& d) { return d.SetClock("SerSetClock", hz, granted); });
}

RT_EXPORT int32_t RT_CALL SerXferByte(uint32_t hif, int32_t levelStart, int32_t levelEnd, uint8_t tx, uint8_t* rx,
                                      int32_t) {
  return With(hif, [&](InterfaceDevice& d) { return d.Transfer("SerXferByte", levelStart, levelEnd, &tx, 0, rx, 1); });
}

RT_EXPORT int32_t RT_CALL SerXfer(uint32_t hif, int32_t levelStart, int32_t levelEnd, const uint8_t* tx, uint8_t* rx,
                                  int32_t count, int32_t) {
  return With(hif,
              [&](InterfaceDevice& d) { return tx && d.Transfer("SerXfer", levelStart, levelEnd, tx, 0, rx, count); });
}

RT_EXPORT int32_t RT_CALL SerRead(uint32_t hif, int32_t levelStart, int32_t levelEnd, uint8_t fill, uint8_t* rx,
                                  int32_t count, int32_t) {
  return With(hif, [&](InterfaceDevice& d) {
    return rx && d.Transfer("SerRead", levelStart, levelEnd, nullptr, fill, rx, count);
  });
}

RT_EXPORT int32_t RT_CALL SerGetWindowLimit(uint32_t hif, uint32_t* bytes) {
  return With(hif, [&](InterfaceDevice& d) { return bytes && d.GetWindowLimit(RT2_WINDOW_LIMIT_ENTRY, bytes); });
}

static_assert(std::is_same_v<decltype(&SerEnable), SerEnableFn>);
static_assert(std::is_same_v<decltype(&SerDisable), SerDisableFn>);
static_assert(std::is_same_v<decltype(&SerSetSelect), SerSetSelectFn>);
static_assert(std::is_same_v<decltype(&SerSetMode), SerSetModeFn>);
static_assert(std::is_same_v<decltype(&SerGetClock), SerGetClockFn>);
static_assert(std::is_same_v<decltype(&SerSetClock), SerSetClockFn>);
static_assert(std::is_same_v<decltype(&SerXferByte), SerXferByteFn>);
static_assert(std::is_same_v<decltype(&SerXfer), SerXferFn>);
static_assert(std::is_same_v<decltype(&SerRead), SerReadFn>);
static_assert(std::is_same_v<decltype(&SerGetWindowLimit), SerGetWindowLimitFn>);
