// SPDX-License-Identifier: MIT
// The SFDP tables the serial NOR models answer 5Ah with.
#pragma once

#include <cstdint>
#include <span>

extern const std::span<const uint8_t> kW25q128jvSfdp;
extern const std::span<const uint8_t> kW25q256jvSfdp;
extern const std::span<const uint8_t> kMx25l25645gSfdp;
extern const std::span<const uint8_t> kGd25q128cSfdp;
extern const std::span<const uint8_t> kIs25lp256Sfdp;
extern const std::span<const uint8_t> kMt25ql512Sfdp;
extern const std::span<const uint8_t> kS25fl256sSfdp;
