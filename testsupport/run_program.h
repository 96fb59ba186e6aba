// SPDX-License-Identifier: MIT
// Test helpers that run the built romwick binary and work with scratch files.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

struct ProgramResult {
  int exitCode = -1;
  std::string output;  // everything the program wrote to standard output
  std::string errors;  // ... and to standard error
};

/// The build folder (where romwick and the runtime libraries are).
std::string BuildDir();

/// The source tree's root.
std::string SourceDir();

/// Runs `program` (a path) with `args`, standard output and standard error
/// captured, standard input closed, environment inherited plus `env`
/// ("NAME=value" entries), in `workingDir` (the test's own when empty).
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& env = {}, const std::string& workingDir = "");

/// The path of the outside tool `name` from PATH, or "" when it is not
/// installed (a test that needs it then skips).
std::string FindTool(const std::string& name);

/// Runs build/romwick with `args`.
ProgramResult RunRomwick(const std::vector<std::string>& args);

/// The runtime laid out with the test build of its core, whose test doubles
/// stand behind device names (the testrt-doubles folder of the build).
std::string TestDoublesRuntime();

/// Runs the program built with test hooks (romwick_testrt) with `args`, its
/// runtime the one of TestDoublesRuntime(), the doubles described by `env`:
/// "ROMWICK_TEST_FAKE_SPIDEV=...", "ROMWICK_TEST_FTDI=...",
/// "ROMWICK_TEST_CH341A=..." (without one, that backend reaches the real
/// system).
ProgramResult RunOnTestDoubles(const std::vector<std::string>& args, const std::vector<std::string>& env);

/// The folder of runtime folders that each lack something, for the program
/// built with test hooks: gen1only, noclock, nolist and none (app/CMakeLists.txt).
std::string IncompleteRuntimes();

/// A program started in the background, its standard input closed, its
/// standard output on a pipe and its standard error on a pipe or on a
/// pseudo-terminal (for output that only appears where someone watches),
/// environment inherited plus `env`, in `workingDir` (the test's own when
/// empty). Killed and waited for if it still runs when the object goes.
class RunningProgram {
 public:
  enum class ErrorStream { kPipe, kTerminal };

  RunningProgram(const std::string& program, const std::vector<std::string>& args,
                 ErrorStream errors = ErrorStream::kPipe, const std::vector<std::string>& env = {},
                 const std::string& workingDir = "");
  ~RunningProgram();
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  /// Reads the program's output until `text` has appeared on its standard
  /// error; false when the program closed it first, or after a minute.
  bool WaitForError(const std::string& text);
  void Signal(int signal);
  /// Reads everything up to the end and waits for the program to exit.
  ProgramResult Finish();

 private:
  /// Takes in what is ready on either stream, waiting at most `timeoutMs`
  /// (-1: as long as it takes); false when neither stream has anything more
  /// to give, or nothing came in time.
  bool Pump(int timeoutMs);

  int pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  ProgramResult result_;
};

/// Runs build/romwick with `args` in the background (RunningProgram).
std::unique_ptr<RunningProgram> StartRomwick(const std::vector<std::string>& args,
                                             RunningProgram::ErrorStream errors = RunningProgram::ErrorStream::kPipe);

/// Runs `body` in a child process (a copy of this one) whose writes may not
/// take a file past `limit` bytes: a write that would fails, or with
/// `killAtLimit` kills the child in the middle of it, as a user's kill would.
/// Returns body's result as the child's exit code, or nullopt when the child
/// was killed.
std::optional<int> RunWithFileSizeLimit(uint64_t limit, bool killAtLimit, const std::function<int()>& body);

/// A fresh, empty folder that is removed with the object.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

/// `n` bytes that look random and are the same for the same `seed`: file
/// and chip contents whose every byte tells where it came from.
std::string Pattern(size_t n, uint32_t seed);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

}  // namespace testsupport
