// Interface bring-up and take-down.
#include <cstdio>

#include "app/flashapp.h"
#include "app/options.h"
#include "spi/spictl.h"

bool FLASHAPP::OpenInterface() {
  if (!options.GetDevName()) {
    printf("No SPI device specified\n");
    options.SetResultCode(RC_MISSING_VALUE);
    return false;
  }
  printf("Internal error: Required DLL not found\n");
  options.SetResultCode(RC_INTERNAL);
  return false;
}

void FLASHAPP::CloseInterface() {
  if (!controller) return;
  controller->SetSelect(false, &ctlError);
  controller->EnableSpi(false, &ctlError);
  controller->Close();
}
