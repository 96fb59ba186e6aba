// SPDX-License-Identifier: MIT
// The serprog: scheme: what `serprog:<serial port>[,baud=<n>]` and
// `serprog:tcp:<host>:<port>` ask for, its parser and its opener. It has
// no lister: serial ports cannot be told apart without talking to them.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/backend_scheme.h"

/// What `serprog:<serial port>[,<key>[=<value>]]...` or
/// `serprog:tcp:<host>:<port>[,<key>[=<value>]]...` asks for.
struct SerprogDeviceRequest {
  std::string port = {};  // a serial port's path; empty for TCP
  std::string host = {};  // TCP: the host, a name or an address
  std::string tcpPort = {};
  uint32_t baud = 0;  // 0: the port's rate left as it is (USB CDC devices ignore it)

  bool operator==(const SerprogDeviceRequest&) const = default;
};

extern const BackendScheme kSerprogScheme;
