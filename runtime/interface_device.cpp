// One open interface of the device runtime.
#include "runtime/interface_device.h"

#include <cstdio>

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

SimConfig ToConfig(const SimDeviceRequest& request) {
  SimConfig config;
  config.chip = request.chip;
  config.image = request.imagePath;
  config.id = request.id;
  config.noChip = request.noChip;
  config.stuck = request.stuck;
  config.failCall = request.failCall;
  config.holdCall = request.holdCall;
  config.protect = request.protect;
  if (request.latencyUs) config.latencyUs = *request.latencyUs;
  return config;
}

}  // namespace

std::unique_ptr<InterfaceDevice> InterfaceDevice::Open(const std::string& name, std::string* error) {
  SimDeviceRequest request;
  if (!ParseDeviceName(name, &request, error)) return nullptr;
  std::unique_ptr<SimInterface> sim = SimInterface::Create(ToConfig(request), error);
  if (!sim) return nullptr;
  std::unique_ptr<InterfaceDevice> device(new InterfaceDevice(std::move(sim), request.noCaps));
  if (!request.tracePath.empty() && !device->trace_.Open(request.tracePath)) {
    *error = "cannot open trace file " + request.tracePath;
    return nullptr;
  }
  if (!request.summaryPath.empty() && !device->summary_.Open(request.summaryPath)) {
    *error = "cannot open summary file " + request.summaryPath;
    return nullptr;
  }
  device->Trace("open " + name, true);
  return device;
}

InterfaceDevice::InterfaceDevice(std::unique_ptr<SimInterface> sim, bool noCaps)
    : sim_(std::move(sim)), noCaps_(noCaps) {}

InterfaceDevice::~InterfaceDevice() = default;

bool InterfaceDevice::Trace(const std::string& call, bool result) {
  if (trace_.IsOpen()) trace_.Record(call + (result ? " -> ok" : " -> FAIL"));
  return result;
}

void InterfaceDevice::SetSelectLine(bool high) {
  selectHigh_ = high;
  sim_->SetSelectLine(high);
}

bool InterfaceDevice::BeginBusCall() { return enabled_ && sim_->BeginCall(); }

bool InterfaceDevice::Enable(const char* entry, int32_t port) {
  port_ = port;
  enabled_ = true;
  return Trace(std::string(entry) + "(port=" + std::to_string(port) + ")", true);
}

bool InterfaceDevice::Disable(const char* entry) {
  enabled_ = false;
  return Trace(std::string(entry) + "()", true);
}

bool InterfaceDevice::SetSelect(const char* entry, int32_t level) {
  const bool ok = BeginBusCall();
  if (ok) SetSelectLine(level != RT_LINE_LOW);
  return Trace(std::string(entry) + "(level=" + std::to_string(level) + ")", ok);
}

bool InterfaceDevice::SetMode(const char* entry, uint32_t mode, uint32_t lsbFirst) {
  // The flash chips answer in modes 0 and 3, most significant bit first.
  const bool ok = mode <= 3;
  if (ok) {
    mode_ = mode;
    lsbFirst_ = lsbFirst;
  }
  return Trace(std::string(entry) + "(mode=" + Args({mode, lsbFirst}) + ")", ok);
}

bool InterfaceDevice::SetClock(const char* entry, uint32_t hz, uint32_t* granted) {
  *granted = sim_->SetClock(hz);
  return Trace(std::string(entry) + "(hz=" + std::to_string(hz) + ") granted " + std::to_string(*granted), true);
}

bool InterfaceDevice::GetClock(const char* entry, uint32_t* hz) {
  *hz = sim_->GetClock();
  return Trace(std::string(entry) + "() " + std::to_string(*hz), true);
}

bool InterfaceDevice::Transfer(const char* entry, int32_t levelStart, int32_t levelEnd, const uint8_t* tx,
                               uint8_t fill, uint8_t* rx, int32_t count) {
  const bool ok = count >= 0 && BeginBusCall();
  if (ok) {
    const size_t n = static_cast<size_t>(count);
    SetSelectLine(levelStart != RT_LINE_LOW);
    if (tx) {
      sim_->Transfer(tx, rx, n);
    } else {
      sim_->TransferFill(fill, rx, n);
    }
    SetSelectLine(levelEnd != RT_LINE_LOW);
  }
  if (!trace_.IsOpen()) return ok;
  std::string call = std::string(entry) + "(select=" + Args({levelStart, levelEnd}) + ", n=" +
                     std::to_string(count) + ")";
  const size_t n = count > 0 ? static_cast<size_t>(count) : 0;
  call += tx ? " tx " + TraceWriter::Bytes(tx, n) : " fill " + TraceWriter::Bytes(&fill, 1);
  if (rx && ok) call += " rx " + TraceWriter::Bytes(rx, n);
  return Trace(call, ok);
}

bool InterfaceDevice::GetCaps(const char* entry, uint32_t* caps) {
  *caps = noCaps_ ? 0 : RT_CAP_CONFIG_RESET;
  return Trace(std::string(entry) + "() caps " + std::to_string(*caps), true);
}

bool InterfaceDevice::ConfigReset(const char* entry, int32_t asserted) {
  const bool ok = !noCaps_;
  if (ok) configReset_ = asserted != 0;
  return Trace(std::string(entry) + "(assert=" + std::to_string(asserted) + ")", ok);
}

std::string InterfaceDevice::Summary() const {
  const SimStats stats = sim_->Stats();
  char head[256];
  std::snprintf(head, sizeof head, "summary: bus-calls=%llu bytes=%llu selects=%llu modelled=%.6f s",
                static_cast<unsigned long long>(stats.calls), static_cast<unsigned long long>(stats.bytes),
                static_cast<unsigned long long>(stats.selects), static_cast<double>(stats.timeNs) / 1e9);
  std::string s = head;
  s += " ops:";
  bool any = false;
  for (size_t i = 0; i < kSimOpCount; ++i) {
    if (stats.ops[i] == 0) continue;
    s += std::string(any ? ", " : " ") + SimOpName(static_cast<SimOp>(i)) + "=" + std::to_string(stats.ops[i]);
    any = true;
  }
  if (!any) s += " none";
  s += selectHigh_ ? " cs=high" : " cs=LOW";
  s += configReset_ ? " config-reset=left asserted" : " config-reset=released";
  return s;
}

bool InterfaceDevice::Close(const char* entry) {
  std::string error;
  const bool saved = sim_->Save(&error);
  if (!saved) std::fprintf(stderr, "romwick runtime: %s\n", error.c_str());
  Trace(std::string(entry) + "()", saved);
  const std::string summary = Summary();
  trace_.Close(summary);
  summary_.Close(summary);
  return saved;
}
