// SPDX-License-Identifier: MIT
// The SFDP tables the serial NOR models answer 5Ah with. Functions, not
// globals: the simulator is linked both into the runtime library and into
// test programs that load it, and one global in both would be two.
#pragma once

#include <cstdint>
#include <span>

std::span<const uint8_t> W25q128jvSfdp();
std::span<const uint8_t> W25q256jvSfdp();
std::span<const uint8_t> Mx25l25645gSfdp();
std::span<const uint8_t> Gd25q128cSfdp();
std::span<const uint8_t> Is25lp256Sfdp();
std::span<const uint8_t> Mt25ql512Sfdp();
std::span<const uint8_t> S25fl256sSfdp();
