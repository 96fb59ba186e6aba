// SPDX-License-Identifier: MIT
// The ftdi: scheme's row.
#include "runtime/ftdi_scheme.h"

#include <cctype>

#include "runtime/ftdi_backend.h"
#include "runtime/system_seams.h"

namespace {

bool ParseUsbId(const KeyItem& item, std::optional<uint16_t>* id) {
  uint32_t value = 0;
  if (!item.Unsigned(&value) || value > 0xFFFF) return false;
  *id = static_cast<uint16_t>(value);
  return true;
}

// `<pin>[:active-high][:open-drain]`, the flags in either order, as the
// spidev: reset line takes them: the reset line, active low unless told
// otherwise.
bool ParseResetPin(const std::string& text, FtdiDeviceRequest* request) {
  const std::vector<std::string> parts = SplitAt(text, ':');
  FtdiPin pin;
  if (parts.size() > 3 || !ParseFtdiPin(parts[0], &pin)) return false;
  request->reset = pin;
  for (size_t i = 1; i < parts.size(); ++i) {
    bool* flag = parts[i] == "active-high"  ? &request->resetActiveHigh
                 : parts[i] == "open-drain" ? &request->resetOpenDrain
                                            : nullptr;
    if (!flag || *flag) return false;  // unknown, or given twice
    *flag = true;
  }
  return true;
}

bool ApplyFtdiKey(const KeyItem& item, FtdiDeviceRequest* request, bool* ok) {
  if (item.key == "vid") {
    *ok = ParseUsbId(item, &request->vid);
  } else if (item.key == "pid") {
    *ok = ParseUsbId(item, &request->pid);
  } else if (item.key == "serial") {
    *ok = item.Path(&request->serial);
  } else if (item.key == "index") {
    *ok = item.Unsigned(&request->index);
  } else if (item.key == "iface") {
    const std::string& v = item.value;
    *ok = v.size() == 1 && std::toupper(static_cast<unsigned char>(v[0])) >= 'A' &&
          std::toupper(static_cast<unsigned char>(v[0])) <= 'D';
    if (*ok) request->channel = static_cast<char>(std::toupper(static_cast<unsigned char>(v[0])));
  } else if (item.key == "cs") {
    // ADBUS0 to ADBUS2 are the clock and data lines.
    *ok = ParseFtdiPin(item.value, &request->cs) && (request->cs.highByte || request->cs.bit > 2);
  } else if (item.key == "reset") {
    *ok = ParseResetPin(item.value, request) && (request->reset->highByte || request->reset->bit > 2);
  } else if (item.key == "speed") {
    *ok = item.Unsigned(&request->speedCap) && request->speedCap > 0;
  } else if (item.key == "polls") {
    *ok = item.Unsigned(&request->pollBatch) && request->pollBatch > 0 && request->pollBatch <= kMaxFtdiPollBatch;
  } else {
    return false;
  }
  return true;
}

// Every item is a key: `ftdi:` alone takes the first device found.
bool ParseFtdi(const std::vector<std::string>& items, DeviceRequest* request, std::string* error) {
  FtdiDeviceRequest& ftdi = request->backend.emplace<FtdiDeviceRequest>();
  std::vector<std::string> keys{""};
  if (!(items.size() == 1 && items[0].empty())) keys.insert(keys.end(), items.begin(), items.end());
  if (!ApplyKeys(keys, &request->common, &ftdi, ApplyFtdiKey, error)) return false;
  if (ftdi.reset && *ftdi.reset == ftdi.cs) {
    *error = "reset= and cs= name the same pin";
    return false;
  }
  return true;
}

std::unique_ptr<Backend> OpenFtdi(const FtdiDeviceRequest& request, TraceWriter& trace, std::string* error) {
  std::unique_ptr<FtdiUsb> usb = MakeFtdiUsb(error);
  if (!usb) return nullptr;
  return FtdiBackend::Open(request, std::move(usb), trace, error);
}

bool ListFtdi(std::vector<std::string>* names, std::string* error) {
  std::unique_ptr<FtdiUsb> usb = MakeFtdiUsb(error);
  // A runtime built without libftdi has no FTDI devices to find.
  if (!usb) return true;
  if (FtdiBackend::List(*usb, names, error)) return true;
  *error = "ftdi: cannot list USB devices: " + *error;
  return false;
}

}  // namespace

bool ParseFtdiPin(const std::string& text, FtdiPin* pin) {
  std::string upper;
  for (char c : text) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper.size() != 6 || (upper.compare(0, 5, "ADBUS") != 0 && upper.compare(0, 5, "ACBUS") != 0) ||
      upper[5] < '0' || upper[5] > '7') {
    return false;
  }
  pin->highByte = upper[1] == 'C';
  pin->bit = static_cast<uint8_t>(upper[5] - '0');
  return true;
}

const BackendScheme kFtdiScheme = {
    .scheme = "ftdi",
    .nameHint = "ftdi:",
    .parse = ParseFtdi,
    .open = OpenAs<FtdiDeviceRequest, OpenFtdi>,
    .list = ListFtdi,
    .manual = R"(ftdi:[\fIkey\fP[=\fIvalue\fP]][,\fIkey\fP[=\fIvalue\fP]]...)",
};
