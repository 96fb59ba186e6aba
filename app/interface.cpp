// Interface bring-up and take-down.
#include <cstdio>
#include <memory>
#include <new>

#include "app/flashapp.h"
#include "app/options.h"
#include "spi/spictl.h"
#include "spi/spirt1.h"
#include "spi/spirt2.h"

namespace {

constexpr uint32_t kBringUpClockHz = 50000000;

// Which attempt an Init failure belongs to, for its message.
enum class Attempt { Automatic = 0, FirstGeneration = 1, SecondGeneration = 2 };

bool OutOfMemory() {
  printf("Internal error: out of memory\n");
  options.SetResultCode(RC_INTERNAL);
  return false;
}

bool InitFailed(Attempt attempt, int32_t error) {
  printf("Internal error");
  if (error == SPIERR_NO_LIBRARY) {
    printf(": Required DLL not found");
  } else if (error == SPIERR_ENTRY_POINT) {
    printf(": Incompatible interface DLL version");
  } else {
    printf(": Init failed(%d) err=%d", static_cast<int>(attempt), error);
  }
  printf("\n");
  options.SetResultCode(RC_INTERNAL);
  return false;
}

// A bring-up step the runtime refused after it loaded: the device cannot be used.
bool DeviceRefused() {
  options.SetResultCode(RC_DEVICE_ACCESS);
  return false;
}

}  // namespace

bool FLASHAPP::CreateFirstGeneration() {
  auto* rt1 = new (std::nothrow) SPIRT1;
  controller.reset(rt1);
  return rt1 && rt1->Init(nullptr, &ctlError);
}

bool FLASHAPP::CreateSecondGeneration() {
  auto* rt2 = new (std::nothrow) SPIRT2;
  controller.reset(rt2);
  return rt2 && rt2->Init(false, &ctlError);
}

bool FLASHAPP::LoadController() {
  switch (options.GetRuntimeVersion()) {
    case 0:
      if (CreateSecondGeneration()) return true;
      if (!controller) return OutOfMemory();
      // The second generation is discarded silently; its failed Init released everything.
      if (CreateFirstGeneration()) return true;
      return controller ? InitFailed(Attempt::Automatic, ctlError) : OutOfMemory();
    case 1:
      if (CreateFirstGeneration()) return true;
      return controller ? InitFailed(Attempt::FirstGeneration, ctlError) : OutOfMemory();
    case 2:
      if (CreateSecondGeneration()) return true;
      return controller ? InitFailed(Attempt::SecondGeneration, ctlError) : OutOfMemory();
    default:
      printf("Internal error: Invalid runtime version specified\n");
      options.SetResultCode(RC_INTERNAL);
      return false;
  }
}

bool FLASHAPP::OpenInterface() {
  const char* devName = options.GetDevName();
  if (!devName) {
    printf("No SPI device specified\n");
    options.SetResultCode(RC_MISSING_VALUE);
    return false;
  }
  if (!LoadController()) return false;
  controller->SetDeviceName(devName);
  if (!controller->Open(&ctlError)) {
    printf("Unable to connect to device: %s\n", devName);
    return DeviceRefused();
  }
  controller->SetPort(spiPort, &ctlError);
  if (!controller->EnableSpi(true, &ctlError)) {
    printf("Unable to enable SPI interface on device: %s\n", devName);
    return DeviceRefused();
  }
  if (!controller->SetSpiMode(0, 0, &ctlError)) {
    printf("Unable to initialize SPI interface on device: %s\n", devName);
    return DeviceRefused();
  }
  if (!controller->SetSpeed(kBringUpClockHz, &ctlError)) {
    printf("Unable to set SPI clock speed\n");
    return DeviceRefused();
  }
  return true;
}

void FLASHAPP::CloseInterface() {
  if (!controller) return;
  controller->SetSelect(false, &ctlError);
  controller->EnableSpi(false, &ctlError);
  controller->Close();
}
