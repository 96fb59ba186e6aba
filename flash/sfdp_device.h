// SPDX-License-Identifier: MIT
// DeviceFromSfdp: a device row made from what a chip's SFDP says, for a part
// the table does not know (or one named "sfdp").
#pragma once

#include <string>

#include "flash/flashdev.h"
#include "flash/sfdp.h"

/// The name -m takes for "whatever the chip's SFDP says".
inline constexpr const char* kSfdpDeviceName = "sfdp";

/// Fills `row` from `facts`: geometry, erase types, addressing, quad enable
/// and times. What SFDP does not give is taken conservatively: the clocks
/// every part of the table takes, generous time bounds, and a protection
/// table counted as "any block-protect bit protects the whole chip". False,
/// with the reason in `why`, for a part this program cannot drive (one above
/// 16 MiB with no 4-byte addressing it knows, one larger than 4 GiB).
[[nodiscard]] bool DeviceFromSfdp(const SfdpFacts& facts, FLASHDEV* row, std::string* why);
