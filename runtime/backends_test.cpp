// SPDX-License-Identifier: MIT
// The table of backends: every list made from it (the hint after an unknown
// scheme, the manual page's subsections), and opening a request only through
// the scheme that parsed it.
#include "runtime/backends.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "runtime/ftdi_scheme.h"
#include "runtime/sim_scheme.h"
#include "testsupport/run_program.h"

namespace {

TEST(Backends, UnknownSchemeHintNamesEveryBackend) {
  for (const char* name : {"usb:0", "M25P80"}) {
    DeviceRequest request;
    std::string error;
    EXPECT_FALSE(ParseDeviceName(name, &request, &error));
    EXPECT_EQ(error, std::string("no backend for '") + name +
                         "' (try sim:<chip>, spidev:/dev/spidev<bus>.<chip select>, ftdi:, ch341a:, ch347: or "
                         "serprog:/dev/ttyACM<n>)");
  }
}

// A hint is a name of its own scheme, and no two rows share a scheme.
TEST(Backends, EachHintParsesAsItsOwnScheme) {
  std::set<std::string> schemes;
  for (const BackendScheme* row : BackendSchemes()) {
    SCOPED_TRACE(row->scheme);
    EXPECT_TRUE(schemes.insert(row->scheme).second);
    EXPECT_EQ(FindScheme(row->scheme), row);
    DeviceRequest request;
    std::string error;
    EXPECT_TRUE(ParseDeviceName(row->nameHint, &request, &error)) << error;
    EXPECT_EQ(request.scheme, row);
  }
}

// A backend this build lacks says why, and has nothing to open or list.
TEST(Backends, EachRowOpensOrSaysWhyItCannot) {
  for (const BackendScheme* row : BackendSchemes()) {
    SCOPED_TRACE(row->scheme);
    EXPECT_NE(row->open == nullptr, row->absent == nullptr);
    if (row->absent) {
      EXPECT_EQ(row->list, nullptr);
    }
  }
}

// The DEVICE NAMES section of the manual page has a subsection for each
// row, in the table's order, headed with the row's `manual` text.
TEST(Backends, ManualPageHasASubsectionForEachRow) {
  std::istringstream page(testsupport::ReadFile(testsupport::SourceDir() + "/dist/romwick.1.in"));
  std::vector<std::string> headings;
  bool inSection = false;
  for (std::string line; std::getline(page, line);) {
    if (line.rfind(".SH ", 0) == 0) inSection = line == ".SH DEVICE NAMES";
    if (inSection && line.rfind(".SS ", 0) == 0) headings.push_back(line.substr(4));
  }
  std::vector<std::string> rows;
  for (const BackendScheme* row : BackendSchemes()) rows.push_back(row->manual);
  EXPECT_EQ(headings, rows);
}

// A request that is not what its scheme parsed, or that no scheme parsed,
// fails to open with a reason.
TEST(Backends, OpensARequestOnlyThroughItsOwnScheme) {
  struct Case {
    DeviceRequest request;
    const char* reason;
  };
  DeviceRequest misread;
  misread.scheme = &kFtdiScheme;
  SimDeviceRequest sim;
  sim.chip = "M25P80";
  misread.backend = sim;
  const BackendScheme absent{.scheme = "gone", .nameHint = "gone:", .parse = nullptr,
                             .absent = "this runtime was built without it", .manual = ""};
  DeviceRequest ofAbsent;
  ofAbsent.scheme = &absent;
  for (const Case& c : {Case{DeviceRequest{}, "no backend named"},
                        Case{misread, "the device request does not come from this scheme's parser"},
                        Case{ofAbsent, "gone: this runtime was built without it"}}) {
    TraceWriter trace;
    std::string error;
    EXPECT_EQ(OpenBackend(c.request, trace, &error), nullptr);
    EXPECT_EQ(error, c.reason);
  }
}

}  // namespace
