// SPDX-License-Identifier: MIT
// The simulated interface device: call accounting, the select line, the SPI
// clock and the chip's image file.
#include "sim/sim_interface.h"

#ifndef _WIN32
#include <signal.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "sim/dataflash_chip.h"
#include "sim/sector_erase_chip.h"
#include "sim/serial_nor_chip.h"

namespace {

// The device divides its base clock, twice its top clock, by a 16-bit divisor
// of at least 2.
constexpr uint32_t kMinDivisor = 2;
constexpr uint32_t kMaxDivisor = 65536;
constexpr uint32_t kPowerOnHz = 1'000'000;
// The commands that may change the array, in either family.
constexpr SimOp kArrayChangingOps[] = {SimOp::kPageProgram, SimOp::kSectorErase,  SimOp::kChipErase,
                                       SimOp::kBlockErase,  SimOp::kBufferToPage, SimOp::kBufferToPageNoErase,
                                       SimOp::kPageErase};

uint32_t SectorCount(const SimChipFacts& facts) { return facts.pageCount / facts.protectSectorPages; }

/// `protect` in the terms of protectBits.
uint32_t EverySectorProtected(const SimChipFacts& facts) {
  return facts.family == SimFamily::kDataFlash ? (1u << SectorCount(facts)) - 1 : facts.protectBits;
}

std::unique_ptr<ChipModel> MakeChip(const SimChipFacts& facts, const VirtualClock& clock,
                                    const SimConfig& config, std::optional<std::vector<uint8_t>> sfdp) {
  ChipFaults faults{.id = config.id,
                    .stuck = config.stuck,
                    .idGlitch = config.idGlitch,
                    .readGlitch = config.readGlitch,
                    .protect = config.protectBits,
                    .writeProtectPin = config.writeProtectPin,
                    .quadEnable = config.quadEnable,
                    .sfdp = std::move(sfdp),
                    .noSfdp = config.noSfdp,
                    .flips = {config.flips.begin(), config.flips.end()}};
  if (config.protect) faults.protect = EverySectorProtected(facts);
  switch (facts.family) {
    case SimFamily::kDataFlash: return std::make_unique<DataFlashChip>(facts, clock, faults);
    case SimFamily::kSerialNor: return std::make_unique<SerialNorChip>(facts, clock, faults);
    case SimFamily::kSectorErase: break;
  }
  return std::make_unique<SectorEraseChip>(facts, clock, faults);
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

void HoldUntilSignal(uint64_t call) {
#ifndef _WIN32
  // Blocked before the line goes out, so that a signal sent on reading it
  // waits for sigsuspend instead of slipping in before it.
  sigset_t interrupting, before;
  sigemptyset(&interrupting);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&interrupting, signal);
  sigprocmask(SIG_BLOCK, &interrupting, &before);
  std::fprintf(stderr, "romwick runtime: holding call %llu until a signal\n", static_cast<unsigned long long>(call));
  std::fflush(stderr);
  sigset_t waiting = before;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigdelset(&waiting, signal);
  sigsuspend(&waiting);
  sigprocmask(SIG_SETMASK, &before, nullptr);
#else
  (void)call;
#endif
}

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

/// Refuses protection and flip addresses that the chip does not have, so that
/// a mistyped key fails the open instead of testing something else.
bool CheckFaults(const SimChipFacts& facts, const SimConfig& config, std::string* error) {
  const std::string chip = facts.name;
  if (config.protectBits && !config.protect) {
    const uint32_t bits = *config.protectBits;
    if (facts.family == SimFamily::kDataFlash && bits >> SectorCount(facts) != 0) {
      *error = "protection mask " + Hex(bits) + " names sectors the " + chip + " does not have (it has " +
               std::to_string(SectorCount(facts)) + ")";
      return false;
    }
    if (facts.family != SimFamily::kDataFlash && (bits & ~uint32_t{facts.statusWritable}) != 0) {
      *error = "protection bits " + Hex(bits) + " are not all in the " + chip + " status register (" +
               Hex(facts.statusWritable) + ")";
      return false;
    }
  }
  if (config.quadEnable && !(facts.nor && facts.nor->quadEnable.mask != 0)) {
    *error = "the " + chip + " has no quad-enable bit";
    return false;
  }
  if ((config.noSfdp || !config.sfdpFile.empty()) && !facts.nor) {
    *error = "the " + chip + " answers no SFDP";
    return false;
  }
  for (uint32_t address : config.flips) {
    if (address >= facts.Size()) {
      *error = "flip address " + Hex(address) + " is beyond the " + chip + " (" + std::to_string(facts.Size()) +
               " bytes)";
      return false;
    }
  }
  return true;
}

/// Creates a file beside `path` under a name not yet taken and returns it open
/// for writing, with its name in `name`; null when the folder takes no file.
std::FILE* CreateBeside(const std::string& path, std::string* name) {
  // Not std::random_device: early in a board's boot it waits for the
  // kernel's entropy, for minutes. The name need only differ from the
  // names of other saves running at the same time, and "x" catches a clash.
  const auto now = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  for (unsigned attempt = 0; attempt < 8; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%08X.tmp",
                  static_cast<unsigned>((now ^ (now >> 32)) * 2654435761u + attempt * 40503u));
    *name = path + suffix;
    // "x": created here or not at all, never another file taken over.
    if (std::FILE* file = std::fopen(name->c_str(), "wbx")) return file;
    std::error_code ec;
    if (!std::filesystem::exists(*name, ec)) return nullptr;
  }
  return nullptr;
}

/// Writes `contents` as the image at `path`: whole into a new file beside it,
/// then renamed over it. A rename within one folder replaces the name at
/// once, so a process killed at any point leaves the old image or the new
/// one, never a part of each (at worst a stray new file beside them). Nothing
/// forces the data to the disk: a power cut is not what this guards against.
bool WriteImage(const std::string& path, const std::vector<uint8_t>& contents, std::string* error) {
  std::string name;
  std::FILE* file = CreateBeside(path, &name);
  bool ok = file && std::fwrite(contents.data(), 1, contents.size(), file) == contents.size();
  if (file && std::fclose(file) != 0) ok = false;
  std::error_code ec;
  if (ok) {
    // The image keeps the permissions it had.
    const auto old = std::filesystem::status(path, ec);
    if (!ec && std::filesystem::exists(old)) std::filesystem::permissions(name, old.permissions(), ec);
    std::filesystem::rename(name, path, ec);
    ok = !ec;
  }
  if (!ok) {
    if (file) std::filesystem::remove(name, ec);
    *error = "cannot write image file " + Quoted(path);
  }
  return ok;
}

/// The SFDP space a file holds; at most the 16 MiB that 5Ah's three address
/// bytes reach.
bool ReadSfdpFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
  constexpr uintmax_t kSfdpSpace = uintmax_t{1} << 24;
  std::error_code ec;
  const uintmax_t size = std::filesystem::file_size(path, ec);
  std::FILE* file = ec || size > kSfdpSpace ? nullptr : std::fopen(path.c_str(), "rb");
  bytes->resize(file ? size : 0);
  const bool ok = file && std::fread(bytes->data(), 1, bytes->size(), file) == bytes->size();
  if (file) std::fclose(file);
  if (!ok) *error = "cannot read SFDP file " + Quoted(path) + (size > kSfdpSpace && !ec ? " (larger than 16 MiB)" : "");
  return ok;
}

bool ReadImage(const std::string& path, std::vector<uint8_t>& contents, std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  const bool ok = file && std::fread(contents.data(), 1, contents.size(), file) == contents.size();
  if (file) std::fclose(file);
  if (!ok) *error = "cannot read image file " + Quoted(path);
  return ok;
}

/// Fills `contents` from the image, or creates the image from the erased
/// contents when it does not exist yet.
bool OpenImage(const std::string& path, const char* chip, std::vector<uint8_t>& contents,
               std::string* error) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return WriteImage(path, contents, error);
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) {
    *error = "cannot read image file " + Quoted(path);
    return false;
  }
  if (size != contents.size()) {
    *error = "image file " + Quoted(path) + " holds " + std::to_string(size) + " bytes; the " + chip +
             " holds " + std::to_string(contents.size());
    return false;
  }
  return ReadImage(path, contents, error);
}

}  // namespace

SimInterface::SimInterface(const SimConfig& config) : config_(config) { SetClock(kPowerOnHz); }

std::unique_ptr<SimInterface> SimInterface::Create(const SimConfig& config, std::string* error) {
  std::unique_ptr<SimInterface> sim(new SimInterface(config));
  if (config.noChip) return sim;
  const SimChipFacts* facts = FindSimChip(config.chip);
  if (!facts) {
    *error = "unknown chip " + Quoted(config.chip);
    return nullptr;
  }
  if (!CheckFaults(*facts, config, error)) return nullptr;
  std::optional<std::vector<uint8_t>> sfdp;
  if (!config.sfdpFile.empty() && !ReadSfdpFile(config.sfdpFile, &sfdp.emplace(), error)) return nullptr;
  sim->chip_ = MakeChip(*facts, sim->clock_, config, std::move(sfdp));
  if (!config.image.empty() && !OpenImage(config.image, facts->name, sim->chip_->Contents(), error))
    return nullptr;
  return sim;
}

bool SimInterface::BeginCall() {
  ++calls_;
  if (calls_ == config_.holdCall) HoldUntilSignal(calls_);
  clock_.Advance(uint64_t{config_.latencyUs} * 1000);
  return calls_ != config_.failCall;
}

void SimInterface::SetSelectLine(bool high) {
  if (high == selectHigh_) return;
  selectHigh_ = high;
  if (!high) ++selects_;
  if (!chip_) return;
  if (high) {
    chip_->Deselect();
  } else {
    chip_->Select();
  }
}

uint32_t SimInterface::SetClock(uint32_t hz) {
  const uint64_t baseHz = uint64_t{config_.topClockHz} * kMinDivisor;
  const uint64_t divisor =
      hz == 0 ? kMaxDivisor : std::clamp<uint64_t>((baseHz + hz - 1) / hz, kMinDivisor, kMaxDivisor);
  clockHz_ = static_cast<uint32_t>(std::max<uint64_t>(1, baseHz / divisor));
  clock_.SetBitRate(clockHz_);
  return clockHz_;
}

void SimInterface::Transfer(const uint8_t* tx, uint8_t* rx, size_t n) { Clock({tx, false}, rx, n); }

void SimInterface::TransferFill(uint8_t fill, uint8_t* rx, size_t n) { Clock({&fill, true}, rx, n); }

void SimInterface::Clock(TxBytes tx, uint8_t* rx, size_t n) {
  bytes_ += n;
  if (!chip_ || selectHigh_) {
    // Nobody drives the data-out line; its pull-up reads FF.
    if (rx) std::fill_n(rx, n, 0xFF);
    clock_.AdvanceBytes(n);
    return;
  }
  for (size_t done = 0; done < n;) {
    const size_t taken = chip_->Clock(tx.From(done), rx ? rx + done : nullptr, n - done);
    clock_.AdvanceBytes(taken);
    done += taken;
  }
}

SimStats SimInterface::Stats() const {
  SimStats stats{.calls = calls_, .bytes = bytes_, .selects = selects_, .timeNs = clock_.Now()};
  if (chip_) stats.ops = chip_->Ops();
  return stats;
}

bool SimInterface::Save(std::string* error) const {
  if (!chip_ || config_.image.empty()) return true;
  const SimStats stats = Stats();
  const bool changes = std::ranges::any_of(kArrayChangingOps, [&](SimOp op) { return stats.Ops(op) > 0; });
  if (!changes && !contentsShared_) return true;
  return WriteImage(config_.image, chip_->Contents(), error);
}

std::span<uint8_t> SimInterface::Contents() {
  if (!chip_) return {};
  contentsShared_ = true;
  return chip_->Contents();
}
