// The entry point: the order of a whole run.
#include <cstdio>
#include <cstdlib>

#include "app/flashapp.h"
#include "app/options.h"

int main(int argc, char** argv) {
  flashApp.Startup();
  if (!flashApp.ParseCommandLine(argc, argv) || options.GetPrintUsage()) {
    PrintUsage();
  } else if (options.GetPrintVersion()) {
    PrintVersion();
  } else if (flashApp.OpenInterface()) {
    flashApp.RunOperations();
  }
  flashApp.CloseInterface();
  flashApp.Shutdown();
  fflush(stdout);
  std::exit(options.GetResultCode());
}
