// Parsing of interface device names.
#include "runtime/device_name.h"

#include <cctype>
#include <cstdlib>
#include <vector>

namespace {

constexpr const char* kSimPrefix = "sim:";

std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t pos; (pos = text.find(sep, start)) != std::string::npos; start = pos + 1) {
    parts.push_back(text.substr(start, pos - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

bool ParseUnsigned(const std::string& text, uint32_t* value) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v > 0xFFFFFFFFu) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

bool ParseId(const std::string& text, std::array<uint8_t, 3>* id) {
  if (text.size() != 6) return false;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  const unsigned long v = std::strtoul(text.c_str(), nullptr, 16);
  *id = {static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
  return true;
}

// Applies one key of the name; false with a reason when it is not understood.
bool ApplyKey(const std::string& item, SimDeviceRequest* request, std::string* error) {
  const size_t eq = item.find('=');
  const std::string key = item.substr(0, eq);
  const bool hasValue = eq != std::string::npos;
  const std::string value = hasValue ? item.substr(eq + 1) : "";
  auto flag = [&](bool* field) {
    *field = true;
    return !hasValue;
  };
  auto path = [&](std::string* field) {
    *field = value;
    return !value.empty();
  };
  bool ok;
  if (key == "image") {
    ok = path(&request->imagePath);
  } else if (key == "trace") {
    ok = path(&request->tracePath);
  } else if (key == "summary") {
    ok = path(&request->summaryPath);
  } else if (key == "id") {
    std::array<uint8_t, 3> id{};
    ok = ParseId(value, &id);
    request->id = id;
  } else if (key == "fail") {
    ok = ParseUnsigned(value, &request->failCall) && request->failCall > 0;
  } else if (key == "hold") {
    ok = ParseUnsigned(value, &request->holdCall) && request->holdCall > 0;
  } else if (key == "latency") {
    uint32_t us = 0;
    ok = ParseUnsigned(value, &us);
    request->latencyUs = us;
  } else if (key == "nochip") {
    ok = flag(&request->noChip);
  } else if (key == "stuck") {
    ok = flag(&request->stuck);
  } else if (key == "protect") {
    ok = flag(&request->protect);
  } else if (key == "nocaps") {
    ok = flag(&request->noCaps);
  } else {
    *error = "unknown key '" + key + "'";
    return false;
  }
  if (!ok) *error = "bad value in '" + item + "'";
  return ok;
}

}  // namespace

bool ParseDeviceName(const std::string& name, SimDeviceRequest* request, std::string* error) {
  *request = SimDeviceRequest{};
  if (name.rfind(kSimPrefix, 0) != 0) {
    *error = "no backend for '" + name + "' (try sim:<chip>)";
    return false;
  }
  const std::vector<std::string> items = Split(name.substr(std::string(kSimPrefix).size()), ',');
  request->chip = items[0];
  if (request->chip.empty()) {
    *error = "no chip named";
    return false;
  }
  for (size_t i = 1; i < items.size(); ++i) {
    if (!ApplyKey(items[i], request, error)) return false;
  }
  return true;
}
