// SPDX-License-Identifier: MIT
// A library planted where the user runs the program, under the names the
// program looks up by bare name: loading it leaves a mark.
#include <cstdio>
#include <cstdlib>

__attribute__((constructor)) static void LeaveMark() {
  if (const char* mark = std::getenv("ROMWICK_PLANTED_MARK")) {
    if (std::FILE* f = std::fopen(mark, "w")) std::fclose(f);
  }
}
