// SPDX-License-Identifier: MIT
// The spidev backend against the fake spidev kernel: how select windows
// become messages and chip-select periods, the settings, the reset line.
#include "runtime/spidev_backend.h"

#include <gtest/gtest.h>

#include <linux/spi/spi.h>

#include <numeric>
#include <regex>

#include "testsupport/fake_gpio_kernel.h"
#include "testsupport/fake_spidev_kernel.h"
#include "testsupport/sim_frames.h"

namespace {

using testsupport::FakeSpidevConfig;
using testsupport::FakeSpidevKernel;
using testsupport::HexBytes;

// What the fake kernel differs in from one case to the next.
struct Node {
  uint32_t bufferSize = 4096;
  uint32_t xferCap = 0;
  bool halfDuplex = false;
  uint32_t mode = 0;  // as the device tree set it
};

// The backend over a fake kernel with an N25Q128 on the bus.
class Spidev : public testing::Test {
 protected:
  bool Open(const SpidevDeviceRequest& request, const Node& node = {}) {
    backend.reset();  // before the kernel it reaches
    FakeSpidevConfig config;
    config.sim.chip = "N25Q128";
    config.bufferSize = node.bufferSize;
    config.halfDuplex = node.halfDuplex;
    config.mode = node.mode;
    std::string error;
    kernel = FakeSpidevKernel::Create(config, &error);
    if (!kernel) return false;
    std::unique_ptr<GpioLine> line;
    if (request.reset) line = std::make_unique<GpioLine>(gpio.Seam());
    backend = SpidevBackend::Open(request, kernel->Seam(), std::move(line), trace, &error);
    EXPECT_TRUE(backend) << error;
    return backend != nullptr;
  }
  bool Open(const Node& node) { return Open(Request(node.xferCap), node); }
  static SpidevDeviceRequest Request(uint32_t xferCap = 0) {
    SpidevDeviceRequest request;
    request.node = "/dev/spidev0.0";
    request.xferCap = xferCap;
    return request;
  }

  TraceWriter trace;  // closed: records nothing
  testsupport::FakeGpioKernel gpio;
  std::unique_ptr<FakeSpidevKernel> kernel;
  std::unique_ptr<SpidevBackend> backend;
};

// One call of a window, as the entry points make them.
struct Step {
  enum Kind { kSelect, kRelease, kPut, kGet, kOneCall, kClock } kind;
  std::string hex = {};  // bytes put
  size_t more = 0;       // bytes put after them, or got
  bool reply = false;    // the caller wants the bytes clocked in
};
Step Select() { return {Step::kSelect}; }
Step Release() { return {Step::kRelease}; }
Step Put(std::string hex, size_t more = 0) { return {Step::kPut, std::move(hex), more}; }
Step PutRx(std::string hex, size_t more = 0) { return {Step::kPut, std::move(hex), more, true}; }
Step Get(size_t count) { return {Step::kGet, "", count, true}; }
// A select-bracketed one-call transfer (second generation).
Step OneCall(std::string hex, size_t more = 0) { return {Step::kOneCall, std::move(hex), more}; }
Step OneCallRx(std::string hex) { return {Step::kOneCall, std::move(hex), 0, true}; }
Step Clock() { return {Step::kClock}; }

bool RunStep(SpidevBackend& backend, const Step& step) {
  std::vector<uint8_t> tx = HexBytes(step.hex);
  if (step.kind != Step::kGet) tx.resize(tx.size() + step.more, 0xA5);
  std::vector<uint8_t> rx(std::max(tx.size(), step.more));
  uint8_t* reply = step.reply ? rx.data() : nullptr;
  uint32_t granted = 0;
  switch (step.kind) {
    case Step::kSelect:
      return backend.Select(true);
    case Step::kRelease:
      return backend.Select(false);
    case Step::kPut:
      return backend.Transfer({true, true, tx.data(), 0, reply, tx.size()});
    case Step::kGet:
      return backend.Transfer({true, true, nullptr, 0x55, reply, step.more});
    case Step::kOneCall:
      return backend.Transfer({true, false, tx.data(), 0, reply, tx.size()});
    case Step::kClock:
      return backend.SetClock(1000000, &granted);
  }
  return false;
}

// "<text> (xN)" stands for N messages alike.
std::vector<std::string> Expand(const std::vector<std::string>& lines) {
  static const std::regex repeated("(.*) \\(x([0-9]+)\\)");
  std::vector<std::string> out;
  for (const std::string& line : lines) {
    std::smatch m;
    const bool many = std::regex_match(line, m, repeated);
    out.insert(out.end(), many ? std::stoul(m[2]) : 1, many ? m[1].str() : line);
  }
  return out;
}

struct WindowCase {
  const char* label;
  Node node;
  std::vector<Step> steps;
  std::vector<std::string> messages;  // as the kernel took them
  std::vector<std::string> periods;   // chip-select periods on the wire
};

void PrintTo(const WindowCase& c, std::ostream* os) { *os << c.label; }

class Windows : public Spidev, public testing::WithParamInterface<WindowCase> {};

TEST_P(Windows, EachWindowIsOneMessageAndOneSelectPeriod) {
  const WindowCase& c = GetParam();
  ASSERT_TRUE(Open(c.node));
  kernel->ClearLog();
  for (const Step& step : c.steps) ASSERT_TRUE(RunStep(*backend, step)) << backend->TakeReason();
  EXPECT_EQ(kernel->Messages(), Expand(c.messages));
  EXPECT_EQ(kernel->SelectPeriods(), c.periods);
  EXPECT_EQ(kernel->Violations(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Table, Windows,
    testing::Values(
        // Put-only windows go out whole at the release, which they end.
        WindowCase{"WriteEnableInOneCall", {}, {OneCall("06")}, {"tx1"}, {"06"}},
        WindowCase{"WriteEnableSelectPutRelease", {}, {Select(), Put("06"), Release()}, {"tx1"}, {"06"}},
        WindowCase{"PageProgramInOneCall", {}, {OneCall("06"), OneCall("02 00 01 00", 256)}, {"tx1", "tx260"},
                   {"06", "02 00 01 00 +256"}},
        WindowCase{"PageProgramHeaderThenData", {},
                   {OneCall("06"), Select(), Put("02 00 01 00"), Put("", 256), Release()},
                   {"tx1", "tx4 tx256"},
                   {"06", "02 00 01 00 +256"}},
        // A window with a reply goes with the reply, and its message
        // releases chip select: the release after it sends nothing.
        WindowCase{"StatusInOneCall", {}, {OneCallRx("05 00")}, {"txrx2"}, {"05 00"}},
        WindowCase{"IdentificationEndsWithItsReply", {}, {Select(), PutRx("9F 00 00 00"), Release()}, {"txrx4"},
                   {"9F 00 00 00"}},
        WindowCase{"TheNextCommandIsAPeriodOfItsOwn", {},
                   {Select(), PutRx("05 00"), Release(), Select(), Put("06"), Release()},
                   {"txrx2", "tx1"},
                   {"05 00", "06"}},
        WindowCase{"ReadOfTheBufferSize", {.bufferSize = 65536},
                   {Select(), Put("03 00 00 00"), Get(65536), Release()},
                   {"tx4 rx65536"},
                   {"03 00 00 00 +65536"}},
        WindowCase{"ReadsBackToBack", {.bufferSize = 65536},
                   {Select(), Put("03 00 00 00"), Get(65536), Release(), Select(), Put("03 01 00 00"), Get(65536),
                    Release()},
                   {"tx4 rx65536", "tx4 rx65536"},
                   {"03 00 00 00 +65536", "03 01 00 00 +65536"}},
        // A second release, or a setting, after a window that ended with
        // its reply: nothing is left to raise.
        WindowCase{"SecondRelease", {}, {Select(), PutRx("05 00"), Release(), Release()}, {"txrx2"}, {"05 00"}},
        WindowCase{"SettingAfterTheRelease", {}, {Select(), PutRx("05 00"), Release(), Clock()}, {"txrx2"},
                   {"05 00"}},
        WindowCase{"TransferCap", {.xferCap = 128},
                   {Select(), Put("03 00 00 00"), Get(1000), Release()},
                   {"tx4 rx128*7 rx104"},
                   {"03 00 00 00 +1000"}},
        WindowCase{"TransferCountLimit", {.bufferSize = 65536, .xferCap = 1},
                   {Select(), Put("03 00 00 00"), Get(507), Release()},
                   {"tx1*4 rx1*507"},
                   {"03 00 00 00 +507"}},
        // A half-duplex controller refuses the full-duplex shape (the
        // kernel logs no message it refuses); the command, to its last
        // non-zero byte, then the answer, from then on.
        WindowCase{"HalfDuplexStatusAndIdentification", {.halfDuplex = true},
                   {OneCallRx("05 00"), Select(), PutRx("9F 00 00 00"), Release(), OneCall("06")},
                   {"tx1 rx1", "tx1 rx3", "tx1"},
                   {"05 00", "9F 00 00 00", "06"}},
        WindowCase{"HalfDuplexCommandWithoutAnswer", {.halfDuplex = true}, {OneCallRx("06")}, {"tx1"}, {"06"}},
        WindowCase{"AWindowOfNoBytesSendsNothing", {}, {Select(), Get(0), Release(), OneCall("")}, {}, {}}),
    [](const testing::TestParamInfo<WindowCase>& info) { return info.param.label; });

struct RefusalCase {
  const char* label;
  Node node;
  std::vector<Step> steps;  // the last is refused
  std::string reason;
  std::vector<std::string> messages;
  std::vector<std::string> periods;
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.label; }

class Refusals : public Spidev, public testing::WithParamInterface<RefusalCase> {};

// A window that cannot go whole in one message goes nowhere: the chip
// holds what it held, and the release that the program always sends
// after a failed step sends nothing.
TEST_P(Refusals, AWindowThatCannotGoWholeIsRefusedAndNothingOfItReachesTheChip) {
  const RefusalCase& c = GetParam();
  ASSERT_TRUE(Open(c.node));
  std::span<uint8_t> array = kernel->Sim().Contents();
  std::iota(array.begin(), array.end(), uint8_t{0});
  const std::vector<uint8_t> before(array.begin(), array.end());
  kernel->ClearLog();
  for (size_t i = 0; i + 1 < c.steps.size(); ++i) ASSERT_TRUE(RunStep(*backend, c.steps[i])) << i;
  EXPECT_FALSE(RunStep(*backend, c.steps.back()));
  EXPECT_EQ(backend->TakeReason(), c.reason);
  EXPECT_TRUE(backend->Select(false));
  EXPECT_EQ(kernel->Messages(), c.messages);
  EXPECT_EQ(kernel->SelectPeriods(), c.periods);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), array.begin()));
  // The next window is the program's again.
  ASSERT_TRUE(RunStep(*backend, OneCallRx("05 00")));
  EXPECT_EQ(kernel->SelectPeriods().back(), "05 00");
}

const std::string kTooLong =
    "/dev/spidev0.0: a select window reaching %N bytes does not fit one spidev message (buffer size %B each way, "
    "transfers rounded up to 128 bytes, 511 transfers%X); a read command's reply of up to %L bytes always goes";

std::string TooLong(size_t bytes, uint32_t bufferSize, uint32_t limit, const char* xfer = "") {
  std::string text = kTooLong;
  for (const auto& [name, value] : {std::pair<std::string, std::string>{"%N", std::to_string(bytes)},
                                    {"%B", std::to_string(bufferSize)},
                                    {"%X", xfer},
                                    {"%L", std::to_string(limit)}}) {
    text.replace(text.find(name), name.size(), value);
  }
  return text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Refusals,
    testing::Values(
        RefusalCase{"PutLongerThanTheBuffer", {},
                    {OneCall("06"), Select(), Put("02 00 01 00", 9996)},
                    TooLong(10000, 4096, 4096),
                    {"tx1"},
                    {"06"}},
        RefusalCase{"GetLongerThanTheBuffer", {},
                    {Select(), Put("03 00 00 00"), Get(65536)},
                    TooLong(65540, 4096, 4096),
                    {},
                    {}},
        // What the program asked of the QEMU guest's controller (xfer=128)
        // before it split its reads: the whole chip in one window.
        RefusalCase{"AWholeChipReadInShortTransfers", {.xferCap = 128},
                    {Select(), Put("03 00 00 00"), Get(16 << 20)},
                    TooLong(4 + (16 << 20), 4096, 4096, ", xfer=128"),
                    {},
                    {}},
        RefusalCase{"MoreTransfersThanOneRequestCarries", {.bufferSize = 65536, .xferCap = 1},
                    {Select(), Put("03 00 00 00"), Get(508)},
                    TooLong(512, 65536, 495, ", xfer=1"),
                    {},
                    {}},
        RefusalCase{"ATransferAfterTheReply", {},
                    {Select(), Put("03 00 10 00"), Get(10), Get(20)},
                    "/dev/spidev0.0: a transfer after the reply in one select window: spidev ends the window with "
                    "the reply's message, and chip select would rise between them",
                    {"tx4 rx10"},
                    {"03 00 10 00 +10"}}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return info.param.label; });

// The limit holds for a read command's reply after any command of up to
// 16 bytes: the whole reply goes in the command's message; after a command
// of 16, one byte more does not fit.
TEST_F(Spidev, AReplyOfTheLimitGoesWholeAfterAnyReadCommand) {
  struct LimitCase {
    Node node;
    uint32_t limit;
  };
  for (const LimitCase& c : {LimitCase{{}, 4096}, LimitCase{{.bufferSize = 65536}, 65536},
                             LimitCase{{.xferCap = 128}, 4096}, LimitCase{{.xferCap = 100}, 3200},
                             LimitCase{{.bufferSize = 65536, .xferCap = 1}, 495},
                             LimitCase{{.bufferSize = 5000}, 4992}, LimitCase{{.halfDuplex = true}, 4096}}) {
    for (const size_t command : {size_t{1}, size_t{5}, size_t{16}}) {
      SCOPED_TRACE(std::to_string(c.node.bufferSize) + " xfer " + std::to_string(c.node.xferCap) + " command " +
                   std::to_string(command));
      ASSERT_TRUE(Open(c.node));
      EXPECT_EQ(backend->WindowLimit(), c.limit);
      kernel->ClearLog();
      for (const Step& step : {Select(), Put("0B", command - 1), Get(c.limit), Release()}) {
        ASSERT_TRUE(RunStep(*backend, step)) << backend->TakeReason();
      }
      EXPECT_EQ(kernel->Messages().size(), 1u);
      const std::string first = command == 1 ? "0B 00 00 00" : "0B A5 A5 A5";
      const std::string period = first + " +" + std::to_string(command + c.limit - 4);
      EXPECT_EQ(kernel->SelectPeriods(), std::vector<std::string>{period});
      EXPECT_EQ(kernel->Violations(), std::vector<std::string>{});
      // After the longest command the limit is exact.
      if (command < 16) continue;
      EXPECT_TRUE(RunStep(*backend, Select()));
      EXPECT_TRUE(RunStep(*backend, Put("0B", command - 1)));
      EXPECT_FALSE(RunStep(*backend, Get(c.limit + 1)));
      EXPECT_TRUE(RunStep(*backend, Release()));
      EXPECT_EQ(kernel->Messages().size(), 1u);
    }
  }
}

TEST_F(Spidev, ReadsReturnTheChipsBytes) {
  for (const bool halfDuplex : {false, true}) {
    ASSERT_TRUE(Open({.halfDuplex = halfDuplex}));
    std::span<uint8_t> array = kernel->Sim().Contents();
    std::iota(array.begin(), array.end(), uint8_t{0});
    const uint8_t header[4] = {0x03, 0x00, 0x10, 0x07};
    std::vector<uint8_t> data(backend->WindowLimit());
    ASSERT_TRUE(backend->Select(true));
    ASSERT_TRUE(backend->Transfer({true, true, header, 0, nullptr, 4}));
    ASSERT_TRUE(backend->Transfer({true, true, nullptr, 0x55, data.data(), data.size()}));
    ASSERT_TRUE(backend->Select(false));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), array.begin() + 0x1007));
    // A put that wants its reply: on a half-duplex controller nothing comes
    // back while the command goes out.
    const uint8_t identification[4] = {0x9F, 0x00, 0x00, 0x00};
    uint8_t id[4] = {};
    ASSERT_TRUE(backend->Transfer({true, false, identification, 0, id, 4}));
    EXPECT_EQ(std::vector<uint8_t>(id, id + 4), (std::vector<uint8_t>{0xFF, 0x20, 0xBA, 0x18}));
  }
}

// The controller is found half duplex once: the refused message is tried
// again in the other shape, and later ones go in that shape at once.
TEST_F(Spidev, AHalfDuplexControllerCostsOneRefusedIoctl) {
  ASSERT_TRUE(Open({.halfDuplex = true}));
  const uint64_t before = kernel->Ioctls();
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(RunStep(*backend, OneCallRx("05 00")));
  EXPECT_EQ(kernel->Ioctls() - before, 4u);
  EXPECT_EQ(kernel->Messages(), std::vector<std::string>(3, "tx1 rx1"));
}

// The device tree's mode bits stay: only the clock phase and polarity
// change, and the node gets its mode back when the device closes.
TEST_F(Spidev, KeepsTheNodesModeBitsAndRestoresTheMode) {
  const uint32_t tree = SPI_CS_HIGH | SPI_TX_DUAL | SPI_RX_DUAL;
  for (const bool closed : {true, false}) {
    ASSERT_TRUE(Open({.mode = tree}));
    ASSERT_TRUE(backend->SetMode(3, false));
    EXPECT_EQ(kernel->Mode(), tree | SPI_MODE_3);
    ASSERT_TRUE(backend->SetMode(0, false));
    EXPECT_EQ(kernel->Mode(), tree);
    ASSERT_TRUE(backend->SetMode(3, false));
    if (closed) {
      EXPECT_TRUE(backend->Close());
    } else {
      backend.reset();  // a run that ends without closing the device
    }
    EXPECT_EQ(kernel->Mode(), tree);
  }
}

TEST_F(Spidev, ClockIsTheOneAskedForUnderTheCap) {
  SpidevDeviceRequest request = Request();
  request.speedCap = 2000000;
  ASSERT_TRUE(Open(request));
  const uint32_t before = backend->Clock();
  uint32_t granted = 0;
  ASSERT_TRUE(backend->SetClock(0, &granted));  // nothing asked: the node keeps its clock
  EXPECT_EQ(granted, before);
  ASSERT_TRUE(backend->SetClock(50000000, &granted));
  EXPECT_EQ(granted, 2000000u);
  ASSERT_TRUE(backend->SetClock(1000000, &granted));
  EXPECT_EQ(granted, 1000000u);
  EXPECT_EQ(backend->Clock(), 1000000u);
}

TEST_F(Spidev, RefusesWhatANodeCannotDo) {
  ASSERT_TRUE(Open(Request()));
  uint32_t granted = 0;
  EXPECT_FALSE(backend->EnablePort(1));
  EXPECT_NE(backend->TakeReason().find("has no port 1"), std::string::npos);
  EXPECT_TRUE(backend->EnablePort(0));
  for (const auto& [mode, lsb] : {std::pair{1u, false}, {2u, false}, {0u, true}}) {
    EXPECT_FALSE(backend->SetMode(mode, lsb));
    EXPECT_NE(backend->TakeReason().find("flash chips take modes 0 and 3"), std::string::npos);
  }
  EXPECT_TRUE(backend->SetMode(3, false));
  // A setting inside a window would deselect the chip.
  ASSERT_TRUE(backend->Select(true));
  EXPECT_FALSE(backend->SetClock(1000000, &granted));
  EXPECT_NE(backend->TakeReason().find("inside a select window"), std::string::npos);
  EXPECT_FALSE(backend->SetMode(0, false));
  // Nor can a transfer without chip select be inside a window or want a reply.
  const uint8_t byte = 0x05;
  uint8_t reply = 0;
  EXPECT_FALSE(backend->Transfer({false, false, &byte, 0, nullptr, 1}));
  EXPECT_NE(backend->TakeReason().find("no transfer without chip select"), std::string::npos);
  ASSERT_TRUE(backend->Select(false));
  EXPECT_FALSE(backend->Transfer({false, false, &byte, 0, &reply, 1}));
  EXPECT_NE(backend->TakeReason().find("no transfer without chip select"), std::string::npos);
  EXPECT_FALSE(backend->OffersConfigReset());
}

TEST_F(Spidev, ATransferWithoutChipSelectIsAnIdleGap) {
  ASSERT_TRUE(Open(Request()));
  uint32_t granted = 0;
  ASSERT_TRUE(backend->SetClock(8000000, &granted));
  kernel->ClearLog();
  const uint64_t before = kernel->Sim().NowNs();
  // 4,000 bytes at 8 MHz: 4 ms with nothing on the bus.
  const std::vector<uint8_t> idle(4000, 0xFF);
  ASSERT_TRUE(backend->Transfer({false, false, idle.data(), 0, nullptr, idle.size()}));
  EXPECT_TRUE(kernel->Messages().empty());
  EXPECT_EQ(kernel->IdleNs(), 4'000'000u);
  EXPECT_EQ(kernel->Sim().NowNs() - before, 4'000'000u);
}

TEST_F(Spidev, AFailedIoctlGivesTheKernelsReason) {
  FakeSpidevConfig config;
  config.sim.chip = "N25Q128";
  config.failIoctl = 3;  // after the two reads at open
  config.failErrno = ETIMEDOUT;
  std::string error;
  kernel = FakeSpidevKernel::Create(config, &error);
  ASSERT_TRUE(kernel);
  backend = SpidevBackend::Open(Request(), kernel->Seam(), nullptr, trace, &error);
  ASSERT_TRUE(backend);
  const uint8_t status[2] = {0x05, 0x00};
  uint8_t rx[2];
  EXPECT_FALSE(backend->Transfer({true, false, status, 0, rx, 2}));
  EXPECT_EQ(backend->TakeReason(), "/dev/spidev0.0: SPI_IOC_MESSAGE(1) failed (Connection timed out)");
  EXPECT_TRUE(backend->Transfer({true, false, status, 0, rx, 2}));  // the next one goes through
}

// The line starts inactive; open drain lets it go where push-pull drives
// it high. Each case a line of its own, each given back at the end.
TEST_F(Spidev, ResetLineIsActiveLowUnlessAskedOtherwise) {
  struct ResetCase {
    bool activeHigh;
    bool openDrain;
    std::vector<std::string> levels;  // at the request, then active, then inactive
  };
  uint32_t line = 0;
  for (const ResetCase& c : {ResetCase{false, false, {"high", "low", "high"}},
                             ResetCase{true, false, {"low", "high", "low"}},
                             ResetCase{false, true, {"released", "low", "released"}},
                             ResetCase{true, true, {"low", "released", "low"}}}) {
    SpidevDeviceRequest request = Request();
    request.reset = GpioLineName{.chip = "gpiochip0", .line = ++line, .activeHigh = c.activeHigh,
                                 .openDrain = c.openDrain};
    ASSERT_TRUE(Open(request));
    EXPECT_TRUE(backend->OffersConfigReset());
    ASSERT_TRUE(backend->ConfigReset(true));
    ASSERT_TRUE(backend->ConfigReset(false));
    EXPECT_EQ(gpio.Levels("gpiochip0", line), c.levels);
    EXPECT_TRUE(backend->Close());
    backend.reset();
    EXPECT_FALSE(gpio.Held("gpiochip0", line));
  }
  SpidevDeviceRequest request = Request();
  request.reset = GpioLineName{.chip = "gpiochip9", .line = 5};
  std::string error;
  FakeSpidevConfig config;
  config.sim.chip = "N25Q128";
  kernel = FakeSpidevKernel::Create(config, &error);
  EXPECT_FALSE(SpidevBackend::Open(request, kernel->Seam(), std::make_unique<GpioLine>(gpio.Seam()), trace, &error));
  EXPECT_EQ(error, "reset=gpiochip9:5: no GPIO chip 'gpiochip9' (No such file or directory)");
}

}  // namespace
