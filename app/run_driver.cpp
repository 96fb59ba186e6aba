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
#include "spi/spirt2.h"

namespace {

// Flash and image buffer meet in chunks of this size, one programmer call each.
constexpr int32_t kChunkSize = 65536;
// The interface device needs this long to settle after its configuration reset.
constexpr uint32_t kConfigResetSettleMs = 50;

void PrintElapsed(const char* label, uint32_t startTick) {
  // Unsigned difference: one wrap of the tick counter is harmless.
  const uint32_t ms = platform::GetTickCount() - startTick;
  printf("%s: %f\n", label, static_cast<double>(ms) / 1000.0);
}

}  // namespace

uint32_t FLASHAPP::ImageOrigin() const { return options.GetWriteFlash() ? imageOrigin : 0; }

bool FLASHAPP::AssertConfigReset(SPIRT2** resetController) {
  *resetController = nullptr;
  if (!options.GetConfigReset()) return true;
  if (controller->GetKind() != SPIKIND_RT2) {
    return Fail("Configuration reset not supported by this device\n", RC_NO_CONFIG_RESET);
  }
  auto* rt2 = static_cast<SPIRT2*>(controller.get());
  uint32_t caps = 0;
  rt2->GetMgmtCaps(&caps, &ctlError);
  if ((caps & RT_CAP_CONFIG_RESET) == 0) {
    return Fail("Configuration reset not supported by this device\n", RC_NO_CONFIG_RESET);
  }
  rt2->ConfigReset(true, &ctlError);
  platform::Sleep(kConfigResetSettleMs);
  *resetController = rt2;
  return true;
}

void FLASHAPP::RunOperations() {
  const uint32_t runStart = platform::GetTickCount();
  // Without the programmer or the image buffer, Startup has recorded why.
  if (!programmer || !imageBuffer) return;
  SPIRT2* resetController = nullptr;
  if (!AssertConfigReset(&resetController)) return;
  const bool completed = RunFlashSteps();
  // Released on every path, so the interface device is never left held in reset.
  if (resetController) resetController->ConfigReset(false, &ctlError);
  if (completed && options.GetPrintTime()) PrintElapsed("Total Elapsed time", runStart);
}

bool FLASHAPP::RunFlashSteps() {
  if (options.GetSpiSpeed() != 0 && !controller->SetSpeed(options.GetSpiSpeed(), &ctlError)) {
    return Fail("Error accessing programming device\n", RC_DEVICE_ACCESS);
  }
  if (options.GetPrintId()) {
    PrintId();
    return false;
  }
  if (!IdentifyDevice()) return false;
  if (options.GetWriteFlash() && !PrepareWrite()) return false;
  if (options.GetBulkErase() && !BulkErase()) return false;
  if (options.GetRangeErase() && !RangeErase()) return false;
  if (options.GetWriteFlash() && !WriteStep()) return false;
  if (options.GetReadFlash() && !ReadStep()) return false;
  return true;
}

void FLASHAPP::PrintId() {
  uint8_t id[3];
  if (!programmer->ReadId(controller.get(), id)) {
    Fail("Error reading from SPI device\n", RC_DEVICE_ACCESS);
    return;
  }
  printf("  Device ID: %2.2X %2.2X %2.2X\n", id[0], id[1], id[2]);
}

bool FLASHAPP::BulkErase() {
  const uint32_t start = platform::GetTickCount();
  printf("Doing bulk erase of entire flash memory device\n");
  if (!programmer->EraseAll(controller.get())) return Fail("Error writing to SPI device\n", RC_DEVICE_ACCESS);
  if (options.GetPrintTime()) PrintElapsed("Elapsed time", start);
  return true;
}

bool FLASHAPP::RangeErase() {
  const uint32_t start = platform::GetTickCount();
  if (options.GetLength() == 0) {
    return Fail("Data length for partial erase not specified\n", RC_MISSING_VALUE);
  }
  printf("Doing partial erase of flash memory device\n");
  const uint64_t first = static_cast<uint64_t>(options.GetAddress()) + ImageOrigin();
  const int32_t length = InsideDevice(first, static_cast<uint32_t>(options.GetLength()));
  if (!programmer->EraseRange(controller.get(), static_cast<uint32_t>(first), length)) {
    return Fail("Error writing to SPI device\n", RC_DEVICE_ACCESS);
  }
  if (options.GetPrintTime()) PrintElapsed("Elapsed time", start);
  return true;
}

bool FLASHAPP::WriteStep() {
  const uint32_t start = platform::GetTickCount();
  printf("Writing file: %s to flash memory device\n", options.GetFileName());
  if (!programmer->BeginWrite(controller.get())) {
    return Fail("Unable to initialize device for writing\n", RC_DEVICE_ACCESS);
  }
  if (!WriteToFlash()) return false;
  programmer->EndWrite(controller.get());
  printf("Bytes written to flash: %d\n", byteCount);
  if (options.GetPrintTime()) PrintElapsed("Elapsed time", start);
  return true;
}

bool FLASHAPP::ReadStep() {
  const uint32_t start = platform::GetTickCount();
  printf("Reading flash memory and writing to file: %s\n", options.GetFileName());
  if (!ReadFromFlash() || !OpenImageFile() || !SaveImage()) return false;
  printf("Bytes written to file: %d\n", byteCount);
  CloseImageFile();
  if (options.GetPrintTime()) PrintElapsed("Elapsed time", start);
  return true;
}

bool FLASHAPP::IdentifyDevice() {
  const FLASHDEV* row = nullptr;
  if (options.GetMemType()) {
    row = FindDeviceByName(options.GetMemType());
  } else {
    uint8_t id[3];
    if (!programmer->ReadId(controller.get(), id)) {
      return Fail("Unable to read device id from memory device", RC_DEVICE_ACCESS);
    }
    row = FindDeviceById(id);
  }
  if (!row) return Fail("Device ID code not a recognized device\n", RC_UNKNOWN_DEVICE);

  programmer->Term();
  programmer.reset();
  switch (row->type) {
    case FLASHTYPE_SECTOR_ERASE:
      programmer.reset(new (std::nothrow) SFPA);
      break;
    case FLASHTYPE_DATAFLASH:
      programmer.reset(new (std::nothrow) SFPB);
      break;
    case FLASHTYPE_UNSERVED:
      return Fail(nullptr, RC_UNSUPPORTED_DEVICE);
    default:
      return Fail(nullptr, RC_INTERNAL);
  }
  if (!programmer) return Fail(nullptr, RC_OUT_OF_MEMORY);
  if (!programmer->Init()) return Fail(nullptr, RC_INTERNAL);
  programmer->SetDevice(*row);
  return true;
}

bool FLASHAPP::PrepareWrite() {
  if (!OpenImageFile() || !LoadImage()) return false;
  CloseImageFile();
  options.SetLength(dataLength != 0 ? dataLength : static_cast<int32_t>(programmer->GetSize()));
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
  uint8_t* destination = imageBuffer.get();
  while (count > 0) {
    const int32_t chunk = std::min(count, kChunkSize);
    if (!programmer->Read(controller.get(), address, chunk, destination)) {
      return Fail("Error reading from flash memory\n", RC_DEVICE_ACCESS);
    }
    address += static_cast<uint32_t>(chunk);
    destination += chunk;
    dataLength += chunk;
    byteCount += chunk;
    count -= chunk;
  }
  return true;
}

bool FLASHAPP::WriteToFlash() {
  byteCount = 0;
  const uint32_t origin = ImageOrigin();
  const uint64_t start = static_cast<uint64_t>(options.GetAddress()) + origin;
  int32_t count = options.GetLength() != 0 ? options.GetLength() : static_cast<int32_t>(programmer->GetSize());
  count = std::min(count, dataLength);
  // The write stops at the end of the device.
  count = InsideDevice(start, static_cast<uint32_t>(std::max(count, 0)));
  uint32_t address = static_cast<uint32_t>(start);
  const uint8_t* source = imageBuffer.get() + origin;
  while (count > 0) {
    const int32_t chunk = std::min(count, kChunkSize);
    if (!programmer->Write(controller.get(), address, chunk, source)) {
      return Fail("Error writing to the flash memory\n", RC_DEVICE_ACCESS);
    }
    address += static_cast<uint32_t>(chunk);
    source += chunk;
    byteCount += chunk;
    count -= chunk;
  }
  return true;
}
