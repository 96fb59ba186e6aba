// SPDX-License-Identifier: MIT
// One open interface of the device runtime.
#include "runtime/interface_device.h"

#include <cstdio>

#include "runtime/backends.h"
#include "runtime/device_name.h"
#include "runtime/runtime_api.h"

namespace {

std::string Args(std::initializer_list<long long> values) {
  std::string s;
  for (long long v : values) {
    if (!s.empty()) s += ',';
    s += std::to_string(v);
  }
  return s;
}

bool OpenFile(TraceWriter& writer, const std::string& path, const char* what, std::string* error) {
  if (path.empty() || writer.Open(path)) return true;
  *error = std::string("cannot open ") + what + " file " + path;
  return false;
}

}  // namespace

std::unique_ptr<InterfaceDevice> InterfaceDevice::Open(const std::string& name, std::string* error) {
  DeviceRequest request;
  if (!ParseDeviceName(name, &request, error)) return nullptr;
  std::unique_ptr<InterfaceDevice> device(new InterfaceDevice);
  if (!OpenFile(device->trace_, request.common.tracePath, "trace", error)) return nullptr;
  device->backend_ = OpenBackend(request, device->trace_, error);
  if (!device->backend_) {
    // The trace keeps what the backend tried, for a user to send.
    device->trace_.Detail(*error);
    device->trace_.Record("open " + name + " -> FAIL");
    return nullptr;
  }
  if (!OpenFile(device->summary_, request.common.summaryPath, "summary", error)) return nullptr;
  device->Trace("open " + name, true);
  return device;
}

InterfaceDevice::~InterfaceDevice() = default;

bool InterfaceDevice::Trace(const std::string& call, bool result) {
  if (!result) {
    const std::string reason = backend_->TakeReason();
    if (!reason.empty()) {
      std::fprintf(stderr, "romwick runtime: %s\n", reason.c_str());
      trace_.Detail(reason);
    }
  }
  if (trace_.IsOpen()) trace_.Record(call + (result ? " -> ok" : " -> FAIL"));
  return result;
}

bool InterfaceDevice::Enable(const char* entry, int32_t port) {
  const bool ok = backend_->EnablePort(port);
  enabled_ = enabled_ || ok;
  return Trace(std::string(entry) + "(port=" + std::to_string(port) + ")", ok);
}

bool InterfaceDevice::Disable(const char* entry) {
  enabled_ = false;
  return Trace(std::string(entry) + "()", backend_->DisablePort());
}

bool InterfaceDevice::SetSelect(const char* entry, int32_t level) {
  const bool high = level != RT_LINE_LOW;
  const bool ok = BeginBusCall() && backend_->Select(!high);
  if (ok) selectHigh_ = high;
  return Trace(std::string(entry) + "(level=" + std::to_string(level) + ")", ok);
}

bool InterfaceDevice::ApplyMode(uint32_t mode, uint32_t lsbFirst) {
  return backend_->SetMode(mode, lsbFirst != 0);
}

bool InterfaceDevice::ApplyClock(uint32_t hz, uint32_t* granted) { return backend_->SetClock(hz, granted); }

bool InterfaceDevice::SetMode(const char* entry, uint32_t mode, uint32_t lsbFirst) {
  return Trace(std::string(entry) + "(mode=" + Args({mode, lsbFirst}) + ")", ApplyMode(mode, lsbFirst));
}

bool InterfaceDevice::SetClock(const char* entry, uint32_t hz, uint32_t* granted) {
  const bool ok = ApplyClock(hz, granted);
  return Trace(std::string(entry) + "(hz=" + std::to_string(hz) + ") granted " + std::to_string(*granted), ok);
}

bool InterfaceDevice::SetModeAndClock(const char* entry, uint32_t mode, uint32_t lsbFirst, uint32_t hz) {
  uint32_t granted = 0;
  const bool ok = ApplyMode(mode, lsbFirst) && ApplyClock(hz, &granted);
  return Trace(std::string(entry) + "(mode=" + Args({mode, lsbFirst}) + ", hz=" + std::to_string(hz) +
                   ") granted " + std::to_string(granted),
               ok);
}

bool InterfaceDevice::GetClock(const char* entry, uint32_t* hz) {
  *hz = backend_->Clock();
  return Trace(std::string(entry) + "() " + std::to_string(*hz), true);
}

bool InterfaceDevice::Transfer(const char* entry, int32_t levelStart, int32_t levelEnd, const uint8_t* tx,
                               uint8_t fill, uint8_t* rx, int32_t count) {
  const bool selectedAfter = levelEnd == RT_LINE_LOW;
  const BusTransfer transfer{.selectedDuring = levelStart == RT_LINE_LOW,
                             .selectedAfter = selectedAfter,
                             .tx = tx,
                             .fill = fill,
                             .rx = rx,
                             .count = count > 0 ? static_cast<size_t>(count) : 0};
  const bool ok = count >= 0 && BeginBusCall() && backend_->Transfer(transfer);
  if (ok) selectHigh_ = !selectedAfter;
  if (!trace_.IsOpen()) return Trace("", ok);
  std::string call = std::string(entry) + "(select=" + Args({levelStart, levelEnd}) + ", n=" +
                     std::to_string(count) + ")";
  call += tx ? " tx " + TraceWriter::Bytes(tx, transfer.count) : " fill " + TraceWriter::Bytes(&fill, 1);
  if (rx && ok) call += " rx " + TraceWriter::Bytes(rx, transfer.count);
  return Trace(call, ok);
}

bool InterfaceDevice::GetCaps(const char* entry, uint32_t* caps) {
  *caps = backend_->OffersConfigReset() ? RT_CAP_CONFIG_RESET : 0;
  return Trace(std::string(entry) + "() caps " + std::to_string(*caps), true);
}

bool InterfaceDevice::GetWindowLimit(const char* entry, uint32_t* bytes) {
  *bytes = backend_->WindowLimit();
  return Trace(std::string(entry) + "() " + std::to_string(*bytes), true);
}

bool InterfaceDevice::ConfigReset(const char* entry, int32_t asserted) {
  const bool ok = backend_->OffersConfigReset() && backend_->ConfigReset(asserted != 0);
  if (ok) configReset_ = asserted != 0;
  return Trace(std::string(entry) + "(assert=" + std::to_string(asserted) + ")", ok);
}

std::string InterfaceDevice::Summary() const {
  std::string s = "summary: " + backend_->Summary();
  s += selectHigh_ ? " cs=high" : " cs=LOW";
  s += configReset_ ? " config-reset=left asserted" : " config-reset=released";
  return s;
}

bool InterfaceDevice::Close(const char* entry) {
  const bool closed = Trace(std::string(entry) + "()", backend_->Close());
  const std::string summary = Summary();
  trace_.Close(summary);
  summary_.Close(summary);
  return closed;
}
