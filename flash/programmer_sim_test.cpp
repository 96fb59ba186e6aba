// SPDX-License-Identifier: MIT
// The programmers against the simulated chips, whose behaviour is modelled
// on the datasheets independently of the programmers.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "flash/programmer_test_cases.h"
#include "testsupport/sim_frames.h"
#include "testsupport/sim_spictl.h"

namespace {

using namespace flashtest;
using testsupport::FakeClock;
using testsupport::SimSpiCtl;

struct SimCase {
  const char* chip;
  uint32_t kind;
  uint32_t start;
  int32_t length;
};

class OnSimulatedChip : public testing::TestWithParam<SimCase> {
 protected:
  void SetUp() override {
    sim = testsupport::MakeSim({.chip = GetParam().chip});
    ASSERT_TRUE(sim);
    ctl = std::make_unique<SimSpiCtl>(*sim, GetParam().kind);
    ASSERT_TRUE(ctl->BringUp());
  }

  FakeClock clock;
  std::unique_ptr<SimInterface> sim;
  std::unique_ptr<SimSpiCtl> ctl;
};

// Identify, erase what the write covers (sector-erase parts), write, read
// back: the range holds the data, and the bytes around it hold what the
// chip held before, except the rest of the sectors that had to be erased.
TEST_P(OnSimulatedChip, WritesWhatReadsBackAndNothingElse) {
  const SimCase& c = GetParam();
  SFPRG generic;
  uint8_t id[3];
  ASSERT_TRUE(generic.ReadId(ctl.get(), id));
  const FLASHDEV* row = FindDeviceById(id);
  ASSERT_NE(row, nullptr);
  EXPECT_STREQ(row->name, c.chip);
  const std::unique_ptr<SFPRG> programmer = ProgrammerFor(*row);

  const std::vector<uint8_t> before = Pattern(row->size, 0x5A);
  std::copy(before.begin(), before.end(), sim->Contents().begin());
  const std::vector<uint8_t> data = Pattern(static_cast<size_t>(c.length), 0xC3);
  std::vector<uint8_t> expected = before;
  if (row->type == FLASHTYPE_SECTOR_ERASE) {
    ASSERT_TRUE(programmer->EraseRange(ctl.get(), c.start, c.length));
    const uint32_t first = c.start / row->sectorSize * row->sectorSize;
    const uint32_t end = (c.start + c.length + row->sectorSize - 1) / row->sectorSize * row->sectorSize;
    std::fill(expected.begin() + first, expected.begin() + end, 0xFF);
  }
  std::copy(data.begin(), data.end(), expected.begin() + c.start);
  ASSERT_TRUE(programmer->Write(ctl.get(), c.start, c.length, data.data()));

  std::vector<uint8_t> whole(row->size);
  ASSERT_TRUE(programmer->Read(ctl.get(), 0, static_cast<int32_t>(row->size), whole.data()));
  EXPECT_TRUE(whole == expected);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), sim->Contents().begin()));
}

INSTANTIATE_TEST_SUITE_P(Chips, OnSimulatedChip,
                         testing::Values(SimCase{"M25P80", SPIKIND_RT1, 0x1F0, 600},
                                         SimCase{"M25P80", SPIKIND_RT2, 0x8000, 0x10000},
                                         SimCase{"M25P16", SPIKIND_RT2, 0x1FFF01, 0xFF},
                                         SimCase{"M25P32", SPIKIND_RT1, 0x12345, 777},
                                         SimCase{"M25P64", SPIKIND_RT2, 0x7FFF00, 0x100},
                                         SimCase{"M25P128", SPIKIND_RT2, 0x3FF80, 0x100},
                                         SimCase{"N25Q128", SPIKIND_RT2, 0xFFFF81, 0x7F},
                                         SimCase{"N25Q128", SPIKIND_RT1, 0x10001, 300},
                                         SimCase{"AT45DB081", SPIKIND_RT1, 65536, 1000},
                                         SimCase{"AT45DB081", SPIKIND_RT2, 1000, 10},
                                         SimCase{"AT45DB081", SPIKIND_RT1, 264 * 4095 + 100, 164}),
                         [](const testing::TestParamInfo<SimCase>& info) {
                           return std::string(info.param.chip) + "_kind" + std::to_string(info.param.kind) +
                                  "_" + std::to_string(info.index);
                         });

// -u's rewrite of one erase unit, seen in the whole chip: first a change
// that only clears bits (no erase), then one that needs the erase; the rest
// of the chip stays as it was.
TEST(RewriteOnSimulatedChip, ChangesTheUnitAndNothingElse) {
  FakeClock clock;
  for (const char* chip : {"M25P80", "M25P128", "AT45DB081"}) {
    SCOPED_TRACE(chip);
    const std::unique_ptr<SimInterface> sim = testsupport::MakeSim({.chip = chip});
    ASSERT_TRUE(sim);
    SimSpiCtl ctl(*sim, SPIKIND_RT2);
    ASSERT_TRUE(ctl.BringUp());
    const std::unique_ptr<SFPRG> programmer = ProgrammerFor(Row(chip));
    const uint32_t unit = programmer->GetEraseUnit();
    const uint32_t start = 3 * unit;
    const std::vector<uint8_t> before = Pattern(programmer->GetSize(), 0x5A);
    std::copy(before.begin(), before.end(), sim->Contents().begin());

    std::vector<uint8_t> cleared(before.begin() + start, before.begin() + start + unit);
    for (size_t i = 0; i < cleared.size(); i += 7) cleared[i] &= 0x81;
    ASSERT_TRUE(programmer->RewriteUnit(&ctl, start, cleared.data(), before.data() + start, false));
    std::vector<uint8_t> expected = before;
    std::copy(cleared.begin(), cleared.end(), expected.begin() + start);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), sim->Contents().begin()));

    const std::vector<uint8_t> fresh = Pattern(unit, 0x3C);
    ASSERT_TRUE(programmer->RewriteUnit(&ctl, start, fresh.data(), cleared.data(), true));
    std::copy(fresh.begin(), fresh.end(), expected.begin() + start);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), sim->Contents().begin()));
  }
}

// A chip that holds every sector protected reads as protected whole.
TEST(ProtectionOnSimulatedChip, EveryProtectedSectorReadsAsProtected) {
  FakeClock clock;
  for (const char* chip : {"M25P80", "N25Q128", "AT45DB081"}) {
    SCOPED_TRACE(chip);
    for (const bool protect : {false, true}) {
      const std::unique_ptr<SimInterface> sim = testsupport::MakeSim({.chip = chip, .protect = protect});
      ASSERT_TRUE(sim);
      SimSpiCtl ctl(*sim, SPIKIND_RT1);
      ASSERT_TRUE(ctl.BringUp());
      const std::unique_ptr<SFPRG> programmer = ProgrammerFor(Row(chip));
      WriteProtection protection;
      ASSERT_TRUE(programmer->ReadProtection(&ctl, &protection));
      using Areas = std::vector<WriteProtection::Area>;
      const Areas expected = protect ? Areas{{0, programmer->GetSize()}} : Areas{};
      EXPECT_EQ(protection.areas, expected);
    }
  }
}

// A chip that never finishes its first program: the write fails once the
// page program bound has passed, instead of polling for ever.
TEST(StuckSimulatedChip, FailsTheWrite) {
  FakeClock clock(0, 1);
  for (const char* chip : {"M25P80", "AT45DB081"}) {
    SCOPED_TRACE(chip);
    const std::unique_ptr<SimInterface> sim = testsupport::MakeSim({.chip = chip, .stuck = true});
    ASSERT_TRUE(sim);
    SimSpiCtl ctl(*sim, SPIKIND_RT2);
    ASSERT_TRUE(ctl.BringUp());
    const std::unique_ptr<SFPRG> programmer = ProgrammerFor(Row(chip));
    const std::vector<uint8_t> data = Pattern(264, 1);
    EXPECT_FALSE(programmer->Write(&ctl, 0, 264, data.data()));
    EXPECT_EQ(programmer->LastWait().end, SFPRG::WaitEnd::kTimedOut);
  }
}

}  // namespace
