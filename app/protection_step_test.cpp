// SPDX-License-Identifier: MIT
// The protection step of a run, in process, against the recording fake
// controller: which protection refuses which run, what -unprotect sends, and
// everything the chip receives, as tables in the chip's terms.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/flashapp.h"
#include "app/options.h"
#include "flash/flashdev.h"
#include "testsupport/fake_clock.h"
#include "testsupport/recording_spictl.h"
#include "testsupport/run_program.h"

namespace {

using Lines = std::vector<std::string>;
using testsupport::RecordingSpiCtl;

struct StepCase {
  const char* name;
  std::vector<uint8_t> id;
  std::vector<uint8_t> statuses;  // answered by the status reads in turn; the last repeats
  std::vector<uint8_t> sectorRegister;  // DataFlash: the sector protection register
  std::function<void()> options;  // on top of "-w" of 16 bytes with -NE and -NV, or instead of it
  std::string output;             // "FILE" stands for the input file's name
  int32_t resultCode;
  Lines transactions;
  std::vector<size_t> failingCalls = {};
};

const std::vector<uint8_t> kM25P80 = {0x20, 0x20, 0x14};
const std::vector<uint8_t> kN25Q128 = {0x20, 0xBA, 0x18};
const std::vector<uint8_t> kAT45DB081 = {0x1F, 0x25, 0x00};

/// "-w" of the 16-byte file at `address`, without erase or verify.
std::function<void()> WriteAt(uint32_t address, std::function<void()> more = [] {}) {
  return [=] {
    options.SetWriteFlash(true);
    options.SetRangeErase(false);
    options.SetVerify(false);
    options.SetAddress(address);
    more();
  };
}

std::function<void()> Unprotect(std::function<void()> more = [] {}) {
  return [=] {
    options.SetUnprotect(true);
    more();
  };
}

/// No erase and no write: a run that touches nothing.
void TouchNothing() { options.SetRangeErase(false); }

const std::string kWritten = "Writing file: FILE to flash memory device\nBytes written to flash: 16\n";
const std::string kRefused = "Flash memory device is write protected (status 0x%s); -unprotect clears its protection\n";

std::string Refused(const char* status) {
  std::string text = kRefused;
  return text.replace(text.find("%s"), 2, status);
}

class ProtectionStep : public testing::TestWithParam<StepCase> {
 protected:
  void SetUp() override {
    options.FreeNames();
    ASSERT_TRUE(app.Startup());
    testsupport::WriteFile(input, std::string(16, '\x5A'));
    options.SetFileName(input.c_str());
  }
  void TearDown() override {
    app.Shutdown();
    options.SetDefaults();
  }

  testsupport::FakeClock clock;
  testsupport::ScratchDir dir;
  const std::string input = dir.File("in.bin");
  FLASHAPP app;
};

TEST_P(ProtectionStep, DecidesBeforeAnythingIsTouched) {
  const StepCase& c = GetParam();
  c.options();
  auto owned = std::make_unique<RecordingSpiCtl>();
  RecordingSpiCtl& ctl = *owned;
  ctl.Answer(0x9F, c.id);
  ctl.AnswerStatus(c.id[0] == 0x1F ? 0xD7 : 0x05, c.statuses);
  ctl.Answer(0x32, c.sectorRegister, 4);
  // Identification first sets the clock every known part takes, then reads
  // the code twice: four calls more.
  for (size_t call : c.failingCalls) ctl.FailCall(call + 4);
  app.controller = std::move(owned);

  testing::internal::CaptureStdout();
  app.RunOperations();
  std::string expected = c.output;
  if (const size_t at = expected.find("FILE"); at != std::string::npos) expected.replace(at, 4, input);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
  EXPECT_EQ(options.GetResultCode(), c.resultCode);
  // Identification runs at the clock every known part takes; then the run
  // goes back to the clock it asked for, as far as the part takes it.
  std::vector<std::string> transactions = c.transactions;
  if (!transactions.empty() && transactions[0] == "9F 00 00 00") transactions[0] += " x2";
  const FLASHDEV* row = FindDeviceById(c.id.data());
  transactions.insert(transactions.begin(), "speed 40000000");
  if (row && row->maxHz > 40000000 && transactions.size() > 1) {
    transactions.insert(transactions.begin() + 2, "speed " + std::to_string(std::min(row->maxHz, kBringUpClockHz)));
  }
  EXPECT_EQ(ctl.Transactions(), transactions);
}

std::vector<uint8_t> SectorOneProtected() {
  std::vector<uint8_t> sectors(16, 0x00);
  sectors[1] = 0xFF;
  return sectors;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProtectionStep,
    testing::Values(
        // BP = 1 on the M25P80 protects its last sector only.
        StepCase{"RefusedWhereTheWriteGoes", kM25P80, {0x04}, {}, WriteAt(0xF0000), Refused("04"), 14,
                 {"9F 00 00 00", "05 poll"}},
        StepCase{"GoesOnOutsideTheProtectedArea", kM25P80, {0x04}, {}, WriteAt(0xE0000), kWritten, 0,
                 {"9F 00 00 00", "05 poll", "06", "02 0E 00 00 +16", "05 poll"}},
        // TB set: the N25Q128 protects from the bottom.
        StepCase{"BottomAreaOfTheN25Q128", kN25Q128, {0x24}, {}, WriteAt(0), Refused("24"), 14,
                 {"9F 00 00 00", "05 poll"}},
        StepCase{"UnprotectThenWrite", kM25P80, {0x1C, 0x00}, {}, Unprotect(WriteAt(0)), kWritten, 0,
                 {"9F 00 00 00", "05 poll", "06", "01 00", "05 poll x2", "06", "02 00 00 00 +16", "05 poll"}},
        StepCase{"UnprotectTheChipIgnores", kM25P80, {0x1C}, {}, Unprotect(WriteAt(0)),
                 "Flash memory device is still write protected (status 0x1C): it ignored -unprotect\n", 14,
                 {"9F 00 00 00", "05 poll", "06", "01 00", "05 poll x2"}},
        StepCase{"StatusRegisterLockedBySrwd", kM25P80, {0x9C}, {}, Unprotect(WriteAt(0)),
                 "Flash memory device is still write protected (status 0x9C): "
                 "SRWD locks its status register while W# is held low\n",
                 14, {"9F 00 00 00", "05 poll", "06", "01 00", "05 poll x2"}},
        // With nothing to erase or write, -unprotect clears and the run goes on.
        StepCase{"UnprotectAlone", kM25P80, {0x1C, 0x00}, {}, Unprotect(TouchNothing), "", 0,
                 {"9F 00 00 00", "05 poll", "06", "01 00", "05 poll x2"}},
        StepCase{"UnprotectWithNothingProtected", kM25P80, {0x80}, {}, Unprotect(TouchNothing), "", 0,
                 {"9F 00 00 00", "05 poll"}},
        StepCase{"NothingToTouchAsksNothing", kM25P80, {0x1C}, {}, TouchNothing, "", 0, {"9F 00 00 00"}},
        StepCase{"BulkEraseOfAChipWithOneProtectedSector", kM25P80, {0x04}, {},
                 [] { options.SetBulkErase(true); options.SetRangeErase(false); },
                 Refused("04"), 14, {"9F 00 00 00", "05 poll"}},
        // A status of all ones: nothing drives the data line, whatever -unprotect says.
        StepCase{"NoChipAnswersTheStatusRead", kM25P80, {0xFF}, {}, Unprotect(WriteAt(0)),
                 "Flash memory device does not answer (status 0xFF): check the wiring\n", 4, {"9F 00 00 00", "05 poll"}},
        StepCase{"StatusReadFails", kM25P80, {0x00}, {}, WriteAt(0), "Error reading from SPI device\n", 4,
                 {"9F 00 00 00", "05 poll !failed"}, {4}},
        // The DataFlash: sector protection enabled (status bit 1), sector 1 protected.
        StepCase{"DataFlashOutsideTheProtectedSector", kAT45DB081, {0xA6}, SectorOneProtected(), WriteAt(0),
                 kWritten, 0,
                 {"9F 00 00 00", "D7 poll", "32 00 00 00 +16 of 00", "53 00 00 00", "D7 poll", "84 00 00 00 +16",
                  "83 00 00 00", "D7 poll"}},
        StepCase{"DataFlashProtectedSector", kAT45DB081, {0xA6}, SectorOneProtected(), WriteAt(67584),
                 Refused("A6"), 14, {"9F 00 00 00", "D7 poll", "32 00 00 00 +16 of 00"}},
        StepCase{"DataFlashUnprotect", kAT45DB081, {0xA6, 0xA4}, SectorOneProtected(), Unprotect(TouchNothing), "",
                 0, {"9F 00 00 00", "D7 poll", "32 00 00 00 +16 of 00", "3D 2A 7F 9A", "D7 poll"}}),
    [](const testing::TestParamInfo<StepCase>& info) { return std::string(info.param.name); });

}  // namespace
