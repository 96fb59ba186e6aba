// SPDX-License-Identifier: MIT
#include "runtime/device_name.h"

#include <gtest/gtest.h>

#include "runtime/ch341a_scheme.h"
#include "runtime/ftdi_scheme.h"
#include "runtime/sim_scheme.h"
#include "runtime/spidev_scheme.h"

namespace {

struct NameCase {
  const char* name;
  bool ok;
  void (*expect)(DeviceRequest&);
};

// The same scheme, common keys and backend request, the request being one
// of `Requests`.
template <typename... Requests>
bool Same(const DeviceRequest& a, const DeviceRequest& b) {
  return a.scheme == b.scheme && a.common == b.common && a.backend.type() == b.backend.type() &&
         ((!a.As<Requests>() || *a.As<Requests>() == *b.As<Requests>()) && ...);
}

class DeviceNames : public testing::TestWithParam<NameCase> {};

TEST_P(DeviceNames, ParseToTheirRequestOrRefuse) {
  const NameCase& c = GetParam();
  DeviceRequest request;
  std::string error;
  EXPECT_EQ(ParseDeviceName(c.name, &request, &error), c.ok) << c.name;
  if (c.ok) {
    DeviceRequest expected;
    c.expect(expected);
    EXPECT_TRUE((Same<SimDeviceRequest, SpidevDeviceRequest, FtdiDeviceRequest, Ch341aDeviceRequest>(request,
                                                                                                       expected)))
        << c.name;
  } else {
    EXPECT_FALSE(error.empty()) << c.name;
  }
}

template <typename Request>
Request& Expect(DeviceRequest& r, const BackendScheme& scheme) {
  r.scheme = &scheme;
  return r.backend.emplace<Request>();
}
SimDeviceRequest& Sim(DeviceRequest& r) { return Expect<SimDeviceRequest>(r, kSimScheme); }
SpidevDeviceRequest& Spidev(DeviceRequest& r) { return Expect<SpidevDeviceRequest>(r, kSpidevScheme); }
FtdiDeviceRequest& Ftdi(DeviceRequest& r) { return Expect<FtdiDeviceRequest>(r, kFtdiScheme); }
Ch341aDeviceRequest& Ch341a(DeviceRequest& r) { return Expect<Ch341aDeviceRequest>(r, kCh341aScheme); }

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
        NameCase{"sim:W25Q256JV,qe,sfdp=/tmp/dump.bin,clock=133000000,protect=0x3C", true,
                 [](DeviceRequest& r) {
                   SimDeviceRequest& s = Sim(r);
                   s.chip = "W25Q256JV";
                   s.quadEnable = true;
                   s.sfdpPath = "/tmp/dump.bin";
                   s.topClockHz = 133000000;
                   s.protectBits = 0x3C;
                 }},
        // Of several sfdp keys the last counts.
        NameCase{"sim:GD25Q128C,sfdp=/tmp/dump.bin,sfdp=off", true,
                 [](DeviceRequest& r) {
                   SimDeviceRequest& s = Sim(r);
                   s.chip = "GD25Q128C";
                   s.noSfdp = true;
                 }},
        NameCase{"sim:GD25Q128C,sfdp", false, nullptr}, NameCase{"sim:GD25Q128C,sfdp=", false, nullptr},
        NameCase{"sim:GD25Q128C,qe=1", false, nullptr}, NameCase{"sim:GD25Q128C,clock=999999", false, nullptr},
        NameCase{"sim:GD25Q128C,clock", false, nullptr},
        NameCase{"sim:M25P80,hold=300", true,
                 [](DeviceRequest& r) {
                   SimDeviceRequest& s = Sim(r);
                   s.chip = "M25P80";
                   s.holdCall = 300;
                 }},
        // The first CH341A; an empty first item lets common keys follow.
        NameCase{"ch341a:", true, [](DeviceRequest& r) { Ch341a(r); }},
        NameCase{"ch341a:,trace=/tmp/t.txt", true,
                 [](DeviceRequest& r) {
                   Ch341a(r);
                   r.common.tracePath = "/tmp/t.txt";
                 }},
        NameCase{"ch341a:index=0x2,nobatch,summary=/tmp/s.txt", true,
                 [](DeviceRequest& r) {
                   Ch341aDeviceRequest& c = Ch341a(r);
                   c.index = 2;
                   c.noBatch = true;
                   r.common.summaryPath = "/tmp/s.txt";
                 }},
        NameCase{"ch341a:index", false, nullptr}, NameCase{"ch341a:index=-1", false, nullptr},
        NameCase{"ch341a:nobatch=1", false, nullptr}, NameCase{"ch341a:speed=1000000", false, nullptr},
        NameCase{"ch341a:/dev/bus/usb/001/007", false, nullptr}, NameCase{"ch341a:index=1,", false, nullptr},
        NameCase{"sim:M25P80,hold=0", false, nullptr}, NameCase{"sim:M25P80,hold", false, nullptr},
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
        NameCase{"spidev:/dev/spidev0.0,reset=gpiochip0:3:open-drain", true,
                 [](DeviceRequest& r) {
                   SpidevDeviceRequest& s = Spidev(r);
                   s.node = "/dev/spidev0.0";
                   s.reset = GpioLineName{.chip = "gpiochip0", .line = 3, .openDrain = true};
                 }},
        NameCase{"spidev:/dev/spidev0.0,reset=pinctrl-bcm2711:4:open-drain:active-high", true,
                 [](DeviceRequest& r) {
                   SpidevDeviceRequest& s = Spidev(r);
                   s.node = "/dev/spidev0.0";
                   s.reset = GpioLineName{.chip = "pinctrl-bcm2711", .line = 4, .activeHigh = true, .openDrain = true};
                 }},
        NameCase{"spidev:/dev/spidev0.0,reset=gpiochip0:3:open-drain:open-drain", false, nullptr},
        NameCase{"spidev:/dev/spidev0.0,reset=gpiochip0:3:active-high:open-drain:x", false, nullptr},
        NameCase{"spidev:/dev/spidev0.0,reset=:3", false, nullptr},
        NameCase{"ftdi:", true, [](DeviceRequest& r) { Ftdi(r); }},
        NameCase{"ftdi:vid=0x0403,pid=0x6010,serial=FT4XYZ,index=1,iface=b,cs=ACBUS0,reset=ADBUS4:active-high,"
                 "speed=10000000,polls=1,trace=/tmp/t.txt",
                 true,
                 [](DeviceRequest& r) {
                   FtdiDeviceRequest& f = Ftdi(r);
                   f.vid = 0x0403;
                   f.pid = 0x6010;
                   f.serial = "FT4XYZ";
                   f.index = 1;
                   f.channel = 'B';
                   f.cs = FtdiPin{.highByte = true, .bit = 0};
                   f.reset = FtdiPin{.highByte = false, .bit = 4};
                   f.resetActiveHigh = true;
                   f.speedCap = 10000000;
                   f.pollBatch = 1;
                   r.common.tracePath = "/tmp/t.txt";
                 }},
        NameCase{"ftdi:cs=adbus7,reset=ACBUS7", true,
                 [](DeviceRequest& r) {
                   FtdiDeviceRequest& f = Ftdi(r);
                   f.cs = FtdiPin{.highByte = false, .bit = 7};
                   f.reset = FtdiPin{.highByte = true, .bit = 7};
                 }},
        // ADBUS0 to ADBUS2 carry the clock and data.
        NameCase{"ftdi:cs=ADBUS2", false, nullptr}, NameCase{"ftdi:reset=ADBUS0", false, nullptr},
        NameCase{"ftdi:cs=ADBUS8", false, nullptr}, NameCase{"ftdi:cs=BDBUS3", false, nullptr},
        NameCase{"ftdi:reset=ADBUS3", false, nullptr}, NameCase{"ftdi:cs=ADBUS5,reset=ADBUS5", false, nullptr},
        NameCase{"ftdi:reset=ADBUS4:active-low", false, nullptr},
        NameCase{"ftdi:reset=ACBUS1:open-drain:active-high", true,
                 [](DeviceRequest& r) {
                   FtdiDeviceRequest& f = Ftdi(r);
                   f.reset = FtdiPin{.highByte = true, .bit = 1};
                   f.resetActiveHigh = true;
                   f.resetOpenDrain = true;
                 }},
        NameCase{"ftdi:reset=ADBUS4:open-drain:open-drain", false, nullptr},
        NameCase{"ftdi:reset=ADBUS4:active-high:open-drain:x", false, nullptr},
        NameCase{"ftdi:vid=0x10000", false, nullptr}, NameCase{"ftdi:pid=", false, nullptr},
        NameCase{"ftdi:iface=E", false, nullptr}, NameCase{"ftdi:iface=AB", false, nullptr},
        NameCase{"ftdi:serial=", false, nullptr}, NameCase{"ftdi:speed=0", false, nullptr},
        NameCase{"ftdi:polls=0", false, nullptr}, NameCase{"ftdi:polls=257", false, nullptr},
        NameCase{"ftdi:image=x.bin", false, nullptr}, NameCase{"ftdi:,", false, nullptr}));

}  // namespace
