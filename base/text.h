// SPDX-License-Identifier: MIT
// The text rules every layer shares: the program's number syntax and names
// compared without regard to ASCII letter case.
#pragma once

#include <cstdint>
#include <string_view>

/// A number below 2^32: decimal digits, or hexadecimal ones after 0x or 0X;
/// no sign, blank, suffix or octal form, so "010" is ten. False for anything
/// else, "0x" and the empty text included; `value` is written only on success.
[[nodiscard]] bool ParseUnsigned(std::string_view text, uint32_t* value);

/// True when `a` and `b` are the same but for the letter case of A-Z.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
