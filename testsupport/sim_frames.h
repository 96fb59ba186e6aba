// SPDX-License-Identifier: MIT
// Helpers that drive a simulated interface device with raw select periods,
// written as the datasheets write them ("02 00 01 F0").
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "sim/sim_interface.h"

namespace testsupport {

/// SimInterface::Create that fails the test (and returns null) on an error.
std::unique_ptr<SimInterface> MakeSim(const SimConfig& config);

/// Bytes from hexadecimal pairs separated by spaces.
std::vector<uint8_t> HexBytes(std::string_view hex);

/// One select period: select, clock out `tx` and then `fill` zero bytes,
/// release. Returns every byte clocked in.
std::vector<uint8_t> SimFrame(SimInterface& sim, const std::vector<uint8_t>& tx, size_t fill = 0);
std::vector<uint8_t> SimFrame(SimInterface& sim, std::string_view hex, size_t fill = 0);

/// The status byte after the opcode of one status read (05, or D7 for a
/// DataFlash).
uint8_t SimStatus(SimInterface& sim);

/// Reads the status in one select period, a byte at a time, until the part
/// reports ready; returns the modelled nanoseconds that took, or 0 when it
/// was still busy after `limit` status bytes.
uint64_t SimBusyNs(SimInterface& sim, size_t limit = 1'000'000);

}  // namespace testsupport
