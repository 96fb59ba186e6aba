// Running the built binary from tests, and scratch files.
#include "testsupport/run_program.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& env, const std::string& workingDir) {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe");
  std::vector<std::string> envStore;
  for (char** e = environ; *e; ++e) envStore.emplace_back(*e);
  envStore.insert(envStore.end(), env.begin(), env.end());

  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    const int devNull = open("/dev/null", O_RDONLY);
    dup2(devNull, 0);
    if (!workingDir.empty() && chdir(workingDir.c_str()) != 0) _exit(126);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& e : envStore) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(fds[1]);
  ProgramResult result;
  char buf[65536];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) result.output.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

ProgramResult RunRomwick(const std::vector<std::string>& args) {
  return RunProgram(BuildDir() + "/romwick", args);
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

}  // namespace testsupport
