// SPDX-License-Identifier: MIT
// Where the real backends get the kernel and USB interfaces they reach their
// devices through: the one place a test build of the runtime may put fakes
// and emulators instead.
#pragma once

#include <memory>
#include <string>

#include "runtime/ftdi_usb.h"
#include "runtime/usb_library.h"
#ifdef ROMWICK_HAVE_SPIDEV
#include "runtime/gpio_line.h"
#include "runtime/spidev_system.h"

/// The kernel's spidev calls; null, with the reason in `error`, where they
/// cannot be had.
std::unique_ptr<SpidevSystem> MakeSpidevSystem(std::string* error);

/// A GPIO line of the kernel's character device; null, with the reason in
/// `error`, where it cannot be had.
std::unique_ptr<GpioLine> MakeGpioLine(std::string* error);
#endif

#ifdef ROMWICK_HAVE_SERPROG
#include "runtime/serial_system.h"

/// The serial port and socket calls of the serprog backend; null, with the
/// reason in `error`, where they cannot be had.
std::unique_ptr<SerialSystem> MakeSerialSystem(std::string* error);
#endif

/// libftdi1's calls; null, with the reason in `error`, in a runtime built
/// without it.
std::unique_ptr<FtdiUsb> MakeFtdiUsb(std::string* error);

/// libusb-1.0's calls; null, with the reason in `error`, in a runtime built
/// without libusb or where libusb cannot start.
std::unique_ptr<UsbLibrary> MakeUsbLibrary(std::string* error);

/// The same for the CH347 backend, whose test double is its own emulator.
std::unique_ptr<UsbLibrary> MakeCh347UsbLibrary(std::string* error);
