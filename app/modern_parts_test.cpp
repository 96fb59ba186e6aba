// SPDX-License-Identifier: MIT
// Today's serial NOR parts through the built program: identification, erase
// in the part's own units, writes across block and 16 MiB boundaries,
// protection and quad enable, 4-byte addressing, and parts known only by
// their SFDP. Each test compares the whole simulated chip.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/run_fixture.h"
#include "sim/sfdp_tables.h"

namespace {

using runtest::Run;
using testsupport::Pattern;
using testsupport::WriteFile;

constexpr uint32_t kMiB = 1u << 20;
constexpr uint32_t k16MiB = 16 * kMiB;

// What the tests know of each part, from its datasheet.
struct Part {
  const char* name;
  uint32_t size;
  const char* id;
  uint32_t smallestErase;
  uint32_t topProtectedAtBp1;  // bytes BP0 alone protects at the top
  uint8_t qeRegister;          // opcode reading the register that holds QE; 0: the part has none
  uint8_t qeBit;
};

const Part kParts[] = {
    {"W25Q128JV", 16 * kMiB, "EF 40 18", 4096, 256 * 1024, 0x35, 0x02},
    {"W25Q256JV", 32 * kMiB, "EF 40 19", 4096, 64 * 1024, 0x35, 0x02},
    {"GD25Q128C", 16 * kMiB, "C8 40 18", 4096, 256 * 1024, 0x35, 0x02},
    {"MX25L25645G", 32 * kMiB, "C2 20 19", 4096, 64 * 1024, 0x05, 0x40},
    {"IS25LP256", 32 * kMiB, "9D 60 19", 4096, 64 * 1024, 0x05, 0x40},
    {"MT25QL512", 64 * kMiB, "20 BA 20", 4096, 64 * 1024, 0, 0},
    // Only the 64 KiB erase: its 4 KiB erase works in the parameter sectors alone.
    {"S25FL256S", 32 * kMiB, "01 02 19", 65536, 512 * 1024, 0x35, 0x02},
};

uint64_t Down(uint64_t a, uint32_t unit) { return a / unit * unit; }
uint64_t Up(uint64_t a, uint32_t unit) { return (a + unit - 1) / unit * unit; }

/// The chip after erasing the units [start, end) touches and programming
/// `data` at `at` (nothing when empty).
std::string Expected(std::string chip, uint64_t start, uint64_t end, uint32_t unit, uint64_t at = 0,
                     const std::string& data = "") {
  const uint64_t from = Down(start, unit);
  const uint64_t to = std::min<uint64_t>(Up(end, unit), chip.size());
  std::fill(chip.begin() + static_cast<long>(from), chip.begin() + static_cast<long>(to), '\xFF');
  chip.replace(at, data.size(), data);
  return chip;
}

/// The first bytes sent in each select period of a trace, with their count.
std::vector<std::string> Commands(const std::string& trace) {
  static const std::regex kTx(R"(n=[0-9]+\) tx ((?:[0-9A-F]{2} ?)+))");
  std::vector<std::string> commands;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (!std::regex_search(line, m, kTx)) continue;
    std::string bytes = m[1];
    while (!bytes.empty() && bytes.back() == ' ') bytes.pop_back();
    commands.push_back(bytes);
  }
  return commands;
}

class ModernPart : public Run, public testing::WithParamInterface<Part> {
 protected:
  const Part& P() const { return GetParam(); }
  runtest::Chip Chip() const { return {P().name, P().size, P().smallestErase, P().id}; }
  std::string Trace() const { return testsupport::ReadFile(trace); }
  const std::string trace = dir.File("trace.txt");
};

TEST_P(ModernPart, IdentifiesByItsCode) {
  const auto run = Romwick({"-d", Dev(Chip()), "-id"});
  EXPECT_EQ(run.output, std::string("  Device ID: ") + P().id + "\n");
  EXPECT_EQ(run.exitCode, 0);
}

// A write across a 64 KiB block boundary, and on the larger parts across
// 16 MiB: only the smallest units it touches are erased, the rest of the
// chip keeps what it held.
TEST_P(ModernPart, WritesAcrossBlockAndSixteenMebibyteBoundaries) {
  std::vector<uint32_t> addresses = {0x7F800};
  if (P().size > k16MiB) addresses.push_back(k16MiB - 0x900);
  for (uint32_t at : addresses) {
    SCOPED_TRACE(at);
    const std::string before = Seed(Chip(), at);
    const std::string data = Pattern(0x1234, 99);
    const std::string input = File("in.bin", data);
    const auto run = Romwick({"-d", Dev(Chip()), "-w", input, "-a", std::to_string(at)});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(Contents(), Expected(before, at, at + data.size(), P().smallestErase, at, data));
  }
}

// The fewest commands: 64 KiB blocks inside, the smallest units at the edges.
TEST_P(ModernPart, RangeEraseUsesTheLargestAlignedBlocksInside) {
  const std::string before = Seed(Chip());
  const uint32_t start = 0x10F00;
  const uint32_t length = 0x21200;  // to 0x32100
  const auto run =
      Romwick({"-d", Dev(Chip(), ",trace=" + trace), "-e", "-a", std::to_string(start), "-l", std::to_string(length)});
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(Contents(), Expected(before, start, start + length, P().smallestErase));
  size_t erases = 0;
  for (const std::string& c : Commands(Trace())) {
    const std::string op = c.substr(0, 2);
    if (op == "20" || op == "21" || op == "52" || op == "5C" || op == "D8" || op == "DC") ++erases;
  }
  // 0x10000 to 0x30000 in two 64 KiB blocks, then 0x30000 to 0x33000 in
  // three 4 KiB sectors (a part without them: one more 64 KiB block).
  EXPECT_EQ(erases, P().smallestErase == 4096 ? 5u : 3u);
}

// BP0 protects the top of the chip: a write there is refused before
// anything is erased; -unprotect clears the protection and keeps QE.
TEST_P(ModernPart, ProtectionRefusedThenUnprotectKeepsQuadEnable) {
  const std::string before = Seed(Chip());
  const std::string data = Pattern(16, 5);
  const std::string input = File("in.bin", data);
  const uint32_t at = P().size - P().topProtectedAtBp1;
  const std::string qe = P().qeRegister ? ",qe" : "";
  const auto refused = Romwick({"-d", Dev(Chip(), ",protect=0x04" + qe), "-w", input, "-a", std::to_string(at)});
  EXPECT_EQ(refused.output, "Flash memory device is write protected (status 0x" +
                                std::string(P().qeBit == 0x40 && P().qeRegister == 0x05 ? "44" : "04") +
                                "); -unprotect clears its protection\n");
  EXPECT_EQ(refused.exitCode, 14);
  EXPECT_EQ(Contents(), before);
  // Below the protected area the same chip takes the write.
  const auto below = Romwick({"-d", Dev(Chip(), ",protect=0x04" + qe), "-w", input, "-a", std::to_string(at - 16)});
  EXPECT_EQ(below.exitCode, 0) << below.output;

  const std::string now = Contents();
  const auto cleared = Romwick(
      {"-d", Dev(Chip(), ",protect=0x04" + qe + ",trace=" + trace), "-w", input, "-a", std::to_string(at), "-unprotect"});
  EXPECT_EQ(cleared.exitCode, 0) << cleared.output;
  EXPECT_EQ(Contents(), Expected(now, at, at + 16, P().smallestErase, at, data));
  if (P().qeRegister == 0) return;
  // The last read of the register that holds QE still shows it set.
  char read[16];
  std::snprintf(read, sizeof read, "tx %02X 00", P().qeRegister);
  const std::string t = Trace();
  const size_t last = t.rfind(read);
  ASSERT_NE(last, std::string::npos);
  const std::string rx = t.substr(t.find("rx ", last) + 6, 2);
  EXPECT_TRUE(std::stoul(rx, nullptr, 16) & P().qeBit) << rx;
}

INSTANTIATE_TEST_SUITE_P(Parts, ModernPart, testing::ValuesIn(kParts),
                         [](const testing::TestParamInfo<Part>& info) { return std::string(info.param.name); });

class LargeParts : public Run {
 protected:
  std::string Trace() const { return testsupport::ReadFile(trace); }
  const std::string trace = dir.File("trace.txt");
};

// A whole 64 MiB part: written with its verify, read back in binary, and a
// read across 16 MiB in Intel HEX (whose records count from the read's start).
TEST_F(LargeParts, A64MebibyteRoundTrip) {
  const runtest::Chip chip{"MT25QL512", 64 * kMiB, 4096, "20 BA 20"};
  Seed(chip, 3);
  const std::string data = Pattern(chip.size, 11);
  const std::string input = File("in.bin", data);
  const auto written = Romwick({"-d", Dev(chip), "-E", "-w", input, "-v"});
  EXPECT_EQ(written.exitCode, 0) << written.output;
  EXPECT_EQ(Contents(), data);
  const std::string output = dir.File("out.bin");
  const auto read = Romwick({"-d", Dev(chip), "-r", output});
  EXPECT_EQ(read.exitCode, 0) << read.output;
  EXPECT_EQ(testsupport::ReadFile(output), data);
  const std::string hex = dir.File("out.hex");
  const auto readHex = Romwick({"-d", Dev(chip), "-r", hex, "-fi", "-a", "0xFFFFC0", "-l", "0x80"});
  EXPECT_EQ(readHex.exitCode, 0) << readHex.output;
  EXPECT_EQ(testsupport::ReadFile(hex), runtest::IntelHex(data.substr(0xFFFFC0, 0x80)));
}

// The W25Q256JV's SFDP without its 4-byte address table: -m sfdp drives it
// in 4-byte mode, B7h before the first command above 16 MiB, E9h at the end,
// even when the run is cut short.
TEST_F(LargeParts, FourByteModeIsLeftAtTheEndOfEveryRun) {
  const runtest::Chip chip{"W25Q256JV", 32 * kMiB, 4096, "EF 40 19"};
  std::string sfdp(W25q256jvSfdp().begin(), W25q256jvSfdp().end());
  sfdp[6] = 0;     // one parameter header: the BFPT alone
  sfdp[0xBF] &= ~0x20;  // and DWORD16 names no dedicated 4-byte set
  const std::string dump = File("sfdp.bin", sfdp);
  const std::string before = Seed(chip);
  const std::string data = Pattern(0x2000, 8);
  const std::string input = File("in.bin", data);
  const uint32_t at = 2 * k16MiB - 0x3000;
  const auto run = Romwick({"-d", Dev(chip, ",sfdp=" + dump + ",trace=" + trace), "-m", "sfdp", "-w", input, "-a",
                            std::to_string(at), "-v"});
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(Contents(), Expected(before, at, at + data.size(), 4096, at, data));
  std::vector<std::string> commands = Commands(Trace());
  const auto enter = std::find(commands.begin(), commands.end(), "B7");
  ASSERT_NE(enter, commands.end());
  EXPECT_EQ(commands.back(), "E9");
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "E9"), 1);
  // Every addressed command after B7h carries four address bytes.
  for (auto c = enter + 1; c != commands.end(); ++c) {
    const std::string op = c->substr(0, 2);
    if (op == "20" || op == "02" || op == "03") {
      EXPECT_GE(c->size(), 14u) << *c;
    }
  }

  // A page program that fails: the run ends with exit 4, and still leaves
  // 4-byte mode.
  std::remove(trace.c_str());
  Seed(chip);
  const auto failed = Romwick({"-d", Dev(chip, ",sfdp=" + dump + ",trace=" + trace + ",fail=40"), "-m", "sfdp", "-w",
                               input, "-a", std::to_string(at)});
  EXPECT_EQ(failed.exitCode, 4) << failed.output;
  commands = Commands(Trace());
  ASSERT_FALSE(commands.empty());
  EXPECT_EQ(commands.back(), "E9");
}

// EF 40 19 is also the older W25Q256FV's code, which lacks the 4-byte
// opcodes: a chip whose SFDP has no 4-byte address table, or no SFDP at
// all, is driven in 4-byte mode instead.
TEST_F(LargeParts, ACodeTwoPartsShareIsCheckedAgainstTheSfdp) {
  const runtest::Chip chip{"W25Q256JV", 32 * kMiB, 4096, "EF 40 19"};
  std::string sfdp(W25q256jvSfdp().begin(), W25q256jvSfdp().end());
  sfdp[6] = 0;          // the BFPT alone, as the FV's SFDP 1.0 has it
  sfdp[0xBF] &= ~0x20;  // and no dedicated 4-byte set
  const std::string data = Pattern(0x1000, 2);
  const std::string input = File("in.bin", data);
  const uint32_t at = 2 * k16MiB - 0x1000;
  for (const std::string& keys : {",sfdp=" + File("fv.bin", sfdp), std::string(",sfdp=off")}) {
    SCOPED_TRACE(keys);
    std::remove(trace.c_str());
    const std::string before = Seed(chip);
    const auto run = Romwick({"-d", Dev(chip, keys + ",trace=" + trace), "-w", input, "-a", std::to_string(at)});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(Contents(), Expected(before, at, at + data.size(), 4096, at, data));
    const std::vector<std::string> commands = Commands(Trace());
    EXPECT_NE(std::find(commands.begin(), commands.end(), "B7"), commands.end());
    EXPECT_EQ(commands.back(), "E9");
    EXPECT_EQ(std::count_if(commands.begin(), commands.end(), [](const std::string& c) { return c.rfind("12", 0) == 0; }),
              0);
  }
}

// A code the table does not know, with a valid SFDP: driven from it, and
// the run prints what a known part's run prints. Without SFDP, or with bad
// SFDP, the part is refused as before, the reason said.
TEST_F(LargeParts, UnknownCodesAreDrivenFromTheirSfdp) {
  const runtest::Chip chip{"W25Q128JV", 16 * kMiB, 4096, "EF 40 18"};
  const std::string before = Seed(chip);
  const std::string data = Pattern(0x1800, 4);
  const std::string input = File("in.bin", data);
  const auto known = Romwick({"-d", Dev(chip), "-w", input, "-a", "0x21000", "-v"});
  const std::string knownImage = Contents();
  WriteFile(image, before);
  const auto unknown = Romwick({"-d", Dev(chip, ",id=AB1218"), "-w", input, "-a", "0x21000", "-v"});
  EXPECT_EQ(unknown.output, known.output);
  EXPECT_EQ(unknown.exitCode, 0);
  EXPECT_EQ(Contents(), knownImage);

  WriteFile(image, before);
  const auto none = Romwick({"-d", Dev(chip, ",id=AB1218,sfdp=off"), "-w", input});
  EXPECT_EQ(none.output, "Device ID code not a recognized device\n");
  EXPECT_EQ(none.exitCode, 10);
  const auto asked = Romwick({"-d", Dev(chip, ",sfdp=off"), "-m", "sfdp", "-w", input});
  EXPECT_EQ(asked.output, "SFDP: not present (the signature reads FF FF FF FF)\nDevice ID code not a recognized device\n");
  EXPECT_EQ(asked.exitCode, 10);
  std::string bad(W25q128jvSfdp().begin(), W25q128jvSfdp().end());
  bad[0x0C] = 0x7F;  // the BFPT pointer, not DWORD-aligned
  const auto malformed = Romwick({"-d", Dev(chip, ",id=AB1218,sfdp=" + File("bad.bin", bad)), "-w", input});
  EXPECT_EQ(malformed.output.rfind("SFDP: ", 0), 0u) << malformed.output;
  EXPECT_EQ(malformed.exitCode, 10);
  EXPECT_EQ(Contents(), before);
}

}  // namespace
