// SPDX-License-Identifier: MIT
// SerprogEmulator: a serprog device (pico-serprog on a Raspberry Pi Pico, by
// default) behind a real pseudo-terminal or a loopback TCP socket, served by
// a thread of its own, with a simulated flash chip on its SPI bus and a
// model of the device's time.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_interface.h"
#include "testsupport/serprog_channel.h"

namespace testsupport {

struct SerprogEmulatorConfig {
  // The chip; the emulator charges the device's time itself. The sim's
  // clock divides twice its top clock: pico-serprog's fastest, 31.25 MHz,
  // comes out whole.
  SimConfig sim{.latencyUs = 0, .topClockHz = 31'250'000};
  bool tcp = false;  // a loopback TCP socket; otherwise a pseudo-terminal

  // What the device says of itself and offers, as pico-serprog has it.
  std::string name = "pico-serprog";
  uint16_t iface = 1;
  uint8_t buses = 0x08;                // SPI only
  uint16_t serialBuffer = 0xFFFF;      // "guaranteed working flow control"
  std::optional<uint32_t> maxOut{};    // S_CMD_Q_WRNMAXLEN's answer; in the map only when given
  std::optional<uint32_t> maxIn{};     // S_CMD_Q_RDNMAXLEN's
  uint32_t chipSelects = 0;            // S_CMD_S_SPI_CS in the map, taking 0 to n-1; 0: not in it
  bool setFreq = true;                 // S_CMD_S_SPI_FREQ in the map
  bool pinState = true;                // S_CMD_S_PIN_STATE in the map
  bool busType = true;                 // S_CMD_Q_BUSTYPE and S_CMD_S_BUSTYPE in the map
  bool queryName = true;               // S_CMD_Q_PGMNAME in the map
  bool querySerBuf = true;             // S_CMD_Q_SERBUF in the map
  uint32_t writeBuffer = 4096;         // an S_CMD_O_SPIOP's bytes out the firmware has room for
  uint32_t baud = 0;                   // a UART at this rate: bytes sent at another are lost; 0 USB CDC

  // Time: see the .cpp for where the figures come from.
  uint32_t roundTripUs = 300;
  uint32_t byteNs = 1294;

  // Faults.
  std::vector<uint8_t> answer{};      // answers every byte with these, whatever it is: no serprog device
  uint64_t muteAfter = 0;             // takes and answers nothing after this many S_CMD_O_SPIOPs
  uint64_t hangUpAfter = 0;           // closes its end after this many S_CMD_O_SPIOPs
  uint64_t nakSpiOp = 0;              // refuses this S_CMD_O_SPIOP (from 1)
  uint32_t stale = 0;                 // bytes of an old answer waiting when the host opens the port
  std::vector<uint8_t> partial{};     // bytes of a command the device had taken before

  std::string report;    // a file that receives Summary() when the emulator stops
  bool keepLog = true;   // record every command (not for long runs)
};

/// The device's rules, as the emulator keeps them (flashrom's
/// serprog-protocol.rst; pico-serprog's main.c for what that firmware does):
/// - it answers the commands of its map: S_CMD_SYNCNOP with NAK ACK, the
///   queries with ACK and their values, S_CMD_S_BUSTYPE with NAK for a bus
///   it lacks, S_CMD_S_SPI_FREQ with NAK for 0 and otherwise ACK and the
///   clock it set (125 MHz / 4 / d, d from 1 to 65536, as pico-serprog's
///   PIO program takes four cycles a bit), S_CMD_O_SPIOP by selecting the
///   chip, clocking the bytes out, ACK, clocking the bytes asked for in
///   with zeros out, and releasing the chip;
/// - any other command is NAKed without taking parameters, as pico-serprog
///   does, so its parameters are read as commands; sending one is a
///   violation;
/// - an S_CMD_O_SPIOP beyond the lengths the device states is NAKed after
///   its bytes are taken, and beyond pico-serprog's 4,096-byte buffer it
///   would overrun the firmware: both are violations, as are bytes reaching
///   a pseudo-terminal that is not in raw mode with 8 data bits, no parity
///   and no flow control, and an S_CMD_O_SPIOP with the output drivers off;
/// - a UART (`baud`) loses what comes at another rate.
/// Violations are recorded and written to standard error.
///
/// The pseudo-terminal's far end is held open by the emulator, so that the
/// host may open and close it as a USB serial port comes and goes; a TCP
/// connection is a session of its own, the parser starting afresh.
/// Time is the simulated chip's clock: every byte each way costs `byteNs`,
/// every SPI byte its clock period, input that arrives after the device
/// had answered everything and nothing more had come costs a round trip, and
/// the host's pauses told through the channel pass as they are.
class SerprogEmulator {
 public:
  /// Null, with the reason in `error`, for a chip the simulator lacks or a
  /// port or socket that cannot be made.
  static std::unique_ptr<SerprogEmulator> Create(const SerprogEmulatorConfig& config, std::string* error);
  /// The same, keeping no log, from a description such as
  /// "chip=N25Q128,image=chip.bin,tcp". Keys: chip, image, report, tcp,
  /// latency=<round trip, us>, bytens=<ns>, name=<text>, iface=<n>,
  /// buses=<bits>, serbuf=<n>, maxlen=<out>:<in>, cs=<n>, nofreq, nopins,
  /// nobustype, noname, noserbuf, wbuf=<n>, baud=<n>, answer=<hex>,
  /// mute=<n>, hangup=<n>, nak=<n>, stale=<n>, partial=<hex>.
  static std::unique_ptr<SerprogEmulator> FromDescription(const std::string& text, std::string* error);
  /// Applies a description's keys to `config`; false, with the reason in
  /// `error`, for a bad one.
  static bool Describe(const std::string& text, SerprogEmulatorConfig* config, std::string* error);
  ~SerprogEmulator();

  /// What follows `serprog:` in a device name: the pseudo-terminal's path,
  /// or "tcp:127.0.0.1:<port>".
  const std::string& DeviceName() const { return deviceName_; }
  /// The folder of its side channel (SerprogChannel): the host's pauses,
  /// which pass on the device's clock, and whether it waits.
  const std::string& Channel() const { return channel_->Folder(); }
  /// Starts serving; Stop ends it, saves the chip's image and writes the
  /// report (the destructor stops too).
  void Start();
  void Stop();

  /// Whether nothing more can reach a host that wrote `written` bytes and
  /// read `read`: the emulator took them all, sent nothing more, and waits.
  bool Settled(uint64_t written, uint64_t read) const;

  /// Every command taken, in hex (its first 11 bytes, then "+N").
  std::vector<std::string> Commands() const;
  std::vector<std::string> Violations() const;
  void ClearLog();
  bool DriversOn() const;
  /// "modelled=<s> round-trips=<n> commands=<n> spi-ops=<n> ops: ...".
  std::string Summary() const;
  /// The chip; touch it only while the emulator is not serving.
  SimInterface& Sim() { return *sim_; }

 private:
  explicit SerprogEmulator(const SerprogEmulatorConfig& config);
  bool OpenPseudoTerminal(std::string* error);
  bool Listen(std::string* error);
  /// Tells the channel what was taken and sent, and whether it waits.
  void Publish();
  bool Offers(uint8_t opcode) const;
  void Serve();
  /// Reads what has arrived on `fd`; false when its end closed.
  bool TakeInput(int fd);
  void Process(std::vector<uint8_t> bytes);
  /// Runs the command at the front of the input; false when it is not whole.
  bool Execute();
  /// The answer to a command other than S_CMD_O_SPIOP.
  std::vector<uint8_t> Reply(const std::vector<uint8_t>& command);
  void SpiOp(uint32_t out, uint32_t in, const uint8_t* bytes);
  void Answer(std::vector<uint8_t> bytes);
  void SendOutput();
  void HangUp();
  void CheckPort();
  void Violation(const std::string& what);
  void Log(size_t length);

  const SerprogEmulatorConfig config_;
  std::unique_ptr<SimInterface> sim_;
  std::string deviceName_;
  std::unique_ptr<SerprogChannel> channel_;
  int master_ = -1;    // the pseudo-terminal's master
  int slave_ = -1;     // its far end, held open
  int listener_ = -1;  // TCP
  int connection_ = -1;
  int wake_[2] = {-1, -1};
  std::thread thread_;

  std::vector<uint8_t> in_;
  std::vector<uint8_t> out_;
  uint32_t staleOwed_;
  bool answeredAll_ = false;  // answered, and the input ran dry
  bool mute_ = false;
  bool gone_ = false;
  bool portChecked_ = false;
  uint32_t chipSelect_ = 0;

  bool waiting_ = false;
  uint64_t taken_ = 0;
  uint64_t sent_ = 0;

  mutable std::mutex mutex_;  // what the test's thread may look at
  bool drivers_ = false;
  uint64_t commands_ = 0;
  uint64_t spiOps_ = 0;
  uint64_t roundTrips_ = 0;
  std::vector<std::string> log_;
  std::vector<std::string> violations_;
};

}  // namespace testsupport
