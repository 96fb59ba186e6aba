// SPDX-License-Identifier: MIT
// Ch347Stream: one USB write to a CH347, built command by command, with the
// replies it must bring back and where their bytes go.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ch347 {

// The CH347T in its mode 1 (UART + SPI/I2C, vendor interface) and the
// CH347F: their SPI engine is interface 2 on the CH347T, 4 on the CH347F,
// bulk endpoints 06 out and 86 in on both, high speed (512-byte packets).
// Sources: flashrom ch347_spi.c (devs_ch347_spi, CH347T_IFACE, CH347F_IFACE,
// WRITE_EP, READ_EP); OpenOCD src/jtag/drivers/ch347.c (CH347F_MPHSI_INTERFACE).
constexpr uint16_t kVendor = 0x1A86;
struct Model {
  const char* name;
  uint16_t product;
  int interface;
};
constexpr Model kModels[] = {
    {.name = "CH347T", .product = 0x55DB, .interface = 2},
    {.name = "CH347F", .product = 0x55DE, .interface = 4},
};
constexpr uint8_t kOutEndpoint = 0x06;
constexpr uint8_t kInEndpoint = 0x86;

// Every command is its command byte, its payload's length (16 bits, little
// endian) and the payload; so is every reply. The public drivers send each
// command in a USB transfer of its own and at most 510 bytes in one, 507 of
// them data (flashrom ch347_spi.c CH347_PACKET_SIZE, fwupd
// plugins/ch347/fu-ch347-device.c FU_CH347_PACKET_SIZE): a reply of 510
// bytes is a short packet, which ends its IN transfer.
constexpr size_t kHeader = 3;
constexpr size_t kMostData = 507;
// C0: the SPI engine's 26 bytes of settings, answered C0 01 00 <status>.
constexpr uint8_t kSetConfig = 0xC0;
// C1: chip select. Two entries of 5 bytes, CS0 then CS1: bit 7 of an
// entry's first byte changes that line, bit 6 releases it (clear: asserts).
// No reply.
constexpr uint8_t kSelect = 0xC1;
// C2: the payload clocked out while as many bytes are clocked in, which
// come back as the reply's payload.
constexpr uint8_t kExchange = 0xC2;
// C3: a 32-bit count of bytes to clock in (the settings' default byte goes
// out meanwhile); they come back in replies of up to 507 bytes each.
constexpr uint8_t kRead = 0xC3;
// C4: the payload clocked out, what comes in dropped; answered C4 01 00 <status>.
constexpr uint8_t kWrite = 0xC4;
// CC: one byte for each of the 8 GPIO pins: bits 7-6 set change it, bits
// 5-4 set make it an output, bit 3 its level. Answered with the 8 pins:
// bit 7 output, bit 6 level. Source: OpenOCD src/jtag/drivers/ch347.c
// (CH347_CMD_GPIO, GPIO_SET_L, GPIO_SET_H).
constexpr uint8_t kGpio = 0xCC;
constexpr uint8_t kGpioChange = 0xC0;
constexpr uint8_t kGpioOutput = 0x30;
constexpr uint8_t kGpioHigh = 0x08;
constexpr int kGpioPins = 8;

constexpr uint8_t kSelectChange = 0x80;
constexpr uint8_t kSelectRelease = 0x40;
constexpr size_t kSelectEntry = 5;
constexpr int kChipSelects = 2;

// The clock is 60 MHz divided by 2 to the power of the divider, 0 to 7:
// 60, 30, 15, 7.5, 3.75, 1.875 MHz, 937.5 and 468.75 kHz (flashrom
// ch347_spi.c spispeeds; the vendor's library header ch347_lib.h, iClock).
constexpr uint32_t kBaseClockHz = 60'000'000;
constexpr uint8_t kSlowestDivider = 7;
constexpr uint32_t ClockHz(uint8_t divider) { return kBaseClockHz >> divider; }

/// What the settings command carries that the backend sets.
struct SpiSettings {
  uint8_t mode = 0;        // SPI mode 0-3
  bool lsbFirst = false;
  uint8_t divider = 2;     // 15 MHz, the public drivers' default
  uint8_t outDefault = 0xFF;  // clocked out while C3 reads

  bool operator==(const SpiSettings&) const = default;
};

/// The 26 bytes of C0, laid out as the public drivers fill them (flashrom
/// ch347_spi.c ch347_spi_config; the field names of spi-nand-prog
/// spi-mem/ch347/ch347.h, struct ch347_spi_hw_config): direction (full
/// duplex), master mode 0x0104, 8-bit data, CPOL 2 and CPHA 1, software chip
/// select 0x0200, the divider times 8, bit order (0x80 least significant
/// first), CRC polynomial 7, no interval, the default byte, both chip
/// selects active low.
std::array<uint8_t, 26> SettingsBytes(const SpiSettings& settings);

}  // namespace ch347

/// Each command is a USB OUT transfer of its own, in the order queued; the
/// replies come back in the same order, each an IN transfer.
class Ch347Stream {
 public:
  /// The SPI settings (C0).
  void Configure(const ch347::SpiSettings& settings);
  /// The same, before the command at `position` (a Position() taken earlier).
  void ConfigureBefore(size_t position, const ch347::SpiSettings& settings);
  /// Asserts (true) or releases chip select `chipSelect` (C1).
  void Select(int chipSelect, bool asserted);
  /// Clocks out `count` bytes: `tx`, or copies of `fill` when it is null (C4).
  void Write(const uint8_t* tx, uint8_t fill, size_t count);
  /// Clocks out `tx` (or copies of `fill`) while clocking in to `rx` (C2).
  void Exchange(const uint8_t* tx, uint8_t fill, uint8_t* rx, size_t count);
  /// Clocks in `count` bytes to `rx` while the default byte goes out (C3).
  void Read(uint8_t* rx, size_t count);
  /// Drives GPIO `pin` to `high`, or makes it an input (`output` false) (CC).
  void SetGpio(int pin, bool output, bool high);

  /// Where the next command goes, for ConfigureBefore.
  size_t Position() const { return commands_.size(); }
  bool Empty() const { return commands_.empty(); }
  size_t OutBytes() const { return outBytes_; }
  size_t SpiBytes() const { return spiBytes_; }
  /// The USB OUT transfers, one a command, in order.
  std::vector<std::vector<uint8_t>> Transfers() const;
  /// The length of each reply, in order.
  std::vector<uint16_t> ReplyLengths() const;
  /// Hands over the next reply as received; false, with the reason in
  /// `error`, when it is not the reply due or reports a failure.
  [[nodiscard]] bool TakeReply(const uint8_t* bytes, size_t n, std::string* error);
  void Clear();

 private:
  struct Reply {
    uint8_t command;
    uint16_t length;  // of its payload
    uint8_t* rx;      // where the payload goes; null: a status byte, 0 for success
  };
  struct Command {
    std::vector<uint8_t> bytes;
    std::vector<Reply> replies;
  };
  static Command Make(uint8_t code, std::vector<uint8_t> payload);
  void Add(Command command);
  static Command Settings(const ch347::SpiSettings& settings);

  std::vector<Command> commands_;
  size_t command_ = 0;  // the one the next reply answers
  size_t reply_ = 0;    // of its replies
  size_t outBytes_ = 0;
  size_t spiBytes_ = 0;
};
