// SPDX-License-Identifier: MIT
// Ch341aStream: one USB write to a CH341A, built command by command, with
// where the bytes its SPI packets clock in must go.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ch341a {

// USB 1a86:5512: the CH341A in its I2C/SPI/parallel mode, full speed, one
// interface with a bulk endpoint each way of 32-byte packets.
constexpr uint16_t kVendor = 0x1A86;
constexpr uint16_t kProduct = 0x5512;
constexpr int kInterface = 0;
constexpr uint8_t kOutEndpoint = 0x02;
constexpr uint8_t kInEndpoint = 0x82;
constexpr size_t kPacketSize = 32;

// Every 32-byte packet the device takes is one command: a stream command
// byte, then what it carries. An SPI stream packet clocks each byte after
// the command out on D5 while reading D7, least significant bit first, and
// answers with one IN packet of as many bytes; the flash chips shift most
// significant bit first, so every byte is reversed both ways.
constexpr uint8_t kSpiStream = 0xA8;
constexpr size_t kSpiBytesPerPacket = kPacketSize - 1;
// The UIO stream drives D0-D5 with sub-commands up to its end mark:
// 0x80 | levels sets the outputs, 0x40 | mask makes those pins outputs.
constexpr uint8_t kUioStream = 0xAB;
constexpr uint8_t kUioOut = 0x80;
constexpr uint8_t kUioDirection = 0x40;
constexpr uint8_t kUioEnd = 0x20;
// The I2C stream's set sub-command: bits 1-0 the I2C clock, bit 2 clear
// for one SPI data line each way (D5 out, D7 in). The SPI clock itself is
// fixed, about 1.5 MHz (the 12 MHz crystal divided by 8).
constexpr uint8_t kI2cStream = 0xAA;
constexpr uint8_t kI2cSet = 0x60;
constexpr uint8_t kI2c100kHz = 0x01;
constexpr uint8_t kI2cEnd = 0x00;
constexpr uint32_t kSpiClockHz = 1'500'000;

// D0-D2 are the chip selects CS0-CS2 (active low), D3 the clock DCK, D4 the
// second data output DOUT2, D5 the data output DOUT; D6 and D7 are inputs.
constexpr uint8_t kClockPin = 1 << 3;
constexpr uint8_t kOutputPins = 0x3F;
// At rest: every chip select high, the clock low (SPI mode 0), the data
// outputs high.
constexpr uint8_t kIdleLevels = 0x37;
constexpr uint8_t SelectedLevels(int chipSelect) {
  return static_cast<uint8_t>(kIdleLevels & ~(1u << chipSelect));
}

uint8_t Reversed(uint8_t byte);

}  // namespace ch341a

/// A packet shorter than 32 bytes ends its USB transfer, so the packets
/// group into transfers that each end with one, or at the 4096 bytes that
/// the maker's own library writes at most at once. Pin changes that follow
/// one another share a UIO packet; clocking that follows clocking fills the
/// SPI packet before it.
class Ch341aStream {
 public:
  /// Drives D0-D5 to `levels`.
  void SetPins(uint8_t levels);
  /// Makes D0-D5 outputs at `levels`, or inputs (`outputs` false).
  void SetDirection(bool outputs, uint8_t levels);
  /// One data line each way for SPI.
  void SetSingleDataLines();
  /// Clocks `count` bytes: `tx`, or copies of `fill` when it is null. What
  /// is clocked in goes to `rx` when a reply arrives (null: dropped).
  void Clock(const uint8_t* tx, uint8_t fill, uint8_t* rx, size_t count);

  bool Empty() const { return packets_.empty(); }
  size_t OutBytes() const { return outBytes_; }
  size_t SpiBytes() const { return spiBytes_; }
  size_t Packets() const { return packets_.size(); }
  /// The USB OUT transfers that carry the packets, in order.
  std::vector<std::vector<uint8_t>> Transfers() const;
  /// The length of the IN packet that answers each SPI packet, in order.
  std::vector<uint8_t> ReplyLengths() const;
  /// Hands over the next reply packet, as received: its bytes, put back in
  /// order, go where Clock said.
  void TakeReply(const uint8_t* bytes, size_t n);
  void Clear();

 private:
  struct Segment {
    uint8_t* rx;
    size_t length;
  };
  void AddUio(std::initializer_list<uint8_t> subCommands);

  std::vector<std::vector<uint8_t>> packets_;
  std::vector<Segment> segments_;
  size_t segment_ = 0;      // the one the next reply byte goes to
  size_t segmentDone_ = 0;  // its bytes received
  size_t outBytes_ = 0;
  size_t spiBytes_ = 0;
};
