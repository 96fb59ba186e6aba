// SPDX-License-Identifier: MIT
// The command-line parser and the number parser of the application object.
#include <cstdio>
#include <cstring>

#include "app/flashapp.h"
#include "app/options.h"
#include "base/text.h"

namespace {

enum class Arg { None, Text, Number };

struct OptionEntry {
  const char* name;
  Arg arg;
  // Applies the option; `text` is the value argument, `number` its parsed
  // value. False only when a name copy could not be allocated.
  bool (*apply)(FLASHAPP& app, const char* text, uint32_t number);
};

bool SetFlags(bool read, bool write, bool bulk, bool range) {
  options.SetReadFlash(read);
  options.SetWriteFlash(write);
  options.SetBulkErase(bulk);
  options.SetRangeErase(range);
  return true;
}

const OptionEntry kOptions[] = {
    {"-d", Arg::Text, [](FLASHAPP&, const char* t, uint32_t) { return options.SetDevName(t); }},
    {"-m", Arg::Text, [](FLASHAPP&, const char* t, uint32_t) { return options.SetMemType(t); }},
    {"-w", Arg::Text,
     [](FLASHAPP&, const char* t, uint32_t) {
       if (!options.SetFileName(t)) return false;
       options.SetReadFlash(false);
       options.SetWriteFlash(true);
       return true;
     }},
    {"-r", Arg::Text,
     [](FLASHAPP&, const char* t, uint32_t) {
       return options.SetFileName(t) && SetFlags(true, false, false, false);
     }},
    {"-v", Arg::None, [](FLASHAPP&, const char*, uint32_t) { return true; }},
    {"-E", Arg::None,
     [](FLASHAPP&, const char*, uint32_t) {
       options.SetBulkErase(true);
       options.SetRangeErase(false);
       return true;
     }},
    {"-e", Arg::None,
     [](FLASHAPP&, const char*, uint32_t) {
       options.SetRangeErase(true);
       options.SetBulkErase(false);
       return true;
     }},
    {"-NE", Arg::None,
     [](FLASHAPP&, const char*, uint32_t) {
       options.SetRangeErase(false);
       options.SetBulkErase(false);
       return true;
     }},
    {"-a", Arg::Number, [](FLASHAPP&, const char*, uint32_t n) { options.SetAddress(n); return true; }},
    {"-l", Arg::Number,
     [](FLASHAPP&, const char*, uint32_t n) {
       options.SetLength(static_cast<int32_t>(n));
       return true;
     }},
    {"-id", Arg::None, [](FLASHAPP&, const char*, uint32_t) { options.SetPrintId(true); return true; }},
    {"-t", Arg::None, [](FLASHAPP&, const char*, uint32_t) { options.SetPrintTime(true); return true; }},
    {"-fb", Arg::None,
     [](FLASHAPP&, const char*, uint32_t) { options.SetFileFormat(FORMAT_BINARY); return true; }},
    {"-fi", Arg::None,
     [](FLASHAPP&, const char*, uint32_t) { options.SetFileFormat(FORMAT_INTEL_HEX); return true; }},
    {"-fh", Arg::None,
     [](FLASHAPP&, const char*, uint32_t) { options.SetFileFormat(FORMAT_RAW_HEX); return true; }},
    {"-cr", Arg::None,
     [](FLASHAPP&, const char*, uint32_t) { options.SetConfigReset(true); return true; }},
    {"-s", Arg::Number, [](FLASHAPP&, const char*, uint32_t n) { options.SetSpiSpeed(n); return true; }},
    {"-1", Arg::None,
     [](FLASHAPP&, const char*, uint32_t) { options.SetRuntimeVersion(1); return true; }},
    {"-2", Arg::None,
     [](FLASHAPP&, const char*, uint32_t) { options.SetRuntimeVersion(2); return true; }},
    {"-ver", Arg::None,
     [](FLASHAPP&, const char*, uint32_t) { options.SetPrintVersion(true); return true; }},
    {"-list", Arg::None,
     [](FLASHAPP&, const char*, uint32_t) { options.SetListDevices(true); return true; }},
    {"-p", Arg::Number,
     [](FLASHAPP& app, const char*, uint32_t n) {
       app.spiPort = static_cast<int32_t>(n);
       return true;
     }},
    {"-?", Arg::None, [](FLASHAPP&, const char*, uint32_t) { options.SetPrintUsage(true); return true; }},
    {"-NV", Arg::None, [](FLASHAPP&, const char*, uint32_t) { options.SetVerify(false); return true; }},
    {"-rv", Arg::None, [](FLASHAPP&, const char*, uint32_t) { options.SetReadTwice(true); return true; }},
    {"-u", Arg::None, [](FLASHAPP&, const char*, uint32_t) { options.SetUpdate(true); return true; }},
    {"-unprotect", Arg::None,
     [](FLASHAPP&, const char*, uint32_t) { options.SetUnprotect(true); return true; }},
};

const OptionEntry* FindOption(const char* arg) {
  for (const OptionEntry& option : kOptions) {
    if (std::strcmp(option.name, arg) == 0) return &option;
  }
  return nullptr;
}

bool SyntaxError() {
  options.SetPrintUsage(true);
  return Fail("syntax error on command line", RC_SYNTAX);
}

}  // namespace

bool FLASHAPP::ParseNumber(const char* text, uint32_t* value) { return ParseUnsigned(text, value); }

bool FLASHAPP::ParseCommandLine(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const OptionEntry* option = FindOption(argv[i]);
    if (!option) return SyntaxError();
    const char* text = nullptr;
    uint32_t number = 0;
    if (option->arg != Arg::None) {
      if (i + 1 >= argc) return SyntaxError();
      text = argv[++i];
      if (option->arg == Arg::Number && !ParseNumber(text, &number)) return SyntaxError();
    }
    if (!option->apply(*this, text, number)) return Fail("internal program error", RC_INTERNAL);
  }
  return true;
}
