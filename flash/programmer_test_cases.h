// SPDX-License-Identifier: MIT
// Shared by the programmer tests: test data, and programmer operations as
// values, so that each row of a case table can say what it does.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "flash/sfpa.h"
#include "flash/sfpb.h"
#include "flash/sfprg.h"
#include "testsupport/fake_clock.h"
#include "testsupport/recording_spictl.h"

namespace flashtest {

using Lines = std::vector<std::string>;
using Operation = std::function<bool(SFPRG&, SPICTL*)>;

inline const FLASHDEV& Row(const char* name) { return *FindDeviceByName(name); }

/// The programmer of the row's command set, its device set.
inline std::unique_ptr<SFPRG> ProgrammerFor(const FLASHDEV& row) {
  std::unique_ptr<SFPRG> programmer;
  if (row.type == FLASHTYPE_DATAFLASH) {
    programmer = std::make_unique<SFPB>();
  } else {
    programmer = std::make_unique<SFPA>();
  }
  programmer->SetDevice(row);
  return programmer;
}

/// The first byte of the row's status-read command.
inline uint8_t StatusOpcode(const FLASHDEV& row) { return row.type == FLASHTYPE_DATAFLASH ? 0xD7 : 0x05; }

/// Bytes that differ from their neighbours, so that a shifted copy shows.
inline std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
  return bytes;
}

inline const std::vector<uint8_t> kSource = Pattern(1024, 0x10);

/// Contents for whole erase units, at these offsets (a unit is at most 256 KB):
/// kErasedUnit (all FF), kUnitData (a pattern), kUnitDataOnePageChanged
/// (the pattern with bits cleared at 264..511 only, which lies in the second
/// page of both command sets).
constexpr size_t kUnitSpan = 0x40000;
constexpr size_t kErasedUnit = 0;
constexpr size_t kUnitData = kUnitSpan;
constexpr size_t kUnitDataOnePageChanged = 2 * kUnitSpan;
inline const std::vector<uint8_t> kUnitBytes = [] {
  std::vector<uint8_t> bytes(3 * kUnitSpan, 0xFF);
  const std::vector<uint8_t> data = Pattern(kUnitSpan, 0x21);
  std::copy(data.begin(), data.end(), bytes.begin() + kUnitData);
  std::copy(data.begin(), data.end(), bytes.begin() + kUnitDataOnePageChanged);
  for (size_t i = 264; i < 512; ++i) bytes[kUnitDataOnePageChanged + i] &= 0x0F;
  return bytes;
}();
inline std::vector<uint8_t> readBack(65536);

inline Operation WriteOf(uint32_t start, int32_t length) {
  return [=](SFPRG& p, SPICTL* c) { return p.Write(c, start, length, kSource.data()); };
}
inline Operation ProgramPageOf(uint32_t address, int32_t count) {
  return [=](SFPRG& p, SPICTL* c) { return p.ProgramPage(c, address, count, kSource.data()); };
}
inline Operation ReadOf(uint32_t start, int32_t length) {
  return [=](SFPRG& p, SPICTL* c) { return p.Read(c, start, length, readBack.data()); };
}
inline Operation EraseRangeOf(uint32_t start, int32_t length) {
  return [=](SFPRG& p, SPICTL* c) { return p.EraseRange(c, start, length); };
}
inline bool EraseAll(SFPRG& p, SPICTL* c) { return p.EraseAll(c); }
inline bool WriteBrackets(SFPRG& p, SPICTL* c) { return p.BeginWrite(c) && p.EndWrite(c); }

/// Gives the unit at `start` the bytes of kUnitBytes from `contentsFrom`,
/// over what it holds: those from `currentFrom`.
inline Operation RewriteOf(uint32_t start, size_t contentsFrom, size_t currentFrom, bool erase) {
  return [=](SFPRG& p, SPICTL* c) {
    return p.RewriteUnit(c, start, kUnitBytes.data() + contentsFrom, kUnitBytes.data() + currentFrom, erase);
  };
}

inline bool ClearProtection(SFPRG& p, SPICTL* c) { return p.ClearProtection(c); }

/// A row of a command table: the operation on a device of the table, its
/// result and the commands the chip receives; the controller fails the calls
/// at the positions of `failingCalls` in its log.
struct Case {
  const char* name;
  const char* row;
  Operation operation;
  bool result;
  Lines transactions;
  std::vector<size_t> failingCalls = {};
};

/// A chip of a table row that is always ready at once, on a recording
/// controller, and its programmer.
template <typename Programmer>
class ReadyChip : public testing::Test {
 protected:
  explicit ReadyChip(const char* row) {
    programmer.SetDevice(Row(row));
    ctl.AnswerStatus(StatusOpcode(Row(row)), {Row(row).readyValue});
  }

  testsupport::FakeClock clock;
  testsupport::RecordingSpiCtl ctl;
  Programmer programmer;
};

/// Runs the case, then checks its result and the commands the chip received.
inline void RunCase(const Case& c, SFPRG& programmer, testsupport::RecordingSpiCtl& ctl) {
  programmer.SetDevice(Row(c.row));
  for (size_t call : c.failingCalls) ctl.FailCall(call);
  EXPECT_EQ(c.operation(programmer, &ctl), c.result);
  EXPECT_EQ(ctl.Transactions(), c.transactions);
}

inline std::string CaseName(const testing::TestParamInfo<Case>& info) { return info.param.name; }

}  // namespace flashtest
