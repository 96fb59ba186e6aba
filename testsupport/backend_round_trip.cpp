// SPDX-License-Identifier: MIT
// The round trip of a backend's test double.
#include "testsupport/backend_round_trip.h"

#include <gtest/gtest.h>

#include "testsupport/write_expectations.h"

namespace testsupport {

void CheckWriteAndReadBack(const SimChipFacts& chip, uint32_t length, const RoundTrip& trip) {
  ScratchDir dir;
  const std::string image = dir.File("chip.bin");
  const std::string description = std::string("chip=") + chip.name + ",image=" + image + trip.moreDescription;
  const bool rangeErase = chip.family != SimFamily::kDataFlash;
  const uint32_t address = chip.Size() / 2 + 0x1234;
  std::string expected = Pattern(chip.Size(), 7);
  WriteFile(image, expected);
  const std::string data = Pattern(length, address);
  const std::string input = dir.File("in.bin");
  WriteFile(input, data);
  auto checkDouble = [&] {
    if (trip.afterEachRun) trip.afterEachRun();
  };

  const ProgramResult write = trip.run(description, {"-d", trip.device, trip.generation, "-w", input, "-a",
                                                     std::to_string(address), rangeErase ? "-e" : "-NE"});
  expected = ImageAfterWrite(chip, expected, address, data, rangeErase);
  EXPECT_EQ(write.output, WriteOutput(input, length, rangeErase));
  EXPECT_EQ(write.exitCode, 0);
  EXPECT_EQ(write.errors, "");
  EXPECT_TRUE(ReadFile(image) == expected);
  checkDouble();

  const std::string output = dir.File("out.bin");
  const ProgramResult read = trip.run(description, {"-d", trip.device, trip.generation, "-r", output, "-a",
                                                    std::to_string(address), "-l", std::to_string(length)});
  EXPECT_EQ(read.exitCode, 0) << read.output;
  EXPECT_EQ(read.errors, "");
  EXPECT_TRUE(ReadFile(output) == data);
  EXPECT_TRUE(ReadFile(image) == expected);
  checkDouble();

  if (!rangeErase) return;
  const ProgramResult erase =
      trip.run(description, {"-d", trip.device, trip.generation, "-e", "-a", std::to_string(address), "-l", "1"});
  const uint32_t unit = RangeEraseUnit(chip);
  expected.replace(address / unit * unit, unit, unit, '\xFF');
  EXPECT_EQ(erase.output, "Doing partial erase of flash memory device\n");
  EXPECT_EQ(erase.exitCode, 0);
  EXPECT_EQ(erase.errors, "");
  EXPECT_TRUE(ReadFile(image) == expected);
  checkDouble();
}

void CheckBulkErase(const SimChipFacts& chip, const RoundTrip& trip) {
  ScratchDir dir;
  const std::string image = dir.File("chip.bin");
  WriteFile(image, Pattern(chip.Size(), 3));
  const ProgramResult run = trip.run(std::string("chip=") + chip.name + ",image=" + image + trip.moreDescription,
                                     {"-d", trip.device, trip.generation, "-E"});
  EXPECT_EQ(run.output, "Doing bulk erase of entire flash memory device\n");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.errors, "");
  EXPECT_TRUE(ReadFile(image) == std::string(chip.Size(), '\xFF'));
}

ProgramResult CheckWriteFailsPartWay(const RoundTrip& trip, uint32_t length) {
  ScratchDir dir;
  const std::string image = dir.File("chip.bin");
  const std::string input = dir.File("in.bin");
  const std::string data = Pattern(length, 5);
  WriteFile(input, data);
  WriteFile(image, std::string(FindSimChip("M25P80")->Size(), '\xFF'));
  const ProgramResult run = trip.run("chip=M25P80,image=" + image + trip.moreDescription,
                                     {"-d", trip.device, trip.generation, "-w", input, "-NE"});
  EXPECT_EQ(run.output, "Writing file: " + input + " to flash memory device\nError writing to the flash memory\n");
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_EQ(CheckWriteCutShort(ReadFile(image), data, 256), "");
  return run;
}

}  // namespace testsupport
