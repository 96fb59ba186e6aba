// SPDX-License-Identifier: MIT
// The run driver: the requested operations in their fixed order.
#include <algorithm>
#include <cstdio>
#include <new>

#include "app/flashapp.h"
#include "app/options.h"
#include "flash/flashdev.h"
#include "flash/sfpa.h"
#include "flash/sfpb.h"
#include "flash/sfprg.h"
#include "platform/platform.h"
#include "spi/spictl.h"

namespace {

// The interface device needs this long to settle after its configuration reset.
constexpr uint32_t kConfigResetSettleMs = 50;

/// The bound of a wait, as a person reads it.
void PrintTimedOut(const SFPRG::WaitRecord& wait) {
  printf("The flash memory device did not finish its %s within ", FlashOpName(wait.op));
  if (wait.boundMs < 1000) {
    printf("%u ms\n", wait.boundMs);
  } else {
    printf("%.1f s\n", static_cast<double>(wait.boundMs) / 1000.0);
  }
}

}  // namespace

void FLASHAPP::PrintElapsed(const char* label, uint32_t startTick) {
  // Unsigned difference: one wrap of the tick counter is harmless.
  const uint32_t ms = platform::GetTickCount() - startTick;
  printf("%s: %f\n", label, static_cast<double>(ms) / 1000.0);
}

bool FLASHAPP::AssertConfigReset(bool* asserted) {
  *asserted = false;
  if (!options.GetConfigReset()) return true;
  // A controller without management calls leaves the capabilities at none.
  uint32_t caps = 0;
  static_cast<void>(controller->GetMgmtCaps(&caps, &ctlError));
  if ((caps & SPICAP_CONFIG_RESET) == 0) {
    return Fail("Configuration reset not supported by this device\n", RC_NO_CONFIG_RESET);
  }
  // The device it should hold may still drive the bus: nothing is done to
  // the chip while it might.
  if (!controller->ConfigReset(true, &ctlError)) return Fail("Error accessing programming device\n", RC_DEVICE_ACCESS);
  platform::Sleep(kConfigResetSettleMs);
  *asserted = true;
  return true;
}

void FLASHAPP::ReleaseConfigReset() {
  if (controller->ConfigReset(false, &ctlError)) return;
  // The run's own failure, if it had one, is the code that tells why it ended.
  printf("Error accessing programming device\n");
  if (options.GetResultCode() == RC_OK) options.SetResultCode(RC_DEVICE_ACCESS);
}

void FLASHAPP::RunOperations() {
  const uint32_t runStart = platform::GetTickCount();
  // Without the programmer or the image buffer, Startup has recorded why.
  if (!programmer || !imageBuffer) return;
  if (Interrupted()) return;
  progress.SetOutput(platform::StandardErrorIsTerminal() ? stderr : nullptr);
  bool resetAsserted = false;
  if (!AssertConfigReset(&resetAsserted)) return;
  const bool completed = RunFlashSteps();
  progress.Clear();
  // Before the reset lets go: the board boots from the chip as it is left.
  FinishChip();
  // Released on every path, so the interface device is never left held in reset.
  if (resetAsserted) ReleaseConfigReset();
  if (completed && options.GetPrintTime()) PrintElapsed("Total Elapsed time", runStart);
}

bool FLASHAPP::RunFlashSteps() {
  if (options.GetSpiSpeed() != 0) {
    if (!controller->SetSpeed(options.GetSpiSpeed(), &ctlError)) {
      return Fail("Error accessing programming device\n", RC_DEVICE_ACCESS);
    }
    askedHz = options.GetSpiSpeed();
  }
  if (options.GetPrintId()) {
    PrintId();
    return false;
  }
  if (!IdentifyDevice()) return false;
  const bool writing = options.GetWriteFlash();
  if (writing && !PrepareWrite()) return false;
  plan = PlanRun(RunRequest{.bulkErase = options.GetBulkErase(),
                            .rangeErase = options.GetRangeErase(),
                            .writing = writing,
                            .updating = writing && options.GetUpdate(),
                            .address = options.GetAddress(),
                            .length = static_cast<uint32_t>(options.GetLength()),
                            .spans = imageSpans},
                 *programmer);
  // Loading a large file takes a while; a signal meanwhile stops the run
  // before the chip is touched.
  if (Interrupted() || !ProtectionStep()) return false;
  if (options.GetBulkErase() && !BulkErase()) return false;
  // "-u" erases, unit by unit, only what it has to.
  const bool updating = writing && options.GetUpdate();
  if (options.GetRangeErase() && !updating && !RangeErase()) return false;
  if (writing && !WriteStep()) return false;
  if (writing && options.GetVerify() && !VerifyStep()) return false;
  if (options.GetReadFlash() && !ReadStep()) return false;
  return !Interrupted();
}

void FLASHAPP::PrintId() {
  uint8_t id[3];
  if (!programmer->ReadId(controller.get(), id)) {
    Fail("Error reading from SPI device\n", RC_DEVICE_ACCESS);
    return;
  }
  printf("  Device ID: %2.2X %2.2X %2.2X\n", id[0], id[1], id[2]);
}

bool FLASHAPP::Interrupted() {
  const int signal = platform::PendingInterruption();
  if (signal == 0) return false;
  if (!interruptionReported) {
    interruptionReported = true;
    progress.Clear();
    Fail("Interrupted\n", kInterruptedBase + signal);
  }
  return true;
}

bool FLASHAPP::FlashFailed(const char* message, int32_t code) {
  if (Interrupted()) return false;
  progress.Clear();
  Fail(message, code);
  if (programmer->LastWait().end == SFPRG::WaitEnd::kTimedOut) PrintTimedOut(programmer->LastWait());
  return false;
}

bool FLASHAPP::BulkErase() {
  const uint32_t start = platform::GetTickCount();
  printf("Doing bulk erase of entire flash memory device\n");
  progress.Start("Erasing", programmer->GetSize());
  if (!programmer->EraseAll(controller.get())) return FlashFailed("Error writing to SPI device\n", RC_DEVICE_ACCESS);
  progress.Clear();
  if (options.GetPrintTime()) PrintElapsed("Elapsed time", start);
  return true;
}

bool FLASHAPP::RangeErase() {
  const uint32_t start = platform::GetTickCount();
  if (options.GetLength() == 0) {
    return Fail("Data length for partial erase not specified\n", RC_MISSING_VALUE);
  }
  printf("Doing partial erase of flash memory device\n");
  if (!EraseUnits(plan.erase)) return FlashFailed("Error writing to SPI device\n", RC_DEVICE_ACCESS);
  progress.Clear();
  if (options.GetPrintTime()) PrintElapsed("Elapsed time", start);
  return true;
}

bool FLASHAPP::EraseUnits(const std::vector<SFPRG::EraseCommand>& plan) {
  uint64_t total = 0;
  for (const SFPRG::EraseCommand& command : plan) total += command.unitSize;
  progress.Start("Erasing", total);
  uint64_t done = 0;
  for (const SFPRG::EraseCommand& command : plan) {
    // One command a call, so that a signal stops the erase between units.
    if (Interrupted()) return false;
    if (!programmer->EraseUnit(controller.get(), command)) return false;
    done += command.unitSize;
    progress.Update(done);
  }
  return true;
}

bool FLASHAPP::WriteStep() {
  const uint32_t start = platform::GetTickCount();
  printf("Writing file: %s to flash memory device\n", options.GetFileName());
  if (!programmer->BeginWrite(controller.get())) {
    return Fail("Unable to initialize device for writing\n", RC_DEVICE_ACCESS);
  }
  const bool updating = options.GetUpdate();
  if (!(updating ? UpdateFlash() : WriteToFlash())) return false;
  programmer->EndWrite(controller.get());
  progress.Clear();
  printf("Bytes written to flash: %d\n", byteCount);
  if (options.GetPrintTime()) PrintElapsed("Elapsed time", start);
  return true;
}

bool FLASHAPP::ReadStep() {
  const uint32_t start = platform::GetTickCount();
  printf("Reading flash memory and writing to file: %s\n", options.GetFileName());
  // The file is made before the chip is read, so that a name that cannot be
  // written fails at once; it takes its name only once the save succeeded.
  // A signal that came during the last read command still ends the run as
  // interrupted: the old file stays, as for a signal at any other moment.
  if (!OpenImageFile() || !ReadFromFlash() || Interrupted()) return false;
  if (options.GetReadTwice() && !ReadAgainAndCompare()) {
    imageComplete = false;
    return false;
  }
  if (!SaveImage()) return false;
  if (Interrupted()) {
    imageComplete = false;
    return false;
  }
  if (!CloseImageFile()) return false;
  printf("Bytes written to file: %d\n", byteCount);
  if (options.GetPrintTime()) PrintElapsed("Elapsed time", start);
  return true;
}

bool FLASHAPP::PrepareWrite() {
  if (!OpenImageFile() || !LoadImage()) return false;
  // A file only read from: its close cannot lose anything.
  static_cast<void>(CloseImageFile());
  if (!CheckImageFits()) return false;
  options.SetLength(dataLength);
  return true;
}

bool FLASHAPP::CheckImageFits() {
  // An empty file is far more often a failed build than a wish to erase.
  if (imageSpans.empty()) {
    printf("Input file holds no data: %s\n", options.GetFileName());
    return Fail(nullptr, RC_INPUT_FILE);
  }
  // The chip would wrap whatever lies past its end round to its start.
  const uint64_t end = uint64_t{options.GetAddress()} + imageSpans.back().End();
  const uint64_t size = programmer->GetSize();
  if (end > size) {
    printf("Image does not fit in the flash memory device: it ends at 0x%llX, the device at 0x%llX\n",
           static_cast<unsigned long long>(end), static_cast<unsigned long long>(size));
    return Fail(nullptr, RC_IMAGE_DOES_NOT_FIT);
  }
  return true;
}

int32_t FLASHAPP::InsideDevice(uint64_t address, uint32_t length) const {
  const uint64_t size = programmer->GetSize();
  const uint64_t room = address >= size ? 0 : size - address;
  return static_cast<int32_t>(std::min<uint64_t>(length, room));
}

bool FLASHAPP::ReadFromFlash() {
  byteCount = 0;
  dataLength = 0;
  uint32_t address = options.GetAddress();
  // A length of 2 GB or more asks for more than any device holds, not for nothing.
  const uint32_t requested = static_cast<uint32_t>(options.GetLength());
  // A read stops at the end of the device, which also keeps it inside the image buffer.
  int32_t count = InsideDevice(address, requested != 0 ? requested : programmer->GetSize());
  if (requested != 0 && static_cast<uint32_t>(count) < requested) {
    printf("Warning: read stops at the end of the flash memory device\n");
  }
  const uint64_t first = address;
  const bool read = InChunks("Reading", {{first, first + static_cast<uint32_t>(count)}}, [&](uint32_t at, uint32_t n) {
    if (!programmer->Read(controller.get(), at, static_cast<int32_t>(n), imageBuffer.get() + (at - first))) {
      return FlashFailed("Error reading from flash memory\n", RC_DEVICE_ACCESS);
    }
    dataLength += static_cast<int32_t>(n);
    byteCount += static_cast<int32_t>(n);
    return true;
  });
  if (read) progress.Clear();
  return read;
}

bool FLASHAPP::InChunks(const char* label, const std::vector<FlashRange>& ranges, const ChunkStep& step) {
  uint64_t total = 0;
  for (const FlashRange& r : ranges) total += r.end - r.start;
  progress.Start(label, total);
  uint64_t done = 0;
  for (const FlashRange& r : ranges) {
    for (uint64_t at = r.start; at < r.end;) {
      // Between two chunks a signal ends the step: the chunk in flight is whole.
      if (Interrupted()) return false;
      const uint32_t chunk = static_cast<uint32_t>(std::min<uint64_t>(kChunkSize, r.end - at));
      if (!step(static_cast<uint32_t>(at), chunk)) return false;
      at += chunk;
      done += chunk;
      progress.Update(done);
    }
  }
  return true;
}

bool FLASHAPP::WriteToFlash() {
  byteCount = 0;
  // Only what the file gave is programmed; PrepareWrite made sure it fits.
  const uint64_t base = options.GetAddress();
  return InChunks("Writing", plan.program, [&](uint32_t at, uint32_t n) {
    if (!programmer->Write(controller.get(), at, static_cast<int32_t>(n), imageBuffer.get() + (at - base))) {
      return FlashFailed("Error writing to the flash memory\n", RC_DEVICE_ACCESS);
    }
    byteCount += static_cast<int32_t>(n);
    return true;
  });
}
