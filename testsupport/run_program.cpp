// SPDX-License-Identifier: MIT
// Running the built binary from tests, and scratch files.
#include "testsupport/run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace testsupport {

std::string BuildDir() { return ROMWICK_BUILD_DIR; }
std::string SourceDir() { return ROMWICK_SOURCE_DIR; }

namespace {

/// The argument and environment arrays execve takes, over `strings`.
std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

RunningProgram::RunningProgram(const std::string& program, const std::vector<std::string>& args,
                               ErrorStream errors, const std::vector<std::string>& env,
                               const std::string& workingDir) {
  int out[2];
  if (pipe(out) != 0) throw std::runtime_error("pipe");
  int err[2] = {-1, -1};
  std::string terminal;
  if (errors == ErrorStream::kTerminal) {
    err[0] = posix_openpt(O_RDWR | O_NOCTTY);
    if (err[0] < 0 || grantpt(err[0]) != 0 || unlockpt(err[0]) != 0) throw std::runtime_error("pseudo-terminal");
    terminal = ptsname(err[0]);
  } else if (pipe(err) != 0) {
    throw std::runtime_error("pipe");
  }
  std::vector<std::string> argStore{program};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv = Pointers(argStore);
  std::vector<std::string> envStore;
  for (char** e = environ; *e; ++e) envStore.emplace_back(*e);
  envStore.insert(envStore.end(), env.begin(), env.end());
  std::vector<char*> envp = Pointers(envStore);

  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork");
  if (pid_ == 0) {
    dup2(out[1], 1);
    const int errorFd = terminal.empty() ? err[1] : open(terminal.c_str(), O_RDWR | O_NOCTTY);
    dup2(errorFd, 2);
    const int devNull = open("/dev/null", O_RDONLY);
    dup2(devNull, 0);
    for (int fd : {out[0], out[1], err[0], err[1], errorFd, devNull}) {
      if (fd > 2) close(fd);
    }
    if (!workingDir.empty() && chdir(workingDir.c_str()) != 0) _exit(126);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(out[1]);
  if (err[1] >= 0) close(err[1]);
  out_ = out[0];
  err_ = err[0];
}

RunningProgram::~RunningProgram() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  for (int fd : {out_, err_}) {
    if (fd >= 0) close(fd);
  }
}

bool RunningProgram::Pump(int timeoutMs) {
  if (out_ < 0 && err_ < 0) return false;
  // Both streams are drained together, so that neither fills up and stops the program.
  pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
  int ready;
  while ((ready = poll(fds, 2, timeoutMs)) < 0) {
    if (errno != EINTR) throw std::runtime_error("poll");
  }
  if (ready == 0) return false;
  std::string* sinks[2] = {&result_.output, &result_.errors};
  int* streams[2] = {&out_, &err_};
  char buf[65536];
  for (int i = 0; i < 2; ++i) {
    if (fds[i].fd < 0 || fds[i].revents == 0) continue;
    const ssize_t n = read(fds[i].fd, buf, sizeof buf);
    if (n > 0) {
      sinks[i]->append(buf, static_cast<size_t>(n));
    } else {
      // The end of the stream; a pseudo-terminal reports it as an error once
      // the program has closed its side.
      close(*streams[i]);
      *streams[i] = -1;
    }
  }
  return true;
}

bool RunningProgram::WaitForError(const std::string& text) {
  constexpr int kPatienceMs = 60000;
  while (result_.errors.find(text) == std::string::npos) {
    if (!Pump(kPatienceMs)) return false;
  }
  return true;
}

void RunningProgram::Signal(int signal) { kill(pid_, signal); }

ProgramResult RunningProgram::Finish() {
  while (Pump(-1)) {
  }
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  result_.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result_;
}

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& env, const std::string& workingDir) {
  return RunningProgram(program, args, RunningProgram::ErrorStream::kPipe, env, workingDir).Finish();
}

ProgramResult RunRomwick(const std::vector<std::string>& args) {
  return RunProgram(BuildDir() + "/romwick", args);
}

std::string TestDoublesRuntime() { return ROMWICK_DOUBLES_RUNTIME; }

ProgramResult RunOnTestDoubles(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  std::vector<std::string> all{"ROMWICK_TEST_RUNTIME_DIR=" + TestDoublesRuntime()};
  all.insert(all.end(), env.begin(), env.end());
  return RunProgram(BuildDir() + "/romwick_testrt", args, all);
}

std::string IncompleteRuntimes() { return ROMWICK_INCOMPLETE_RUNTIMES; }

std::unique_ptr<RunningProgram> StartRomwick(const std::vector<std::string>& args,
                                             RunningProgram::ErrorStream errors) {
  return std::make_unique<RunningProgram>(BuildDir() + "/romwick", args, errors);
}

std::optional<int> RunWithFileSizeLimit(uint64_t limit, bool killAtLimit, const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    const rlimit size{limit, limit};
    setrlimit(RLIMIT_FSIZE, &size);
    // The signal a write past the limit raises ends the process by default;
    // ignored, the write fails instead.
    std::signal(SIGXFSZ, killAtLimit ? SIG_DFL : SIG_IGN);
    _exit(body());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return std::nullopt;
}

ScratchDir::ScratchDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "romwick-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
  path_ = tmpl;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string Pattern(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    s[i] = static_cast<char>(seed >> 16);
  }
  return s;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

std::string FindTool(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path ? path : "");
  for (std::string folder; std::getline(folders, folder, ':');) {
    const std::filesystem::path candidate = std::filesystem::path(folder) / name;
    if (std::filesystem::is_regular_file(candidate)) return candidate.string();
  }
  return "";
}

}  // namespace testsupport
