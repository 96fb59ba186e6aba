// SPDX-License-Identifier: MIT
// SPICTL: the abstract SPI controller through which the program reaches the
// flash chip, with its status flags, kind codes and error codes.
#pragma once

#include <cstdint>
#include <memory>

#include "spi/flagset.h"

// Status flags.
constexpr uint32_t SPIF_OPEN = 0x80000000u;
constexpr uint32_t SPIF_LIBS = 0x00000080u;
constexpr uint32_t SPIF_ENABLED = 0x00000040u;
constexpr uint32_t SPIF_RESERVED = 0x00000020u;
constexpr uint32_t SPIF_SELECTED = 0x00000010u;

// Controller kinds, as GetKind reports them.
constexpr uint32_t SPIKIND_NONE = 0;
constexpr uint32_t SPIKIND_RT1 = 3;
constexpr uint32_t SPIKIND_RT2 = 4;

// Management capability bits of GetMgmtCaps.
constexpr uint32_t SPICAP_CONFIG_RESET = 0x2;  // the device offers a configuration reset

// Error codes; 0 means success.
constexpr int32_t SPIERR_NOT_OPEN = 4003;
constexpr int32_t SPIERR_CONNECT = 4006;
constexpr int32_t SPIERR_NOT_ENABLED = 4016;
constexpr int32_t SPIERR_NO_LIBRARY = 4017;
constexpr int32_t SPIERR_CALL_FAILED = 4018;
constexpr int32_t SPIERR_ENTRY_POINT = 4019;

/// Abstract SPI controller. Fallible operations return true on success and
/// write 0 or an SPIERR_ code through `out`, the caller's error variable.
/// An operation that fails its readiness check leaves `out` untouched; the
/// reason is then in GetError(). Destruction releases nothing: owners call
/// Term() first. SetSelect, EnableSpi(false), Close, Term and destruction
/// are safe in every state.
class SPICTL {
 public:
  SPICTL() = default;
  SPICTL(const SPICTL&) = delete;
  SPICTL& operator=(const SPICTL&) = delete;

  /// True when open and enabled; otherwise records 4003 or 4016 in lastError.
  [[nodiscard]] virtual bool CheckReady();
  virtual ~SPICTL() = default;
  [[nodiscard]] virtual bool Setup(int32_t* out) = 0;
  /// Frees the device name.
  virtual void Term();
  /// Stores a private copy of `name`; returns it, or null if it could not be allocated.
  virtual const char* SetDeviceName(const char* name);
  [[nodiscard]] virtual bool Open(int32_t* out) = 0;
  virtual void Close() = 0;
  virtual int32_t GetError() { return lastError; }
  [[nodiscard]] virtual bool IsOpen() { return flags.TestFlags(SPIF_OPEN); }
  [[nodiscard]] virtual bool IsSpiEnabled() { return flags.TestFlags(SPIF_ENABLED); }
  [[nodiscard]] virtual bool IsSelected() { return flags.TestFlags(SPIF_SELECTED); }
  [[nodiscard]] virtual bool IsReserved() { return flags.TestFlags(SPIF_RESERVED); }
  virtual uint32_t GetSpiMode() { return spiMode; }
  virtual uint32_t GetLsbFirst() { return lsbFirst; }
  virtual uint32_t GetSpeed() { return speedHz; }
  virtual uint32_t GetXferLimit() { return xferLimit; }
  virtual uint32_t GetKind() { return kind; }
  [[nodiscard]] virtual bool EnableSpi(bool enable, int32_t* out) = 0;
  /// `selected` true drives chip select low, false drives it high.
  [[nodiscard]] virtual bool SetSelect(bool selected, int32_t* out) = 0;
  [[nodiscard]] virtual bool SetPort(int port, int32_t* out) = 0;
  [[nodiscard]] virtual bool SetSpiMode(uint32_t mode, int lsbFirst, int32_t* out) = 0;
  [[nodiscard]] virtual bool SetSpeed(uint32_t hz, int32_t* out) = 0;
  [[nodiscard]] virtual bool PutByte(uint8_t tx, uint8_t* rx, int32_t* out) = 0;
  /// Like Put, but the controller drives chip select to `levelStart` before
  /// the first byte and to `levelEnd` after the last (0 low, 1 high).
  [[nodiscard]] virtual bool PutSelect(int32_t count, uint8_t levelStart, uint8_t levelEnd, const uint8_t* tx,
                         uint8_t* rx, int32_t* out) = 0;
  /// Full-duplex exchange; the bytes clocked in are dropped when `rx` is null.
  [[nodiscard]] virtual bool Put(int32_t count, const uint8_t* tx, uint8_t* rx, int32_t* out) = 0;
  /// Clocks out `count` copies of `fill`, storing what is clocked in.
  [[nodiscard]] virtual bool Get(int32_t count, uint8_t fill, uint8_t* rx, int32_t* out) = 0;

  // What the controller can do, for callers that must not ask what it is.

  /// True when PutSelect works, so that one call makes a whole select period.
  [[nodiscard]] virtual bool SelectsInOneCall() { return false; }
  /// The longest reply one select period may carry after a command of up to
  /// kLongestReadCommand bytes, where the controller must send a period whole
  /// (one kernel message, say); 0 when it takes any length.
  virtual uint32_t LargestWholeTransfer() { return 0; }
  /// The longest command (opcode, address and dummy bytes) that
  /// LargestWholeTransfer() holds for.
  static constexpr int32_t kLongestReadCommand = 16;
  /// Fills `caps` with the interface device's management capabilities
  /// (RT_CAP_CONFIG_RESET). A controller without management calls fails,
  /// `caps` and `out` untouched.
  [[nodiscard]] virtual bool GetMgmtCaps(uint32_t* caps, int32_t* out);
  /// Asserts (true) or releases (false) the interface device's configuration
  /// reset. A controller without management calls fails, `out` untouched.
  [[nodiscard]] virtual bool ConfigReset(bool asserted, int32_t* out);

  const char* GetDeviceName() const { return deviceName.get(); }

 protected:
  FLAGSET flags;
  int32_t lastError = 0;
  uint32_t spiMode = 0;
  uint32_t lsbFirst = 0;
  uint32_t speedHz = 0;
  std::unique_ptr<char[]> deviceName;
  uint32_t xferLimit = 0;
  uint32_t kind = SPIKIND_NONE;
};
