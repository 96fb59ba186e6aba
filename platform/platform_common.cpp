// SPDX-License-Identifier: MIT
// The parts of the platform layer that need no operating-system call.
#include "platform/platform.h"

#ifndef ROMWICK_RUNTIME_DIR
#define ROMWICK_RUNTIME_DIR ""
#endif

namespace platform {

uint32_t SystemTickCount();
void SystemSleep(uint32_t ms);

namespace {
std::string runtimeFolderOverride;
bool runtimeFolderOverridden = false;
TickSource tickSource = nullptr;
Sleeper sleeper = nullptr;
}  // namespace

const char* RuntimeFolder() {
  return runtimeFolderOverridden ? runtimeFolderOverride.c_str() : ROMWICK_RUNTIME_DIR;
}

void SetRuntimeFolder(const char* folder) {
  runtimeFolderOverridden = folder != nullptr;
  runtimeFolderOverride = folder ? folder : "";
}

uint32_t GetTickCount() { return tickSource ? tickSource() : SystemTickCount(); }

void Sleep(uint32_t ms) {
  if (sleeper) {
    sleeper(ms);
  } else {
    SystemSleep(ms);
  }
}

void SetTickSource(TickSource source) { tickSource = source; }
void SetSleeper(Sleeper s) { sleeper = s; }

}  // namespace platform
