#include "runtime/device_name.h"

#include <gtest/gtest.h>

namespace {

struct NameCase {
  const char* name;
  bool ok;
  void (*expect)(DeviceRequest&);
};

class DeviceNames : public testing::TestWithParam<NameCase> {};

TEST_P(DeviceNames, ParseToTheirRequestOrRefuse) {
  const NameCase& c = GetParam();
  DeviceRequest request;
  std::string error;
  EXPECT_EQ(ParseDeviceName(c.name, &request, &error), c.ok) << c.name;
  if (c.ok) {
    DeviceRequest expected;
    c.expect(expected);
    EXPECT_TRUE(request == expected) << c.name;
  } else {
    EXPECT_FALSE(error.empty()) << c.name;
  }
}

SimDeviceRequest& Sim(DeviceRequest& r) { return r.backend.emplace<SimDeviceRequest>(); }
SpidevDeviceRequest& Spidev(DeviceRequest& r) { return r.backend.emplace<SpidevDeviceRequest>(); }

INSTANTIATE_TEST_SUITE_P(
    Table, DeviceNames,
    testing::Values(
        NameCase{"sim:M25P16", true, [](DeviceRequest& r) { Sim(r).chip = "M25P16"; }},
        NameCase{"sim:at45db081", true, [](DeviceRequest& r) { Sim(r).chip = "at45db081"; }},
        NameCase{"sim:N25Q128,image=/tmp/chip.bin,trace=/tmp/t.txt,summary=/tmp/s.txt,latency=0", true,
                 [](DeviceRequest& r) {
                   SimDeviceRequest& s = Sim(r);
                   s.chip = "N25Q128";
                   s.imagePath = "/tmp/chip.bin";
                   s.latencyUs = 0;
                   r.common = {.tracePath = "/tmp/t.txt", .summaryPath = "/tmp/s.txt"};
                 }},
        NameCase{"sim:M25P80,id=C22017,nochip,stuck,protect,nocaps,fail=12", true,
                 [](DeviceRequest& r) {
                   SimDeviceRequest& s = Sim(r);
                   s.chip = "M25P80";
                   s.id = std::array<uint8_t, 3>{0xC2, 0x20, 0x17};
                   s.noChip = s.stuck = s.protect = s.noCaps = true;
                   s.failCall = 12;
                 }},
        NameCase{"spidev:/dev/spidev0.0", true, [](DeviceRequest& r) { Spidev(r).node = "/dev/spidev0.0"; }},
        NameCase{"spidev:/dev/spidev1.2,speed=1000000,xfer=128,reset=gpiochip0:17,trace=/tmp/t.txt", true,
                 [](DeviceRequest& r) {
                   SpidevDeviceRequest& s = Spidev(r);
                   s.node = "/dev/spidev1.2";
                   s.speedCap = 1000000;
                   s.xferCap = 128;
                   s.reset = GpioLineName{.chip = "gpiochip0", .line = 17};
                   r.common.tracePath = "/tmp/t.txt";
                 }},
        NameCase{"spidev:/dev/spidev0.1,reset=/dev/gpiochip2:4:active-high", true,
                 [](DeviceRequest& r) {
                   SpidevDeviceRequest& s = Spidev(r);
                   s.node = "/dev/spidev0.1";
                   s.reset = GpioLineName{.chip = "/dev/gpiochip2", .line = 4, .activeHigh = true};
                 }},
        NameCase{"sim:N25Q128,protect=0x7C,wp,flip=0x10,flip=4096,fail=0X1F", true,
                 [](DeviceRequest& r) {
                   SimDeviceRequest& s = Sim(r);
                   s.chip = "N25Q128";
                   s.protectBits = 0x7C;
                   s.writeProtectPin = true;
                   s.flips = {0x10, 4096};
                   s.failCall = 31;
                 }},
        NameCase{"sim:M25P80,protect=0x1C,protect", true,
                 [](DeviceRequest& r) {
                   SimDeviceRequest& s = Sim(r);
                   s.chip = "M25P80";
                   s.protect = true;
                 }},
        NameCase{"sim:AT45DB081,protect,protect=0", true,
                 [](DeviceRequest& r) {
                   SimDeviceRequest& s = Sim(r);
                   s.chip = "AT45DB081";
                   s.protectBits = 0;
                 }},
        NameCase{"M25P80", false, nullptr}, NameCase{"sim:", false, nullptr},
        NameCase{"usb:0", false, nullptr}, NameCase{"sim:M25P80,bogus", false, nullptr},
        NameCase{"sim:M25P80,image", false, nullptr}, NameCase{"sim:M25P80,image=", false, nullptr},
        NameCase{"sim:M25P80,summary", false, nullptr},
        NameCase{"sim:M25P80,id=12345", false, nullptr}, NameCase{"sim:M25P80,id=12345G", false, nullptr},
        NameCase{"sim:M25P80,fail=0", false, nullptr}, NameCase{"sim:M25P80,fail=x", false, nullptr},
        NameCase{"sim:M25P80,latency=-1", false, nullptr}, NameCase{"sim:M25P80,nochip=1", false, nullptr},
        NameCase{"sim:M25P80,protect=", false, nullptr}, NameCase{"sim:M25P80,protect=0x", false, nullptr},
        NameCase{"sim:M25P80,protect=0x1G", false, nullptr},
        NameCase{"sim:M25P80,protect=0x100000000", false, nullptr},
        NameCase{"sim:M25P80,wp=1", false, nullptr}, NameCase{"sim:M25P80,flip", false, nullptr},
        NameCase{"sim:M25P80,flip=-1", false, nullptr},
        NameCase{"sim:M25P80,", false, nullptr},
        // The simulator's keys are its own, and the other way round.
        NameCase{"spidev:/dev/spidev0.0,fail=3", false, nullptr},
        NameCase{"sim:M25P80,speed=1000", false, nullptr}, NameCase{"spidev:", false, nullptr},
        NameCase{"spidev:/dev/spidev0.0,speed=0", false, nullptr},
        NameCase{"spidev:/dev/spidev0.0,xfer=0", false, nullptr},
        NameCase{"spidev:/dev/spidev0.0,xfer=0x80,reset=gpiochip0:0x11", true,
                 [](DeviceRequest& r) {
                   SpidevDeviceRequest& s = Spidev(r);
                   s.node = "/dev/spidev0.0";
                   s.xferCap = 128;
                   s.reset = GpioLineName{.chip = "gpiochip0", .line = 17};
                 }},
        NameCase{"spidev:/dev/spidev0.0,reset=gpiochip0", false, nullptr},
        NameCase{"spidev:/dev/spidev0.0,reset=gpiochip0:x", false, nullptr},
        NameCase{"spidev:/dev/spidev0.0,reset=gpiochip0:3:active-low", false, nullptr},
        NameCase{"spidev:/dev/spidev0.0,reset=:3", false, nullptr}));

}  // namespace
