// SPDX-License-Identifier: MIT
#include "flash/sfdp_device.h"

#include <gtest/gtest.h>

namespace {

SfdpFacts ThirtyTwoMebibytes() {
  SfdpFacts facts;
  facts.sizeBytes = 32u << 20;
  facts.eraseTypes = {{.size = 4096, .opcode = 0x20, .type = 1}, {.size = 65536, .opcode = 0xD8, .type = 3}};
  return facts;
}

// Past 16 MiB, with neither a 4-byte address table nor DWORD16's dedicated
// set nor B7h and E9h, there is no way to reach the top: refused.
TEST(DeviceFromSfdp, NeedsAWayPastSixteenMebibytes) {
  FLASHDEV row{};
  std::string why;
  EXPECT_FALSE(DeviceFromSfdp(ThirtyTwoMebibytes(), &row, &why));
  EXPECT_NE(why.find("4-byte"), std::string::npos) << why;
}

// DWORD16 naming the dedicated set (the IS25WP256 has no 4-byte address
// table and exits 4-byte mode with 29h, not E9h): 13h, 12h and the usual
// erase twins.
TEST(DeviceFromSfdp, TheDedicatedSetWithoutATable) {
  SfdpFacts facts = ThirtyTwoMebibytes();
  facts.enter4ByteMethods = kSfdpEnter4ByteB7 | kSfdpEnter4ByteDedicatedOpcodes;
  FLASHDEV row{};
  std::string why;
  ASSERT_TRUE(DeviceFromSfdp(facts, &row, &why)) << why;
  EXPECT_EQ(row.addressing, Addressing::kFourByteOpcodes);
  EXPECT_EQ(row.eraseTypes[0].opcode4, 0x21);
  EXPECT_EQ(row.eraseTypes[1].opcode4, 0xDC);
  EXPECT_EQ(row.sectorSize, 4096u);
}

// B7h in and E9h out, no opcodes: 4-byte mode.
TEST(DeviceFromSfdp, FourByteModeWhereThatIsAllThereIs) {
  SfdpFacts facts = ThirtyTwoMebibytes();
  facts.enter4ByteMethods = kSfdpEnter4ByteWriteEnableB7;
  facts.exit4ByteMethods = kSfdpExit4ByteWriteEnableE9;
  FLASHDEV row{};
  std::string why;
  ASSERT_TRUE(DeviceFromSfdp(facts, &row, &why)) << why;
  EXPECT_EQ(row.addressing, Addressing::kFourByteMode);
  EXPECT_TRUE(row.quirks.modeNeedsWriteEnable);
}

}  // namespace
