// SPDX-License-Identifier: MIT
// The entry point: the order of a whole run.
#include <cstdio>
#include <cstdlib>

#include "app/flashapp.h"
#include "app/options.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
#ifdef ROMWICK_TEST_HOOKS
  // Test builds only: the bring-up tests point the runtime look-up at
  // folders of their own. The program itself takes nothing from the environment.
  if (const char* folder = std::getenv("ROMWICK_TEST_RUNTIME_DIR")) platform::SetRuntimeFolder(folder);
#endif
  // A signal from here on ends the run cleanly instead of killing it: the
  // interface device released and closed, the chip's command finished.
  platform::CatchInterruptions();
  // A failed start-up records its result code; the command line is still
  // read, so that usage and version requests are answered.
  static_cast<void>(flashApp.Startup());
  if (!flashApp.ParseCommandLine(argc, argv) || options.GetPrintUsage()) {
    PrintUsage();
  } else if (options.GetPrintVersion()) {
    PrintVersion();
  } else if (options.GetListDevices()) {
    flashApp.ListDevices();
  } else if (flashApp.OpenInterface()) {
    flashApp.RunOperations();
  }
  flashApp.CloseInterface();
  flashApp.Shutdown();
  // A signal the run did not come to see still ends it as interrupted.
  static_cast<void>(flashApp.Interrupted());
  fflush(stdout);
  std::exit(options.GetResultCode());
}
