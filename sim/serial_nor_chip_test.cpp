// SPDX-License-Identifier: MIT
// The serial NOR models, driven with raw select periods as their datasheets
// write them; every program and erase is checked against the whole array.
#include "sim/serial_nor_chip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

#include "sim/sim_interface.h"
#include "testsupport/run_program.h"
#include "testsupport/sim_frames.h"

namespace {

using testsupport::HexBytes;
using testsupport::MakeSim;
using testsupport::SimBusyNs;
using testsupport::SimFrame;
using testsupport::SimStatus;

constexpr uint32_t kMHz = 1'000'000;

std::string Name(std::string text) {
  std::ranges::replace_if(text, [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
  return text;
}

/// `opcode` and `address` in `bytes` address bytes, most significant first.
std::vector<uint8_t> Command(uint8_t opcode, uint32_t address, size_t bytes) {
  std::vector<uint8_t> frame{opcode};
  for (size_t i = bytes; i-- > 0;) frame.push_back(static_cast<uint8_t>(address >> (8 * i)));
  return frame;
}

class SerialNorTest : public ::testing::Test {
 protected:
  void Use(SimConfig config) {
    config.latencyUs = 0;
    sim_ = MakeSim(config);
    ASSERT_TRUE(sim_);
  }
  void Frames(const std::vector<std::string>& frames) {
    for (const auto& f : frames) SimFrame(*sim_, f);
  }
  void WaitReady() { ASSERT_NE(SimBusyNs(*sim_, 100'000'000), 0u); }
  std::span<uint8_t> Memory() { return sim_->Contents(); }
  std::vector<uint8_t> Image() { return {Memory().begin(), Memory().end()}; }
  uint8_t ReadByte(uint8_t opcode) { return SimFrame(*sim_, {opcode}, 1)[1]; }

  std::unique_ptr<SimInterface> sim_;
};

// Identification, and SFDP bytes at a few offsets of each part's table.
struct IdentityCase {
  const char* chip;
  const char* id;  // 9Fh answer, then FF where the part drives nothing
  uint32_t sfdpAddress;
  const char* sfdp;
};

class SerialNorIdentityTest : public SerialNorTest, public ::testing::WithParamInterface<IdentityCase> {};

TEST_P(SerialNorIdentityTest, AnswersItsCodeAndItsSfdp) {
  Use({.chip = GetParam().chip});
  const auto id = HexBytes(GetParam().id);
  const auto rx = SimFrame(*sim_, "9F", id.size());
  EXPECT_EQ(std::vector<uint8_t>(rx.begin() + 1, rx.end()), id);
  const auto header = SimFrame(*sim_, "5A 00 00 00 00", 4);
  EXPECT_EQ(std::vector<uint8_t>(header.begin() + 5, header.end()), HexBytes("53 46 44 50"));
  const auto expected = HexBytes(GetParam().sfdp);
  const auto sfdp = SimFrame(*sim_, Command(0x5A, GetParam().sfdpAddress, 3), 1 + expected.size());
  EXPECT_EQ(std::vector<uint8_t>(sfdp.begin() + 5, sfdp.end()), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Parts, SerialNorIdentityTest,
    ::testing::Values(
        // Density 128 Mbit (BFPT dword 2), 3-byte addressing only.
        IdentityCase{"W25Q128JV", "EF 40 18 FF", 0x82, "F9 FF FF FF FF 07"},
        // The 4-byte address table: 21h, no 32 KiB erase, DCh.
        IdentityCase{"W25Q256JV", "EF 40 19 FF", 0xD4, "21 FF DC FF"},
        IdentityCase{"GD25Q128C", "C8 40 18 FF", 0x34, "FF FF FF 07"},
        // Macronix table: VCC 3.6 V to 2.7 V; the 4-byte address table.
        IdentityCase{"MX25L25645G", "C2 20 19 FF", 0x110, "00 36 00 27"},
        IdentityCase{"mx25l25645g", "C2 20 19 FF", 0xC4, "21 5C DC FF"},
        // Dword 16: B7h or bank register, exit by bank register.
        IdentityCase{"IS25LP256", "9D 60 19 FF", 0x6C, "F0 30 FA A9"},
        IdentityCase{"MT25QL512", "20 BA 20 10 44 00", 0x34, "FF FF FF 1F"},
        IdentityCase{"S25FL256S", "01 02 19 4D 01 80 FF", 0x30, "E7 FF FB FF FF FF FF 0F"},
        // Past the last table the space reads FF.
        IdentityCase{"S25FL256S", "01 02 19", 0x54, "FF FF"}),
    [](const auto& info) { return Name(info.param.chip) + "_" + std::to_string(info.index); });

TEST_F(SerialNorTest, SfdpKeepsThreeAddressBytesInFourByteMode) {
  Use({.chip = "W25Q256JV"});
  Frames({"B7"});
  const auto rx = SimFrame(*sim_, "5A 00 00 00 00", 4);
  EXPECT_EQ(std::vector<uint8_t>(rx.begin() + 5, rx.end()), HexBytes("53 46 44 50"));
}

TEST_F(SerialNorTest, SfdpKeys) {
  Use({.chip = "MX25L25645G", .noSfdp = true});
  EXPECT_EQ(SimFrame(*sim_, "5A 00 00 00 00", 4), HexBytes("FF FF FF FF FF FF FF FF FF"));
  testsupport::ScratchDir dir;
  const std::string dump = dir.File("sfdp.bin");
  testsupport::WriteFile(dump, "SFDP\x06\x01");
  Use({.chip = "MX25L25645G", .sfdpFile = dump});
  const auto rx = SimFrame(*sim_, "5A 00 00 02 00", 6);
  EXPECT_EQ(std::vector<uint8_t>(rx.begin() + 5, rx.end()), HexBytes("44 50 06 01 FF FF"));
}

// Erase types: what each opcode erases around an address, on an array of
// zeros.
struct EraseCase {
  const char* what;
  const char* chip;
  std::vector<std::string> setup;  // before the write enable
  std::vector<uint8_t> command;    // the erase, address included
  uint32_t start;                  // erased bytes; size 0: nothing
  uint32_t size;
};

class SerialNorEraseTest : public SerialNorTest, public ::testing::WithParamInterface<EraseCase> {};

TEST_P(SerialNorEraseTest, ErasesExactlyItsExtent) {
  const EraseCase& c = GetParam();
  Use({.chip = c.chip});
  std::ranges::fill(Memory(), 0x00);
  Frames(c.setup);
  Frames({"06"});
  SimFrame(*sim_, c.command);
  std::vector<uint8_t> expected(Memory().size(), 0x00);
  std::fill_n(expected.begin() + c.start, c.size, 0xFF);
  EXPECT_TRUE(Image() == expected);
}

constexpr uint32_t k4K = 0x1000;
constexpr uint32_t k32K = 0x8000;
constexpr uint32_t k64K = 0x10000;

INSTANTIATE_TEST_SUITE_P(
    Rows, SerialNorEraseTest,
    ::testing::Values(
        EraseCase{"4 KiB", "W25Q128JV", {}, Command(0x20, 0x123456, 3), 0x123000, k4K},
        EraseCase{"32 KiB", "W25Q128JV", {}, Command(0x52, 0x123456, 3), 0x120000, k32K},
        EraseCase{"64 KiB", "GD25Q128C", {}, Command(0xD8, 0x123456, 3), 0x120000, k64K},
        EraseCase{"chip C7", "GD25Q128C", {}, {0xC7}, 0, 0x1000000},
        EraseCase{"chip 60", "W25Q128JV", {}, {0x60}, 0, 0x1000000},
        EraseCase{"erase with a byte too many is cancelled", "W25Q128JV", {}, Command(0x20, 0x12345600, 4), 0, 0},
        EraseCase{"4 KiB 4-byte", "W25Q256JV", {}, Command(0x21, 0x1FFF000, 4), 0x1FFF000, k4K},
        EraseCase{"no 32 KiB 4-byte on the W25Q256JV", "W25Q256JV", {}, Command(0x5C, 0x1FF8000, 4), 0, 0},
        EraseCase{"32 KiB 4-byte", "MX25L25645G", {}, Command(0x5C, 0x1FF8123, 4), 0x1FF8000, k32K},
        EraseCase{"64 KiB 4-byte", "IS25LP256", {}, Command(0xDC, 0x1FF1234, 4), 0x1FF0000, k64K},
        EraseCase{"no 32 KiB 4-byte on the MT25QL512", "MT25QL512", {}, Command(0x5C, 0x3FF8000, 4), 0, 0},
        EraseCase{"32 KiB 3-byte form in 4-byte mode", "MT25QL512", {"06", "B7"}, Command(0x52, 0x3FF8000, 4),
                  0x3FF8000, k32K},
        EraseCase{"parameter sector", "S25FL256S", {}, Command(0x20, 0x01F123, 3), 0x01F000, k4K},
        EraseCase{"parameter sector 4-byte", "S25FL256S", {}, Command(0x21, 0x0000FFF, 4), 0, k4K},
        EraseCase{"no 4 KiB erase past the parameter sectors", "S25FL256S", {}, Command(0x20, 0x020000, 3), 0, 0},
        EraseCase{"64 KiB over the parameter sectors", "S25FL256S", {}, Command(0xD8, 0x001234, 3), 0, k64K},
        EraseCase{"no 32 KiB erase on the S25FL256S", "S25FL256S", {}, Command(0x52, 0x100000, 3), 0, 0}),
    [](const auto& info) { return Name(std::string(info.param.chip) + "_" + info.param.what); });

TEST_F(SerialNorTest, EraseAndProgramTimesAreTheDatasheets) {
  Use({.chip = "W25Q128JV"});
  sim_->SetClock(30 * kMHz);
  Frames({"06", "20 00 00 00"});
  EXPECT_NEAR(static_cast<double>(SimBusyNs(*sim_, 10'000'000)), 45e6, 1e3);
  Frames({"06", "02 00 00 00 00"});
  EXPECT_NEAR(static_cast<double>(SimBusyNs(*sim_, 10'000'000)), 400e3, 1e3);
}

TEST_F(SerialNorTest, PageProgramWrapsInsideThePage) {
  Use({.chip = "MT25QL512"});
  const std::vector<uint8_t> before = Image();
  Frames({"06", "12 02 00 00 FE 11 22 33 44"});
  std::vector<uint8_t> expected = before;
  expected[0x2000000] = 0x33;
  expected[0x2000001] = 0x44;
  expected[0x20000FE] = 0x11;
  expected[0x20000FF] = 0x22;
  EXPECT_TRUE(Image() == expected);
}

// 4-byte addressing: which array byte a read reaches after the setup frames.
struct AddressCase {
  const char* what;
  const char* chip;
  std::vector<std::string> setup;
  std::vector<uint8_t> read;  // a read command, address included
  uint32_t reaches;           // array address of the first data byte
};

class SerialNorAddressTest : public SerialNorTest, public ::testing::WithParamInterface<AddressCase> {};

TEST_P(SerialNorAddressTest, ReadReachesItsAddress) {
  const AddressCase& c = GetParam();
  Use({.chip = c.chip});
  auto memory = Memory();
  for (size_t i = 0; i < memory.size(); i += 0x1000) memory[i] = static_cast<uint8_t>(i >> 12 ^ i >> 20);
  Frames(c.setup);
  const auto rx = SimFrame(*sim_, c.read, 1 + (c.read[0] == 0x0B || c.read[0] == 0x0C ? 1 : 0));
  EXPECT_EQ(rx.back(), memory[c.reaches]);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SerialNorAddressTest,
    ::testing::Values(
        AddressCase{"3-byte read reaches the bottom 16 MiB", "W25Q256JV", {}, Command(0x03, 0x001000, 3), 0x001000},
        AddressCase{"extended address register", "W25Q256JV", {"06", "C5 01"}, Command(0x03, 0x001000, 3),
                    0x1001000},
        AddressCase{"the register needs write enable", "W25Q256JV", {"C5 01"}, Command(0x03, 0x001000, 3), 0x001000},
        AddressCase{"4-byte mode", "W25Q256JV", {"B7"}, Command(0x03, 0x1002000, 4), 0x1002000},
        AddressCase{"back to 3 bytes", "W25Q256JV", {"B7", "E9"}, Command(0x03, 0x003000, 3), 0x003000},
        AddressCase{"dedicated 13h", "MX25L25645G", {}, Command(0x13, 0x1004000, 4), 0x1004000},
        AddressCase{"dedicated 0Ch", "MX25L25645G", {}, Command(0x0C, 0x1005000, 4), 0x1005000},
        AddressCase{"fast read in 4-byte mode", "MX25L25645G", {"B7"}, Command(0x0B, 0x1006000, 4), 0x1006000},
        AddressCase{"B7h without write enable is ignored", "MT25QL512", {"B7"}, Command(0x03, 0x007000, 3), 0x007000},
        AddressCase{"B7h after write enable", "MT25QL512", {"06", "B7"}, Command(0x03, 0x3008000, 4), 0x3008000},
        AddressCase{"two extended address bits", "MT25QL512", {"06", "C5 03"}, Command(0x03, 0x009000, 3),
                    0x3009000},
        AddressCase{"bank register A24", "IS25LP256", {"17 01"}, Command(0x03, 0x00A000, 3), 0x100A000},
        AddressCase{"29h leaves 4-byte mode", "IS25LP256", {"B7", "29"}, Command(0x03, 0x00B000, 3), 0x00B000},
        AddressCase{"E9h is not an ISSI command", "IS25LP256", {"B7", "E9"}, Command(0x03, 0x100C000, 4), 0x100C000},
        AddressCase{"bank register EXTADD", "S25FL256S", {"17 80"}, Command(0x03, 0x100D000, 4), 0x100D000},
        AddressCase{"no B7h on the S25FL256S", "S25FL256S", {"B7"}, Command(0x03, 0x00E000, 3), 0x00E000}),
    [](const auto& info) { return Name(std::string(info.param.chip) + "_" + info.param.what); });

// The register bits that show the addressing mode.
TEST_F(SerialNorTest, ModeIndicatorsFollowTheMode) {
  Use({.chip = "W25Q256JV"});
  EXPECT_EQ(ReadByte(0x15) & 0x01, 0x00);
  Frames({"B7"});
  EXPECT_EQ(ReadByte(0x15) & 0x01, 0x01);
  Use({.chip = "MX25L25645G"});
  Frames({"B7"});
  EXPECT_EQ(ReadByte(0x15) & 0x20, 0x20);
  Use({.chip = "MT25QL512"});
  Frames({"06", "B7"});
  EXPECT_EQ(ReadByte(0x70), 0x81);
  Use({.chip = "IS25LP256"});
  Frames({"B7"});
  EXPECT_EQ(ReadByte(0x16), 0x80);
  EXPECT_EQ(ReadByte(0xC8), 0x80);
}

// Protection: a program at an address with status register 1 (and what the
// setup frames set) as given. The whole array tells whether it ran.
struct ProtectCase {
  const char* what;
  const char* chip;
  uint32_t statusBits;             // protect=<bits>
  std::vector<std::string> setup;  // e.g. CMP or TB
  uint32_t address;
  bool isProtected;
};

class SerialNorProtectTest : public SerialNorTest, public ::testing::WithParamInterface<ProtectCase> {};

TEST_P(SerialNorProtectTest, ProgramRunsOutsideTheProtectedArea) {
  const ProtectCase& c = GetParam();
  Use({.chip = c.chip, .protectBits = c.statusBits});
  Frames(c.setup);
  WaitReady();
  std::vector<uint8_t> expected = Image();
  Frames({"06"});
  std::vector<uint8_t> frame = Command(0x12, c.address, 4);
  if (sim_->Chip()->Size() <= 0x1000000) frame = Command(0x02, c.address, 3);
  frame.push_back(0x5A);
  SimFrame(*sim_, frame);
  if (!c.isProtected) expected[c.address] = 0x5A;
  EXPECT_TRUE(Image() == expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SerialNorProtectTest,
    ::testing::Values(
        ProtectCase{"upper 64th", "W25Q128JV", 0x04, {}, 0xFC0000, true},
        ProtectCase{"below the upper 64th", "W25Q128JV", 0x04, {}, 0xFBFFFF, false},
        ProtectCase{"lower 64th with TB", "W25Q128JV", 0x24, {}, 0x03FFFF, true},
        ProtectCase{"above the lower 64th", "W25Q128JV", 0x24, {}, 0x040000, false},
        ProtectCase{"upper 4 KiB with SEC", "W25Q128JV", 0x44, {}, 0xFFF000, true},
        ProtectCase{"below the upper 4 KiB", "W25Q128JV", 0x44, {}, 0xFFEFFF, false},
        ProtectCase{"lower 32 KiB with SEC and TB", "W25Q128JV", 0x70, {}, 0x007FFF, true},
        ProtectCase{"all with BP 111", "W25Q128JV", 0x1C, {}, 0x000000, true},
        ProtectCase{"CMP turns the upper 64th open", "W25Q128JV", 0x04, {"06", "31 40"}, 0xFC0000, false},
        ProtectCase{"CMP protects the rest", "W25Q128JV", 0x04, {"06", "31 40"}, 0x000000, true},
        ProtectCase{"BP4 acts as SEC", "GD25Q128C", 0x44, {}, 0xFFF000, true},
        ProtectCase{"BP3 acts as TB", "GD25Q128C", 0x24, {}, 0x000000, true},
        ProtectCase{"one 64 KiB block", "W25Q256JV", 0x04, {}, 0x1FF0000, true},
        ProtectCase{"below one block", "W25Q256JV", 0x04, {}, 0x1FEFFFF, false},
        ProtectCase{"half with BP 1001", "MX25L25645G", 0x24, {}, 0x1000000, true},
        ProtectCase{"lower half with TB in the configuration register", "MX25L25645G", 0x24, {"06", "01 24 08"},
                    0x0FFFFFF, true},
        ProtectCase{"upper half open with TB", "MX25L25645G", 0x24, {"06", "01 24 08"}, 0x1000000, false},
        ProtectCase{"TB in the function register", "IS25LP256", 0x04, {"06", "42 02"}, 0x0000000, true},
        ProtectCase{"BP3 alone: upper eighth", "MT25QL512", 0x40, {}, 0x3800000, true},
        ProtectCase{"below the upper eighth", "MT25QL512", 0x40, {}, 0x37FFFFF, false},
        ProtectCase{"upper 64th", "S25FL256S", 0x04, {}, 0x1F80000, true},
        ProtectCase{"TBPROT", "S25FL256S", 0x04, {"06", "01 04 20"}, 0x0000000, true}),
    [](const auto& info) { return Name(std::string(info.param.chip) + "_" + info.param.what); });

TEST_F(SerialNorTest, ChipEraseRunsOnlyWithNothingProtected) {
  Use({.chip = "W25Q128JV", .protectBits = 0x44});
  std::ranges::fill(Memory(), 0x00);
  Frames({"06", "C7"});
  EXPECT_TRUE(std::ranges::all_of(Memory(), [](uint8_t b) { return b == 0x00; }));
  Frames({"06", "01 00"});
  WaitReady();
  Frames({"06", "C7"});
  EXPECT_TRUE(std::ranges::all_of(Memory(), [](uint8_t b) { return b == 0xFF; }));
}

// An unprotect that writes status register 1 the way `frames` do: whether
// the block-protect bits clear and QE stays set.
struct UnprotectCase {
  const char* what;
  const char* chip;
  uint32_t statusBits;
  const char* write;
  uint8_t qeRead;  // the register holding QE
  uint8_t qeMask;
  bool qeKept;
  bool unprotected;
};

class SerialNorUnprotectTest : public SerialNorTest, public ::testing::WithParamInterface<UnprotectCase> {};

TEST_P(SerialNorUnprotectTest, StatusWriteKeepsOrClearsQuadEnable) {
  const UnprotectCase& c = GetParam();
  Use({.chip = c.chip, .protectBits = c.statusBits, .quadEnable = true});
  ASSERT_EQ(ReadByte(c.qeRead) & c.qeMask, c.qeMask);
  Frames({"06", c.write});
  WaitReady();
  EXPECT_EQ((ReadByte(c.qeRead) & c.qeMask) != 0, c.qeKept);
  EXPECT_EQ((ReadByte(0x05) & c.statusBits) == 0, c.unprotected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SerialNorUnprotectTest,
    ::testing::Values(
        // QE in status register 2: one byte leaves it, two bytes rewrite it.
        UnprotectCase{"one byte", "W25Q128JV", 0x1C, "01 00", 0x35, 0x02, true, true},
        UnprotectCase{"two bytes", "W25Q128JV", 0x1C, "01 00 00", 0x35, 0x02, false, true},
        UnprotectCase{"two bytes keeping QE", "W25Q256JV", 0x3C, "01 00 02", 0x35, 0x02, true, true},
        UnprotectCase{"one byte", "GD25Q128C", 0x1C, "01 00", 0x35, 0x02, true, true},
        UnprotectCase{"two bytes are cancelled", "GD25Q128C", 0x1C, "01 00 00", 0x35, 0x02, true, false},
        // QE in status register 1: a plain 00 clears it, read-modify-write keeps it.
        UnprotectCase{"plain zero", "MX25L25645G", 0x3C, "01 00", 0x05, 0x40, false, true},
        UnprotectCase{"read-modify-write", "MX25L25645G", 0x3C, "01 40", 0x05, 0x40, true, true},
        UnprotectCase{"plain zero", "IS25LP256", 0x3C, "01 00", 0x05, 0x40, false, true},
        UnprotectCase{"read-modify-write", "IS25LP256", 0x3C, "01 40", 0x05, 0x40, true, true},
        // QUAD in configuration register 1.
        UnprotectCase{"one byte", "S25FL256S", 0x1C, "01 00", 0x35, 0x02, true, true},
        UnprotectCase{"two bytes", "S25FL256S", 0x1C, "01 00 00", 0x35, 0x02, false, true}),
    [](const auto& info) { return Name(std::string(info.param.chip) + "_" + info.param.what); });

TEST_F(SerialNorTest, WritePinLocksTheRegistersUnlessQuadEnableMakesItIo2) {
  Use({.chip = "W25Q128JV", .protectBits = 0x9C, .writeProtectPin = true});
  Frames({"06", "01 00"});
  EXPECT_EQ(SimStatus(*sim_), 0x9E);
  Use({.chip = "W25Q128JV", .protectBits = 0x9C, .writeProtectPin = true, .quadEnable = true});
  Frames({"06", "01 00"});
  WaitReady();
  EXPECT_EQ(SimStatus(*sim_), 0x00);
}

TEST_F(SerialNorTest, OneTimeBitsSetButNeverClear) {
  Use({.chip = "MX25L25645G"});
  Frames({"06", "01 00 08"});
  WaitReady();
  EXPECT_EQ(ReadByte(0x15), 0x08);
  Frames({"06", "01 00 00"});
  WaitReady();
  EXPECT_EQ(ReadByte(0x15), 0x08);
}

TEST_F(SerialNorTest, VolatileWriteNeedsNoLatchAndNoTime) {
  Use({.chip = "W25Q128JV"});
  Frames({"50", "01 1C"});
  EXPECT_EQ(SimStatus(*sim_), 0x1C);
  Frames({"01 00"});
  EXPECT_EQ(SimStatus(*sim_), 0x1C);
}

TEST_F(SerialNorTest, BlockLocksDecideWithWps) {
  Use({.chip = "W25Q128JV"});
  // WPS set: every lock bit is set at power-up.
  Frames({"06", "11 04"});
  WaitReady();
  const std::vector<uint8_t> before = Image();
  Frames({"06", "02 10 00 00 00"});
  EXPECT_TRUE(Image() == before);
  EXPECT_EQ(SimFrame(*sim_, "3D 10 00 00", 1)[4], 0x01);
  Frames({"06", "98", "06", "36 FF F0 00", "06", "02 10 00 00 00"});
  WaitReady();
  Frames({"06", "02 FF F0 00 00", "06", "02 FF E0 00 00"});
  WaitReady();
  std::vector<uint8_t> expected = before;
  expected[0x100000] = 0x00;
  expected[0xFFE000] = 0x00;
  EXPECT_TRUE(Image() == expected);
  EXPECT_EQ(SimFrame(*sim_, "3D FF F0 00", 1)[4], 0x01);
}

TEST_F(SerialNorTest, MicronFlagsAProtectedProgramUntilCleared) {
  Use({.chip = "MT25QL512", .protectBits = 0x5C});
  EXPECT_EQ(ReadByte(0x70), 0x80);
  const std::vector<uint8_t> before = Image();
  Frames({"06", "02 00 00 00 00"});
  EXPECT_TRUE(Image() == before);
  EXPECT_EQ(ReadByte(0x70), 0x92);  // ready, program error, protection error
  Frames({"50"});
  EXPECT_EQ(ReadByte(0x70), 0x80);
  Frames({"06", "01 00"});
  WaitReady();
  Frames({"06", "02 00 00 00 00"});
  EXPECT_EQ(ReadByte(0x70), 0x00);  // programming
  WaitReady();
  EXPECT_EQ(ReadByte(0x70), 0x80);
  EXPECT_EQ(Memory()[0], 0x00);
}

TEST_F(SerialNorTest, SpansionHoldsWipAfterAProtectedEraseUntilCleared) {
  Use({.chip = "S25FL256S", .protectBits = 0x1C});
  std::ranges::fill(Memory(), 0x00);
  Frames({"06", "D8 00 00 00"});
  EXPECT_EQ(SimStatus(*sim_), 0x3F);  // E_ERR, BP, WEL, WIP
  // Held busy: only status reads and 30h are served.
  EXPECT_EQ(SimFrame(*sim_, "03 00 00 00", 2), HexBytes("FF FF FF FF FF FF"));
  Frames({"30"});
  EXPECT_EQ(SimStatus(*sim_), 0x1E);
  EXPECT_TRUE(std::ranges::all_of(Memory(), [](uint8_t b) { return b == 0x00; }));
}

// Clock limits: a read clocked above its command's limit answers the
// complement of the array; at the limit it answers the array.
struct ClockCase {
  const char* chip;
  uint8_t opcode;
  uint32_t hz;
  bool corrupt;
};

class SerialNorClockTest : public ::testing::TestWithParam<ClockCase> {};

TEST_P(SerialNorClockTest, ReadAboveItsLimitAnswersTheComplement) {
  const ClockCase& c = GetParam();
  auto sim = MakeSim({.chip = c.chip, .latencyUs = 0, .topClockHz = c.hz});
  ASSERT_TRUE(sim);
  EXPECT_EQ(sim->SetClock(c.hz), c.hz);
  std::iota(sim->Contents().begin(), sim->Contents().begin() + 4, uint8_t{0x10});
  const bool fast = c.opcode == 0x0B;
  const auto rx = SimFrame(*sim, {c.opcode, 0, 0, 0}, 4 + (fast ? 1 : 0));
  const std::vector<uint8_t> data(rx.end() - 4, rx.end());
  EXPECT_EQ(data, c.corrupt ? HexBytes("EF EE ED EC") : HexBytes("10 11 12 13"));
}

INSTANTIATE_TEST_SUITE_P(
    Parts, SerialNorClockTest,
    ::testing::Values(ClockCase{"W25Q128JV", 0x03, 50 * kMHz, false}, ClockCase{"W25Q128JV", 0x03, 52 * kMHz, true},
                      ClockCase{"W25Q128JV", 0x0B, 133 * kMHz, false},
                      ClockCase{"W25Q128JV", 0x0B, 134 * kMHz, true},
                      ClockCase{"GD25Q128C", 0x03, 81 * kMHz, true}, ClockCase{"MX25L25645G", 0x03, 51 * kMHz, true},
                      ClockCase{"IS25LP256", 0x03, 51 * kMHz, true}, ClockCase{"MT25QL512", 0x03, 67 * kMHz, true},
                      ClockCase{"S25FL256S", 0x03, 51 * kMHz, true}, ClockCase{"S25FL256S", 0x0B, 51 * kMHz, false},
                      ClockCase{"M25P80", 0x03, 33 * kMHz, false}, ClockCase{"M25P80", 0x03, 34 * kMHz, true},
                      ClockCase{"M25P80", 0x0B, 75 * kMHz, false}, ClockCase{"M25P80", 0x0B, 76 * kMHz, true},
                      ClockCase{"N25Q128", 0x03, 55 * kMHz, true}, ClockCase{"N25Q128", 0x0B, 108 * kMHz, false},
                      ClockCase{"AT45DB081", 0x03, 34 * kMHz, true}, ClockCase{"AT45DB081", 0x0B, 66 * kMHz, false}),
    [](const auto& info) {
      return Name(std::string(info.param.chip) + "_" + std::to_string(info.param.opcode) + "_" +
                  std::to_string(info.param.hz / kMHz));
    });

// Every part answers its plain read correctly at the interface's default
// top clock, so nothing a run does today changes.
TEST(SerialNorClock, EveryPartReadsCorrectlyAtTheDefaultTopClock) {
  for (const SimChipFacts& chip : SimChips()) {
    SCOPED_TRACE(chip.name);
    EXPECT_GE(chip.readMaxHz, 30 * kMHz);
    EXPECT_GT(chip.maxHz, chip.readMaxHz);
  }
}

TEST(SerialNorKeys, KeysThePartCannotHonourAreRefused) {
  struct Refused {
    SimConfig config;
    const char* error;
  };
  for (const Refused& r : {
           Refused{{.chip = "MT25QL512", .quadEnable = true}, "the MT25QL512 has no quad-enable bit"},
           Refused{{.chip = "M25P80", .noSfdp = true}, "the M25P80 answers no SFDP"},
           Refused{{.chip = "W25Q128JV", .sfdpFile = "/nonexistent/sfdp.bin"},
                   "cannot read SFDP file \"/nonexistent/sfdp.bin\""},
           Refused{{.chip = "MX25L25645G", .protectBits = 0x40},
                   "protection bits 0x40 are not all in the MX25L25645G status register (0xBC)"},
       }) {
    std::string error;
    EXPECT_EQ(SimInterface::Create(r.config, &error), nullptr);
    EXPECT_EQ(error, r.error);
  }
}

}  // namespace
