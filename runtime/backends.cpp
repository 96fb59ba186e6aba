// The backends by scheme.
#include "runtime/backends.h"

#include "runtime/ch341a_backend.h"
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

std::unique_ptr<Backend> OpenCh341a(const Ch341aDeviceRequest& request, TraceWriter& trace, std::string* error) {
  std::unique_ptr<UsbLibrary> usb = MakeUsbLibrary(error);
  if (!usb) return nullptr;
  return Ch341aBackend::Open(request, std::move(usb), trace, error);
}

}  // namespace

bool ListCh341aDevices(std::vector<std::string>* names, std::string* error) {
  std::unique_ptr<UsbLibrary> usb = MakeUsbLibrary(error);
  if (!usb) return false;
  std::vector<UsbDevicePlace> found;
  if (const int result = usb->Find(ch341a::kVendor, ch341a::kProduct, &found); result != 0) {
    *error = "cannot list the USB devices: " + usb->ErrorName(result);
    return false;
  }
  for (size_t i = 0; i < found.size(); ++i) names->push_back("ch341a:index=" + std::to_string(i));
  return true;
}

std::unique_ptr<Backend> OpenBackend(const DeviceRequest& request, TraceWriter& trace, std::string* error) {
  if (const auto* sim = std::get_if<SimDeviceRequest>(&request.backend)) return SimBackend::Open(*sim, error);
  if (const auto* ch341a = std::get_if<Ch341aDeviceRequest>(&request.backend)) {
    return OpenCh341a(*ch341a, trace, error);
  }
  return OpenSpidev(std::get<SpidevDeviceRequest>(request.backend), trace, error);
}
