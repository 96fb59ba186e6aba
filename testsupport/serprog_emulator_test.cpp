// SPDX-License-Identifier: MIT
// The serprog emulator from the host's side, through plain system calls on
// its pseudo-terminal and its socket: what it answers, what it refuses, the
// port settings it checks and the time it models.
#include "testsupport/serprog_emulator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <thread>

#include "testsupport/sim_frames.h"

namespace {

using testsupport::HexBytes;
using testsupport::SerprogEmulator;
using testsupport::SerprogEmulatorConfig;

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string s;
  for (size_t i = 0; i < bytes.size(); ++i) {
    char text[4];
    std::snprintf(text, sizeof text, i ? " %02X" : "%02X", bytes[i]);
    s += text;
  }
  return s;
}

// The host's end, opened the way any serial program would: the port in raw
// mode unless told otherwise.
class Host {
 public:
  explicit Host(const std::string& name, bool raw = true) {
    if (name.rfind("tcp:", 0) == 0) {
      fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      address.sin_port = htons(static_cast<uint16_t>(std::stoi(name.substr(name.rfind(':') + 1))));
      EXPECT_EQ(::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
      return;
    }
    fd_ = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_GE(fd_, 0);
    termios t{};
    ::tcgetattr(fd_, &t);
    if (raw) {
      ::cfmakeraw(&t);
    } else {
      // Cooked, but for the echo that would feed the device its answers and
      // the lines that would hold the answers back.
      t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON);
    }
    ::tcsetattr(fd_, TCSANOW, &t);
  }
  ~Host() { ::close(fd_); }

  // Sends `hex` and reads `length` bytes of answer; what came when nothing
  // more came within a few seconds (a failing test, never a passing one).
  std::string Ask(const std::string& hex, size_t length) {
    Send(hex);
    return Hex(Read(length));
  }
  void Send(const std::string& hex) {
    const std::vector<uint8_t> bytes = HexBytes(hex);
    EXPECT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    written_ += bytes.size();
  }
  std::vector<uint8_t> Read(size_t length) {
    std::vector<uint8_t> got(length);
    size_t n = 0;
    pollfd p{fd_, POLLIN, 0};
    while (n < length && ::poll(&p, 1, 5000) > 0) {
      const ssize_t r = ::read(fd_, got.data() + n, length - n);
      if (r <= 0) break;
      n += static_cast<size_t>(r);
    }
    got.resize(n);
    read_ += n;
    return got;
  }
  // Once the emulator has taken all that was sent and waits, whether an
  // answer came that was not read.
  bool AnswerLeft(const SerprogEmulator& emulator) {
    while (!emulator.Settled(written_, read_)) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 0) > 0) return true;
      std::this_thread::yield();
    }
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
  }

 private:
  int fd_ = -1;
  uint64_t written_ = 0;
  uint64_t read_ = 0;
};

std::unique_ptr<SerprogEmulator> Emulator(SerprogEmulatorConfig config) {
  std::string error;
  std::unique_ptr<SerprogEmulator> emulator = SerprogEmulator::Create(config, &error);
  EXPECT_TRUE(emulator) << error;
  if (emulator) emulator->Start();
  return emulator;
}

struct Exchange {
  const char* command;
  size_t answerLength;
  const char* answer;
};

// pico-serprog's answers (main.c): its command map (NOP, the queries it
// has, SYNCNOP, S_BUSTYPE, O_SPIOP, S_SPI_FREQ, S_PIN_STATE), its name,
// SPI only, a serial buffer of 0xFFFF; the clock 125 MHz / 4 / d.
const Exchange kPico[] = {
    {"00", 1, "06"},
    {"01", 3, "06 01 00"},
    {"02", 33, "06 3F 00 3D 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
    {"03", 17, "06 70 69 63 6F 2D 73 65 72 70 72 6F 67 00 00 00 00"},
    {"04", 3, "06 FF FF"},
    {"05", 2, "06 08"},
    {"10", 2, "15 06"},
    {"12 08", 1, "06"},
    {"12 01", 1, "15"},
    {"14 00 00 00 00", 1, "15"},
    {"14 40 42 0F 00", 5, "06 40 42 0F 00"},   // 1 MHz: d = 31.25
    {"14 80 F0 FA 02", 5, "06 50 D6 DC 01"},   // 50 MHz: the fastest, 31.25 MHz
    {"14 64 00 00 00", 5, "06 DC 01 00 00"},   // 100 Hz: the slowest, d = 65536, 476 Hz
    {"15 01", 1, "06"},
    {"13 01 00 00 03 00 00 9F", 4, "06 20 20 14"},
    {"13 04 00 00 02 00 00 03 00 00 00", 3, "06 FF FF"},  // an erased M25P80
    // Not in its map: NAK, and the parameter taken as the next command.
    {"16 00", 2, "15 06"},
    {"08", 1, "15"},
};

TEST(SerprogEmulator, AnswersAsPicoSerprogOverAPseudoTerminalAndTcp) {
  for (const bool tcp : {false, true}) {
    SCOPED_TRACE(tcp ? "tcp" : "pty");
    SerprogEmulatorConfig config;
    config.sim.chip = "M25P80";
    config.tcp = tcp;
    std::unique_ptr<SerprogEmulator> emulator = Emulator(config);
    ASSERT_TRUE(emulator);
    Host host(emulator->DeviceName());
    for (const Exchange& e : kPico) EXPECT_EQ(host.Ask(e.command, e.answerLength), e.answer) << e.command;
    emulator->Stop();
    EXPECT_EQ(emulator->Violations(), (std::vector<std::string>{"command 16 is not in the command map",
                                                                 "command 08 is not in the command map"}));
  }
}

TEST(SerprogEmulator, OffersWhatItIsToldToAndKeepsItsLimits) {
  SerprogEmulatorConfig config;
  config.sim.chip = "M25P80";
  config.maxOut = 8;
  config.maxIn = 0;  // 2^24
  config.chipSelects = 2;
  config.setFreq = false;
  config.queryName = false;
  std::unique_ptr<SerprogEmulator> emulator = Emulator(config);
  ASSERT_TRUE(emulator);
  Host host(emulator->DeviceName());
  const Exchange exchanges[] = {
      {"02", 33, "06 37 01 6F 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
      {"08", 4, "06 08 00 00"},
      {"11", 4, "06 00 00 00"},
      {"16 01", 1, "06"},
      // Chip select 1 has no chip: nothing drives MISO.
      {"13 01 00 00 03 00 00 9F", 4, "06 FF FF FF"},
      {"16 02", 1, "15"},
      {"16 00", 1, "06"},
      // Beyond the stated 8 bytes out: taken whole, then refused.
      {"13 09 00 00 00 00 00 00 00 00 00 00 00 00 00 00", 1, "15"},
      {"13 01 00 00 03 00 00 9F", 4, "06 20 20 14"},
  };
  for (const Exchange& e : exchanges) EXPECT_EQ(host.Ask(e.command, e.answerLength), e.answer) << e.command;
  emulator->Stop();
  EXPECT_EQ(emulator->Violations(),
            std::vector<std::string>{
                "S_CMD_O_SPIOP of 9 bytes out and 0 back, beyond the lengths the device states"});
}

// What a real device would suffer from: bytes on a port left cooked, an
// S_CMD_O_SPIOP past pico-serprog's buffer or with its drivers off.
TEST(SerprogEmulator, RecordsWhatTheDeviceWouldSufferFrom) {
  SerprogEmulatorConfig config;
  config.sim.chip = "M25P80";
  config.writeBuffer = 4;
  std::unique_ptr<SerprogEmulator> emulator = Emulator(config);
  ASSERT_TRUE(emulator);
  EXPECT_EQ(Host(emulator->DeviceName(), false).Ask("00", 1), "06");
  Host host(emulator->DeviceName());
  EXPECT_EQ(host.Ask("13 05 00 00 00 00 00 0B 00 00 00 00", 1), "06");
  EXPECT_EQ(host.Ask("15 00", 1), "06");
  EXPECT_EQ(host.Ask("13 01 00 00 00 00 00 04", 1), "06");
  emulator->Stop();
  const std::vector<std::string> violations = emulator->Violations();
  ASSERT_EQ(violations.size(), 3u);
  EXPECT_TRUE(std::regex_match(violations[0], std::regex("bytes reached a port that is not raw 8N1 without flow "
                                                         "control \\(iflag .*\\)")))
      << violations[0];
  EXPECT_EQ(violations[1], "S_CMD_O_SPIOP of 5 bytes out: the firmware's buffer holds 4");
  EXPECT_EQ(violations[2], "S_CMD_O_SPIOP with the output drivers off");
}

// The faults a host must survive: the end of an old answer ahead of the
// new ones, half a command taken before, a device that stops answering or
// goes away, one that answers anything with the same bytes.
TEST(SerprogEmulator, MisbehavesAsToldTo) {
  struct Case {
    const char* label;
    std::string description;
    std::vector<Exchange> exchanges;
  };
  const Case cases[] = {
      {"stale", "stale=4", {{"00", 5, "15 06 06 15 06"}}},
      // 13 04 00 waits for the rest of its header: the NOPs complete it (4
      // bytes out, none back) and are its bytes out; one ACK for them all.
      {"partial", "partial=130400", {{"00 00 00 00 00 00 00 00", 1, "06"}, {"10", 2, "15 06"}}},
      {"answer", "answer=4F4B", {{"10", 2, "4F 4B"}, {"00", 2, "4F 4B"}}},
      {"mute", "mute=1", {{"13 00 00 00 00 00 00", 1, "06"}, {"13 00 00 00 00 00 00", 0, ""}, {"00", 0, ""}}},
      {"hangup", "hangup=1", {{"13 00 00 00 00 00 00", 1, "06"}, {"13 00 00 00 00 00 00", 1, ""}}},
      {"nak", "nak=2", {{"13 00 00 00 00 00 00", 1, "06"}, {"13 00 00 00 00 00 00", 1, "15"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::string error;
    std::unique_ptr<SerprogEmulator> emulator =
        SerprogEmulator::FromDescription("chip=M25P80," + c.description, &error);
    ASSERT_TRUE(emulator) << error;
    emulator->Start();
    Host host(emulator->DeviceName());
    for (const Exchange& e : c.exchanges) EXPECT_EQ(host.Ask(e.command, e.answerLength), e.answer) << e.command;
    // Nothing more comes, where the port is still there.
    if (c.description.rfind("hangup", 0) != 0) {
      EXPECT_FALSE(host.AnswerLeft(*emulator));
    }
  }
}

// The model's figures against pico-serprog's measured read of 16 MiB in
// 26 s (its pull request #8): 256 reads of 64 KiB at the top clock.
TEST(SerprogEmulator, ModelsPicoSerprogsMeasuredRead) {
  SerprogEmulatorConfig config;
  config.sim.chip = "N25Q128";
  config.keepLog = false;
  std::unique_ptr<SerprogEmulator> emulator = Emulator(config);
  ASSERT_TRUE(emulator);
  Host host(emulator->DeviceName());
  EXPECT_EQ(host.Ask("14 80 F0 FA 02", 5), "06 50 D6 DC 01");
  for (uint32_t address = 0; address < (16u << 20); address += 0x10000) {
    char command[64];
    std::snprintf(command, sizeof command, "13 04 00 00 00 00 01 03 %02X %02X 00", address >> 16,
                  (address >> 8) & 0xFF);
    host.Send(command);
    ASSERT_EQ(host.Read(1 + 0x10000).size(), 1 + 0x10000u);
  }
  emulator->Stop();
  const std::string summary = emulator->Summary();
  std::smatch m;
  ASSERT_TRUE(std::regex_search(summary, m, std::regex("modelled=([0-9.]+) s round-trips=([0-9]+)"))) << summary;
  EXPECT_NEAR(std::stod(m[1]), 26.0, 0.2) << summary;
  EXPECT_EQ(m[2], "256");
}

}  // namespace
