#include "runtime/device_name.h"

#include <gtest/gtest.h>

namespace {

struct NameCase {
  const char* name;
  bool ok;
  void (*expect)(SimDeviceRequest&);
};

class DeviceNames : public testing::TestWithParam<NameCase> {};

bool Same(const SimDeviceRequest& a, const SimDeviceRequest& b) {
  return a.chip == b.chip && a.imagePath == b.imagePath && a.id == b.id && a.noChip == b.noChip &&
         a.stuck == b.stuck && a.failCall == b.failCall && a.protect == b.protect &&
         a.protectBits == b.protectBits && a.writeProtectPin == b.writeProtectPin && a.flips == b.flips &&
         a.noCaps == b.noCaps && a.latencyUs == b.latencyUs && a.tracePath == b.tracePath &&
         a.summaryPath == b.summaryPath;
}

TEST_P(DeviceNames, ParseToTheirRequestOrRefuse) {
  const NameCase& c = GetParam();
  SimDeviceRequest request;
  std::string error;
  EXPECT_EQ(ParseDeviceName(c.name, &request, &error), c.ok) << c.name;
  if (c.ok) {
    SimDeviceRequest expected;
    c.expect(expected);
    EXPECT_TRUE(Same(request, expected)) << c.name;
  } else {
    EXPECT_FALSE(error.empty()) << c.name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, DeviceNames,
    testing::Values(
        NameCase{"sim:M25P16", true, [](SimDeviceRequest& s) { s.chip = "M25P16"; }},
        NameCase{"sim:at45db081", true, [](SimDeviceRequest& s) { s.chip = "at45db081"; }},
        NameCase{"sim:N25Q128,image=/tmp/chip.bin,trace=/tmp/t.txt,summary=/tmp/s.txt,latency=0", true,
                 [](SimDeviceRequest& s) {
                   s.chip = "N25Q128";
                   s.imagePath = "/tmp/chip.bin";
                   s.tracePath = "/tmp/t.txt";
                   s.summaryPath = "/tmp/s.txt";
                   s.latencyUs = 0;
                 }},
        NameCase{"sim:M25P80,id=C22017,nochip,stuck,protect,nocaps,fail=12", true,
                 [](SimDeviceRequest& s) {
                   s.chip = "M25P80";
                   s.id = std::array<uint8_t, 3>{0xC2, 0x20, 0x17};
                   s.noChip = s.stuck = s.protect = s.noCaps = true;
                   s.failCall = 12;
                 }},
        NameCase{"sim:N25Q128,protect=0x7C,wp,flip=0x10,flip=4096,fail=0X1F", true,
                 [](SimDeviceRequest& s) {
                   s.chip = "N25Q128";
                   s.protectBits = 0x7C;
                   s.writeProtectPin = true;
                   s.flips = {0x10, 4096};
                   s.failCall = 31;
                 }},
        NameCase{"sim:M25P80,protect=0x1C,protect", true,
                 [](SimDeviceRequest& s) {
                   s.chip = "M25P80";
                   s.protect = true;
                 }},
        NameCase{"sim:AT45DB081,protect,protect=0", true,
                 [](SimDeviceRequest& s) {
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
        NameCase{"sim:M25P80,", false, nullptr}));

}  // namespace
