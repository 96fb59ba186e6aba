// SPDX-License-Identifier: MIT
// The common behaviour that every SPI controller inherits.
#include "spi/spictl.h"

#include <cstring>
#include <new>

bool SPICTL::CheckReady() {
  if (!flags.TestFlags(SPIF_OPEN)) {
    lastError = SPIERR_NOT_OPEN;
    return false;
  }
  if (!flags.TestFlags(SPIF_ENABLED)) {
    lastError = SPIERR_NOT_ENABLED;
    return false;
  }
  return true;
}

void SPICTL::Term() { deviceName.reset(); }

const char* SPICTL::SetDeviceName(const char* name) {
  deviceName.reset();
  const size_t size = std::strlen(name) + 1;
  deviceName.reset(new (std::nothrow) char[size]);
  if (deviceName) std::memcpy(deviceName.get(), name, size);
  return deviceName.get();
}

bool SPICTL::GetMgmtCaps(uint32_t*, int32_t*) { return false; }

bool SPICTL::ConfigReset(bool, int32_t*) { return false; }
