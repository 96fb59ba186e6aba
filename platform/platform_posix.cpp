// POSIX implementation of the platform layer: dlopen, the monotonic clock,
// nanosleep, madvise.
#include <dlfcn.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "platform/platform.h"

namespace platform {

Module LoadModule(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }

void* FindEntry(Module module, const char* name) {
  return module ? dlsym(module, name) : nullptr;
}

void FreeModule(Module module) {
  if (module) dlclose(module);
}

bool ModuleIsLoaded(const char* path) {
  Module module = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
  if (!module) return false;
  dlclose(module);
  return true;
}

std::string ModuleFileName(const char* dllName) {
  std::string base(dllName);
  const size_t dot = base.rfind('.');
  if (dot != std::string::npos && strcasecmp(base.c_str() + dot, ".dll") == 0) base.resize(dot);
#ifdef __APPLE__
  return "lib" + base + ".dylib";
#else
  return "lib" + base + ".so";
#endif
}

std::string JoinPath(const char* folder, const char* file) {
  return std::string(folder) + "/" + file;
}

void AdviseLargePages(void* data, size_t size) {
#ifdef MADV_HUGEPAGE
  // The advice goes by whole pages; those the range only shares with its
  // neighbours are left alone.
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t first = (reinterpret_cast<uintptr_t>(data) + page - 1) & ~(page - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + size) & ~(page - 1);
  if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
  (void)data;
  (void)size;
#endif
}

// The status polls read the tick once per poll, millions of times in a
// whole-chip erase. The coarse clock is read without asking the time source
// and moves every few milliseconds: as fine as the other system's tick, and
// fine enough for deadlines of hundreds of milliseconds.
#ifdef CLOCK_MONOTONIC_COARSE
constexpr clockid_t kTickClock = CLOCK_MONOTONIC_COARSE;
#else
constexpr clockid_t kTickClock = CLOCK_MONOTONIC;
#endif

uint32_t SystemTickCount() {
  timespec ts{};
  clock_gettime(kTickClock, &ts);
  // Truncation to 32 bits is the point: the tick wraps like the Windows one.
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                               static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

void SystemSleep(uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

}  // namespace platform
