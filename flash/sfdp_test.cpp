// SPDX-License-Identifier: MIT
#include "flash/sfdp.h"

#include <gtest/gtest.h>

#include <cctype>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

void PrintTo(const SfdpEraseType& e, std::ostream* os) {
  *os << "{type " << +e.type << ": " << e.size << " bytes, " << std::hex << +e.opcode << "h/" << +e.opcode4
      << std::dec << "h, " << e.typicalMs << "/" << e.maxMs << " ms}";
}

void PrintTo(const SfdpFacts& f, std::ostream* os) {
  *os << "SFDP " << +f.revisionMajor << "." << +f.revisionMinor << ", BFPT " << +f.bfptMajor << "." << +f.bfptMinor
      << " (" << f.bfptDwords << " DWORDs), " << f.sizeBytes << " bytes, page " << f.pageSize << ", address bytes "
      << static_cast<int>(f.addressBytes) << ", erase";
  for (const SfdpEraseType& e : f.eraseTypes) {
    *os << " ";
    PrintTo(e, os);
  }
  *os << std::hex << ", enter " << +f.enter4ByteMethods << "h, exit " << f.exit4ByteMethods << "h, QER "
      << +f.quadEnable << std::dec << ", flag status " << f.flagStatusPolling << ", 4BAIT "
      << f.has4ByteInstructionTable << " (13h " << f.read4 << ", 0Ch " << f.fastRead4 << ", 12h " << f.program4
      << "), program " << f.programTypicalUs << "/" << f.programMaxUs << " us, chip erase " << f.chipEraseTypicalMs
      << "/" << f.chipEraseMaxMs << " ms";
}

namespace {

/// Bytes of a dump from `offset` on, written as the dump prints them.
struct Chunk {
  uint32_t offset;
  const char* hex;
};

std::vector<uint8_t> FromHex(const char* text) {
  std::vector<uint8_t> bytes;
  std::string digits;
  for (const char* c = text; *c; ++c) {
    if (std::isxdigit(static_cast<unsigned char>(*c))) digits += *c;
  }
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

/// `size` bytes of FF, the unwritten SFDP space, with the chunks over them.
std::vector<uint8_t> Dump(uint32_t size, std::initializer_list<Chunk> chunks) {
  std::vector<uint8_t> space(size, 0xFF);
  for (const Chunk& chunk : chunks) {
    const std::vector<uint8_t> bytes = FromHex(chunk.hex);
    std::copy(bytes.begin(), bytes.end(), space.begin() + chunk.offset);
  }
  return space;
}

struct Read {
  uint32_t address;
  uint32_t length;
  friend bool operator==(const Read&, const Read&) = default;
};

void PrintTo(const Read& r, std::ostream* os) {
  *os << "{0x" << std::hex << r.address << ", " << std::dec << r.length << "}";
}

/// A reader over a dump that logs each read and fails the one numbered `failAt` (from 1; 0: none).
class RecordingReader {
 public:
  explicit RecordingReader(const std::vector<uint8_t>& space, size_t failAt = 0) : space_(space), failAt_(failAt) {}

  SfdpReader Reader() {
    return [this](uint32_t address, uint8_t* destination, uint32_t length) {
      log_.push_back({address, length});
      if (log_.size() == failAt_) return false;
      for (uint32_t i = 0; i < length; ++i) destination[i] = address + i < space_.size() ? space_[address + i] : 0xFF;
      return true;
    };
  }
  const std::vector<Read>& Log() const { return log_; }

 private:
  const std::vector<uint8_t>& space_;
  size_t failAt_;
  std::vector<Read> log_;
};

/// What a failed call must leave as it was.
SfdpFacts Untouched() {
  SfdpFacts facts;
  facts.sizeBytes = 0x5A5A;
  facts.eraseTypes = {{.size = 1, .type = 9}};
  return facts;
}

// The real dumps. QEMU's tables (hw/block/m25p80_sfdp.c, sfdp_<part>) are the
// parts' own, read from chips; the mailing-list dumps are `xxd -p` of Linux's
// spi-nor/sfdp file, posted with new-part patches. Bytes not shown are FF.

// Micron N25Q256A: JESD216 (1.0), a 9-DWORD table, absent erase types 00h.
const std::vector<uint8_t> kN25Q256A = Dump(
    256, {{0x00, "53 46 44 50 00 01 00 ff 00 00 01 09 30 00 00 ff"},
          {0x30, "e5 20 fb ff ff ff ff 0f 29 eb 27 6b 08 3b 27 bb ff ff ff ff ff ff 27 bb ff ff 29 eb 0c 20 10 d8"
                 "00 00 00 00"}});

// Macronix MX25L25635E: JESD216 (1.0) with a vendor table.
const std::vector<uint8_t> kMX25L25635E = Dump(
    128, {{0x00, "53 46 44 50 00 01 01 ff 00 00 01 09 30 00 00 ff c2 00 01 04 60 00 00 ff"},
          {0x30, "e5 20 f3 ff ff ff ff 0f 44 eb 08 6b 08 3b 04 bb ee ff ff ff ff ff 00 ff ff ff 00 ff 0c 20 0f 52"
                 "10 d8 00 ff"},
          {0x60, "00 36 00 27 f7 4f ff ff d9 c8"}});

// ISSI IS25WP256, QEMU's sifive_u flash: JESD216B (1.6); the same bytes are
// in /work/shared/qemu-spi-riscv/README.md. It says "3-byte addresses only"
// at 32 MiB and takes B7h.
const std::vector<uint8_t> kIS25WP256 = Dump(
    256, {{0x00, "53 46 44 50 06 01 01 ff 00 06 01 10 30 00 00 ff 9d 05 01 03 80 00 00 02"},
          {0x30, "e5 20 f9 ff ff ff ff 0f 44 eb 08 6b 08 3b 80 bb fe ff ff ff ff ff 00 ff ff ff 44 eb 0c 20 0f 52"
                 "10 d8 00 ff 23 4a c9 00 82 d8 11 ce cc cd 68 46 7a 75 7a 75 f7 ae d5 5c 4a 42 2c ff f0 30 fa a9"},
          {0x80, "50 19 50 16 9f f9 c0 64 8f ef"}});

// Macronix MX66L1G45G: JESD216B with a 4BAIT, listed after a vendor table.
const std::vector<uint8_t> kMX66L1G45G = Dump(
    512, {{0x00, "53 46 44 50 06 01 02 ff 00 06 01 10 30 00 00 ff c2 00 01 04 10 01 00 ff 84 00 01 02 c0 00 00 ff"},
          {0x30, "e5 20 fb ff ff ff ff 3f 44 eb 08 6b 08 3b 04 bb fe ff ff ff ff ff 00 ff ff ff 44 eb 0c 20 0f 52"
                 "10 d8 00 ff d6 49 c5 00 85 df 04 e3 44 03 67 38 30 b0 30 b0 f7 bd d5 5c 4a 9e 29 ff f0 50 f9 85"},
          {0xC0, "7f ef ff ff 21 5c dc ff"},
          {0x110, "00 36 00 27 9d f9 c0 64 85 cb"},
          {0x1E0, "c2 f5 08 00 0c 04 08 08 01 00 19 0f 01 01 06"}});

// Winbond W25Q512JV: JESD216B with a 4BAIT that has no 32 KiB opcode; a
// third parameter header follows the two the header counts.
const std::vector<uint8_t> kW25Q512JV = Dump(
    256, {{0x00, "53 46 44 50 06 01 01 ff 00 06 01 10 80 00 00 ff 84 00 01 02 d0 00 00 ff 03 00 01 02 f0 00 00 ff"},
          {0x80, "e5 20 fb ff ff ff ff 1f 44 eb 08 6b 08 3b 42 bb fe ff ff ff ff ff 00 00 ff ff 40 eb 0c 20 0f 52"
                 "10 d8 00 00 36 02 a6 00 82 ea 14 e2 e9 63 76 33 7a 75 7a 75 f7 a2 d5 5c 19 f7 4d ff e9 70 f9 a5"},
          {0xD0, "ff 0a f0 ff 21 ff dc ff"}});

// Micron MT35XU01G (octal): JESD216B, erase types not in size order, flag
// status polling, QER 7.
const std::vector<uint8_t> kMT35XU01G = Dump(
    256, {{0x00, "53 46 44 50 06 01 01 ff 00 06 01 10 30 00 00 ff 84 00 01 02 80 00 00 ff"},
          {0x30, "e5 20 8a ff ff ff ff 3f 00 00 00 00 00 00 00 00 ee ff ff ff ff ff 00 00 ff ff 00 00 0c 20 11 d8"
                 "0f 52 00 00 24 5a 99 00 8b 8e 03 e1 ac 01 27 38 7a 75 7a 75 fb bd d5 5c 00 00 70 ff 81 b0 38 36"},
          {0x80, "43 0e ff ff 21 dc 5c ff"}});

// Infineon S25FS256T: SFDP 1.8 (JESD216D) whose 20-DWORD BFPT says revision
// 1.0; 64 KiB and 128 KiB both erased with D8h; a page of 2^7 bytes, as the
// table says (Linux reads the real size from the chip's CFR3V). Posted by
// Takahiro Kuwano, linux-kernel, 2022-07-29, "Re: [PATCH 0/6] mtd: spi-nor:
// generic flash driver".
const std::vector<uint8_t> kS25FS256T = FromHex(R"(
53464450080101ff00000114000100ff84000102500100ffffffffffffff
ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff
ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff
ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff
ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff
ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff
ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff
ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff
ffffffffffffffffffffffffffffffffe7ffe2ffffffff0f48eb086bffff
ffffeeffffffffff00ffffff00ff11d810d800ff00ff321cfeff71e9ffe1
ec031c607a757a75f766805c00d65dfff938c0a100000000000000000000
0000ffffffff710600fedcdcffff)");

// Winbond W77Q51NW: SFDP 1.10 (JESD216F), four parameter headers, a
// 23-DWORD BFPT 1.7, a 4BAIT 1.1 that marks the 32 KiB type supported with
// opcode FFh. Posted by Marek Vasut, linux-mtd, "mtd: spi-nor: winbond: Add
// W77Q51NW" v2, with Linux's own reading: 64 MiB, page 256, erase 21h
// 4 KiB, FFh 32 KiB, DCh 64 KiB.
const std::vector<uint8_t> kW77Q51NW = FromHex(R"(
534644500a0103ff00070117800000ff84010102e00000ffef04010a8001
000103000102c00100ffffffffffffffffffffffffffffffffffffffffff
ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff
ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff
ffffffffffffffffe520aaffffffff1f46eb000000000000feffffffffff
0000ffff46eb0c200f5210d800004642b10082e412d8ed6376337a757a75
0fa4d55c190a78ff807439250000000000002c2e00000000f6f4ffff0d00
0000460d000046ed46edffffffff632f000021ffdcffffffffffffffffff
ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff
ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff
ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff
ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff
ffffffffffffffffffffffffffffffffffffffffffffffff030009088091
09ffa0a1a2ffffffffffd0d1d2ffffffffffffffffffffffffffffffffff
ffffffffffffffffffffffffffffffffffffffffffffffffffffffff7c9b
96f0a1a4c2ff)");

constexpr uint32_t kMiB = 1u << 20;
constexpr auto kThreeOnly = SfdpAddressBytes::kThreeOnly;
constexpr auto kThreeOrFour = SfdpAddressBytes::kThreeOrFour;

struct RealDump {
  const char* label;
  const std::vector<uint8_t>* space;
  SfdpFacts facts;
  std::vector<Read> reads;
};

void PrintTo(const RealDump& d, std::ostream* os) { *os << d.label; }

const RealDump kRealDumps[] = {
    {"N25Q256A", &kN25Q256A,
     {.revisionMajor = 1, .revisionMinor = 0, .bfptMajor = 1, .bfptMinor = 0, .bfptDwords = 9,
      .sizeBytes = 32 * kMiB, .pageSize = 256, .addressBytes = kThreeOrFour,
      .eraseTypes = {{.size = 4096, .opcode = 0x20, .type = 1}, {.size = 65536, .opcode = 0xD8, .type = 2}}},
     {{0x00, 8}, {0x08, 8}, {0x30, 36}}},
    {"MX25L25635E", &kMX25L25635E,
     {.revisionMajor = 1, .revisionMinor = 0, .bfptMajor = 1, .bfptMinor = 0, .bfptDwords = 9,
      .sizeBytes = 32 * kMiB, .pageSize = 256, .addressBytes = kThreeOrFour,
      .eraseTypes = {{.size = 4096, .opcode = 0x20, .type = 1},
                     {.size = 32768, .opcode = 0x52, .type = 2},
                     {.size = 65536, .opcode = 0xD8, .type = 3}}},
     {{0x00, 8}, {0x08, 16}, {0x30, 36}}},
    {"IS25WP256", &kIS25WP256,
     {.revisionMajor = 1, .revisionMinor = 6, .bfptMajor = 1, .bfptMinor = 6, .bfptDwords = 16,
      .sizeBytes = 32 * kMiB, .pageSize = 256, .addressBytes = kThreeOnly,
      .eraseTypes = {{.size = 4096, .opcode = 0x20, .typicalMs = 48, .maxMs = 384, .type = 1},
                     {.size = 32768, .opcode = 0x52, .typicalMs = 160, .maxMs = 1280, .type = 2},
                     {.size = 65536, .opcode = 0xD8, .typicalMs = 304, .maxMs = 2432, .type = 3}},
      .enter4ByteMethods = kSfdpEnter4ByteB7 | kSfdpEnter4ByteBankRegister | kSfdpEnter4ByteDedicatedOpcodes | 0x80,
      .exit4ByteMethods = kSfdpExit4ByteBankRegister | kSfdpExit4ByteHardwareReset | kSfdpExit4ByteSoftwareReset |
                          kSfdpExit4BytePowerCycle | 0x300,
      .quadEnable = kSfdpQuadEnableSr1Bit6,
      .programTypicalUs = 200, .programMaxUs = 1200, .chipEraseTypicalMs = 60000, .chipEraseMaxMs = 480000},
     {{0x00, 8}, {0x08, 16}, {0x30, 64}}},
    {"MX66L1G45G", &kMX66L1G45G,
     {.revisionMajor = 1, .revisionMinor = 6, .bfptMajor = 1, .bfptMinor = 6, .bfptDwords = 16,
      .sizeBytes = 128 * kMiB, .pageSize = 256, .addressBytes = kThreeOrFour,
      .eraseTypes = {{.size = 4096, .opcode = 0x20, .opcode4 = 0x21, .typicalMs = 30, .maxMs = 420, .type = 1},
                     {.size = 32768, .opcode = 0x52, .opcode4 = 0x5C, .typicalMs = 160, .maxMs = 2240, .type = 2},
                     {.size = 65536, .opcode = 0xD8, .opcode4 = 0xDC, .typicalMs = 288, .maxMs = 4032, .type = 3}},
      .enter4ByteMethods = kSfdpEnter4ByteB7 | kSfdpEnter4ByteExtendedAddress | 0x80,
      .exit4ByteMethods = kSfdpExit4ByteE9 | kSfdpExit4ByteExtendedAddress | kSfdpExit4ByteHardwareReset |
                          kSfdpExit4ByteSoftwareReset | kSfdpExit4BytePowerCycle | 0x300,
      .quadEnable = kSfdpQuadEnableSr1Bit6,
      .has4ByteInstructionTable = true, .read4 = true, .fastRead4 = true, .program4 = true,
      .programTypicalUs = 256, .programMaxUs = 3072, .chipEraseTypicalMs = 256000, .chipEraseMaxMs = 3584000},
     {{0x00, 8}, {0x08, 24}, {0x30, 64}, {0xC0, 8}}},
    {"W25Q512JV", &kW25Q512JV,
     {.revisionMajor = 1, .revisionMinor = 6, .bfptMajor = 1, .bfptMinor = 6, .bfptDwords = 16,
      .sizeBytes = 64 * kMiB, .pageSize = 256, .addressBytes = kThreeOrFour,
      .eraseTypes = {{.size = 4096, .opcode = 0x20, .opcode4 = 0x21, .typicalMs = 64, .maxMs = 896, .type = 1},
                     {.size = 32768, .opcode = 0x52, .typicalMs = 128, .maxMs = 1792, .type = 2},
                     {.size = 65536, .opcode = 0xD8, .opcode4 = 0xDC, .typicalMs = 160, .maxMs = 2240, .type = 3}},
      .enter4ByteMethods = kSfdpEnter4ByteB7 | kSfdpEnter4ByteExtendedAddress | kSfdpEnter4ByteDedicatedOpcodes | 0x80,
      .exit4ByteMethods = kSfdpExit4ByteE9 | kSfdpExit4ByteExtendedAddress | kSfdpExit4ByteHardwareReset |
                          kSfdpExit4ByteSoftwareReset | kSfdpExit4BytePowerCycle | 0x300,
      .quadEnable = kSfdpQuadEnableSr2Bit1,
      .has4ByteInstructionTable = true, .read4 = true, .fastRead4 = true, .program4 = true,
      .programTypicalUs = 704, .programMaxUs = 4224, .chipEraseTypicalMs = 192000, .chipEraseMaxMs = 2688000},
     {{0x00, 8}, {0x08, 16}, {0x80, 64}, {0xD0, 8}}},
    {"MT35XU01G", &kMT35XU01G,
     {.revisionMajor = 1, .revisionMinor = 6, .bfptMajor = 1, .bfptMinor = 6, .bfptDwords = 16,
      .sizeBytes = 128 * kMiB, .pageSize = 256, .addressBytes = kThreeOrFour,
      .eraseTypes = {{.size = 4096, .opcode = 0x20, .opcode4 = 0x21, .typicalMs = 48, .maxMs = 480, .type = 1},
                     {.size = 32768, .opcode = 0x52, .opcode4 = 0x5C, .typicalMs = 112, .maxMs = 1120, .type = 3},
                     {.size = 131072, .opcode = 0xD8, .opcode4 = 0xDC, .typicalMs = 192, .maxMs = 1920, .type = 2}},
      .enter4ByteMethods = kSfdpEnter4ByteWriteEnableB7 | kSfdpEnter4ByteExtendedAddress |
                           kSfdpEnter4ByteConfigurationRegister | kSfdpEnter4ByteDedicatedOpcodes,
      .exit4ByteMethods = kSfdpExit4ByteWriteEnableE9 | kSfdpExit4ByteHardwareReset | kSfdpExit4ByteSoftwareReset |
                          kSfdpExit4BytePowerCycle,
      .quadEnable = kSfdpQuadEnableReserved, .flagStatusPolling = true,
      .has4ByteInstructionTable = true, .read4 = true, .fastRead4 = true, .program4 = true,
      .programTypicalUs = 120, .programMaxUs = 2880, .chipEraseTypicalMs = 128000, .chipEraseMaxMs = 1280000},
     {{0x00, 8}, {0x08, 16}, {0x30, 64}, {0x80, 8}}},
    {"S25FS256T", &kS25FS256T,
     {.revisionMajor = 1, .revisionMinor = 8, .bfptMajor = 1, .bfptMinor = 0, .bfptDwords = 20,
      .sizeBytes = 32 * kMiB, .pageSize = 128, .addressBytes = kThreeOrFour,
      .eraseTypes = {{.size = 65536, .opcode = 0xD8, .opcode4 = 0xDC, .typicalMs = 512, .maxMs = 3072, .type = 2},
                     {.size = 131072, .opcode = 0xD8, .opcode4 = 0xDC, .typicalMs = 512, .maxMs = 3072, .type = 1}},
      .enter4ByteMethods = kSfdpEnter4ByteB7 | kSfdpEnter4ByteDedicatedOpcodes | 0x80,
      .exit4ByteMethods = 0x300,  // reserved bits only: the table gives no way out
      .quadEnable = kSfdpQuadEnableSr2Bit1Read35,
      .has4ByteInstructionTable = true, .read4 = true, .fastRead4 = false, .program4 = true,
      .programTypicalUs = 640, .programMaxUs = 2560, .chipEraseTypicalMs = 128000, .chipEraseMaxMs = 768000},
     {{0x00, 8}, {0x08, 16}, {0x100, 64}, {0x150, 8}}},
    {"W77Q51NW", &kW77Q51NW,
     {.revisionMajor = 1, .revisionMinor = 10, .bfptMajor = 1, .bfptMinor = 7, .bfptDwords = 23,
      .sizeBytes = 64 * kMiB, .pageSize = 256, .addressBytes = kThreeOrFour,
      .eraseTypes = {{.size = 4096, .opcode = 0x20, .opcode4 = 0x21, .typicalMs = 80, .maxMs = 1120, .type = 1},
                     {.size = 32768, .opcode = 0x52, .typicalMs = 144, .maxMs = 2016, .type = 2},
                     {.size = 65536, .opcode = 0xD8, .opcode4 = 0xDC, .typicalMs = 208, .maxMs = 2912, .type = 3}},
      .enter4ByteMethods = kSfdpEnter4ByteB7 | kSfdpEnter4ByteExtendedAddress | kSfdpEnter4ByteDedicatedOpcodes,
      .exit4ByteMethods = kSfdpExit4ByteE9 | kSfdpExit4ByteExtendedAddress | kSfdpExit4ByteHardwareReset |
                          kSfdpExit4ByteSoftwareReset | kSfdpExit4BytePowerCycle,
      .quadEnable = kSfdpQuadEnableReserved, .flagStatusPolling = true,
      .has4ByteInstructionTable = true, .read4 = true, .fastRead4 = true, .program4 = true,
      .programTypicalUs = 320, .programMaxUs = 1920, .chipEraseTypicalMs = 100000, .chipEraseMaxMs = 1400000},
     {{0x00, 8}, {0x08, 32}, {0x80, 64}, {0xE0, 8}}},
};

class RealDumps : public testing::TestWithParam<RealDump> {};

TEST_P(RealDumps, GiveTheirFactsReadingOnlyWhatIsNeeded) {
  const RealDump& d = GetParam();
  RecordingReader recorder(*d.space);
  SfdpFacts facts;
  SfdpError error;
  ASSERT_TRUE(ReadSfdp(recorder.Reader(), &facts, &error)) << error.reason;
  EXPECT_EQ(facts, d.facts);
  EXPECT_EQ(recorder.Log(), d.reads);
  EXPECT_EQ(error.kind, SfdpFailure::kNone);
}

TEST_P(RealDumps, ParseTheSameFromTheDump) {
  const RealDump& d = GetParam();
  SfdpFacts facts;
  SfdpError error;
  ASSERT_TRUE(ParseSfdp(*d.space, &facts, &error)) << error.reason;
  EXPECT_EQ(facts, d.facts);
}

INSTANTIATE_TEST_SUITE_P(Sfdp, RealDumps, testing::ValuesIn(kRealDumps),
                         [](const testing::TestParamInfo<RealDump>& info) { return std::string(info.param.label); });

// Malformed data: small edits of the MX66L1G45G dump (BFPT at 30h, 4BAIT at
// C0h, parameter headers at 08h, 10h and 18h), each refused with its reason
// after the reads it took to find the fault.
struct Edit {
  uint32_t offset;
  const char* hex;
};

std::vector<uint8_t> Edited(const std::vector<uint8_t>& base, std::initializer_list<Edit> edits) {
  std::vector<uint8_t> space = base;
  for (const Edit& edit : edits) {
    const std::vector<uint8_t> bytes = FromHex(edit.hex);
    std::copy(bytes.begin(), bytes.end(), space.begin() + edit.offset);
  }
  return space;
}

struct Refusal {
  const char* label;
  std::vector<uint8_t> space;
  SfdpFailure kind;
  const char* reason;
  size_t reads;
};

void PrintTo(const Refusal& r, std::ostream* os) { *os << r.label; }

constexpr auto kNoSignature = SfdpFailure::kNoSignature;
constexpr auto kMalformed = SfdpFailure::kMalformed;

const Refusal kRefusals[] = {
    {"ErasedSignature", Edited(kMX66L1G45G, {{0x00, "ff ff ff ff"}}), kNoSignature,
     "not present (the signature reads FF FF FF FF)", 1},
    {"ZeroSignature", Edited(kMX66L1G45G, {{0x00, "00 00 00 00"}}), kNoSignature,
     "not present (the signature reads 00 00 00 00)", 1},
    {"WrongSignature", Edited(kMX66L1G45G, {{0x03, "51"}}), kNoSignature, "wrong signature 53 46 44 51", 1},
    {"MajorRevisionTwo", Edited(kMX66L1G45G, {{0x05, "02"}}), kMalformed, "revision 2.6 is not supported", 1},
    {"FirstHeaderNotTheBasicTable", Edited(kMX66L1G45G, {{0x08, "c2"}, {0x10, "00"}}), kMalformed,
     "the first parameter header is FFC2h, not the basic table's FF00h", 2},
    {"BasicTableMajorRevisionTwo", Edited(kMX66L1G45G, {{0x0A, "02"}}), kMalformed,
     "basic table revision 2.6 is not supported", 2},
    {"BasicTableShorterThanJesd216", Edited(kMX66L1G45G, {{0x0B, "08"}}), kMalformed,
     "basic table length 8 is less than 9 DWORDs", 2},
    {"BasicTableNotAligned", Edited(kMX66L1G45G, {{0x0C, "31"}}), kMalformed,
     "parameter table at 0x000031 is not DWORD-aligned", 2},
    {"BasicTableOverHeaders", Edited(kMX66L1G45G, {{0x0C, "18"}}), kMalformed,
     "parameter table at 0x000018 overlaps the parameter headers", 2},
    {"BasicTablePastTheSpace", Edited(kMX66L1G45G, {{0x0C, "f0 ff ff"}}), kMalformed,
     "parameter table at 0xFFFFF0 runs past the SFDP space", 2},
    {"ReservedAddressBytes", Edited(kMX66L1G45G, {{0x32, "ff"}}), kMalformed,
     "address bytes field is 11b, a reserved value", 3},
    {"DensityNotAPowerOfTwo", Edited(kMX66L1G45G, {{0x34, "fd ff ff 0f"}}), kMalformed,
     "density 0x0FFFFFFE bits is not a power of two", 3},
    {"DensityBelowAByte", Edited(kMX66L1G45G, {{0x34, "03 00 00 00"}}), kMalformed,
     "density 4 bits is not a whole number of bytes", 3},
    {"PowerDensityBelowAByte", Edited(kMX66L1G45G, {{0x34, "02 00 00 80"}}), kMalformed,
     "density 2^2 bits is not a whole number of bytes", 3},
    {"PowerDensityPast4ByteAddresses", Edited(kMX66L1G45G, {{0x34, "24 00 00 80"}}), kMalformed,
     "density 2^36 bits is more than 4-byte addresses reach", 3},
    {"EraseOpcodeWithoutSize", Edited(kMX66L1G45G, {{0x4E, "00"}}), kMalformed,
     "erase type 2 has opcode 52h and no size", 3},
    {"EraseTypeLargerThanTheChip", Edited(kMX66L1G45G, {{0x50, "1c"}}), kMalformed,
     "erase type 3 erases 2^28 bytes, more than the chip's 2^27", 3},
    {"EraseTypeBeyond32Bits", Edited(kMX66L1G45G, {{0x50, "20"}}), kMalformed,
     "erase type 3 erases 2^32 bytes, too many to count", 3},
    {"NoEraseType", Edited(kMX66L1G45G, {{0x4C, "00 ff 00 ff 00 ff 00 ff"}}), kMalformed, "no erase type is given", 3},
    {"PageLargerThanTheChip",
     Edited(kMX66L1G45G, {{0x34, "ff 7f 00 00"}, {0x4C, "0c 20 00 ff 00 ff 00 ff"}, {0x58, "d5"}}), kMalformed,
     "page size 2^13 bytes is more than the chip's 2^12", 3},
    {"FourByteTableTooShort", Edited(kMX66L1G45G, {{0x1B, "01"}}), kMalformed,
     "4-byte address table length 1 is less than 2 DWORDs", 3},
    {"FourByteTableNotAligned", Edited(kMX66L1G45G, {{0x1C, "c2"}}), kMalformed,
     "parameter table at 0x0000C2 is not DWORD-aligned", 3},
    {"FourByteTablePastTheSpace", Edited(kMX66L1G45G, {{0x1C, "fc ff ff"}}), kMalformed,
     "parameter table at 0xFFFFFC runs past the SFDP space", 3},
};

class Refusals : public testing::TestWithParam<Refusal> {};

TEST_P(Refusals, NameTheFaultAndLeaveTheFactsAlone) {
  const Refusal& r = GetParam();
  RecordingReader recorder(r.space);
  SfdpFacts facts = Untouched();
  SfdpError error;
  EXPECT_FALSE(ReadSfdp(recorder.Reader(), &facts, &error));
  EXPECT_EQ(error.kind, r.kind);
  EXPECT_EQ(error.reason, r.reason);
  EXPECT_EQ(recorder.Log().size(), r.reads);
  EXPECT_EQ(facts, Untouched());
}

INSTANTIATE_TEST_SUITE_P(Sfdp, Refusals, testing::ValuesIn(kRefusals),
                         [](const testing::TestParamInfo<Refusal>& info) { return std::string(info.param.label); });

TEST(Sfdp, EmptyDumpReadsAsErased) {
  SfdpFacts facts = Untouched();
  SfdpError error;
  EXPECT_FALSE(ParseSfdp({}, &facts, &error));
  EXPECT_EQ(error.kind, SfdpFailure::kNoSignature);
  EXPECT_EQ(error.reason, "not present (the signature reads FF FF FF FF)");
  EXPECT_EQ(facts, Untouched());
}

// A bus read that fails ends the reading there, whichever read it is.
struct ReadFailure {
  size_t failAt;
  const char* reason;
};

class ReadFailures : public testing::TestWithParam<ReadFailure> {};

TEST_P(ReadFailures, StopAtTheFailedRead) {
  RecordingReader recorder(kMX66L1G45G, GetParam().failAt);
  SfdpFacts facts = Untouched();
  SfdpError error;
  EXPECT_FALSE(ReadSfdp(recorder.Reader(), &facts, &error));
  EXPECT_EQ(error.kind, SfdpFailure::kReadFailed);
  EXPECT_EQ(error.reason, GetParam().reason);
  EXPECT_EQ(recorder.Log().size(), GetParam().failAt);
  EXPECT_EQ(facts, Untouched());
}

INSTANTIATE_TEST_SUITE_P(Sfdp, ReadFailures,
                         testing::Values(ReadFailure{1, "reading 8 bytes at 0x000000 failed"},
                                         ReadFailure{2, "reading 24 bytes at 0x000008 failed"},
                                         ReadFailure{3, "reading 64 bytes at 0x000030 failed"},
                                         ReadFailure{4, "reading 8 bytes at 0x0000C0 failed"}));

// Edits that must still be read: the fields they touch, all else as the
// MX66L1G45G's.
SfdpFacts MX66L1G45GFacts() {
  for (const RealDump& d : kRealDumps) {
    if (d.space == &kMX66L1G45G) return d.facts;
  }
  return {};
}

TEST(Sfdp, DensityAbove2GbitIsAPowerOfTwo) {
  struct Case {
    const char* dword2;
    uint64_t sizeBytes;
  };
  for (const Case& c : {Case{"20 00 00 80", uint64_t{512} * kMiB}, Case{"23 00 00 80", uint64_t{4096} * kMiB},
                        Case{"ff ff ff 7f", uint64_t{256} * kMiB}}) {
    SfdpFacts facts;
    SfdpError error;
    ASSERT_TRUE(ParseSfdp(Edited(kMX66L1G45G, {{0x34, c.dword2}}), &facts, &error)) << c.dword2 << ": " << error.reason;
    SfdpFacts expected = MX66L1G45GFacts();
    expected.sizeBytes = c.sizeBytes;
    EXPECT_EQ(facts, expected) << c.dword2;
  }
}

TEST(Sfdp, AChipSmallerThanTheDefaultPageIsOnePage) {
  // The N25Q256A's 9-DWORD table, which gives no page size, for a 128-byte chip.
  SfdpFacts facts;
  SfdpError error;
  ASSERT_TRUE(ParseSfdp(Edited(kN25Q256A, {{0x34, "ff 03 00 00"}, {0x4C, "07 20 00 ff"}}), &facts, &error))
      << error.reason;
  EXPECT_EQ(facts.sizeBytes, 128u);
  EXPECT_EQ(facts.pageSize, 128u);
  EXPECT_EQ(facts.eraseTypes, (std::vector<SfdpEraseType>{{.size = 128, .opcode = 0x20, .type = 1}}));
}

TEST(Sfdp, FieldsPastAShortTableAreNotGiven) {
  // The same table declared 9 DWORDs long: DWORD10 on are neither read nor believed.
  const std::vector<uint8_t> space = Edited(kMX66L1G45G, {{0x0B, "09"}});
  RecordingReader recorder(space);
  SfdpFacts facts;
  SfdpError error;
  ASSERT_TRUE(ReadSfdp(recorder.Reader(), &facts, &error)) << error.reason;
  SfdpFacts expected = MX66L1G45GFacts();
  expected.bfptDwords = 9;
  for (SfdpEraseType& erase : expected.eraseTypes) erase.typicalMs = erase.maxMs = 0;
  expected.enter4ByteMethods = 0;
  expected.exit4ByteMethods = 0;
  expected.quadEnable = kSfdpQuadEnableNotGiven;
  expected.programTypicalUs = expected.programMaxUs = 0;
  expected.chipEraseTypicalMs = expected.chipEraseMaxMs = 0;
  EXPECT_EQ(facts, expected);
  EXPECT_EQ(recorder.Log(), (std::vector<Read>{{0x00, 8}, {0x08, 24}, {0x30, 36}, {0xC0, 8}}));
}

TEST(Sfdp, AFourByteTableOfAnotherMajorRevisionIsLeftUnread) {
  const std::vector<uint8_t> space = Edited(kMX66L1G45G, {{0x1A, "02"}});
  RecordingReader recorder(space);
  SfdpFacts facts;
  SfdpError error;
  ASSERT_TRUE(ReadSfdp(recorder.Reader(), &facts, &error)) << error.reason;
  SfdpFacts expected = MX66L1G45GFacts();
  expected.has4ByteInstructionTable = expected.read4 = expected.fastRead4 = expected.program4 = false;
  for (SfdpEraseType& erase : expected.eraseTypes) erase.opcode4 = 0;
  EXPECT_EQ(facts, expected);
  EXPECT_EQ(recorder.Log().size(), 3u);
}

// Which BFPT wins: the MX66L1G45G's own at 30h (1.6, 16 DWORDs) and a copy
// at 70h that says 2^31 bits (256 MiB) instead, listed in place of the vendor
// header by the header each row gives.
struct BasicTableChoice {
  const char* label;
  const char* secondHeader;
  uint64_t sizeBytes;
  uint32_t readAt;
};

class BasicTableChoices : public testing::TestWithParam<BasicTableChoice> {};

void PrintTo(const BasicTableChoice& c, std::ostream* os) { *os << c.label; }

TEST_P(BasicTableChoices, PickTheNewestOfMajorRevisionOne) {
  std::vector<uint8_t> space = kMX66L1G45G;
  std::copy(space.begin() + 0x30, space.begin() + 0x70, space.begin() + 0x70);
  space = Edited(space, {{0x74, "ff ff ff 7f"}, {0x10, GetParam().secondHeader}});
  RecordingReader recorder(space);
  SfdpFacts facts;
  SfdpError error;
  ASSERT_TRUE(ReadSfdp(recorder.Reader(), &facts, &error)) << error.reason;
  EXPECT_EQ(facts.sizeBytes, GetParam().sizeBytes);
  ASSERT_GE(recorder.Log().size(), 3u);
  EXPECT_EQ(recorder.Log()[2].address, GetParam().readAt);
}

INSTANTIATE_TEST_SUITE_P(
    Sfdp, BasicTableChoices,
    testing::Values(BasicTableChoice{"NewerMinorWins", "00 07 01 10 70 00 00 ff", 256 * kMiB, 0x70},
                    BasicTableChoice{"OlderMinorLoses", "00 05 01 10 70 00 00 ff", 128 * kMiB, 0x30},
                    BasicTableChoice{"LongerOfTheSameMinorWins", "00 06 01 11 70 00 00 ff", 256 * kMiB, 0x70},
                    BasicTableChoice{"FirstOfEqualsWins", "00 06 01 10 70 00 00 ff", 128 * kMiB, 0x30},
                    BasicTableChoice{"MajorRevisionTwoIsIgnored", "00 07 02 10 70 00 00 ff", 128 * kMiB, 0x30}),
    [](const testing::TestParamInfo<BasicTableChoice>& info) { return std::string(info.param.label); });

}  // namespace
