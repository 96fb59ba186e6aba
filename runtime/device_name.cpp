// SPDX-License-Identifier: MIT
// Parsing of interface device names.
#include "runtime/device_name.h"

#include <cctype>
#include <cstdlib>

namespace {

bool ParseId(const std::string& text, std::array<uint8_t, 3>* id) {
  if (text.size() != 6) return false;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  const unsigned long v = std::strtoul(text.c_str(), nullptr, 16);
  *id = {static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
  return true;
}

// `<chip>:<line>[:active-high]`; the chip may itself be a path without colons.
bool ParseGpioLine(const std::string& text, GpioLineName* line) {
  const std::vector<std::string> parts = SplitAt(text, ':');
  if (parts.size() < 2 || parts.size() > 3 || parts[0].empty()) return false;
  line->chip = parts[0];
  if (!ParseUnsigned(parts[1], &line->line)) return false;
  line->activeHigh = parts.size() == 3;
  return parts.size() == 2 || parts[2] == "active-high";
}

// Each Apply*Key returns false for a key it does not know; `ok` then stays
// untouched. Otherwise `ok` says whether the value was good.

bool ApplyCommonKey(const KeyItem& item, CommonKeys* keys, bool* ok) {
  if (item.key == "trace") {
    *ok = item.Path(&keys->tracePath);
  } else if (item.key == "summary") {
    *ok = item.Path(&keys->summaryPath);
  } else {
    return false;
  }
  return true;
}

bool ApplySimKey(const KeyItem& item, SimDeviceRequest* request, bool* ok) {
  if (item.key == "image") {
    *ok = item.Path(&request->imagePath);
  } else if (item.key == "id") {
    std::array<uint8_t, 3> id{};
    *ok = ParseId(item.value, &id);
    request->id = id;
  } else if (item.key == "fail") {
    *ok = item.Unsigned(&request->failCall) && request->failCall > 0;
  } else if (item.key == "hold") {
    *ok = item.Unsigned(&request->holdCall) && request->holdCall > 0;
  } else if (item.key == "latency") {
    uint32_t us = 0;
    *ok = item.Unsigned(&us);
    request->latencyUs = us;
  } else if (item.key == "nochip") {
    *ok = item.Flag(&request->noChip);
  } else if (item.key == "stuck") {
    *ok = item.Flag(&request->stuck);
  } else if (item.key == "protect") {
    uint32_t bits = 0;
    *ok = !item.hasValue || item.Unsigned(&bits);
    request->protect = !item.hasValue;
    request->protectBits = item.hasValue ? std::optional<uint32_t>(bits) : std::nullopt;
  } else if (item.key == "wp") {
    *ok = item.Flag(&request->writeProtectPin);
  } else if (item.key == "qe") {
    *ok = item.Flag(&request->quadEnable);
  } else if (item.key == "sfdp") {
    request->noSfdp = item.value == "off";
    request->sfdpPath = request->noSfdp ? "" : item.value;
    *ok = item.hasValue && !item.value.empty();
  } else if (item.key == "clock") {
    // At least 1 MHz, so that the slowest division stays above 30 Hz.
    uint32_t hz = 0;
    *ok = item.Unsigned(&hz) && hz >= 1'000'000;
    request->topClockHz = hz;
  } else if (item.key == "flip") {
    uint32_t address = 0;
    *ok = item.Unsigned(&address);
    request->flips.push_back(address);
  } else if (item.key == "nocaps") {
    *ok = item.Flag(&request->noCaps);
  } else {
    return false;
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

bool ParseUsbId(const KeyItem& item, std::optional<uint16_t>* id) {
  uint32_t value = 0;
  if (!item.Unsigned(&value) || value > 0xFFFF) return false;
  *id = static_cast<uint16_t>(value);
  return true;
}

// `<pin>[:active-high]`: the reset line, active low unless told otherwise.
bool ParseResetPin(const std::string& text, FtdiDeviceRequest* request) {
  const std::vector<std::string> parts = SplitAt(text, ':');
  FtdiPin pin;
  if (parts.size() > 2 || !ParseFtdiPin(parts[0], &pin)) return false;
  request->reset = pin;
  request->resetActiveHigh = parts.size() == 2;
  return parts.size() == 1 || parts[1] == "active-high";
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

bool ApplyCh341aKey(const KeyItem& item, Ch341aDeviceRequest* request, bool* ok) {
  if (item.key == "index") {
    *ok = item.Unsigned(&request->index);
  } else if (item.key == "nobatch") {
    *ok = item.Flag(&request->noBatch);
  } else {
    return false;
  }
  return true;
}

// The items after the first are keys: the backend's own, or common ones.
template <typename Request, typename ApplyKey>
bool ApplyKeys(const std::vector<std::string>& items, CommonKeys* common, Request* request, ApplyKey applyKey,
               std::string* error) {
  for (size_t i = 1; i < items.size(); ++i) {
    const KeyItem item(items[i]);
    bool ok = false;
    if (!ApplyCommonKey(item, common, &ok) && !applyKey(item, request, &ok)) {
      *error = "unknown key '" + item.key + "'";
      return false;
    }
    if (!ok) {
      *error = "bad value in '" + item.text + "'";
      return false;
    }
  }
  return true;
}

bool ParseSim(const std::vector<std::string>& items, DeviceRequest* request, std::string* error) {
  SimDeviceRequest& sim = request->backend.emplace<SimDeviceRequest>();
  sim.chip = items[0];
  if (sim.chip.empty()) {
    *error = "no chip named";
    return false;
  }
  return ApplyKeys(items, &request->common, &sim, ApplySimKey, error);
}

bool ParseSpidev(const std::vector<std::string>& items, DeviceRequest* request, std::string* error) {
  SpidevDeviceRequest& spidev = request->backend.emplace<SpidevDeviceRequest>();
  spidev.node = items[0];
  if (spidev.node.empty()) {
    *error = "no device node named (spidev:/dev/spidev<bus>.<chip select>)";
    return false;
  }
  return ApplyKeys(items, &request->common, &spidev, ApplySpidevKey, error);
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

// Every item is a key, and the first may be empty: `ch341a:` alone, or
// `ch341a:,trace=t.txt`, takes the first device found.
bool ParseCh341a(const std::vector<std::string>& items, DeviceRequest* request, std::string* error) {
  Ch341aDeviceRequest& ch341a = request->backend.emplace<Ch341aDeviceRequest>();
  std::vector<std::string> keys = items;
  if (!keys[0].empty()) keys.insert(keys.begin(), "");
  return ApplyKeys(keys, &request->common, &ch341a, ApplyCh341aKey, error);
}

struct Scheme {
  const char* name;
  bool (*parse)(const std::vector<std::string>& items, DeviceRequest* request, std::string* error);
};

constexpr Scheme kSchemes[] = {
    {"sim", ParseSim}, {"spidev", ParseSpidev}, {"ftdi", ParseFtdi}, {"ch341a", ParseCh341a}};

}  // namespace

KeyItem::KeyItem(const std::string& item) : text(item) {
  const size_t eq = item.find('=');
  key = item.substr(0, eq);
  hasValue = eq != std::string::npos;
  value = hasValue ? item.substr(eq + 1) : "";
}

bool KeyItem::Flag(bool* field) const {
  *field = true;
  return !hasValue;
}

bool KeyItem::Path(std::string* field) const {
  *field = value;
  return !value.empty();
}

bool KeyItem::Unsigned(uint32_t* field) const { return ParseUnsigned(value, field); }

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

std::vector<std::string> SplitAt(const std::string& text, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t pos; (pos = text.find(sep, start)) != std::string::npos; start = pos + 1) {
    parts.push_back(text.substr(start, pos - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

bool ParseDeviceName(const std::string& name, DeviceRequest* request, std::string* error) {
  *request = DeviceRequest{};
  const size_t colon = name.find(':');
  if (colon != std::string::npos) {
    const std::string scheme = name.substr(0, colon);
    for (const Scheme& s : kSchemes) {
      if (scheme == s.name) return s.parse(SplitAt(name.substr(colon + 1), ','), request, error);
    }
  }
  *error = "no backend for '" + name + "' (try sim:<chip>, spidev:/dev/spidev<bus>.<chip select> or ftdi:)";
  return false;
}
