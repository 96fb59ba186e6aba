// SPDX-License-Identifier: MIT
// Parsing of interface device names.
#include "runtime/device_name.h"

#include "runtime/backends.h"

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
  const BackendScheme* row = colon == std::string::npos ? nullptr : FindScheme(name.substr(0, colon));
  if (!row) {
    *error = "no backend for '" + name + "' (try " + SchemeHint() + ")";
    return false;
  }
  request->scheme = row;
  return row->parse(SplitAt(name.substr(colon + 1), ','), request, error);
}
