// SPDX-License-Identifier: MIT
// The spidev backend against the fake spidev kernel: how select windows
// become messages and chip-select periods, the settings, the reset line.
#include "runtime/spidev_backend.h"

#include <gtest/gtest.h>

#include <numeric>
#include <regex>

#include "runtime/system_seams.h"
#include "testsupport/fake_gpio_line.h"
#include "testsupport/fake_spidev_kernel.h"
#include "testsupport/sim_frames.h"

namespace {

using testsupport::FakeSpidevConfig;
using testsupport::FakeSpidevKernel;
using testsupport::HexBytes;

// The backend over a fake kernel with an N25Q128 on the bus.
class Spidev : public testing::Test {
 protected:
  bool Open(const SpidevDeviceRequest& request, uint32_t bufferSize = 4096,
            std::vector<std::string>* levels = nullptr) {
    backend.reset();  // before the kernel it reaches
    FakeSpidevConfig config;
    config.sim.chip = "N25Q128";
    config.bufferSize = bufferSize;
    std::string error;
    kernel = FakeSpidevKernel::Create(config, &error);
    if (!kernel) return false;
    std::unique_ptr<GpioLine> line;
    if (request.reset) line = std::make_unique<testsupport::FakeGpioLine>(levels);
    backend = SpidevBackend::Open(request, kernel->Seam(), std::move(line), trace, &error);
    EXPECT_TRUE(backend) << error;
    return backend != nullptr;
  }
  static SpidevDeviceRequest Node(uint32_t xferCap = 0) {
    SpidevDeviceRequest request;
    request.node = "/dev/spidev0.0";
    request.xferCap = xferCap;
    return request;
  }

  TraceWriter trace;  // closed: records nothing
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
Step PutRx(std::string hex) { return {Step::kPut, std::move(hex), 0, true}; }
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
  uint32_t bufferSize;
  uint32_t xferCap;
  std::vector<Step> steps;
  std::vector<std::string> messages;  // as the kernel took them
  std::vector<std::string> periods;   // chip-select periods on the wire
};

void PrintTo(const WindowCase& c, std::ostream* os) { *os << c.label; }

class Windows : public Spidev, public testing::WithParamInterface<WindowCase> {};

TEST_P(Windows, EachWindowIsOneSelectPeriod) {
  const WindowCase& c = GetParam();
  ASSERT_TRUE(Open(Node(c.xferCap), c.bufferSize));
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
        WindowCase{"WriteEnableInOneCall", 4096, 0, {OneCall("06")}, {"tx1"}, {"06"}},
        WindowCase{"WriteEnableSelectPutRelease", 4096, 0, {Select(), Put("06"), Release()}, {"tx1"}, {"06"}},
        WindowCase{"PageProgramInOneCall", 4096, 0,
                   {OneCall("06"), OneCall("02 00 01 00", 256)},
                   {"tx1", "tx260"},
                   {"06", "02 00 01 00 +256"}},
        WindowCase{"PageProgramHeaderThenData", 4096, 0,
                   {OneCall("06"), Select(), Put("02 00 01 00"), Put("", 256), Release()},
                   {"tx1", "tx4 tx256"},
                   {"06", "02 00 01 00 +256"}},
        WindowCase{"PutLongerThanTheBuffer", 4096, 0,
                   {OneCall("06"), Select(), Put("02 00 01 00", 9996), Release()},
                   {"tx1", "tx4096+cs (x2)", "tx1808"},
                   {"06", "02 00 01 00 +9996"}},
        // Put-then-get windows: the reply needs the message now, and chip
        // select stays asserted until the release has been seen.
        WindowCase{"StatusInOneCall", 4096, 0, {OneCallRx("05 00")}, {"txrx2"}, {"05 00"}},
        WindowCase{"IdentificationHoldsUntilTheNextMessage", 4096, 0,
                   {Select(), PutRx("9F 00 00 00"), Release()},
                   {"txrx4+cs"},
                   {"9F 00 00 00 (held)"}},
        WindowCase{"TheNextMessageRaisesTheSelectFirst", 4096, 0,
                   {Select(), PutRx("05 00"), Release(), Select(), Put("06"), Release()},
                   {"txrx2+cs", "0+cs tx1"},
                   {"05 00", "06"}},
        WindowCase{"ReadOfTheBufferSize", 65536, 0,
                   {Select(), Put("03 00 00 00"), Get(65536), Release()},
                   {"tx4 rx65536+cs"},
                   {"03 00 00 00 +65536 (held)"}},
        WindowCase{"GetLongerThanTheBuffer", 4096, 0,
                   {Select(), Put("03 00 00 00"), Get(65536), Release()},
                   {"tx4 rx4096+cs", "rx4096+cs (x15)"},
                   {"03 00 00 00 +65536 (held)"}},
        WindowCase{"ReadsBackToBack", 65536, 0,
                   {Select(), Put("03 00 00 00"), Get(65536), Release(), Select(), Put("03 01 00 00"), Get(65536),
                    Release()},
                   {"tx4 rx65536+cs", "0+cs tx4 rx65536+cs"},
                   {"03 00 00 00 +65536", "03 01 00 00 +65536 (held)"}},
        WindowCase{"SeveralGets", 4096, 0,
                   {Select(), Put("03 00 10 00"), Get(10), Get(20), Release()},
                   {"tx4 rx10+cs", "rx20+cs"},
                   {"03 00 10 00 +30 (held)"}},
        // A release with nothing queued: a second release, or a setting
        // (the kernel deselects on every one), raises chip select.
        WindowCase{"SecondRelease", 4096, 0,
                   {Select(), PutRx("05 00"), Release(), Release()},
                   {"txrx2+cs", "0"},
                   {"05 00"}},
        WindowCase{"SettingAfterTheRelease", 4096, 0, {Select(), PutRx("05 00"), Release(), Clock()}, {"txrx2+cs"},
                   {"05 00"}},
        WindowCase{"TransferCap", 4096, 128,
                   {Select(), Put("03 00 00 00"), Get(1000), Release()},
                   {"tx4 rx128*7 rx104+cs"},
                   {"03 00 00 00 +1000 (held)"}},
        WindowCase{"TransferCountLimit", 65536, 1,
                   {Select(), Put("03 00 00 00"), Get(600), Release()},
                   {"tx1*4 rx1*506 rx1+cs", "rx1*92 rx1+cs"},
                   {"03 00 00 00 +600 (held)"}}),
    [](const testing::TestParamInfo<WindowCase>& info) { return info.param.label; });

TEST_F(Spidev, ReadsReturnTheChipsBytes) {
  ASSERT_TRUE(Open(Node(), 4096));
  std::span<uint8_t> array = kernel->Sim().Contents();
  std::iota(array.begin(), array.end(), uint8_t{0});
  const uint8_t header[4] = {0x03, 0x00, 0x10, 0x07};
  std::vector<uint8_t> data(10000);
  ASSERT_TRUE(backend->Select(true));
  ASSERT_TRUE(backend->Transfer({true, true, header, 0, nullptr, 4}));
  ASSERT_TRUE(backend->Transfer({true, true, nullptr, 0x55, data.data(), data.size()}));
  ASSERT_TRUE(backend->Select(false));
  EXPECT_TRUE(std::equal(data.begin(), data.end(), array.begin() + 0x1007));
}

TEST_F(Spidev, ClockIsTheOneAskedForUnderTheCap) {
  SpidevDeviceRequest request = Node();
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
  ASSERT_TRUE(Open(Node()));
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
  ASSERT_TRUE(Open(Node()));
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
  backend = SpidevBackend::Open(Node(), kernel->Seam(), nullptr, trace, &error);
  ASSERT_TRUE(backend);
  const uint8_t status[2] = {0x05, 0x00};
  uint8_t rx[2];
  EXPECT_FALSE(backend->Transfer({true, false, status, 0, rx, 2}));
  EXPECT_EQ(backend->TakeReason(), "/dev/spidev0.0: SPI_IOC_MESSAGE(1) failed (Connection timed out)");
  EXPECT_TRUE(backend->Transfer({true, false, status, 0, rx, 2}));  // the next one goes through
}

TEST_F(Spidev, ResetLineIsActiveLowUnlessAskedOtherwise) {
  for (const bool activeHigh : {false, true}) {
    SpidevDeviceRequest request = Node();
    request.reset = GpioLineName{.chip = "gpiochip0", .line = 5, .activeHigh = activeHigh};
    std::vector<std::string> levels;
    ASSERT_TRUE(Open(request, 4096, &levels));
    EXPECT_TRUE(backend->OffersConfigReset());
    ASSERT_TRUE(backend->ConfigReset(true));
    ASSERT_TRUE(backend->ConfigReset(false));
    const std::vector<std::string> expected =
        activeHigh ? std::vector<std::string>{"low", "high", "low"} : std::vector<std::string>{"high", "low", "high"};
    EXPECT_EQ(levels, expected);
  }
  SpidevDeviceRequest request = Node();
  request.reset = GpioLineName{.chip = "gpiochip9", .line = 5};
  std::string error;
  backend.reset();
  FakeSpidevConfig config;
  config.sim.chip = "N25Q128";
  kernel = FakeSpidevKernel::Create(config, &error);
  EXPECT_FALSE(SpidevBackend::Open(request, kernel->Seam(), std::make_unique<testsupport::FakeGpioLine>(), trace,
                                   &error));
  EXPECT_EQ(error, "reset=gpiochip9:5: no GPIO chip 'gpiochip9' (No such file or directory)");
}

#ifdef ROMWICK_HAVE_LIBGPIOD
TEST(SystemGpioLine, ANonexistentChipIsRefusedWithItsReason) {
  std::string error;
  const std::unique_ptr<GpioLine> line = MakeGpioLine(&error);
  ASSERT_TRUE(line) << error;
  EXPECT_FALSE(line->Request("romwick-no-such-chip", 0, true, &error));
  EXPECT_EQ(error.rfind("no GPIO chip 'romwick-no-such-chip' (", 0), 0u) << error;
}
#endif

}  // namespace
