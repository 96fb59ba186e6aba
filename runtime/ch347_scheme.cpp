// SPDX-License-Identifier: MIT
// The ch347: scheme's row.
#include "runtime/ch347_scheme.h"

#include "runtime/ch347_backend.h"
#include "runtime/system_seams.h"

namespace {

bool ParsePin(const std::string& text, int count, std::optional<int>* pin) {
  uint32_t n = 0;
  if (!ParseUnsigned(text, &n) || n >= static_cast<uint32_t>(count)) return false;
  *pin = static_cast<int>(n);
  return true;
}

// `<GPIO>[:active-high]`: the reset line, active low unless told otherwise.
bool ParseReset(const std::string& text, Ch347DeviceRequest* request) {
  const std::vector<std::string> parts = SplitAt(text, ':');
  if (parts.size() > 2 || !ParsePin(parts[0], ch347::kGpioPins, &request->resetPin)) return false;
  request->resetActiveHigh = parts.size() == 2;
  return parts.size() == 1 || parts[1] == "active-high";
}

bool ApplyCh347Key(const KeyItem& item, Ch347DeviceRequest* request, bool* ok) {
  if (item.key == "index") {
    *ok = item.Unsigned(&request->index);
  } else if (item.key == "serial") {
    *ok = item.Path(&request->serial);
  } else if (item.key == "cs") {
    *ok = ParsePin(item.value, ch347::kChipSelects, &request->chipSelect);
  } else if (item.key == "reset") {
    *ok = ParseReset(item.value, request);
  } else if (item.key == "nobatch") {
    *ok = item.Flag(&request->noBatch);
  } else {
    return false;
  }
  return true;
}

// Every item is a key, and the first may be empty: `ch347:` alone, or
// `ch347:,trace=t.txt`, takes the first device found.
bool ParseCh347(const std::vector<std::string>& items, DeviceRequest* request, std::string* error) {
  Ch347DeviceRequest& ch347 = request->backend.emplace<Ch347DeviceRequest>();
  std::vector<std::string> keys = items;
  if (!keys[0].empty()) keys.insert(keys.begin(), "");
  return ApplyKeys(keys, &request->common, &ch347, ApplyCh347Key, error);
}

std::unique_ptr<Backend> OpenCh347(const Ch347DeviceRequest& request, TraceWriter& trace, std::string* error) {
  std::unique_ptr<UsbLibrary> usb = MakeCh347UsbLibrary(error);
  if (!usb) return nullptr;
  return Ch347Backend::Open(request, std::move(usb), trace, error);
}

bool ListCh347(std::vector<std::string>* names, std::string* error) {
  std::unique_ptr<UsbLibrary> usb = MakeCh347UsbLibrary(error);
  if (!usb) {
#ifdef ROMWICK_HAVE_LIBUSB
    *error = "ch347: " + *error;
    return false;
#else
    // A runtime built without libusb has no CH347 to find.
    error->clear();
    return true;
#endif
  }
  std::vector<Ch347Backend::Found> found;
  if (!Ch347Backend::Find(*usb, &found, error)) {
    *error = "ch347: " + *error;
    return false;
  }
  for (size_t i = 0; i < found.size(); ++i) names->push_back("ch347:index=" + std::to_string(i));
  return true;
}

}  // namespace

const BackendScheme kCh347Scheme = {
    .scheme = "ch347",
    .nameHint = "ch347:",
    .parse = ParseCh347,
    .open = OpenAs<Ch347DeviceRequest, OpenCh347>,
    .list = ListCh347,
    .manual = R"(ch347:[\fIkey\fP[=\fIvalue\fP]][,\fIkey\fP[=\fIvalue\fP]]...)",
};
