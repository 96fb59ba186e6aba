// The backends by scheme.
#include "runtime/backends.h"

#include "runtime/sim_backend.h"
#ifdef ROMWICK_HAVE_SPIDEV
#include "runtime/spidev_backend.h"
#include "runtime/system_seams.h"
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

}  // namespace

std::unique_ptr<Backend> OpenBackend(const DeviceRequest& request, TraceWriter& trace, std::string* error) {
  if (const auto* sim = std::get_if<SimDeviceRequest>(&request.backend)) return SimBackend::Open(*sim, error);
  return OpenSpidev(std::get<SpidevDeviceRequest>(request.backend), trace, error);
}
