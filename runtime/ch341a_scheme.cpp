// SPDX-License-Identifier: MIT
// The ch341a: scheme's row.
#include "runtime/ch341a_scheme.h"

#include "runtime/ch341a_backend.h"
#include "runtime/system_seams.h"

namespace {

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

// Every item is a key, and the first may be empty: `ch341a:` alone, or
// `ch341a:,trace=t.txt`, takes the first device found.
bool ParseCh341a(const std::vector<std::string>& items, DeviceRequest* request, std::string* error) {
  Ch341aDeviceRequest& ch341a = request->backend.emplace<Ch341aDeviceRequest>();
  std::vector<std::string> keys = items;
  if (!keys[0].empty()) keys.insert(keys.begin(), "");
  return ApplyKeys(keys, &request->common, &ch341a, ApplyCh341aKey, error);
}

std::unique_ptr<Backend> OpenCh341a(const Ch341aDeviceRequest& request, TraceWriter& trace, std::string* error) {
  std::unique_ptr<UsbLibrary> usb = MakeUsbLibrary(error);
  if (!usb) return nullptr;
  return Ch341aBackend::Open(request, std::move(usb), trace, error);
}

bool ListCh341a(std::vector<std::string>* names, std::string* error) {
  std::unique_ptr<UsbLibrary> usb = MakeUsbLibrary(error);
  if (!usb) {
#ifdef ROMWICK_HAVE_LIBUSB
    *error = "ch341a: " + *error;
    return false;
#else
    // A runtime built without libusb has no CH341A to find.
    error->clear();
    return true;
#endif
  }
  std::vector<UsbDevicePlace> found;
  if (const int result = usb->Find(ch341a::kVendor, ch341a::kProduct, &found); result != 0) {
    *error = "ch341a: cannot list USB devices: " + usb->ErrorName(result);
    return false;
  }
  for (size_t i = 0; i < found.size(); ++i) names->push_back("ch341a:index=" + std::to_string(i));
  return true;
}

}  // namespace

const BackendScheme kCh341aScheme = {
    .scheme = "ch341a",
    .nameHint = "ch341a:",
    .parse = ParseCh341a,
    .open = OpenAs<Ch341aDeviceRequest, OpenCh341a>,
    .list = ListCh341a,
    .manual = R"(ch341a:[\fIkey\fP[=\fIvalue\fP]][,\fIkey\fP[=\fIvalue\fP]]...)",
};
