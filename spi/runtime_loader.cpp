// SPDX-License-Identifier: MIT
// Loading a device runtime library from the runtime folder or by bare name.
#include "spi/runtime_loader.h"

#include <string>

platform::Module LoadRuntimeLibrary(const char* file) {
  const std::string name = platform::ModuleFileName(file);
  const std::string path = platform::JoinPath(platform::RuntimeFolder(), name.c_str());
  platform::Module module = platform::LoadModule(path.c_str());
  return module ? module : platform::LoadModule(name.c_str());
}
