// Windows implementation of the platform layer: the real library and tick calls.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "platform/platform.h"

namespace platform {

Module LoadModule(const char* path) { return reinterpret_cast<Module>(::LoadLibraryA(path)); }

void* FindEntry(Module module, const char* name) {
  if (!module) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

void FreeModule(Module module) {
  if (module) ::FreeLibrary(static_cast<HMODULE>(module));
}

bool ModuleIsLoaded(const char* path) { return ::GetModuleHandleA(path) != nullptr; }

std::string ModuleFileName(const char* dllName) { return dllName; }

std::string JoinPath(const char* folder, const char* file) {
  return std::string(folder) + "\\" + file;
}

// Large pages need a privilege that users do not hold by default.
void AdviseLargePages(void*, size_t) {}

uint32_t SystemTickCount() { return ::GetTickCount(); }

void SystemSleep(uint32_t ms) { ::Sleep(ms); }

}  // namespace platform
