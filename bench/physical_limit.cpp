// SPDX-License-Identifier: MIT
// physical_limit: the shortest time a sector-erase or serial NOR part of the
// simulator's table can take for whole-chip work at the clock the simulated
// interface grants: the datasheet's typical busy times plus the bytes the
// commands must clock, with nothing between the commands. The benchmarks
// divide the simulator's modelled times by these.
//
//   physical_limit <chip> <requested SPI clock in Hz | max> <bytes> [<top clock in Hz>]
//
// prints "clock <Hz>", then "erase", "program" and "read" with seconds: a bulk
// erase, programming <bytes> from address 0 page by page, and reading them.
// The top clock is the fastest the interface grants (the simulator's 30 MHz
// unless given: the CH347's is 60 MHz). "max" asks for the part's own fastest
// clock, the one every command but the plain read takes, and grants it.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "sim/sim_chip_facts.h"
#include "sim/sim_interface.h"

namespace {

// Command bytes: write enable 06, bulk erase C7, a status read 05 (or a flag
// status read 70h) plus the status byte, an opcode with its address (page
// program, read): three bytes up to 16 MiB, four above, where the part's
// 4-byte opcodes or 4-byte mode carry them. A read above the part's
// plain-read clock is a fast read, one dummy byte after the address.
constexpr double kWriteEnable = 1;
constexpr double kBulkErase = 1;
constexpr double kStatusRead = 2;
constexpr uint64_t kThreeByteSpan = uint64_t{1} << 24;

double AddressedBytes(const SimChipFacts& chip) { return chip.Size() > kThreeByteSpan ? 5 : 4; }

int Usage() {
  std::fprintf(stderr, "usage: physical_limit <chip> <clock Hz | max> <bytes> [<top clock Hz>]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) return Usage();
  const SimChipFacts* chip = FindSimChip(argv[1]);
  if (!chip || chip->family == SimFamily::kDataFlash) return Usage();
  const bool fastest = std::string(argv[2]) == "max";
  const unsigned long requestedHz = fastest ? chip->maxHz : std::strtoul(argv[2], nullptr, 10);
  const double bytes = std::strtod(argv[3], nullptr);
  if (requestedHz == 0 || bytes <= 0 || (fastest && argc == 5)) return Usage();

  std::string error;
  SimConfig config{.noChip = true};
  if (fastest) config.topClockHz = chip->maxHz;
  if (argc == 5) config.topClockHz = static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10));
  if (config.topClockHz == 0) return Usage();
  const std::unique_ptr<SimInterface> bus = SimInterface::Create(config, &error);
  if (!bus) return Usage();
  const double hz = bus->SetClock(static_cast<uint32_t>(requestedHz));
  const double byteS = 8 / hz;
  const double pages = static_cast<double>(static_cast<uint64_t>(bytes + chip->pageSize - 1) / chip->pageSize);

  const double erase = (kWriteEnable + kBulkErase + kStatusRead) * byteS + chip->chipEraseNs / 1e9;
  const double addressed = AddressedBytes(*chip);
  const double readHeader = addressed + (hz > chip->readMaxHz ? 1 : 0);
  const double program =
      pages * ((kWriteEnable + addressed + kStatusRead) * byteS + chip->programNs / 1e9) + bytes * byteS;
  const double read = (readHeader + bytes) * byteS;
  std::printf("clock %.0f\nerase %.6f\nprogram %.6f\nread %.6f\n", hz, erase, program, read);
  return 0;
}
