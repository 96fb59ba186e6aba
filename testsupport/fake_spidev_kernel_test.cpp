// SPDX-License-Identifier: MIT
// The fake spidev kernel keeps the kernel's rules and catches a chip select
// that rises inside a transaction.
#include "testsupport/fake_spidev_kernel.h"

#include <gtest/gtest.h>
#include <linux/spi/spidev.h>

#include <vector>

#include "testsupport/sim_frames.h"

namespace {

using testsupport::FakeSpidevConfig;
using testsupport::FakeSpidevKernel;

spi_ioc_transfer Tx(const std::vector<uint8_t>& bytes, bool csChange = false) {
  spi_ioc_transfer t{};
  t.tx_buf = reinterpret_cast<uintptr_t>(bytes.data());
  t.len = static_cast<uint32_t>(bytes.size());
  t.cs_change = csChange;
  return t;
}

spi_ioc_transfer Rx(std::vector<uint8_t>& bytes) {
  spi_ioc_transfer t{};
  t.rx_buf = reinterpret_cast<uintptr_t>(bytes.data());
  t.len = static_cast<uint32_t>(bytes.size());
  return t;
}

class FakeKernel : public testing::Test {
 protected:
  void SetUp() override {
    FakeSpidevConfig config;
    config.sim.chip = "M25P80";
    config.bufferSize = 4096;
    config.alignment = 128;
    std::string error;
    kernel = FakeSpidevKernel::Create(config, &error);
    ASSERT_TRUE(kernel) << error;
    fd = kernel->Open("/dev/spidev0.0", &err);
    ASSERT_GE(fd, 0);
  }
  // Sends `transfers` as one SPI_IOC_MESSAGE; its result (-1 with `err`).
  int Send(std::vector<spi_ioc_transfer> transfers) {
    const unsigned long request = _IOC(_IOC_WRITE, SPI_IOC_MAGIC, 0, transfers.size() * sizeof(spi_ioc_transfer));
    return kernel->Ioctl(fd, request, transfers.data(), &err);
  }

  std::unique_ptr<FakeSpidevKernel> kernel;
  int fd = -1;
  int err = 0;
};

TEST_F(FakeKernel, CountsEachDirectionOfTheBufferAtAlignedLengths) {
  std::vector<uint8_t> out(4096, 0x03), in(4096), two(2), most(4095);
  EXPECT_EQ(Send({Tx(out), Rx(in)}), 8192);  // each direction has its own buffer
  EXPECT_EQ(Send({Rx(two), Rx(most)}), -1);  // 128 + 4096 bytes of the receive buffer
  EXPECT_EQ(err, EMSGSIZE);
  std::vector<uint8_t> over(4097);
  EXPECT_EQ(Send({Tx(over)}), -1);
  EXPECT_EQ(err, EMSGSIZE);
}

TEST_F(FakeKernel, TakesAtMost511TransfersAndEightBitWords) {
  const std::vector<uint8_t> byte{0x05};
  std::vector<spi_ioc_transfer> many(511, Tx(byte));
  // 511 one-byte transfers of 128 aligned bytes each need a larger buffer.
  FakeSpidevConfig config;
  config.sim.chip = "M25P80";
  config.bufferSize = 65536;
  std::string error;
  kernel = FakeSpidevKernel::Create(config, &error);
  fd = kernel->Open("/dev/spidev0.0", &err);
  EXPECT_EQ(Send(many), 511);
  // 512 do not fit the request's size field: SPI_IOC_MESSAGE(512) says none.
  many.push_back(Tx(byte));
  kernel->ClearLog();
  EXPECT_EQ(kernel->Ioctl(fd, SPI_IOC_MESSAGE(512), many.data(), &err), 0);
  EXPECT_EQ(kernel->Messages(), std::vector<std::string>{});
  spi_ioc_transfer wide = Tx(byte);
  wide.bits_per_word = 16;
  EXPECT_EQ(Send({wide}), -1);
  EXPECT_EQ(err, EINVAL);
}

TEST_F(FakeKernel, DrivesChipSelectAsTheCoreDoes) {
  const std::vector<uint8_t> enable{0x06}, disable{0x04}, status{0x05, 0x00};
  EXPECT_EQ(Send({Tx(enable, true), Tx(disable)}), 2);  // cs_change between: two periods
  EXPECT_EQ(kernel->Violations(), std::vector<std::string>{});
  // On the last: held after the message, with no bus lock, which the fake refuses.
  EXPECT_EQ(Send({Tx(status, true)}), -1);
  EXPECT_EQ(err, EIO);
  EXPECT_EQ(kernel->Violations(), std::vector<std::string>{"chip select stays asserted after the ioctl: the kernel "
                                                           "takes no bus lock between ioctls"});
  EXPECT_EQ(kernel->SelectPeriods(), (std::vector<std::string>{"06", "04", "05 00 (held)"}));
  uint8_t mode = 0;
  EXPECT_EQ(kernel->Ioctl(fd, SPI_IOC_WR_MODE, &mode, &err), 0);  // every setting deselects
  EXPECT_EQ(kernel->SelectPeriods(), (std::vector<std::string>{"06", "04", "05 00"}));
  EXPECT_EQ(kernel->Messages(), (std::vector<std::string>{"tx1+cs tx1", "tx2+cs"}));
}

// A driver that skips transfers without buffers drops their cs_change too:
// the empty transfer meant to end a held period does nothing, and the next
// command joins the period before it.
TEST_F(FakeKernel, ADriverThatSkipsBufferlessTransfersKeepsThePeriodOpen) {
  for (const bool skips : {false, true}) {
    FakeSpidevConfig config;
    config.sim.chip = "M25P80";
    config.skipsBufferless = skips;
    std::string error;
    kernel = FakeSpidevKernel::Create(config, &error);
    fd = kernel->Open("/dev/spidev0.0", &err);
    const std::vector<uint8_t> status{0x05, 0x00}, enable{0x06};
    EXPECT_EQ(Send({Tx(status, true)}), -1);
    spi_ioc_transfer raise{};
    raise.cs_change = 1;
    Send({raise, Tx(enable)});
    const std::vector<std::string> periods =
        skips ? std::vector<std::string>{"05 00 06"} : std::vector<std::string>{"05 00", "06"};
    EXPECT_EQ(kernel->SelectPeriods(), periods);
  }
}

// spidev reads and writes the mode as spi.h defines it, 32 bits; a byte
// written clears the bits above it, which the device tree may have set.
TEST_F(FakeKernel, TheModeIsThirtyTwoBitsAndAByteClearsTheUpperOnes) {
  FakeSpidevConfig config;
  config.sim.chip = "M25P80";
  config.mode = SPI_CS_HIGH | SPI_TX_DUAL | SPI_RX_DUAL;
  std::string error;
  kernel = FakeSpidevKernel::Create(config, &error);
  fd = kernel->Open("/dev/spidev0.0", &err);
  uint8_t byte = 0;
  uint32_t word = 0;
  EXPECT_EQ(kernel->Ioctl(fd, SPI_IOC_RD_MODE, &byte, &err), 0);
  EXPECT_EQ(byte, SPI_CS_HIGH);
  EXPECT_EQ(kernel->Ioctl(fd, SPI_IOC_RD_MODE32, &word, &err), 0);
  EXPECT_EQ(word, config.mode);
  word = config.mode | SPI_MODE_3;
  EXPECT_EQ(kernel->Ioctl(fd, SPI_IOC_WR_MODE32, &word, &err), 0);
  EXPECT_EQ(kernel->Mode(), config.mode | SPI_MODE_3);
  byte = SPI_MODE_0;
  EXPECT_EQ(kernel->Ioctl(fd, SPI_IOC_WR_MODE, &byte, &err), 0);
  EXPECT_EQ(kernel->Mode(), uint32_t{SPI_MODE_0});
  for (const uint32_t refused : {uint32_t{SPI_LSB_FIRST}, uint32_t{1} << 20}) {
    word = refused;
    EXPECT_EQ(kernel->Ioctl(fd, SPI_IOC_WR_MODE32, &word, &err), -1);
    EXPECT_EQ(err, EINVAL);
  }
}

// spi.c refuses a transfer with both buffers on a half-duplex controller,
// and on any in SPI_3WIRE mode, before anything is clocked.
TEST_F(FakeKernel, AHalfDuplexLinkRefusesATransferWithBothBuffers) {
  for (const bool threeWire : {false, true}) {
    FakeSpidevConfig config;
    config.sim.chip = "M25P80";
    config.halfDuplex = !threeWire;
    config.mode = threeWire ? SPI_3WIRE : 0;
    std::string error;
    kernel = FakeSpidevKernel::Create(config, &error);
    fd = kernel->Open("/dev/spidev0.0", &err);
    const std::vector<uint8_t> command{0x9F}, status{0x05, 0x00};
    std::vector<uint8_t> reply(3), both(2);
    spi_ioc_transfer full = Tx(status);
    full.rx_buf = reinterpret_cast<uintptr_t>(both.data());
    EXPECT_EQ(Send({full}), -1);
    EXPECT_EQ(err, EINVAL);
    EXPECT_EQ(Send({Tx(command), Rx(reply)}), 4);
    EXPECT_EQ(reply, (std::vector<uint8_t>{0x20, 0x20, 0x14}));
    EXPECT_EQ(kernel->SelectPeriods(), std::vector<std::string>{"9F 00 00 00"});
  }
}

TEST_F(FakeKernel, ChipSelectRisingInsideAProgramFailsTheMessage) {
  const std::vector<uint8_t> enable{0x06}, header{0x02, 0x00, 0x01, 0x00}, data(16, 0x3C);
  EXPECT_EQ(Send({Tx(enable)}), 1);
  EXPECT_EQ(Send({Tx(header)}), -1);  // the page program ends before its data
  EXPECT_EQ(err, EIO);
  EXPECT_EQ(kernel->Violations(),
            std::vector<std::string>{
                "chip select rose inside a transaction: the chip did not take the command of '02 00 01 00'"});
  spi_ioc_transfer bufferless{};
  bufferless.len = 3;
  EXPECT_EQ(Send({bufferless}), -1);
  EXPECT_EQ(kernel->Violations().back(), "a transfer of 3 bytes without buffers clocks nothing");
}

TEST(FakeKernelNode, FailsAsTheNodeIsToldTo) {
  std::string error;
  auto kernel = FakeSpidevKernel::FromDescription("chip=M25P80,deny=plugdev", &error);
  ASSERT_TRUE(kernel) << error;
  int err = 0;
  EXPECT_EQ(kernel->Open("/dev/spidev1.0", &err), -1);
  EXPECT_EQ(err, ENOENT);
  EXPECT_EQ(kernel->Open("/dev/spidev0.0", &err), -1);
  EXPECT_EQ(err, EACCES);
  EXPECT_EQ(kernel->GroupOf("/dev/spidev0.0"), "plugdev");

  kernel = FakeSpidevKernel::FromDescription("chip=M25P80,notspidev,nobufsiz", &error);
  ASSERT_TRUE(kernel) << error;
  EXPECT_EQ(kernel->BufferSize(), std::nullopt);
  const int fd = kernel->Open("/dev/spidev0.0", &err);
  uint8_t mode = 0;
  EXPECT_EQ(kernel->Ioctl(fd, SPI_IOC_RD_MODE, &mode, &err), -1);
  EXPECT_EQ(err, ENOTTY);

  kernel = FakeSpidevKernel::FromDescription("chip=M25P80,fail=2:5", &error);
  const int node = kernel->Open("/dev/spidev0.0", &err);
  EXPECT_EQ(kernel->Ioctl(node, SPI_IOC_RD_MODE, &mode, &err), 0);
  EXPECT_EQ(kernel->Ioctl(node, SPI_IOC_RD_MODE, &mode, &err), -1);
  EXPECT_EQ(err, EIO);
  EXPECT_EQ(kernel->Ioctl(node, SPI_IOC_RD_MODE, &mode, &err), 0);
  EXPECT_FALSE(FakeSpidevKernel::FromDescription("chip=M25P80,bogus", &error));
}

}  // namespace
