// SPDX-License-Identifier: MIT
// Parsing an interface device name: its scheme picks the backend, whose
// parser reads what follows; the keys every scheme takes, and the reading
// of `<key>[=<value>]` items that the schemes' parsers share.
#pragma once

#include <any>
#include <cstdint>
#include <string>
#include <vector>

#include "base/text.h"

struct BackendScheme;

/// Keys every backend takes.
struct CommonKeys {
  std::string tracePath;    // empty: no trace
  std::string summaryPath;  // empty: no summary line of its own

  bool operator==(const CommonKeys&) const = default;
};

/// A parsed device name: the scheme before the first colon picks the
/// backend, whose parser leaves what the rest asks for in `backend`, as its
/// own request type (SimDeviceRequest for sim:, ...).
struct DeviceRequest {
  CommonKeys common;
  const BackendScheme* scheme = nullptr;  // null until a name has parsed
  std::any backend;

  /// The backend's request, or null when it is not a `Request`.
  template <typename Request>
  const Request* As() const {
    return std::any_cast<Request>(&backend);
  }
};

/// Parses a device name; false (with a reason in `error`) for a name that
/// does not parse, names no known backend, or carries an unknown key.
bool ParseDeviceName(const std::string& name, DeviceRequest* request, std::string* error);

/// One `<key>[=<value>]` item of a comma-separated list.
struct KeyItem {
  explicit KeyItem(const std::string& item);

  /// A key that takes no value: sets `*field`; false when a value was given.
  bool Flag(bool* field) const;
  /// A key whose value is a path: false when it is empty.
  bool Path(std::string* field) const;
  /// A key whose value is a number (ParseUnsigned).
  bool Unsigned(uint32_t* field) const;

  std::string text;  // as written
  std::string key;
  std::string value;
  bool hasValue;
};

/// A common key (trace=, summary=): false for a key that is none, `ok`
/// then left untouched; otherwise `ok` says whether the value was good. The
/// schemes' own Apply*Key functions answer the same way.
bool ApplyCommonKey(const KeyItem& item, CommonKeys* keys, bool* ok);

/// The items after the first are keys: the backend's own, which
/// `applyKey(item, request, &ok)` knows, or common ones. False, with the
/// reason in `error`, at an unknown key or a bad value.
template <typename Request, typename ApplyKey>
[[nodiscard]] bool ApplyKeys(const std::vector<std::string>& items, CommonKeys* common, Request* request,
                             ApplyKey applyKey, std::string* error) {
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

/// `text` cut at every `sep`.
std::vector<std::string> SplitAt(const std::string& text, char sep);
