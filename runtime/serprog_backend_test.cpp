// SPDX-License-Identifier: MIT
// The serprog backend against the serprog emulator, over a real
// pseudo-terminal or loopback socket: the commands it sends, how select
// windows become S_CMD_O_SPIOPs, the settings, and every way it fails.
#include "runtime/serprog_backend.h"

#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <regex>

#include "runtime/posix_serial_system.h"
#include "testsupport/paced_serial_system.h"
#include "testsupport/serprog_emulator.h"
#include "testsupport/sim_frames.h"

namespace {

using testsupport::HexBytes;
using testsupport::PacedSerialSystem;
using testsupport::SerprogEmulator;
using testsupport::SerprogEmulatorConfig;
using Lines = std::vector<std::string>;

// The eight NOPs and two S_CMD_SYNCNOPs of the synchronisation.
const Lines kSync = {"00", "00", "00", "00", "00", "00", "00", "00", "10", "10"};
// What pico-serprog is asked after it: the interface version, the command
// map, the bus types, SPI, the serial buffer, the name, the output drivers on.
const Lines kPicoQueries = {"01", "02", "05", "12 08", "04", "03", "15 01"};

Lines Concat(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The number after "<name>=" in a summary line.
uint64_t Field(const std::string& summary, const std::string& name) {
  std::smatch m;
  return std::regex_search(summary, m, std::regex("(^| )" + name + "=([0-9]+)")) ? std::stoull(m[2]) : 0;
}

// `text` with the emulator's device name put as "PORT".
std::string Placed(std::string text, const std::string& name) {
  for (size_t at; !name.empty() && (at = text.find(name)) != std::string::npos;) text.replace(at, name.size(), "PORT");
  return text;
}

// The backend over an emulator; the paced calls end a wait that nothing
// can end at once, so that no test waits for a time-out, and hand the
// pauses to the emulator's clock.
class Serprog : public testing::Test {
 protected:
  // The emulator of `description` (its keys besides the chip), with its log.
  bool Open(const std::string& description, SerprogDeviceRequest request = {}) {
    SerprogEmulatorConfig config;
    config.sim.chip = "M25P80";
    std::string error;
    EXPECT_TRUE(description.empty() || SerprogEmulator::Describe(description, &config, &error)) << error;
    return Open(config, request);
  }
  bool Open(const SerprogEmulatorConfig& config, SerprogDeviceRequest request = {}) {
    backend.reset();  // before the emulator it talks to
    std::string error;
    emulator = SerprogEmulator::Create(config, &error);
    if (!emulator) {
      ADD_FAILURE() << error;
      return false;
    }
    emulator->Start();
    const std::string name = emulator->DeviceName();
    if (request.port.empty() && request.host.empty()) {
      if (config.tcp) {
        request.host = "127.0.0.1";
        request.tcpPort = name.substr(name.rfind(':') + 1);
      } else {
        request.port = name;
      }
    }
    const testsupport::PacedSerialOptions options{.channel = emulator->Channel(), .denyGroup = denyGroup};
    std::unique_ptr<PacedSerialSystem> system =
        PacedSerialSystem::Create(std::make_unique<PosixSerialSystem>(), options, &error);
    if (!system) {
      ADD_FAILURE() << error;
      return false;
    }
    openError.clear();
    backend = SerprogBackend::Open(request, std::move(system), trace, &openError);
    openError = Placed(openError, name);
    return backend != nullptr;
  }
  // The commands the emulator took since the last look.
  Lines Taken() {
    Lines taken = emulator->Commands();
    emulator->ClearLog();
    return taken;
  }
  bool Transfer(bool during, bool after, const std::string& hex, size_t more = 0, uint8_t* rx = nullptr) {
    tx = HexBytes(hex);
    tx.resize(tx.size() + more, 0xA5);
    return backend->Transfer({during, after, tx.data(), 0, rx, tx.size()});
  }
  std::string Reason() { return Placed(backend->TakeReason(), emulator->DeviceName()); }

  TraceWriter trace;  // closed: records nothing
  std::string denyGroup;
  std::unique_ptr<SerprogEmulator> emulator;
  std::unique_ptr<SerprogBackend> backend;
  std::string openError;
  std::vector<uint8_t> tx;
};

struct OpenCase {
  const char* label;
  std::string description;  // the emulator's keys besides the chip
  Lines commands;           // what it takes while the backend opens
  uint32_t windowLimit;
};

void PrintTo(const OpenCase& c, std::ostream* os) { *os << c.label; }

class SerprogOpens : public Serprog, public testing::WithParamInterface<OpenCase> {};

// Only what the command map offers is sent; the lengths a device states
// make the window limit; the output drivers go off at the end.
TEST_P(SerprogOpens, SendsWhatTheDeviceOffers) {
  const OpenCase& c = GetParam();
  ASSERT_TRUE(Open(c.description)) << openError;
  EXPECT_EQ(Taken(), c.commands);
  EXPECT_EQ(backend->WindowLimit(), c.windowLimit);
  EXPECT_TRUE(backend->Close());
  const bool pins = c.description.find("nopins") == std::string::npos;
  EXPECT_EQ(Taken(), pins ? Lines{"15 00"} : Lines{});
  EXPECT_EQ(emulator->DriversOn(), !pins);
  EXPECT_EQ(emulator->Violations(), Lines{});
}

INSTANTIATE_TEST_SUITE_P(
    Table, SerprogOpens,
    testing::Values(
        OpenCase{"Pico", "", Concat(kSync, kPicoQueries), 16777215},
        OpenCase{"PicoOverTcp", "tcp", Concat(kSync, kPicoQueries), 16777215},
        // A device that states its lengths, and has no name, bus types,
        // buffer size or output drivers to tell of.
        OpenCase{"StatesItsLengths", "maxlen=260:4096,noname,nopins,nobustype,noserbuf",
                 Concat(kSync, {"01", "02", "08", "11"}), 4096},
        // 2^24 stated as 0; a length field holds one less.
        OpenCase{"StatesUnlimitedLengths", "maxlen=0:0,noname,nopins,nobustype,noserbuf",
                 Concat(kSync, {"01", "02", "08", "11"}), 16777215},
        // Half an S_CMD_O_SPIOP taken before: the NOPs complete it.
        OpenCase{"HalfwayThroughACommand", "partial=130400",
                 Concat({"13 04 00 00 00 00 00 00 00 00 00", "10", "10"}, kPicoQueries), 16777215},
        // The end of an old answer, with NAK ACK in it, ahead of the NOPs'
        // ACKs: the first NAK ACK is not confirmed, and a second round
        // starts once the device is silent.
        OpenCase{"StaleAnswerAhead", "stale=7", Concat(Concat(kSync, kSync), kPicoQueries), 16777215}),
    [](const testing::TestParamInfo<OpenCase>& info) { return info.param.label; });

// One call of a window, as the entry points make them.
struct Step {
  enum Kind { kSelect, kRelease, kPut, kPutReply, kGet, kOneCall, kIdle } kind;
  std::string hex = {};
  size_t more = 0;  // bytes after them (A5), or got
};

Step Select() { return {Step::kSelect}; }
Step Release() { return {Step::kRelease}; }
Step Put(std::string hex, size_t more = 0) { return {Step::kPut, std::move(hex), more}; }
Step PutReply(std::string hex) { return {Step::kPutReply, std::move(hex)}; }
Step Get(size_t count) { return {Step::kGet, "", count}; }
Step OneCall(std::string hex, size_t more = 0) { return {Step::kOneCall, std::move(hex), more}; }
Step Idle(size_t bytes) { return {Step::kIdle, "", bytes}; }

struct WindowCase {
  const char* label;
  std::string description;  // the emulator's keys besides the chip
  std::vector<Step> steps;
  Lines commands;             // as the emulator took them
  std::string failure = {};   // the reason of the first step that fails; empty: none does
  uint64_t writes = 0;        // the backend's writes for the steps; 0: not checked
  std::string reply = {};     // the bytes of the last reply, in hex; empty: not checked
};

void PrintTo(const WindowCase& c, std::ostream* os) { *os << c.label; }

class SerprogWindows : public Serprog, public testing::WithParamInterface<WindowCase> {};

// Each select window is one S_CMD_O_SPIOP: what needs no reply waits for
// the next that does, and a window is never split.
TEST_P(SerprogWindows, BecomeOneSpiOpEach) {
  const WindowCase& c = GetParam();
  ASSERT_TRUE(Open(c.description)) << openError;
  uint32_t granted = 0;
  ASSERT_TRUE(backend->SetClock(50'000'000, &granted));
  Taken();
  const uint64_t writesBefore = Field(backend->Summary(), "writes");
  std::string failure;
  std::vector<uint8_t> rx(8192, 0x55);
  size_t replied = 0;
  for (const Step& step : c.steps) {
    bool ok = true;
    switch (step.kind) {
      case Step::kSelect: ok = backend->Select(true); break;
      case Step::kRelease: ok = backend->Select(false); break;
      case Step::kPut: ok = Transfer(true, true, step.hex, step.more); break;
      case Step::kPutReply:
        ok = Transfer(true, true, step.hex, 0, rx.data());
        replied = tx.size();
        break;
      case Step::kGet:
        ok = backend->Transfer({true, true, nullptr, 0xFF, rx.data(), step.more});
        replied = step.more;
        break;
      case Step::kOneCall: ok = Transfer(true, false, step.hex, step.more); break;
      case Step::kIdle: ok = backend->Transfer({false, false, nullptr, 0xFF, nullptr, step.more}); break;
    }
    if (!ok && failure.empty()) failure = Reason();
  }
  EXPECT_EQ(failure, c.failure);
  const uint64_t writes = Field(backend->Summary(), "writes") - writesBefore;
  ASSERT_TRUE(backend->DisablePort());
  EXPECT_EQ(Taken(), c.commands);
  if (c.writes) {
    EXPECT_EQ(writes, c.writes);
  }
  if (!c.reply.empty()) {
    EXPECT_EQ(HexBytes(c.reply), std::vector<uint8_t>(rx.begin(), rx.begin() + static_cast<long>(replied)));
  }
  EXPECT_EQ(emulator->Violations(), Lines{});
}

const std::string kAfterReply =
    "PORT: a transfer after the reply in one select window: S_CMD_O_SPIOP reads its reply last, and chip select "
    "rises with it";

INSTANTIATE_TEST_SUITE_P(
    Table, SerprogWindows,
    testing::Values(
        // The identification, full duplex: 9F out, three bytes back; FF
        // where the chip's output floats.
        WindowCase{"ReadId", "", {Select(), PutReply("9F 00 00 00"), Release()}, {"13 01 00 00 03 00 00 9F"}, "", 1,
                   "FF 20 20 14"},
        // Write enable, page program and the first status poll: one write.
        WindowCase{"PageProgram",
                   "",
                   {OneCall("06"), Select(), Put("02 00 01 00", 256), Release(), Select(), PutReply("05 00"),
                    Release()},
                   {"13 01 00 00 00 00 00 06", "13 04 01 00 00 00 00 02 00 01 00 +256", "13 01 00 00 01 00 00 05"},
                   "",
                   1,
                   "FF 03"},
        // A read: the header put, the data got with zeros clocked.
        WindowCase{"Read", "", {Select(), Put("03 00 10 00"), Get(4096), Release()},
                   {"13 04 00 00 00 10 00 03 00 10 00"}, "", 1},
        // A pause lets what is queued go; the status poll after it waits
        // for nothing of its own.
        WindowCase{"PauseSendsTheQueue", "", {OneCall("06"), OneCall("C7"), Idle(3750), Select(),
                                              PutReply("05 00"), Release()},
                   {"13 01 00 00 00 00 00 06", "13 01 00 00 00 00 00 C7", "13 01 00 00 01 00 00 05"}, "", 2, "FF 03"},
        // A device whose serial buffer holds 16 bytes: two write enables
        // fill it, and the status poll waits for their answers.
        WindowCase{"SmallSerialBuffer", "serbuf=16", {OneCall("06"), OneCall("06"), Select(), PutReply("05 00"),
                                                      Release()},
                   {"13 01 00 00 00 00 00 06", "13 01 00 00 00 00 00 06", "13 01 00 00 01 00 00 05"}, "", 2},
        WindowCase{"AfterTheReply", "", {Select(), PutReply("05 00"), Put("05"), Release()},
                   {"13 01 00 00 01 00 00 05"}, kAfterReply},
        // Beyond the device's stated lengths, however it would be split.
        WindowCase{"TooLongOut", "maxlen=260:4096", {Select(), Put("02 00 01 00", 257), Release()}, {},
                   "PORT: a select window of 261 bytes out and 0 back does not fit one S_CMD_O_SPIOP (the device "
                   "takes 260 out and 4096 back); a read command's reply of up to 4096 bytes "
                   "always goes"},
        WindowCase{"TooLongIn", "maxlen=260:4096", {Select(), Put("03 00 00 00"), Get(4097), Release()}, {},
                   "PORT: a select window of 4 bytes out and 4097 back does not fit one S_CMD_O_SPIOP (the device "
                   "takes 260 out and 4096 back); a read command's reply of up to 4096 bytes "
                   "always goes"},
        WindowCase{"IdleInsideAWindow", "", {Select(), Idle(10), Release()}, {},
                   "PORT: no transfer without chip select inside a select window or with a reply"}),
    [](const testing::TestParamInfo<WindowCase>& info) { return info.param.label; });

// The clock the device sets is the one reported; a device that cannot set
// one keeps its own, reported as asked.
TEST_F(Serprog, ReportsTheClockTheDeviceSet) {
  struct Case {
    std::string description;
    uint32_t asked;
    uint32_t granted;
    Lines commands;
  };
  const Case cases[] = {
      {"", 50'000'000, 31'250'000, {"14 80 F0 FA 02"}},
      {"", 1'000'000, 1'000'000, {"14 40 42 0F 00"}},
      {"", 100, 476, {"14 64 00 00 00"}},
      {"nofreq", 50'000'000, 50'000'000, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description + " " + std::to_string(c.asked));
    ASSERT_TRUE(Open(c.description)) << openError;
    Taken();
    uint32_t granted = 0;
    EXPECT_TRUE(backend->SetClock(c.asked, &granted));
    EXPECT_EQ(granted, c.granted);
    EXPECT_EQ(backend->Clock(), c.granted);
    // No clock asked for: the device keeps the one it has.
    EXPECT_TRUE(backend->SetClock(0, &granted));
    EXPECT_EQ(granted, c.granted);
    EXPECT_EQ(Taken(), c.commands);
  }
}

// Ports are chip selects where the device has S_CMD_S_SPI_CS; modes other
// than 0 have no command.
TEST_F(Serprog, TakesThePortsAndModesTheDeviceHas) {
  ASSERT_TRUE(Open("cs=2"));
  Taken();
  EXPECT_TRUE(backend->EnablePort(1));
  EXPECT_FALSE(backend->EnablePort(2));
  EXPECT_EQ(Reason(), "PORT has no chip select 2 (S_CMD_S_SPI_CS refused it)");
  EXPECT_EQ(Taken(), (Lines{"16 01", "16 02"}));
  ASSERT_TRUE(Open(""));
  EXPECT_TRUE(backend->EnablePort(0));
  EXPECT_FALSE(backend->EnablePort(1));
  EXPECT_EQ(Reason(), "PORT has one chip select (it offers no S_CMD_S_SPI_CS): it has no port 1");
  EXPECT_TRUE(backend->SetMode(0, false));
  EXPECT_FALSE(backend->SetMode(3, false));
  EXPECT_EQ(Reason(), "PORT: SPI mode 3 asked for; serprog devices shift in mode 0, most significant bit first "
                      "(flash chips take modes 0 and 3)");
}

struct OpenFailure {
  const char* label;
  std::string description;  // the emulator's keys besides the chip
  SerprogDeviceRequest request;  // empty: the emulator's port
  std::string denyGroup;
  std::string reason;
};

void PrintTo(const OpenFailure& c, std::ostream* os) { *os << c.label; }

class SerprogOpenFailures : public Serprog, public testing::WithParamInterface<OpenFailure> {};

TEST_P(SerprogOpenFailures, SayWhy) {
  const OpenFailure& c = GetParam();
  denyGroup = c.denyGroup;
  EXPECT_FALSE(Open(c.description, c.request));
  EXPECT_EQ(openError, c.reason);
}

// A TCP port on the loopback that nothing listens on.
std::string ClosedTcpPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return std::to_string(ntohs(address.sin_port));
}

const std::string kClosedPort = ClosedTcpPort();

INSTANTIATE_TEST_SUITE_P(
    Table, SerprogOpenFailures,
    testing::Values(
        OpenFailure{"NoSuchPort", "", {.port = "/dev/ttyACM-none"}, "", "no such serial port /dev/ttyACM-none"},
        OpenFailure{"PermissionDenied", "", {}, "dialout",
                    "permission denied on PORT: it belongs to group 'dialout'; add your user to that group (usermod "
                    "-aG dialout <user>) and log in again"},
        OpenFailure{"NotASerialPort", "", {.port = "/dev/null"}, "",
                    "/dev/null is not a serial port (Inappropriate ioctl for device)"},
        OpenFailure{"RateNotTaken", "", {.port = "", .baud = 12345}, "",
                    "PORT: baud=12345 is not a rate the port takes"},
        OpenFailure{"NothingListens", "", {.host = "127.0.0.1", .tcpPort = kClosedPort}, "",
                    "cannot connect to 127.0.0.1:" + kClosedPort + ": Connection refused"},
        // A UART at 115200 baud, the port left at its own rate: nothing
        // it hears makes sense, and it answers nothing.
        OpenFailure{"Silent", "baud=115200", {}, "",
                    "PORT: no answer to the serprog synchronisation (S_CMD_SYNCNOP) in 4 tries of 1000 ms: no serprog "
                    "device is there, it runs at another baud rate, or it hangs in a command (reset it)"},
        // A modem, say: OK to everything.
        OpenFailure{"AnswersSomethingElse", "answer=4F4B", {}, "",
                    "PORT: the synchronisation (S_CMD_SYNCNOP) was answered with 4F 4B 4F 4B 4F 4B 4F 4B 4F 4B 4F 4B "
                    "4F 4B 4F 4B and never NAK ACK twice in 4 tries of 1000 ms: this is no serprog device, or it "
                    "runs at another baud rate"},
        OpenFailure{"OtherInterface", "iface=2", {}, "",
                    "PORT speaks serprog interface version 2; romwick speaks version 1"},
        OpenFailure{"NoSpiBus", "buses=1", {}, "", "PORT drives no SPI bus (S_CMD_Q_BUSTYPE: 0x01)"}),
    [](const testing::TestParamInfo<OpenFailure>& info) { return info.param.label; });

struct RunFailure {
  const char* label;
  std::string description;
  std::string reason;
};

void PrintTo(const RunFailure& c, std::ostream* os) { *os << c.label; }

class SerprogRunFailures : public Serprog, public testing::WithParamInterface<RunFailure> {};

// A device that fails in the middle: the call that reads the answer fails
// with the reason; after a broken stream every later call fails at once,
// without the reason again; closing does not hang.
TEST_P(SerprogRunFailures, FailTheCallAndWhatFollows) {
  const RunFailure& c = GetParam();
  for (const bool tcp : {false, true}) {
    SCOPED_TRACE(tcp ? "tcp" : "pty");
    ASSERT_TRUE(Open(c.description + (tcp ? ",tcp" : ""))) << openError;
    std::vector<uint8_t> rx(4);  // as long as the longest transfer that reads
    // The first S_CMD_O_SPIOP is answered, the second goes with the third.
    EXPECT_TRUE(Transfer(true, false, "06"));
    EXPECT_TRUE(Transfer(true, false, "9F 00 00 00", 0, rx.data()));
    EXPECT_TRUE(Transfer(true, false, "06"));
    EXPECT_FALSE(Transfer(true, false, "05 00", 0, rx.data()));
    const std::string name = tcp ? "127.0.0.1:" + emulator->DeviceName().substr(emulator->DeviceName().rfind(':') + 1)
                                 : emulator->DeviceName();
    const std::string gone = tcp ? "the connection closed" : "the port closed (unplugged, or the device reset)";
    EXPECT_EQ(Placed(backend->TakeReason(), name), std::regex_replace(c.reason, std::regex("GONE"), gone));
    const bool refused = c.description.rfind("nak", 0) == 0;
    EXPECT_EQ(Transfer(true, false, "05 00", 0, rx.data()), refused);
    EXPECT_EQ(backend->TakeReason(), "");
    EXPECT_EQ(backend->Close(), refused);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SerprogRunFailures,
    testing::Values(
        RunFailure{"StopsAnswering", "mute=2",
                   "PORT: no answer within 1000 ms to S_CMD_O_SPIOP: the device stopped answering"},
        RunFailure{"HangsUp", "hangup=2", "PORT is gone: GONE"},
        RunFailure{"Refuses", "nak=3", "PORT refused S_CMD_O_SPIOP (NAK)"}),
    [](const testing::TestParamInfo<RunFailure>& info) { return info.param.label; });

}  // namespace
