// SPDX-License-Identifier: MIT
// The serprog: scheme's row.
#include "runtime/serprog_scheme.h"

#ifdef ROMWICK_HAVE_SERPROG
#include "runtime/serprog_backend.h"
#include "runtime/system_seams.h"
#endif

namespace {

constexpr const char* kNameHint = "serprog:/dev/ttyACM<n>";
constexpr const char* kTcpPrefix = "tcp:";

bool ApplySerprogKey(const KeyItem& item, SerprogDeviceRequest* request, bool* ok) {
  if (item.key != "baud") return false;
  *ok = item.Unsigned(&request->baud) && request->baud > 0;
  return true;
}

// `tcp:<host>:<port>`, the host a name, an IPv4 address or an IPv6 one in
// brackets.
bool ParseTcp(const std::string& text, SerprogDeviceRequest* request) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  std::string host = text.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  uint32_t port = 0;
  if (host.empty() || !ParseUnsigned(text.substr(colon + 1), &port) || port == 0 || port > 65535) return false;
  request->host = host;
  request->tcpPort = std::to_string(port);
  return true;
}

bool ParseSerprog(const std::vector<std::string>& items, DeviceRequest* request, std::string* error) {
  SerprogDeviceRequest& serprog = request->backend.emplace<SerprogDeviceRequest>();
  const std::string& first = items[0];
  if (first.rfind(kTcpPrefix, 0) == 0) {
    if (!ParseTcp(first.substr(4), &serprog)) {
      *error = "a TCP device is named tcp:<host>:<port>";
      return false;
    }
  } else if (first.empty()) {
    *error = std::string("no serial port named (") + kNameHint + ", or tcp:<host>:<port>)";
    return false;
  } else {
    serprog.port = first;
  }
  if (!ApplyKeys(items, &request->common, &serprog, ApplySerprogKey, error)) return false;
  if (serprog.baud != 0 && !serprog.host.empty()) {
    *error = "baud= is for serial ports: a TCP connection has no baud rate";
    return false;
  }
  return true;
}

#ifdef ROMWICK_HAVE_SERPROG
std::unique_ptr<Backend> OpenSerprog(const SerprogDeviceRequest& request, TraceWriter& trace, std::string* error) {
  std::unique_ptr<SerialSystem> system = MakeSerialSystem(error);
  if (!system) return nullptr;
  return SerprogBackend::Open(request, std::move(system), trace, error);
}
#endif

}  // namespace

const BackendScheme kSerprogScheme = {
    .scheme = "serprog",
    .nameHint = kNameHint,
    .parse = ParseSerprog,
#ifdef ROMWICK_HAVE_SERPROG
    .open = OpenAs<SerprogDeviceRequest, OpenSerprog>,
#else
    .absent = "names a serial port or a TCP connection, and this runtime was not built for Linux",
#endif
    .manual = R"(serprog:\fIPORT\fP[,\fIkey\fP[=\fIvalue\fP]]...)",
};
