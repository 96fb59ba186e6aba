// SPDX-License-Identifier: MIT
// A device runtime for the adapter tests: it exports every entry point of
// both generations, logs each call with its arguments, and fails the calls
// a test names. Built once with every entry point and once, incomplete,
// without SerGetClock and PlRead.
#include <cstdio>
#include <set>
#include <string>
#include <type_traits>

#include "runtime/runtime_api.h"

namespace {

constexpr uint32_t kHandle = 7;
constexpr uint32_t kMaxClock = 30000000;  // the fastest clock this runtime grants
constexpr uint8_t kAnswer = 0xA5;         // every byte clocked in

std::string log;
std::set<std::string> failing;

std::string Bytes(const uint8_t* p, int32_t n) {
  if (!p) return "null";
  std::string s = "[";
  for (int32_t i = 0; i < n; ++i) {
    char b[4];
    std::snprintf(b, sizeof b, i ? " %02X" : "%02X", p[i]);
    s += b;
  }
  return s + "]";
}

std::string Ptr(const void* p) { return p ? "ptr" : "null"; }

// Logs a call and says whether it succeeds.
int32_t Record(const char* name, const std::string& args) {
  log += std::string(name) + "(" + args + ")\n";
  return failing.count(name) ? 0 : 1;
}

void Answer(uint8_t* rx, int32_t n) {
  for (int32_t i = 0; rx && i < n; ++i) rx[i] = kAnswer;
}

std::string N(long long v) { return std::to_string(v); }

}  // namespace

RT_EXPORT const char* RecLog() { return log.c_str(); }
RT_EXPORT void RecReset() {
  log.clear();
  failing.clear();
}
RT_EXPORT void RecFail(const char* name) { failing.insert(name); }

RT_EXPORT int32_t RT_CALL HubOpen(uint32_t* hif, const char* name) {
  *hif = kHandle;
  return Record("HubOpen", std::string("&hif,") + name);
}
RT_EXPORT int32_t RT_CALL HubClose(uint32_t hif) { return Record("HubClose", N(hif)); }
RT_EXPORT int32_t RT_CALL AdmGetCaps(uint32_t hif, uint32_t* caps) {
  *caps = RT_CAP_CONFIG_RESET;
  return Record("AdmGetCaps", N(hif) + ",&caps");
}
RT_EXPORT int32_t RT_CALL AdmConfigReset(uint32_t hif, int32_t asserted) {
  return Record("AdmConfigReset", N(hif) + "," + N(asserted));
}
RT_EXPORT int32_t RT_CALL SerEnable(uint32_t hif, int32_t port) {
  return Record("SerEnable", N(hif) + "," + N(port));
}
RT_EXPORT int32_t RT_CALL SerDisable(uint32_t hif) { return Record("SerDisable", N(hif)); }
RT_EXPORT int32_t RT_CALL SerSetSelect(uint32_t hif, int32_t level) {
  return Record("SerSetSelect", N(hif) + "," + N(level));
}
RT_EXPORT int32_t RT_CALL SerSetMode(uint32_t hif, uint32_t mode, uint32_t lsbFirst) {
  return Record("SerSetMode", N(hif) + "," + N(mode) + "," + N(lsbFirst));
}
#ifndef RECORDING_INCOMPLETE
RT_EXPORT int32_t RT_CALL SerGetClock(uint32_t hif, uint32_t* hz) {
  *hz = kMaxClock;
  return Record("SerGetClock", N(hif));
}
static_assert(std::is_same_v<decltype(&SerGetClock), SerGetClockFn>);
#endif
RT_EXPORT int32_t RT_CALL SerSetClock(uint32_t hif, uint32_t hz, uint32_t* granted) {
  *granted = hz < kMaxClock ? hz : kMaxClock;
  return Record("SerSetClock", N(hif) + "," + N(hz) + ",&granted");
}
RT_EXPORT int32_t RT_CALL SerXferByte(uint32_t hif, int32_t levelStart, int32_t levelEnd, uint8_t tx,
                                      uint8_t* rx, int32_t zero) {
  Answer(rx, 1);
  return Record("SerXferByte", N(hif) + "," + N(levelStart) + "," + N(levelEnd) + "," + Bytes(&tx, 1) +
                                   "," + Ptr(rx) + "," + N(zero));
}
RT_EXPORT int32_t RT_CALL SerXfer(uint32_t hif, int32_t levelStart, int32_t levelEnd, const uint8_t* tx,
                                  uint8_t* rx, int32_t count, int32_t zero) {
  Answer(rx, count);
  return Record("SerXfer", N(hif) + "," + N(levelStart) + "," + N(levelEnd) + "," + Bytes(tx, count) + "," +
                               Ptr(rx) + "," + N(count) + "," + N(zero));
}
RT_EXPORT int32_t RT_CALL SerRead(uint32_t hif, int32_t levelStart, int32_t levelEnd, uint8_t fill,
                                  uint8_t* rx, int32_t count, int32_t zero) {
  Answer(rx, count);
  return Record("SerRead", N(hif) + "," + N(levelStart) + "," + N(levelEnd) + "," + Bytes(&fill, 1) + "," +
                               Ptr(rx) + "," + N(count) + "," + N(zero));
}

RT_EXPORT int32_t RT_CALL PlOpen(uint32_t* hif, const char* name, int32_t* status, int32_t zero) {
  *hif = kHandle;
  return Record("PlOpen", std::string("&hif,") + name + "," + Ptr(status) + "," + N(zero));
}
RT_EXPORT int32_t RT_CALL PlClose(uint32_t hif, int32_t* status) {
  return Record("PlClose", N(hif) + "," + Ptr(status));
}
RT_EXPORT int32_t RT_CALL PlEnable(uint32_t hif, int32_t* status, int32_t zero) {
  return Record("PlEnable", N(hif) + "," + Ptr(status) + "," + N(zero));
}
RT_EXPORT int32_t RT_CALL PlDisable(uint32_t hif, int32_t* status, int32_t zero) {
  return Record("PlDisable", N(hif) + "," + Ptr(status) + "," + N(zero));
}
RT_EXPORT int32_t RT_CALL PlSetSelect(uint32_t hif, int32_t level, int32_t* status, int32_t zero) {
  return Record("PlSetSelect", N(hif) + "," + N(level) + "," + Ptr(status) + "," + N(zero));
}
RT_EXPORT int32_t RT_CALL PlSetMode(uint32_t hif, uint32_t mode, uint32_t lsbFirst, uint32_t hz,
                                    int32_t* status, int32_t zero) {
  return Record("PlSetMode",
                N(hif) + "," + N(mode) + "," + N(lsbFirst) + "," + N(hz) + "," + Ptr(status) + "," + N(zero));
}
RT_EXPORT int32_t RT_CALL PlXferByte(uint32_t hif, uint8_t tx, uint8_t* rx, int32_t* status, int32_t zero) {
  Answer(rx, 1);
  return Record("PlXferByte", N(hif) + "," + Bytes(&tx, 1) + "," + Ptr(rx) + "," + Ptr(status) + "," + N(zero));
}
RT_EXPORT int32_t RT_CALL PlXfer(uint32_t hif, int32_t count, const uint8_t* tx, uint8_t* rx, int32_t* status,
                                 int32_t zero) {
  Answer(rx, count);
  return Record("PlXfer", N(hif) + "," + N(count) + "," + Bytes(tx, count) + "," + Ptr(rx) + "," + Ptr(status) +
                              "," + N(zero));
}
#ifndef RECORDING_INCOMPLETE
RT_EXPORT int32_t RT_CALL PlRead(uint32_t hif, int32_t count, uint8_t fill, uint8_t* rx, int32_t* status,
                                 int32_t zero) {
  Answer(rx, count);
  return Record("PlRead", N(hif) + "," + N(count) + "," + Bytes(&fill, 1) + "," + Ptr(rx) + "," + Ptr(status) +
                              "," + N(zero));
}
static_assert(std::is_same_v<decltype(&PlRead), PlReadFn>);
#endif

// The exported definitions must keep the signatures the adapters call.
static_assert(std::is_same_v<decltype(&HubOpen), HubOpenFn>);
static_assert(std::is_same_v<decltype(&HubClose), HubCloseFn>);
static_assert(std::is_same_v<decltype(&AdmGetCaps), AdmGetCapsFn>);
static_assert(std::is_same_v<decltype(&AdmConfigReset), AdmConfigResetFn>);
static_assert(std::is_same_v<decltype(&SerEnable), SerEnableFn>);
static_assert(std::is_same_v<decltype(&SerDisable), SerDisableFn>);
static_assert(std::is_same_v<decltype(&SerSetSelect), SerSetSelectFn>);
static_assert(std::is_same_v<decltype(&SerSetMode), SerSetModeFn>);
static_assert(std::is_same_v<decltype(&SerSetClock), SerSetClockFn>);
static_assert(std::is_same_v<decltype(&SerXferByte), SerXferByteFn>);
static_assert(std::is_same_v<decltype(&SerXfer), SerXferFn>);
static_assert(std::is_same_v<decltype(&SerRead), SerReadFn>);
static_assert(std::is_same_v<decltype(&PlOpen), PlOpenFn>);
static_assert(std::is_same_v<decltype(&PlClose), PlCloseFn>);
static_assert(std::is_same_v<decltype(&PlEnable), PlEnableFn>);
static_assert(std::is_same_v<decltype(&PlDisable), PlDisableFn>);
static_assert(std::is_same_v<decltype(&PlSetSelect), PlSetSelectFn>);
static_assert(std::is_same_v<decltype(&PlSetMode), PlSetModeFn>);
static_assert(std::is_same_v<decltype(&PlXferByte), PlXferByteFn>);
static_assert(std::is_same_v<decltype(&PlXfer), PlXferFn>);
