// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/flashapp.h"
#include "app/options.h"

namespace {

// The fields of OPTIONS (and spiPort) that the parser may change, compared as a whole.
struct Parsed {
  std::string devName = "-", fileName = "-", memType = "-";
  int32_t fileFormat = 0;
  uint32_t address = 0;
  int32_t length = 0;
  uint32_t spiSpeed = 0;
  bool readFlash = false, writeFlash = false, bulkErase = false, rangeErase = true;
  bool printId = false, printTime = false, printVersion = false, printUsage = false;
  int32_t runtimeVersion = 0;
  bool configReset = false;
  bool verify = true, update = false, unprotect = false;
  int32_t spiPort = 0;
  int32_t resultCode = 0;
  bool operator==(const Parsed&) const = default;
};

std::string NameOr(const char* s) { return s ? s : "-"; }

Parsed Snapshot(const FLASHAPP& app) {
  Parsed p;
  p.devName = NameOr(options.GetDevName());
  p.fileName = NameOr(options.GetFileName());
  p.memType = NameOr(options.GetMemType());
  p.fileFormat = options.GetFileFormat();
  p.address = options.GetAddress();
  p.length = options.GetLength();
  p.spiSpeed = options.GetSpiSpeed();
  p.readFlash = options.GetReadFlash();
  p.writeFlash = options.GetWriteFlash();
  p.bulkErase = options.GetBulkErase();
  p.rangeErase = options.GetRangeErase();
  p.printId = options.GetPrintId();
  p.printTime = options.GetPrintTime();
  p.printVersion = options.GetPrintVersion();
  p.printUsage = options.GetPrintUsage();
  p.runtimeVersion = options.GetRuntimeVersion();
  p.configReset = options.GetConfigReset();
  p.verify = options.GetVerify();
  p.update = options.GetUpdate();
  p.unprotect = options.GetUnprotect();
  p.spiPort = app.spiPort;
  p.resultCode = options.GetResultCode();
  return p;
}

std::ostream& operator<<(std::ostream& os, const Parsed& p) {
  return os << "dev=" << p.devName << " file=" << p.fileName << " mem=" << p.memType
            << " fmt=" << p.fileFormat << " addr=" << p.address << " len=" << p.length
            << " speed=" << p.spiSpeed << " r=" << p.readFlash << " w=" << p.writeFlash
            << " E=" << p.bulkErase << " e=" << p.rangeErase << " id=" << p.printId
            << " t=" << p.printTime << " ver=" << p.printVersion << " usage=" << p.printUsage
            << " rt=" << p.runtimeVersion << " cr=" << p.configReset << " verify=" << p.verify
            << " u=" << p.update << " unprotect=" << p.unprotect << " port=" << p.spiPort
            << " rc=" << p.resultCode;
}

struct ParseCase {
  const char* label;
  std::vector<std::string> args;
  bool ok;
  void (*expect)(Parsed&);  // edits the defaults into the expected record
  const char* output;
};

class CommandLine : public testing::TestWithParam<ParseCase> {
 protected:
  void SetUp() override {
    options.SetDefaults();
    options.FreeNames();
  }
  void TearDown() override { options.FreeNames(); }
};

TEST_P(CommandLine, SetsExactlyWhatTheOptionsSay) {
  const ParseCase& c = GetParam();
  FLASHAPP app;
  std::vector<std::string> storage{"romwick"};
  storage.insert(storage.end(), c.args.begin(), c.args.end());
  std::vector<char*> argv;
  for (std::string& s : storage) argv.push_back(s.data());

  testing::internal::CaptureStdout();
  const bool ok = app.ParseCommandLine(static_cast<int>(argv.size()), argv.data());
  const std::string out = testing::internal::GetCapturedStdout();

  Parsed expected;
  c.expect(expected);
  EXPECT_EQ(ok, c.ok);
  EXPECT_EQ(Snapshot(app), expected);
  EXPECT_EQ(out, c.output);
}

const char* const kSyntax = "syntax error on command line";

void SyntaxError(Parsed& p) {
  p.printUsage = true;
  p.resultCode = 2;
}

const ParseCase kCases[] = {
    {"Empty", {}, true, [](Parsed&) {}, ""},
    {"Device", {"-d", "sim:M25P80"}, true, [](Parsed& p) { p.devName = "sim:M25P80"; }, ""},
    {"MemType", {"-m", "n25q128"}, true, [](Parsed& p) { p.memType = "n25q128"; }, ""},
    {"Write", {"-w", "a.bin"}, true,
     [](Parsed& p) {
       p.fileName = "a.bin";
       p.writeFlash = true;
     },
     ""},
    {"Read", {"-r", "a.bin"}, true,
     [](Parsed& p) {
       p.fileName = "a.bin";
       p.readFlash = true;
       p.rangeErase = false;
     },
     ""},
    {"ReadThenWriteLeavesNoErase", {"-r", "a", "-w", "b"}, true,
     [](Parsed& p) {
       p.fileName = "b";
       p.writeFlash = true;
       p.rangeErase = false;
     },
     ""},
    {"WriteThenReadLeavesReadWithoutErase", {"-w", "a", "-r", "b"}, true,
     [](Parsed& p) {
       p.fileName = "b";
       p.readFlash = true;
       p.rangeErase = false;
     },
     ""},
    {"ReadThenBulkErase", {"-r", "a", "-E"}, true,
     [](Parsed& p) {
       p.fileName = "a";
       p.readFlash = true;
       p.rangeErase = false;
       p.bulkErase = true;
     },
     ""},
    {"BulkEraseThenRead", {"-E", "-r", "a"}, true,
     [](Parsed& p) {
       p.fileName = "a";
       p.readFlash = true;
       p.rangeErase = false;
     },
     ""},
    {"BulkThenRangeErase", {"-E", "-e"}, true, [](Parsed&) {}, ""},
    {"RangeThenNoErase", {"-e", "-NE"}, true, [](Parsed& p) { p.rangeErase = false; }, ""},
    {"BulkErase", {"-E"}, true,
     [](Parsed& p) {
       p.bulkErase = true;
       p.rangeErase = false;
     },
     ""},
    {"VerboseChangesNothing", {"-v", "-v"}, true, [](Parsed&) {}, ""},
    {"AddressHex", {"-a", "0x10"}, true, [](Parsed& p) { p.address = 16; }, ""},
    {"AddressLeadingZeroIsDecimal", {"-a", "010"}, true, [](Parsed& p) { p.address = 10; }, ""},
    {"LengthUpperX", {"-l", "0X1f"}, true, [](Parsed& p) { p.length = 31; }, ""},
    {"Flags", {"-id", "-t", "-cr", "-ver", "-?"}, true,
     [](Parsed& p) {
       p.printId = p.printTime = p.configReset = p.printVersion = p.printUsage = true;
     },
     ""},
    {"Formats", {"-fi"}, true, [](Parsed& p) { p.fileFormat = 2; }, ""},
    {"FormatLaterWins", {"-fi", "-fh"}, true, [](Parsed& p) { p.fileFormat = 1; }, ""},
    {"FormatBinary", {"-fh", "-fb"}, true, [](Parsed&) {}, ""},
    {"Speed", {"-s", "1000000"}, true, [](Parsed& p) { p.spiSpeed = 1000000; }, ""},
    {"RuntimeOne", {"-2", "-1"}, true, [](Parsed& p) { p.runtimeVersion = 1; }, ""},
    {"RuntimeTwo", {"-2"}, true, [](Parsed& p) { p.runtimeVersion = 2; }, ""},
    {"Port", {"-p", "1"}, true, [](Parsed& p) { p.spiPort = 1; }, ""},
    {"NoVerify", {"-NV"}, true, [](Parsed& p) { p.verify = false; }, ""},
    // -u keeps the erase options as they are: the run decides what they mean with it.
    {"UpdateWithTheDefaultErase", {"-u", "-w", "a"}, true,
     [](Parsed& p) {
       p.update = true;
       p.fileName = "a";
       p.writeFlash = true;
     },
     ""},
    {"UpdateAndNoErase", {"-NE", "-u"}, true,
     [](Parsed& p) {
       p.update = true;
       p.rangeErase = false;
     },
     ""},
    {"Unprotect", {"-unprotect"}, true, [](Parsed& p) { p.unprotect = true; }, ""},
    {"LowerNv", {"-nv"}, false, SyntaxError, kSyntax},
    {"UnprotectIsWhole", {"-unprot"}, false, SyntaxError, kSyntax},
    {"LargestNumber", {"-a", "4294967295"}, true, [](Parsed& p) { p.address = 0xFFFFFFFFu; }, ""},
    {"DeviceWithoutValue", {"-d"}, false, SyntaxError, kSyntax},
    {"NumberWithoutValue", {"-t", "-l"}, false,
     [](Parsed& p) {
       p.printTime = true;
       SyntaxError(p);
     },
     kSyntax},
    {"UpperD", {"-D", "x"}, false, SyntaxError, kSyntax},
    {"UpperId", {"-ID"}, false, SyntaxError, kSyntax},
    {"DoubleDash", {"--d", "x"}, false, SyntaxError, kSyntax},
    {"BareWord", {"file.bin"}, false, SyntaxError, kSyntax},
    {"HexWithoutDigits", {"-a", "0x"}, false, SyntaxError, kSyntax},
    {"Suffix", {"-a", "1k"}, false, SyntaxError, kSyntax},
    {"Negative", {"-l", "-1"}, false, SyntaxError, kSyntax},
    {"Overflow", {"-a", "4294967296"}, false, SyntaxError, kSyntax},
    {"HexOverflow", {"-l", "0x100000000"}, false, SyntaxError, kSyntax},
    {"StopsAtFirstError", {"-t", "-x", "-E"}, false,
     [](Parsed& p) {
       p.printTime = true;
       SyntaxError(p);
     },
     kSyntax},
};

INSTANTIATE_TEST_SUITE_P(Options, CommandLine, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<ParseCase>& info) { return info.param.label; });

struct NumberCase {
  const char* text;
  bool ok;
  uint32_t value;
};

class Numbers : public testing::TestWithParam<NumberCase> {};

TEST_P(Numbers, DecimalOrHexAndNothingElse) {
  const NumberCase& c = GetParam();
  FLASHAPP app;
  uint32_t value = 0xDEADBEEF;
  EXPECT_EQ(app.ParseNumber(c.text, &value), c.ok) << '"' << c.text << '"';
  EXPECT_EQ(value, c.ok ? c.value : 0xDEADBEEF) << '"' << c.text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Table, Numbers,
    testing::Values(NumberCase{"0", true, 0}, NumberCase{"0x10", true, 16}, NumberCase{"010", true, 10},
                    NumberCase{"0X1f", true, 31}, NumberCase{"0xFFFFFFFF", true, 0xFFFFFFFFu},
                    NumberCase{"0x000000000001", true, 1}, NumberCase{"4294967295", true, 0xFFFFFFFFu},
                    NumberCase{"0x", false, 0}, NumberCase{"0X", false, 0}, NumberCase{"1k", false, 0},
                    NumberCase{"-1", false, 0}, NumberCase{"+1", false, 0}, NumberCase{" 1", false, 0},
                    NumberCase{"1 ", false, 0}, NumberCase{"", false, 0}, NumberCase{"0x1g", false, 0},
                    NumberCase{"1f", false, 0}, NumberCase{"4294967296", false, 0},
                    NumberCase{"0x100000000", false, 0}, NumberCase{"99999999999999999999", false, 0}));

}  // namespace
