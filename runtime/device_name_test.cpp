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
         a.stuck == b.stuck && a.failCall == b.failCall && a.holdCall == b.holdCall && a.protect == b.protect && a.noCaps == b.noCaps &&
         a.latencyUs == b.latencyUs && a.tracePath == b.tracePath && a.summaryPath == b.summaryPath;
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
        NameCase{"sim:M25P80,hold=300", true,
                 [](SimDeviceRequest& s) {
                   s.chip = "M25P80";
                   s.holdCall = 300;
                 }},
        NameCase{"sim:M25P80,hold=0", false, nullptr}, NameCase{"sim:M25P80,hold", false, nullptr},
        NameCase{"M25P80", false, nullptr}, NameCase{"sim:", false, nullptr},
        NameCase{"usb:0", false, nullptr}, NameCase{"sim:M25P80,bogus", false, nullptr},
        NameCase{"sim:M25P80,image", false, nullptr}, NameCase{"sim:M25P80,image=", false, nullptr},
        NameCase{"sim:M25P80,summary", false, nullptr},
        NameCase{"sim:M25P80,id=12345", false, nullptr}, NameCase{"sim:M25P80,id=12345G", false, nullptr},
        NameCase{"sim:M25P80,fail=0", false, nullptr}, NameCase{"sim:M25P80,fail=x", false, nullptr},
        NameCase{"sim:M25P80,latency=-1", false, nullptr}, NameCase{"sim:M25P80,nochip=1", false, nullptr},
        NameCase{"sim:M25P80,", false, nullptr}));

}  // namespace
