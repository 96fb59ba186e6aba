// SPDX-License-Identifier: MIT
// The operating-system layer: run-time library loading, the millisecond tick
// and sleep, a memory hint, the terminal, interruptions and output files that
// replace their name only once complete. The program's own layers (base/,
// image/, flash/, spi/, app/) include no operating-system header and reach
// the system only through it. The device runtime's own code (runtime/) does
// not include it: its backends reach the kernel and the USB and serial
// devices through seams of their own (spidev_system.h, gpio_system.h,
// serial_system.h, usb_library.h, ftdi_usb.h), whose real implementations
// (linux_*.cpp, posix_serial_system.cpp, libusb_library.cpp,
// libftdi_usb.cpp) include the system headers; spidev_backend.cpp and
// gpio_line.cpp include the kernel's spidev and GPIO headers for their ioctl
// structures only. sim/'s simulated interface device includes <signal.h> to
// hold a call until a signal. Tests, test doubles and e2e/'s guest program
// include what they need.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

/// Handle of a loaded shared library; null when none is loaded.
using Module = void*;

/// Loads a shared library by path or, for a name without a folder, through
/// the platform's normal library search. Returns null on failure.
Module LoadModule(const char* path);

/// Looks an entry point up by name; null when the library lacks it.
void* FindEntry(Module module, const char* name);

/// Releases a library loaded with LoadModule. A null module is ignored.
void FreeModule(Module module);

/// True when the library at `path` is loaded in this process (tests).
[[nodiscard]] bool ModuleIsLoaded(const char* path);

/// Maps a runtime module file name in its Windows form ("hubcore.dll") to
/// this platform's convention ("libhubcore.so" on POSIX).
std::string ModuleFileName(const char* dllName);

/// The folder the device runtime libraries are looked for in first.
const char* RuntimeFolder();

/// Points the runtime folder elsewhere (tests); null restores the built-in one.
void SetRuntimeFolder(const char* folder);

/// `folder` and `file` joined with the platform's path separator.
std::string JoinPath(const char* folder, const char* file);

/// Tells the system that [data, data + size) is about to be used whole, so
/// that it may back the range with large pages: a 16 MB buffer then costs a
/// few page faults instead of thousands. A hint only, ignored where the
/// system has no such pages; the memory stays the caller's as it was.
void AdviseLargePages(void* data, size_t size);

/// The wrapping 32-bit millisecond tick count.
uint32_t GetTickCount();

/// Suspends the calling thread for `ms` milliseconds.
void Sleep(uint32_t ms);

/// Replaces the tick source and the sleeper (tests); null restores the real ones.
using TickSource = uint32_t (*)();
using Sleeper = void (*)(uint32_t ms);
void SetTickSource(TickSource source);
void SetSleeper(Sleeper sleeper);

/// True when standard error is a terminal, where someone watches the run.
[[nodiscard]] bool StandardErrorIsTerminal();

/// From now on the interrupting signals (SIGINT, SIGTERM, SIGHUP; Ctrl-C and
/// Ctrl-Break on the other system) only record that they came, so that the
/// run can end cleanly: the first one is kept, later ones change nothing. A
/// signal the process was started with ignored stays ignored.
void CatchInterruptions();
/// The number of the first interrupting signal caught; 0 when none was.
int PendingInterruption();
/// Forgets a caught signal (tests).
void ForgetInterruption();

/// How a file that is written whole (a chip read into it) reaches its name.
struct Replacement {
  /// The file the stream writes, put in place of `target` once complete;
  /// empty when the stream writes `target` itself.
  std::string temporary;
  std::string target;
  /// The stream is open on the old file, which is still whole: no second
  /// name could be made beside it. EmptyInPlace empties it just before the
  /// new contents are written.
  bool inPlace = false;
};

/// Opens `path` for writing with fopen's `mode`, so that a file already
/// under that name stays whole until the new one is complete: where `path`
/// names a regular file or nothing, the stream writes a temporary file beside
/// it (`temporary` names it, `target` the file it is to replace, a link
/// followed); where it names anything else (a device, a pipe), the stream
/// writes `path` itself. Where no temporary file can be made (a folder that
/// may not be written in, holding a file that may), the stream is open on the
/// old file, untouched (`inPlace`). Null when the file cannot be written at
/// all, an existing file that may not be written included. The new file gets
/// the mode a plain fopen would give it; one that replaces a file keeps its mode.
FILE* OpenReplacement(const char* path, const char* mode, Replacement* replacement);
/// Empties the old file a stream opened in place is on, and rewinds it.
[[nodiscard]] bool EmptyInPlace(FILE* stream);
/// Puts the completed, closed temporary file in place of `target`; false,
/// with the temporary removed, when it cannot.
[[nodiscard]] bool PutReplacementInPlace(const std::string& temporary, const std::string& target);
/// Removes a temporary file that will not be completed.
void DiscardReplacement(const std::string& temporary);

}  // namespace platform
