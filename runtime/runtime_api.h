// SPDX-License-Identifier: MIT
// The device runtime's entry points: their names and signatures, shared by
// the adapters that load them and the libraries that export them. Every
// entry point returns non-zero for success and zero for failure.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define RT_CALL __stdcall
#define RT_EXPORT extern "C" __declspec(dllexport)
#else
#define RT_CALL
#define RT_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// Runtime module file names, in their Windows form; the platform layer maps
// them to its own convention.
#define RT2_DEVICE_LIBRARY "hubcore.dll"
#define RT2_SPI_LIBRARY "serlink.dll"
#define RT2_ADMIN_LIBRARY "hubadmin.dll"
#define RT1_LIBRARY "portlink.dll"

// Select line levels of the transfer and select calls.
constexpr int32_t RT_LINE_LOW = 0;
constexpr int32_t RT_LINE_HIGH = 1;

// Capability bit of AdmGetCaps: the device offers a configuration reset.
constexpr uint32_t RT_CAP_CONFIG_RESET = 0x2;

// Second generation. `hif` is the handle HubOpen fills in; select levels are
// line levels (0 low), driven before and after a transfer; the last
// argument of the transfer calls is always 0.
using HubOpenFn = int32_t(RT_CALL*)(uint32_t* hif, const char* deviceName);
using HubCloseFn = int32_t(RT_CALL*)(uint32_t hif);
using AdmGetCapsFn = int32_t(RT_CALL*)(uint32_t hif, uint32_t* caps);
using AdmConfigResetFn = int32_t(RT_CALL*)(uint32_t hif, int32_t asserted);
using SerEnableFn = int32_t(RT_CALL*)(uint32_t hif, int32_t port);
using SerDisableFn = int32_t(RT_CALL*)(uint32_t hif);
using SerSetSelectFn = int32_t(RT_CALL*)(uint32_t hif, int32_t level);
using SerSetModeFn = int32_t(RT_CALL*)(uint32_t hif, uint32_t mode, uint32_t lsbFirst);
using SerGetClockFn = int32_t(RT_CALL*)(uint32_t hif, uint32_t* hz);
using SerSetClockFn = int32_t(RT_CALL*)(uint32_t hif, uint32_t hz, uint32_t* granted);
using SerXferByteFn = int32_t(RT_CALL*)(uint32_t hif, int32_t levelStart, int32_t levelEnd, uint8_t tx,
                                        uint8_t* rx, int32_t zero);
using SerXferFn = int32_t(RT_CALL*)(uint32_t hif, int32_t levelStart, int32_t levelEnd, const uint8_t* tx,
                                    uint8_t* rx, int32_t count, int32_t zero);
using SerReadFn = int32_t(RT_CALL*)(uint32_t hif, int32_t levelStart, int32_t levelEnd, uint8_t fill,
                                    uint8_t* rx, int32_t count, int32_t zero);

// The longest reply one select window may carry whole after a command of up
// to RT_READ_COMMAND_MAX bytes sent (a read command: opcode, address, dummy
// bytes): `*bytes` gets it, 0 for no limit. A longer window may fail, so a
// program splits longer reads into several read commands. Optional: a
// runtime without it has no limit.
#define RT_READ_COMMAND_MAX 16
#define RT2_WINDOW_LIMIT_ENTRY "SerGetWindowLimit"
using SerGetWindowLimitFn = int32_t(RT_CALL*)(uint32_t hif, uint32_t* bytes);

// The device manager's listing, an entry point the adapters do not need to
// open a device: the interface devices the runtime can see, each name in the
// form HubOpen takes and ending in a newline, the whole ending in a NUL.
// `*length` gets the bytes the whole takes. Zero when `size` is smaller than
// that (nothing is written), or when a backend could not look for its
// devices (its reason on standard error; the others' devices are listed).
#define RT2_LIST_ENTRY "HubListDevices"
using HubListDevicesFn = int32_t(RT_CALL*)(char* names, uint32_t size, uint32_t* length);

// First generation. Every call takes the address of a status word of the
// caller's (the runtime's own error code) and, but PlClose, a final 0.
using PlOpenFn = int32_t(RT_CALL*)(uint32_t* hif, const char* deviceName, int32_t* status, int32_t zero);
using PlCloseFn = int32_t(RT_CALL*)(uint32_t hif, int32_t* status);
using PlEnableFn = int32_t(RT_CALL*)(uint32_t hif, int32_t* status, int32_t zero);
using PlDisableFn = int32_t(RT_CALL*)(uint32_t hif, int32_t* status, int32_t zero);
using PlSetSelectFn = int32_t(RT_CALL*)(uint32_t hif, int32_t level, int32_t* status, int32_t zero);
using PlSetModeFn = int32_t(RT_CALL*)(uint32_t hif, uint32_t mode, uint32_t lsbFirst, uint32_t hz,
                                      int32_t* status, int32_t zero);
using PlXferByteFn = int32_t(RT_CALL*)(uint32_t hif, uint8_t tx, uint8_t* rx, int32_t* status, int32_t zero);
using PlXferFn = int32_t(RT_CALL*)(uint32_t hif, int32_t count, const uint8_t* tx, uint8_t* rx,
                                   int32_t* status, int32_t zero);
using PlReadFn = int32_t(RT_CALL*)(uint32_t hif, int32_t count, uint8_t fill, uint8_t* rx, int32_t* status,
                                   int32_t zero);
// The window limit of SerGetWindowLimit, for the first generation; optional too.
#define RT1_WINDOW_LIMIT_ENTRY "PlGetWindowLimit"
using PlGetWindowLimitFn = int32_t(RT_CALL*)(uint32_t hif, uint32_t* bytes, int32_t* status, int32_t zero);
