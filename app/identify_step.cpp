// SPDX-License-Identifier: MIT
// The run's identification step: which chip this is, the programmer that
// drives it, the clock it takes and a buffer as large as it is; and, at the
// end of every run, the chip left as it powered up.
#include <algorithm>
#include <cstdio>
#include <new>
#include <string>

#include "app/flashapp.h"
#include "app/options.h"
#include "base/text.h"
#include "flash/flashdev.h"
#include "flash/sfdp.h"
#include "flash/sfdp_device.h"
#include "flash/sfpa.h"
#include "flash/sfpb.h"
#include "flash/sfprg.h"
#include "spi/spictl.h"

namespace {

/// The slowest clock any part of the table takes for its commands other
/// than the plain read: identification at it reaches every one of them.
uint32_t SlowestPartHz() {
  uint32_t slowest = UINT32_MAX;
  for (const FLASHDEV* row = flashDeviceTable; row->id[0] != 0; ++row) slowest = std::min(slowest, row->maxHz);
  return slowest;
}

/// True when the chip's SFDP has the row's geometry: the same size, every
/// erase type of the row among the chip's.
bool SameGeometry(const FLASHDEV& row, const SfdpFacts& facts) {
  if (facts.sizeBytes != row.size) return false;
  for (const EraseType& type : row.eraseTypes) {
    if (type.size == 0) continue;
    const bool listed = std::any_of(facts.eraseTypes.begin(), facts.eraseTypes.end(), [&](const SfdpEraseType& t) {
      return t.size == type.size && t.opcode == type.opcode;
    });
    if (!listed) return false;
  }
  return true;
}

}  // namespace

bool FLASHAPP::IdentifyDevice() {
  FLASHDEV row{};
  if (!FindDevice(&row)) return false;

  programmer->Term();
  programmer.reset();
  switch (row.type) {
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
  programmer->SetDevice(row);
  programmer->SetObserver(&observer);
  return FitClock(row) && FitImageBuffer();
}

bool FLASHAPP::FindDevice(FLASHDEV* row) {
  const char* named = options.GetMemType();
  const bool bySfdp = named && EqualsIgnoringCase(named, kSfdpDeviceName);
  if (named && !bySfdp) {
    const FLASHDEV* found = FindDeviceByName(named);
    if (!found) return Fail("Device ID code not a recognized device\n", RC_UNKNOWN_DEVICE);
    *row = *found;
    return true;
  }
  if (!SlowClockForIdentification()) return false;
  if (!bySfdp) {
    uint8_t id[3];
    if (!ReadIdTwice(id)) return false;
    if (const FLASHDEV* found = FindDeviceById(id)) {
      *row = *found;
      return !row->quirks.sharedId || CheckSharedRow(row);
    }
  }
  return DeviceBySfdp(bySfdp, row);
}

bool FLASHAPP::ReadIdTwice(uint8_t id[3]) {
  uint8_t again[3];
  if (!programmer->ReadId(controller.get(), id) || !programmer->ReadId(controller.get(), again)) {
    return Fail("Unable to read device id from memory device", RC_DEVICE_ACCESS);
  }
  // A clip or a long wire that drops bits is the usual fault on a bench:
  // better refused here than found half way through a write.
  if (!std::equal(id, id + 3, again)) {
    printf("Device ID code read twice differs (%02X %02X %02X, then %02X %02X %02X): check the wiring\n", id[0],
           id[1], id[2], again[0], again[1], again[2]);
    return Fail(nullptr, RC_DEVICE_ACCESS);
  }
  const bool allSame = id[0] == id[1] && id[1] == id[2];
  if (allSame && (id[0] == 0x00 || id[0] == 0xFF)) {
    printf("No flash memory device answers (device ID code %02X %02X %02X): check the wiring\n", id[0], id[1], id[2]);
    return Fail(nullptr, RC_UNKNOWN_DEVICE);
  }
  return true;
}

bool FLASHAPP::DeviceBySfdp(bool named, FLASHDEV* row) {
  SPICTL* ctl = controller.get();
  const SfdpReader reader = [this, ctl](uint32_t address, uint8_t* destination, uint32_t length) {
    return programmer->ReadSfdpBytes(ctl, address, destination, length);
  };
  SfdpFacts facts;
  SfdpError error;
  std::string why;
  if (!ReadSfdp(reader, &facts, &error)) {
    if (error.kind == SfdpFailure::kReadFailed) return Fail("Error reading from SPI device\n", RC_DEVICE_ACCESS);
    // A chip with no SFDP at all is simply unknown, unless SFDP was asked for.
    if (named || error.kind == SfdpFailure::kMalformed) printf("SFDP: %s\n", error.reason.c_str());
    return Fail("Device ID code not a recognized device\n", RC_UNKNOWN_DEVICE);
  }
  if (!DeviceFromSfdp(facts, row, &why)) {
    printf("SFDP: %s\n", why.c_str());
    return Fail("Device ID code not a recognized device\n", RC_UNKNOWN_DEVICE);
  }
  return true;
}

bool FLASHAPP::CheckSharedRow(FLASHDEV* row) {
  SPICTL* ctl = controller.get();
  const SfdpReader reader = [this, ctl](uint32_t address, uint8_t* destination, uint32_t length) {
    return programmer->ReadSfdpBytes(ctl, address, destination, length);
  };
  SfdpFacts facts;
  SfdpError error;
  if (!ReadSfdp(reader, &facts, &error)) {
    if (error.kind == SfdpFailure::kReadFailed) return Fail("Error reading from SPI device\n", RC_DEVICE_ACCESS);
    // An older part of the same code, without SFDP: the 4-byte mode every
    // family of the table takes, rather than opcodes it may lack.
    if (row->quirks.twinWithoutOpcodes) {
      row->addressing = Addressing::kFourByteMode;
    }
    return true;
  }
  if (SameGeometry(*row, facts)) {
    // The older twin's SFDP has no 4-byte address table: its 4-byte mode.
    const bool opcodes = facts.has4ByteInstructionTable && facts.read4 && facts.program4;
    if (row->quirks.twinWithoutOpcodes && !opcodes) row->addressing = Addressing::kFourByteMode;
    return true;
  }
  // Another part answers this code: the chip's own SFDP says how to drive it.
  std::string why;
  if (DeviceFromSfdp(facts, row, &why)) return true;
  printf("SFDP: %s\n", why.c_str());
  return Fail("Device ID code not a recognized device\n", RC_UNKNOWN_DEVICE);
}

bool FLASHAPP::SlowClockForIdentification() {
  const uint32_t hz = std::min(askedHz, SlowestPartHz());
  if (hz == askedHz) return true;
  if (!controller->SetSpeed(hz, &ctlError)) return Fail("Error accessing programming device\n", RC_DEVICE_ACCESS);
  askedHz = hz;
  return true;
}

bool FLASHAPP::FitClock(const FLASHDEV& row) {
  const uint32_t wanted = options.GetSpiSpeed() != 0 ? options.GetSpiSpeed() : kBringUpClockHz;
  const uint32_t hz = std::min(wanted, row.maxHz);
  if (hz != askedHz) {
    if (!controller->SetSpeed(hz, &ctlError)) return Fail("Error accessing programming device\n", RC_DEVICE_ACCESS);
    askedHz = hz;
  }
  // The granted clock where the controller reports one.
  const uint32_t granted = controller->GetSpeed() != 0 ? controller->GetSpeed() : hz;
  programmer->UseFastRead(granted > row.readMaxHz);
  return true;
}

bool FLASHAPP::FitImageBuffer() {
  const uint32_t size = programmer->GetSize();
  if (size <= imageCapacity) return true;
  // The old buffer goes first: the two never live together.
  imageBuffer.reset();
  imageBuffer.reset(new (std::nothrow) uint8_t[size]);
  if (!imageBuffer) {
    imageCapacity = 0;
    return Fail("Out of memory\n", RC_OUT_OF_MEMORY);
  }
  imageCapacity = size;
  platform::AdviseLargePages(imageBuffer.get(), size);
  return true;
}

void FLASHAPP::FinishChip() {
  if (!programmer || !controller) return;
  if (programmer->Finish(controller.get())) return;
  printf("Error writing to SPI device\n");
  // The run's own failure, if it had one, is the code that tells why it ended.
  if (options.GetResultCode() == RC_OK) options.SetResultCode(RC_DEVICE_ACCESS);
}
