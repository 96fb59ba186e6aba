// SPDX-License-Identifier: MIT
// The backends by scheme, each one's opener beside its lister.
#include "runtime/backends.h"

#include <algorithm>

#include "runtime/ch341a_backend.h"
#include "runtime/ftdi_backend.h"
#include "runtime/sim_backend.h"
#include "runtime/system_seams.h"
#ifdef ROMWICK_HAVE_SPIDEV
#include "runtime/spidev_backend.h"
#endif

namespace {

std::unique_ptr<Backend> OpenSpidev(const SpidevDeviceRequest& request, TraceWriter& trace, std::string* error) {
#ifdef ROMWICK_HAVE_SPIDEV
  std::unique_ptr<SpidevSystem> system = MakeSpidevSystem(error);
  if (!system) return nullptr;
  std::unique_ptr<GpioLine> resetLine;
  if (request.reset && !(resetLine = MakeGpioLine(error))) return nullptr;
  return SpidevBackend::Open(request, std::move(system), std::move(resetLine), trace, error);
#else
  (void)request;
  (void)trace;
  *error = "spidev: names a Linux spidev node, and this runtime was not built for Linux";
  return nullptr;
#endif
}

bool ListSpidevDevices(std::vector<std::string>* names, std::string* error) {
#ifdef ROMWICK_HAVE_SPIDEV
  std::unique_ptr<SpidevSystem> system = MakeSpidevSystem(error);
  if (!system) return false;
  for (const std::string& node : system->Nodes()) names->push_back("spidev:" + node);
#else
  (void)names;
  (void)error;
#endif
  return true;
}

std::unique_ptr<Backend> OpenFtdi(const FtdiDeviceRequest& request, TraceWriter& trace, std::string* error) {
  std::unique_ptr<FtdiUsb> usb = MakeFtdiUsb(error);
  if (!usb) return nullptr;
  return FtdiBackend::Open(request, std::move(usb), trace, error);
}

bool ListFtdiDevices(std::vector<std::string>* names, std::string* error) {
  std::unique_ptr<FtdiUsb> usb = MakeFtdiUsb(error);
  // A runtime built without libftdi has no FTDI devices to find.
  if (!usb) return true;
  if (FtdiBackend::List(*usb, names, error)) return true;
  *error = "ftdi: cannot list USB devices: " + *error;
  return false;
}

std::unique_ptr<Backend> OpenCh341a(const Ch341aDeviceRequest& request, TraceWriter& trace, std::string* error) {
  std::unique_ptr<UsbLibrary> usb = MakeUsbLibrary(error);
  if (!usb) return nullptr;
  return Ch341aBackend::Open(request, std::move(usb), trace, error);
}

bool ListCh341aDevices(std::vector<std::string>* names, std::string* error) {
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

using Lister = bool (*)(std::vector<std::string>* names, std::string* error);
constexpr Lister kListers[] = {ListSpidevDevices, ListFtdiDevices, ListCh341aDevices};

}  // namespace

std::unique_ptr<Backend> OpenBackend(const DeviceRequest& request, TraceWriter& trace, std::string* error) {
  if (const auto* sim = std::get_if<SimDeviceRequest>(&request.backend)) return SimBackend::Open(*sim, error);
  if (const auto* ftdi = std::get_if<FtdiDeviceRequest>(&request.backend)) return OpenFtdi(*ftdi, trace, error);
  if (const auto* ch341a = std::get_if<Ch341aDeviceRequest>(&request.backend)) {
    return OpenCh341a(*ch341a, trace, error);
  }
  return OpenSpidev(std::get<SpidevDeviceRequest>(request.backend), trace, error);
}

bool ListDevices(std::vector<std::string>* names, std::string* error) {
  bool all = true;
  for (Lister list : kListers) {
    std::string reason;
    if (list(names, &reason)) continue;
    *error += (all ? "" : "; ") + reason;
    all = false;
  }
  return all;
}
