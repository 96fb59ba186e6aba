// SPDX-License-Identifier: MIT
// Interface bring-up and take-down.
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "app/flashapp.h"
#include "app/options.h"
#include "spi/device_list.h"
#include "spi/spictl.h"
#include "spi/spirt1.h"
#include "spi/spirt2.h"

namespace {

// Which attempt an Init failure belongs to, for its message.
enum class Attempt { Automatic = 0, FirstGeneration = 1, SecondGeneration = 2 };

bool OutOfMemory() { return Fail("Internal error: out of memory\n", RC_INTERNAL); }

bool InitFailed(Attempt attempt, int32_t error) {
  printf("Internal error");
  if (error == SPIERR_NO_LIBRARY) {
    printf(": Required DLL not found");
  } else if (error == SPIERR_ENTRY_POINT) {
    printf(": Incompatible interface DLL version");
  } else {
    printf(": Init failed(%d) err=%d", static_cast<int>(attempt), error);
  }
  return Fail("\n", RC_INTERNAL);
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
  const int32_t version = options.GetRuntimeVersion();
  if (version < 0 || version > 2) return Fail("Internal error: Invalid runtime version specified\n", RC_INTERNAL);
  const auto attempt = static_cast<Attempt>(version);
  if (attempt != Attempt::FirstGeneration) {
    if (CreateSecondGeneration()) return true;
    if (!controller) return OutOfMemory();
    if (attempt == Attempt::SecondGeneration) return InitFailed(attempt, ctlError);
    // The automatic choice discards the second generation silently; its failed Init released everything.
  }
  if (CreateFirstGeneration()) return true;
  return controller ? InitFailed(attempt, ctlError) : OutOfMemory();
}

bool FLASHAPP::OpenInterface() {
  const char* devName = options.GetDevName();
  if (!devName) return Fail("No SPI device specified\n", RC_MISSING_VALUE);
  if (!LoadController()) return false;
  // Refusals from here on come from a loaded runtime: the device cannot be used.
  controller->SetDeviceName(devName);
  if (!controller->Open(&ctlError)) {
    printf("Unable to connect to device: %s\n", devName);
    return Fail(nullptr, RC_DEVICE_ACCESS);
  }
  controller->SetPort(spiPort, &ctlError);
  if (!controller->EnableSpi(true, &ctlError)) {
    printf("Unable to enable SPI interface on device: %s\n", devName);
    return Fail(nullptr, RC_DEVICE_ACCESS);
  }
  if (!controller->SetSpiMode(0, 0, &ctlError)) {
    printf("Unable to initialize SPI interface on device: %s\n", devName);
    return Fail(nullptr, RC_DEVICE_ACCESS);
  }
  if (!controller->SetSpeed(kBringUpClockHz, &ctlError)) {
    return Fail("Unable to set SPI clock speed\n", RC_DEVICE_ACCESS);
  }
  return true;
}

void FLASHAPP::CloseInterface() {
  if (!controller) return;
  controller->SetSelect(false, &ctlError);
  controller->EnableSpi(false, &ctlError);
  controller->Close();
}

void FLASHAPP::ListDevices() {
  std::vector<std::string> names;
  const DeviceListResult result = ListInterfaceDevices(&names);
  if (result == DeviceListResult::kNoLibrary) {
    Fail("Internal error: Required DLL not found\n", RC_INTERNAL);
    return;
  }
  if (result == DeviceListResult::kNoEntryPoint) {
    Fail("Internal error: this device runtime cannot list interface devices\n", RC_INTERNAL);
    return;
  }
  for (const std::string& name : names) printf("%s\n", name.c_str());
  if (result == DeviceListResult::kIncomplete) {
    Fail("Unable to list every SPI interface device\n", RC_DEVICE_ACCESS);
  } else if (names.empty()) {
    printf("No SPI interface devices found\n");
  }
}
