// SPDX-License-Identifier: MIT
// serprog_emulator <description>: the serprog emulator as a program of its
// own, for bench/: prints the name to give after `serprog:` on its first
// line and its side channel on the second (ROMWICK_TEST_SERPROG=channel=<it>),
// serves until SIGTERM or SIGINT, then saves the chip's image and writes its
// report (the description's report= file).
#include <csignal>
#include <cstdio>

#include "testsupport/serprog_emulator.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: serprog_emulator chip=<part>[,image=<file>][,report=<file>][,<key>]...\n");
    return 2;
  }
  // The signals are taken by sigwait, never delivered, in every thread.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  std::string error;
  std::unique_ptr<testsupport::SerprogEmulator> emulator =
      testsupport::SerprogEmulator::FromDescription(argv[1], &error);
  if (!emulator) {
    std::fprintf(stderr, "serprog_emulator: %s\n", error.c_str());
    return 1;
  }
  emulator->Start();
  std::printf("%s\n%s\n", emulator->DeviceName().c_str(), emulator->Channel().c_str());
  std::fflush(stdout);
  int signal = 0;
  sigwait(&stop, &signal);
  emulator->Stop();
  return 0;
}
