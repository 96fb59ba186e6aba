// SPDX-License-Identifier: MIT
// Windows implementation of the platform layer: the real library and tick
// calls, the console, and files put in place by MoveFileEx.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <io.h>
#include <sys/stat.h>

#include <csignal>

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

bool StandardErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

namespace {

volatile LONG caughtSignal = 0;

// Runs on a thread of its own; returning TRUE keeps the process alive, so
// that the run can end cleanly.
BOOL WINAPI RecordControlEvent(DWORD event) {
  const LONG signal = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? SIGINT : SIGTERM;
  InterlockedCompareExchange(&caughtSignal, signal, 0);
  return TRUE;
}

}  // namespace

void CatchInterruptions() { ::SetConsoleCtrlHandler(RecordControlEvent, TRUE); }

int PendingInterruption() { return static_cast<int>(caughtSignal); }

void ForgetInterruption() { InterlockedExchange(&caughtSignal, 0); }

FILE* OpenReplacement(const char* path, const char* mode, Replacement* replacement) {
  *replacement = Replacement{.temporary = {}, .target = path, .inPlace = false};
  struct _stat file {};
  const bool exists = _stat(path, &file) == 0;
  if (exists && (file.st_mode & _S_IFREG) == 0) return std::fopen(path, mode);
  if (exists && _access(path, 2) != 0) return nullptr;
  const std::string name = std::string(path) + ".partial-" + std::to_string(::GetCurrentProcessId());
  FILE* stream = std::fopen(name.c_str(), mode);
  if (stream) {
    replacement->temporary = name;
    return stream;
  }
  if (!exists) return std::fopen(path, mode);
  // The old file stays whole until the new contents are ready to be written.
  const std::string update = std::string("r+") + (std::strchr(mode, 'b') ? "b" : "t");
  stream = std::fopen(path, update.c_str());
  replacement->inPlace = stream != nullptr;
  return stream;
}

bool EmptyInPlace(FILE* stream) {
  return std::fflush(stream) == 0 && _chsize_s(_fileno(stream), 0) == 0 && std::fseek(stream, 0, SEEK_SET) == 0;
}

bool PutReplacementInPlace(const std::string& temporary, const std::string& target) {
  if (::MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  ::DeleteFileA(temporary.c_str());
  return false;
}

void DiscardReplacement(const std::string& temporary) {
  if (!temporary.empty()) ::DeleteFileA(temporary.c_str());
}

}  // namespace platform
