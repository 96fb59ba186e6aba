// SPDX-License-Identifier: MIT
// The application object's life cycle: start-up and shut-down.
#include "app/flashapp.h"

#include <new>

#include "app/options.h"
#include "flash/sfprg.h"
#include "platform/platform.h"
#include "spi/spictl.h"

FLASHAPP flashApp;

FLASHAPP::FLASHAPP() = default;
FLASHAPP::~FLASHAPP() = default;

bool FLASHAPP::Startup() {
  if (!options.SetDefaults()) {
    options.SetResultCode(RC_INTERNAL);
    return false;
  }
  programmer.reset(new (std::nothrow) SFPRG);
  if (!programmer) {
    options.SetResultCode(RC_OUT_OF_MEMORY);
    return false;
  }
  if (!programmer->Init()) {
    programmer->Term();
    programmer.reset();
    options.SetResultCode(RC_INTERNAL);
    return false;
  }
  imageBuffer.reset(new (std::nothrow) uint8_t[kImageBufferSize]);
  if (!imageBuffer) {
    Fail("Out of memory\n", RC_OUT_OF_MEMORY);
  } else {
    // A whole-chip transfer fills all of it.
    platform::AdviseLargePages(imageBuffer.get(), kImageBufferSize);
  }
  return true;
}

void FLASHAPP::Shutdown() {
  if (programmer) {
    programmer->Term();
    programmer.reset();
  }
  if (controller) {
    controller->Term();
    controller.reset();
  }
  // A file the chip was being read into, not saved whole, goes with it; a
  // close that failed has recorded its message and result code already.
  static_cast<void>(CloseImageFile());
  imageBuffer.reset();
  options.FreeNames();
}
