// SPDX-License-Identifier: MIT
#include "flash/flashdev.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace {

void ExpectRow(const FLASHDEV* row, const char* name) {
  if (name) {
    ASSERT_NE(row, nullptr);
    EXPECT_STREQ(row->name, name);
  } else {
    EXPECT_EQ(row, nullptr);
  }
}

struct IdCase {
  uint8_t id[3];
  const char* found;  // null: no row
};

class FindById : public testing::TestWithParam<IdCase> {};

TEST_P(FindById, GivesTheFirstRowWithAllThreeBytes) {
  ExpectRow(FindDeviceById(GetParam().id), GetParam().found);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, FindById,
    testing::Values(IdCase{{0x20, 0x20, 0x14}, "M25P80"}, IdCase{{0x20, 0x20, 0x18}, "M25P128"},
                    IdCase{{0x20, 0xBA, 0x18}, "N25Q128"}, IdCase{{0x1F, 0x25, 0x00}, "AT45DB081"},
                    IdCase{{0xEF, 0x40, 0x17}, "W25Q64JV"}, IdCase{{0xEF, 0x70, 0x17}, "W25Q64JV-IM"},
                    IdCase{{0xEF, 0x70, 0x20}, "W25Q512JV-IM"}, IdCase{{0xC8, 0x40, 0x19}, "GD25Q256D"},
                    IdCase{{0x1C, 0x70, 0x18}, "EN25QH128"},
                    // Codes two rows share: the first row, the one every sharer takes.
                    IdCase{{0x20, 0xBA, 0x18}, "N25Q128"}, IdCase{{0x20, 0xBA, 0x19}, "N25Q256"},
                    IdCase{{0x20, 0xBB, 0x19}, "N25Q256A11"}, IdCase{{0xC2, 0x20, 0x19}, "MX25L25645G"},
                    IdCase{{0x01, 0x20, 0x18}, "S25FL128S"},
                    // Manufacturer 20h is Micron's and XMC's.
                    IdCase{{0x20, 0x40, 0x19}, "XM25QH256C"}, IdCase{{0x20, 0xBB, 0x20}, "MT25QU512"},
                    IdCase{{0xFF, 0xFF, 0xFF}, nullptr},  // no chip answering
                    IdCase{{0x00, 0x00, 0x00}, nullptr},  // the terminating row is no device
                    IdCase{{0x20, 0x20, 0x19}, nullptr}, IdCase{{0x20, 0xBA, 0x14}, nullptr},
                    IdCase{{0xEF, 0x40, 0x21}, nullptr}, IdCase{{0xAB, 0x12, 0x18}, nullptr}));

struct NameCase {
  const char* name;
  const char* found;
};

class FindByName : public testing::TestWithParam<NameCase> {};

TEST_P(FindByName, ComparesWholeNamesIgnoringLetterCase) {
  ExpectRow(FindDeviceByName(GetParam().name), GetParam().found);
}

INSTANTIATE_TEST_SUITE_P(Names, FindByName,
                         testing::Values(NameCase{"n25q128", "N25Q128"}, NameCase{"M25P80", "M25P80"},
                                         NameCase{"at45DB081", "AT45DB081"}, NameCase{"M25P8", nullptr},
                                         NameCase{"M25P800", nullptr}, NameCase{"", nullptr},
                                         NameCase{"M25P8O", nullptr},
                                         // Rows a shared code does not find.
                                         NameCase{"mt25ql128", "MT25QL128"}, NameCase{"MT25QL256", "MT25QL256"},
                                         NameCase{"mx25l25635f", "MX25L25635F"},
                                         NameCase{"s25fl128s-64k", "S25FL128S-64K"},
                                         NameCase{"S25FL127S", "S25FL127S"}, NameCase{"w25q16jv-im", "W25Q16JV-IM"},
                                         NameCase{"W25Q16JV-", nullptr}, NameCase{"W25Q16JVIM", nullptr}));

// Guards the rows against typing slips: each geometry must hold together
// the way the command sets rely on.
TEST(DeviceTable, ConsistentRowsThenAZeroRow) {
  const FLASHDEV* row = flashDeviceTable;
  for (; row->id[0] != 0; ++row) {
    SCOPED_TRACE(row->name);
    EXPECT_EQ(row->readMax, row->size);
    EXPECT_EQ(row->size % row->sectorSize, 0u);
    EXPECT_EQ(row->sectorSize % row->pageSize, 0u);
    EXPECT_GE(1u << row->pageShift, row->pageSize);
    EXPECT_GT(row->readMaxHz, 0u);
    EXPECT_GE(row->maxHz, row->readMaxHz);
    if (row->type == FLASHTYPE_SECTOR_ERASE) {
      EXPECT_EQ(row->pageSize, 1u << row->pageShift);  // the pages lie end to end
      EXPECT_EQ(row->blockSize, kNoBlock);
    } else {
      EXPECT_EQ(row->type, FLASHTYPE_DATAFLASH);
      EXPECT_EQ(row->busyMask, 0x80);
      EXPECT_EQ(row->readyValue, 0x80);
    }
    EXPECT_NE(FindDeviceByName(row->name), nullptr);
    EXPECT_EQ(FindDeviceByName(row->name), row) << "two rows of one name";
  }
  const FLASHDEV zero{};
  EXPECT_EQ(std::memcmp(row, &zero, sizeof zero), 0);
}

// Erase types ascend, each a power of two that divides the chip; the
// smallest is the sector; a part above 16 MiB has a way to reach it all.
TEST(DeviceTable, EraseTypesAndAddressingOfEachRow) {
  for (const FLASHDEV* row = flashDeviceTable; row->id[0] != 0; ++row) {
    if (row->type != FLASHTYPE_SECTOR_ERASE) continue;
    SCOPED_TRACE(row->name);
    EXPECT_EQ(row->eraseTypes[0].size, row->sectorSize);
    uint32_t previous = 0;
    bool reachesAll = false;
    for (const EraseType& type : row->eraseTypes) {
      if (type.size == 0) continue;
      EXPECT_GT(type.size, previous);
      EXPECT_EQ(type.size & (type.size - 1), 0u);
      EXPECT_EQ(row->size % type.size, 0u);
      EXPECT_NE(type.opcode, 0);
      EXPECT_GT(type.maxUs, 0u);
      reachesAll |= type.opcode4 != 0;
      previous = type.size;
    }
    if (row->size > (1u << 24)) {
      EXPECT_NE(row->addressing, Addressing::kThreeBytes);
      if (row->addressing == Addressing::kFourByteOpcodes) {
        EXPECT_TRUE(reachesAll);
      }
    } else {
      EXPECT_EQ(row->addressing, Addressing::kThreeBytes);
    }
  }
}

// Every wait needs its maximum, and the typical whole-chip erase lies below
// its maximum; the highest block-protect value must cover the whole chip.
TEST(DeviceTable, TimesAndProtectionOfEachRow) {
  for (const FLASHDEV* row = flashDeviceTable; row->id[0] != 0; ++row) {
    SCOPED_TRACE(row->name);
    const ProtectionLayout& p = row->protection;
    EXPECT_GT(row->programMaxUs, 0u);
    EXPECT_GT(row->eraseAllMaxUs, 0u);
    EXPECT_GT(row->eraseAllTypicalMs, 0u);
    EXPECT_LT(uint64_t{row->eraseAllTypicalMs} * 1000, row->eraseAllMaxUs);
    EXPECT_NE(p.bp, 0);
    if (row->type == FLASHTYPE_SECTOR_ERASE) {
      EXPECT_GT(row->writeStatusMaxUs, 0u);
      EXPECT_EQ(p.srwd, 0x80);
      EXPECT_EQ(p.unit % row->sectorSize, 0u);
      EXPECT_EQ(p.quadEnable & (p.bp | p.bp3 | p.tb | p.sec | p.cmp | p.srwd), 0);
      // A high byte needs the register that holds it read.
      if ((p.tb | p.cmp | p.quadEnable) > 0xFF) {
        EXPECT_NE(p.secondRead, 0);
      }
      // A known table reaches the whole chip at its highest value; an
      // unknown one counts any value as the whole chip.
      if (p.table == ProtectTable::kDoubling) {
        const int values = 1 << __builtin_popcount(p.bp | p.bp3);
        EXPECT_GT(p.unit, 0u);
        EXPECT_GE(uint64_t{p.unit} << (values - 2), row->size);
      }
    } else {
      EXPECT_GT(row->programNoEraseMaxUs, 0u);
      EXPECT_GT(row->transferMaxUs, 0u);
      EXPECT_EQ(p.srwd, 0);
    }
  }
}

// Where rows share a code, the first is the one FindDeviceById gives: every
// erase opcode it sends (its 4-byte ones only where it uses them) the others
// send too, so it is safe on any part answering the code. Each row is marked.
std::set<uint8_t> EraseOpcodes(const FLASHDEV& row) {
  std::set<uint8_t> opcodes;
  for (const EraseType& type : row.eraseTypes) {
    if (type.size == 0) continue;
    opcodes.insert(type.opcode);
    if (type.opcode4 != 0 && row.addressing == Addressing::kFourByteOpcodes) opcodes.insert(type.opcode4);
  }
  return opcodes;
}

TEST(DeviceTable, RowsSharingACodeFirstTheOneEverySharerTakes) {
  int shared = 0;
  for (const FLASHDEV* row = flashDeviceTable; row->id[0] != 0; ++row) {
    const FLASHDEV* first = FindDeviceById(row->id);
    if (first == row) continue;
    SCOPED_TRACE(std::string(first->name) + " before " + row->name);
    ++shared;
    // The seven older parts keep their traffic: no SFDP check for them.
    const bool older = first->protection.clear == ClearRule::kWriteZero;
    EXPECT_TRUE(first->quirks.sharedId || older);
    EXPECT_TRUE(row->quirks.sharedId);
    EXPECT_EQ(first->size, row->size);
    const std::set<uint8_t> theirs = EraseOpcodes(*row);
    for (uint8_t opcode : EraseOpcodes(*first)) EXPECT_TRUE(theirs.count(opcode)) << std::hex << int{opcode};
  }
  EXPECT_GT(shared, 0) << "no code is shared any more: the test has nothing to check";
}

TEST(DeviceTable, SizesOfTheOddRows) {
  EXPECT_EQ(FindDeviceByName("M25P128")->sectorSize, 262144u);
  EXPECT_EQ(FindDeviceByName("N25Q128")->sectorSize, 65536u);
  const FLASHDEV* dataFlash = FindDeviceByName("AT45DB081");
  EXPECT_EQ(dataFlash->size, 4096u * 264u);
  EXPECT_EQ(dataFlash->sectorSize, 256u * 264u);
  EXPECT_EQ(dataFlash->blockSize, 8u * 264u);
}

}  // namespace
