// SPDX-License-Identifier: MIT
#include "app/run_plan.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "flash/flashdev.h"
#include "flash/sfpa.h"
#include "flash/sfpb.h"

namespace {

using Commands = std::vector<SFPRG::EraseCommand>;
using Ranges = std::vector<FlashRange>;

constexpr uint32_t k4K = 0x1000;
constexpr uint32_t k32K = 0x8000;
constexpr uint32_t k64K = 0x10000;

struct PlanCase {
  const char* name;
  const char* part;
  RunRequest request;
  Commands erase;
  Ranges program;
  Ranges updateRuns;
  Ranges touched;  // what the protection check guards
};

std::unique_ptr<SFPRG> Programmer(const char* part) {
  const FLASHDEV* row = FindDeviceByName(part);
  std::unique_ptr<SFPRG> programmer;
  if (row->type == FLASHTYPE_DATAFLASH) {
    programmer = std::make_unique<SFPB>();
  } else {
    programmer = std::make_unique<SFPA>();
  }
  programmer->SetDevice(*row);
  return programmer;
}

class Plan : public testing::TestWithParam<PlanCase> {};

TEST_P(Plan, GivesWhatEachStepDoesAndWhatTheProtectionCheckGuards) {
  const PlanCase& c = GetParam();
  const std::unique_ptr<SFPRG> programmer = Programmer(c.part);
  const RunPlan plan = PlanRun(c.request, *programmer);
  EXPECT_EQ(plan.erase, c.erase);
  EXPECT_EQ(plan.program, c.program);
  EXPECT_EQ(plan.updateRuns, c.updateRuns);
  EXPECT_EQ(plan.Touched(programmer->GetSize()), c.touched);
}

RunRequest Erase(uint32_t address, uint32_t length) {
  return {.rangeErase = true, .address = address, .length = length};
}

RunRequest Write(uint32_t address, std::vector<ImageSpan> spans, bool update = false) {
  return {.rangeErase = !update, .writing = true, .updating = update, .address = address, .spans = std::move(spans)};
}

INSTANTIATE_TEST_SUITE_P(
    Requests, Plan,
    testing::Values(
        // One erase unit: the first command carries the start itself.
        PlanCase{"RangeEraseOneUnit", "M25P80", Erase(0x10F00, 0x21200),
                 {{0x10F00, 0x10000, k64K}, {0x20000, 0x20000, k64K}, {0x30000, 0x30000, k64K}}, {}, {},
                 {{0x10000, 0x20000}, {0x20000, 0x30000}, {0x30000, 0x40000}}},
        // Several: the largest aligned blocks inside, 4 KiB sectors at the edges.
        PlanCase{"RangeEraseSeveralUnits", "W25Q128JV", Erase(0x0F800, 0x19000),
                 {{0x0F000, 0x0F000, k4K}, {0x10000, 0x10000, k64K}, {0x20000, 0x20000, k32K}, {0x28000, 0x28000, k4K}},
                 {}, {},
                 {{0x0F000, 0x10000}, {0x10000, 0x20000}, {0x20000, 0x28000}, {0x28000, 0x29000}}},
        // A range past the end stops at it; one wholly past it erases nothing.
        PlanCase{"RangeEraseAtTheEnd", "M25P80", Erase(0xFF000, 0x8000), {{0xFF000, 0xF0000, k64K}}, {}, {},
                 {{0xF0000, 0x100000}}},
        PlanCase{"RangeErasePastTheEnd", "M25P80", Erase(0x100000, 16), {}, {}, {}, {}},
        // A binary write: the units under the image, the image's bytes programmed.
        PlanCase{"BinaryWrite", "W25Q128JV", Write(0x1234, {{0, 0x3000}}),
                 {{0x1000, 0x1000, k4K}, {0x2000, 0x2000, k4K}, {0x3000, 0x3000, k4K}, {0x4000, 0x4000, k4K}},
                 {{0x1234, 0x4234}}, {},
                 {{0x1000, 0x2000}, {0x2000, 0x3000}, {0x3000, 0x4000}, {0x4000, 0x5000}, {0x1234, 0x4234}}},
        // A sparse Intel HEX image: nothing between its records is erased.
        PlanCase{"SparseHexOneUnit", "M25P80", Write(0, {{0x100, 0x100}, {0x30000, 0x10}}),
                 {{0x100, 0x0, k64K}, {0x30000, 0x30000, k64K}}, {{0x100, 0x200}, {0x30000, 0x30010}}, {},
                 {{0x0, 0x10000}, {0x30000, 0x40000}, {0x100, 0x200}, {0x30000, 0x30010}}},
        PlanCase{"SparseHexSeveralUnits", "W25Q128JV", Write(0, {{0x100, 0x100}, {0x1F00, 0x200}, {0x30000, 0x10}}),
                 {{0x0, 0x0, k4K}, {0x1000, 0x1000, k4K}, {0x2000, 0x2000, k4K}, {0x30000, 0x30000, k4K}},
                 {{0x100, 0x200}, {0x1F00, 0x2100}, {0x30000, 0x30010}}, {},
                 {{0x0, 0x1000},
                  {0x1000, 0x2000},
                  {0x2000, 0x3000},
                  {0x30000, 0x31000},
                  {0x100, 0x200},
                  {0x1F00, 0x2100},
                  {0x30000, 0x30010}}},
        // "-u": no range erase; the units under the image, joined where they touch.
        PlanCase{"UpdateSeveralUnits", "W25Q128JV", Write(0, {{0x100, 0x100}, {0x1F00, 0x200}, {0x30000, 0x10}}, true),
                 {}, {{0x100, 0x200}, {0x1F00, 0x2100}, {0x30000, 0x30010}}, {{0x0, 0x3000}, {0x30000, 0x31000}},
                 {{0x0, 0x3000}, {0x30000, 0x31000}}},
        PlanCase{"UpdateOneUnit", "M25P80", Write(0xFFF0, {{0, 0x20}}, true), {}, {{0xFFF0, 0x10010}},
                 {{0x0, 0x20000}}, {{0x0, 0x20000}}},
        // Above 16 MiB with 4-byte opcodes: the 32 KiB erase has none, so 4 KiB
        // sectors fill where it would have gone.
        PlanCase{"AcrossSixteenMebibytes", "W25Q256JV", Erase(0xFF8000, 0x20000),
                 {{0xFF8000, 0xFF8000, k4K},
                  {0xFF9000, 0xFF9000, k4K},
                  {0xFFA000, 0xFFA000, k4K},
                  {0xFFB000, 0xFFB000, k4K},
                  {0xFFC000, 0xFFC000, k4K},
                  {0xFFD000, 0xFFD000, k4K},
                  {0xFFE000, 0xFFE000, k4K},
                  {0xFFF000, 0xFFF000, k4K},
                  {0x1000000, 0x1000000, k64K},
                  {0x1010000, 0x1010000, k4K},
                  {0x1011000, 0x1011000, k4K},
                  {0x1012000, 0x1012000, k4K},
                  {0x1013000, 0x1013000, k4K},
                  {0x1014000, 0x1014000, k4K},
                  {0x1015000, 0x1015000, k4K},
                  {0x1016000, 0x1016000, k4K},
                  {0x1017000, 0x1017000, k4K}},
                 {}, {},
                 {{0xFF8000, 0xFF9000},
                  {0xFF9000, 0xFFA000},
                  {0xFFA000, 0xFFB000},
                  {0xFFB000, 0xFFC000},
                  {0xFFC000, 0xFFD000},
                  {0xFFD000, 0xFFE000},
                  {0xFFE000, 0xFFF000},
                  {0xFFF000, 0x1000000},
                  {0x1000000, 0x1010000},
                  {0x1010000, 0x1011000},
                  {0x1011000, 0x1012000},
                  {0x1012000, 0x1013000},
                  {0x1013000, 0x1014000},
                  {0x1014000, 0x1015000},
                  {0x1015000, 0x1016000},
                  {0x1016000, 0x1017000},
                  {0x1017000, 0x1018000}}},
        // A bulk erase guards the whole chip.
        PlanCase{"BulkErase", "N25Q128", RunRequest{.bulkErase = true}, {}, {}, {}, {{0, 0x1000000}}},
        // The DataFlash: its command set takes no range erase; the plan still
        // names its sectors, and the erase step refuses them.
        PlanCase{"DataFlashSectors", "AT45DB081", Erase(0x100, 0x20), {{0x100, 0x0, 67584}}, {}, {}, {{0x0, 67584}}}),
    [](const testing::TestParamInfo<PlanCase>& info) { return std::string(info.param.name); });

}  // namespace
