// SPDX-License-Identifier: MIT
// POSIX implementation of the platform layer: dlopen, the monotonic clock,
// nanosleep, madvise, isatty, sigaction, and files put in place by rename.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
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


bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

namespace {

volatile std::sig_atomic_t caughtSignal = 0;

void RecordSignal(int signal) {
  if (caughtSignal == 0) caughtSignal = signal;
}

constexpr int kInterruptions[] = {SIGINT, SIGTERM, SIGHUP};

}  // namespace

void CatchInterruptions() {
  struct sigaction action {};
  action.sa_handler = RecordSignal;
  sigemptyset(&action.sa_mask);
  for (const int signal : kInterruptions) sigaddset(&action.sa_mask, signal);
  // Calls under way go on: the run looks at the record between its steps.
  action.sa_flags = SA_RESTART;
  for (const int signal : kInterruptions) {
    struct sigaction before {};
    // A shell starts background jobs with SIGINT ignored, nohup SIGHUP: so it stays.
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

int PendingInterruption() { return caughtSignal; }

void ForgetInterruption() { caughtSignal = 0; }

namespace {

mode_t CurrentUmask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

}  // namespace

namespace {

/// fopen's "w" modes as the "r+" mode that leaves the file as it is.
FILE* OpenInPlace(const char* path, const char* mode, Replacement* replacement) {
  const std::string update = std::string("r+") + (std::strchr(mode, 'b') ? "b" : "");
  FILE* stream = std::fopen(path, update.c_str());
  replacement->inPlace = stream != nullptr;
  return stream;
}

}  // namespace

FILE* OpenReplacement(const char* path, const char* mode, Replacement* replacement) {
  *replacement = Replacement{.temporary = {}, .target = path, .inPlace = false};
  std::string* target = &replacement->target;
  struct stat file {};
  const bool exists = stat(path, &file) == 0;
  struct stat link {};
  const bool dangling = !exists && lstat(path, &link) == 0;
  // Devices, pipes and links to nowhere are written where they are, as
  // nothing else can stand in for them.
  if ((exists && !S_ISREG(file.st_mode)) || dangling) return std::fopen(path, mode);
  if (exists) {
    if (access(path, W_OK) != 0) return nullptr;
    if (char* real = realpath(path, nullptr)) {
      *target = real;
      std::free(real);
    }
  }
  std::string name = *target + ".partial-XXXXXX";
  const int fd = mkstemp(name.data());
  // No second name can be made beside it (a folder that may not be written
  // in, say): the old file is opened without emptying it, and emptied only
  // once the new contents are ready to be written.
  if (fd < 0) return exists ? OpenInPlace(path, mode, replacement) : std::fopen(path, mode);
  fchmod(fd, exists ? file.st_mode & 07777 : 0666 & ~CurrentUmask());
  FILE* stream = fdopen(fd, mode);
  if (!stream) {
    close(fd);
    unlink(name.c_str());
    return nullptr;
  }
  replacement->temporary = name;
  return stream;
}

bool EmptyInPlace(FILE* stream) {
  return std::fflush(stream) == 0 && ftruncate(fileno(stream), 0) == 0 && std::fseek(stream, 0, SEEK_SET) == 0;
}

bool PutReplacementInPlace(const std::string& temporary, const std::string& target) {
  // On the disk before it takes the name, so that a power cut cannot leave
  // an empty file where the old one was.
  const int fd = open(temporary.c_str(), O_RDONLY);
  const bool synced = fd >= 0 && fsync(fd) == 0;
  if (fd >= 0) close(fd);
  if (synced && rename(temporary.c_str(), target.c_str()) == 0) return true;
  unlink(temporary.c_str());
  return false;
}

void DiscardReplacement(const std::string& temporary) {
  if (!temporary.empty()) unlink(temporary.c_str());
}

}  // namespace platform
