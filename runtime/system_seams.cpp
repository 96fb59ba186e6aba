// SPDX-License-Identifier: MIT
// The kernel and USB interfaces of the real backends. In the test build of
// the runtime (ROMWICK_TEST_HOOKS), ROMWICK_TEST_FAKE_SPIDEV puts the fake
// spidev kernel and the fake GPIO character device in their place, ROMWICK_TEST_FTDI the
// MPSSE emulator, ROMWICK_TEST_CH341A the CH341A emulator and
// ROMWICK_TEST_CH347 the CH347 emulator, so that the built program can be
// run against them; ROMWICK_TEST_SERPROG keeps the real serial calls but
// hands the pauses to a serprog emulator across a real port, which keeps
// its own clock, and ends a wait for an answer that cannot come at once.
#include "runtime/system_seams.h"

#ifdef ROMWICK_TEST_HOOKS
#include <cstdlib>

#include "testsupport/ch341a_emulator.h"
#include "testsupport/ch347_emulator.h"
#include "testsupport/mpsse_emulator.h"
#ifdef ROMWICK_HAVE_SERPROG
#include "testsupport/paced_serial_system.h"
#endif
#ifdef ROMWICK_HAVE_SPIDEV
#include "testsupport/fake_gpio_kernel.h"
#include "testsupport/fake_spidev_kernel.h"
#endif
#endif
#ifdef ROMWICK_HAVE_LIBFTDI
#include "runtime/libftdi_usb.h"
#endif
#ifdef ROMWICK_HAVE_LIBUSB
#include "runtime/libusb_library.h"
#endif
#ifdef ROMWICK_HAVE_SERPROG
#include "runtime/posix_serial_system.h"
#endif

#ifdef ROMWICK_HAVE_SPIDEV
#include "runtime/linux_gpio_system.h"
#include "runtime/linux_spidev_system.h"

#ifdef ROMWICK_TEST_HOOKS
namespace {
const char* FakeKernel() { return std::getenv("ROMWICK_TEST_FAKE_SPIDEV"); }
}  // namespace
#endif

std::unique_ptr<SpidevSystem> MakeSpidevSystem(std::string* error) {
#ifdef ROMWICK_TEST_HOOKS
  if (const char* fake = FakeKernel()) return testsupport::FakeSpidevKernel::FromDescription(fake, error);
#endif
  (void)error;
  return std::make_unique<LinuxSpidevSystem>();
}

std::unique_ptr<GpioLine> MakeGpioLine(std::string* error) {
#ifdef ROMWICK_TEST_HOOKS
  if (FakeKernel()) return std::make_unique<GpioLine>(std::make_unique<testsupport::FakeGpioKernel>());
#endif
  (void)error;
  return std::make_unique<GpioLine>(std::make_unique<LinuxGpioSystem>());
}
#endif

#ifdef ROMWICK_HAVE_SERPROG
std::unique_ptr<SerialSystem> MakeSerialSystem(std::string* error) {
#ifdef ROMWICK_TEST_HOOKS
  if (const char* hooks = std::getenv("ROMWICK_TEST_SERPROG")) {
    return testsupport::PacedSerialSystem::FromDescription(hooks, std::make_unique<PosixSerialSystem>(), error);
  }
#endif
  (void)error;
  return std::make_unique<PosixSerialSystem>();
}
#endif

std::unique_ptr<FtdiUsb> MakeFtdiUsb(std::string* error) {
#ifdef ROMWICK_TEST_HOOKS
  if (const char* emulator = std::getenv("ROMWICK_TEST_FTDI")) {
    return testsupport::MpsseEmulator::FromDescription(emulator, error);
  }
#endif
#ifdef ROMWICK_HAVE_LIBFTDI
  (void)error;
  return std::make_unique<LibftdiUsb>();
#else
  *error = "ftdi: needs libftdi1, and this runtime was built without it";
  return nullptr;
#endif
}

std::unique_ptr<UsbLibrary> MakeUsbLibrary(std::string* error) {
#ifdef ROMWICK_TEST_HOOKS
  if (const char* emulator = std::getenv("ROMWICK_TEST_CH341A")) {
    return testsupport::Ch341aEmulator::FromDescription(emulator, error);
  }
#endif
#ifdef ROMWICK_HAVE_LIBUSB
  return LibusbLibrary::Create(error);
#else
  *error = "ch341a: needs libusb-1.0, and this runtime was built without it";
  return nullptr;
#endif
}

std::unique_ptr<UsbLibrary> MakeCh347UsbLibrary(std::string* error) {
#ifdef ROMWICK_TEST_HOOKS
  if (const char* emulator = std::getenv("ROMWICK_TEST_CH347")) {
    return testsupport::Ch347Emulator::FromDescription(emulator, error);
  }
#endif
#ifdef ROMWICK_HAVE_LIBUSB
  return LibusbLibrary::Create(error);
#else
  *error = "ch347: needs libusb-1.0, and this runtime was built without it";
  return nullptr;
#endif
}
