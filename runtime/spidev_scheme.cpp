// SPDX-License-Identifier: MIT
// The spidev: scheme's row.
#include "runtime/spidev_scheme.h"

#ifdef ROMWICK_HAVE_SPIDEV
#include "runtime/spidev_backend.h"
#include "runtime/system_seams.h"
#endif

namespace {

constexpr const char* kNameHint = "spidev:/dev/spidev<bus>.<chip select>";

// `<chip>:<line>[:active-high][:open-drain]`, the flags in either order;
// the chip may itself be a path without colons.
bool ParseGpioLine(const std::string& text, GpioLineName* line) {
  const std::vector<std::string> parts = SplitAt(text, ':');
  if (parts.size() < 2 || parts.size() > 4 || parts[0].empty()) return false;
  line->chip = parts[0];
  if (!ParseUnsigned(parts[1], &line->line)) return false;
  for (size_t i = 2; i < parts.size(); ++i) {
    bool* flag = parts[i] == "active-high" ? &line->activeHigh : parts[i] == "open-drain" ? &line->openDrain : nullptr;
    if (!flag || *flag) return false;  // unknown, or given twice
    *flag = true;
  }
  return true;
}

bool ApplySpidevKey(const KeyItem& item, SpidevDeviceRequest* request, bool* ok) {
  if (item.key == "speed") {
    *ok = item.Unsigned(&request->speedCap) && request->speedCap > 0;
  } else if (item.key == "xfer") {
    *ok = item.Unsigned(&request->xferCap) && request->xferCap > 0;
  } else if (item.key == "reset") {
    GpioLineName line;
    *ok = ParseGpioLine(item.value, &line);
    request->reset = line;
  } else {
    return false;
  }
  return true;
}

bool ParseSpidev(const std::vector<std::string>& items, DeviceRequest* request, std::string* error) {
  SpidevDeviceRequest& spidev = request->backend.emplace<SpidevDeviceRequest>();
  spidev.node = items[0];
  if (spidev.node.empty()) {
    *error = std::string("no device node named (") + kNameHint + ")";
    return false;
  }
  return ApplyKeys(items, &request->common, &spidev, ApplySpidevKey, error);
}

#ifdef ROMWICK_HAVE_SPIDEV
std::unique_ptr<Backend> OpenSpidev(const SpidevDeviceRequest& request, TraceWriter& trace, std::string* error) {
  std::unique_ptr<SpidevSystem> system = MakeSpidevSystem(error);
  if (!system) return nullptr;
  std::unique_ptr<GpioLine> resetLine;
  if (request.reset && !(resetLine = MakeGpioLine(error))) return nullptr;
  return SpidevBackend::Open(request, std::move(system), std::move(resetLine), trace, error);
}

bool ListSpidev(std::vector<std::string>* names, std::string* error) {
  std::unique_ptr<SpidevSystem> system = MakeSpidevSystem(error);
  if (!system) return false;
  for (const std::string& node : system->Nodes()) names->push_back("spidev:" + node);
  return true;
}
#endif

}  // namespace

const BackendScheme kSpidevScheme = {
    .scheme = "spidev",
    .nameHint = kNameHint,
    .parse = ParseSpidev,
#ifdef ROMWICK_HAVE_SPIDEV
    .open = OpenAs<SpidevDeviceRequest, OpenSpidev>,
    .list = ListSpidev,
#else
    .absent = "names a Linux spidev node, and this runtime was not built for Linux",
#endif
    .manual = R"(spidev:\fINODE\fP[,\fIkey\fP[=\fIvalue\fP]]...)",
};
