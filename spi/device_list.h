// SPDX-License-Identifier: MIT
// Listing the interface devices the device runtime can find, through the
// second-generation device manager library's optional listing entry point.
#pragma once

#include <string>
#include <vector>

enum class DeviceListResult {
  kListed,
  kIncomplete,    // some devices listed; the runtime could not look for others
  kNoLibrary,     // the device manager library cannot be loaded
  kNoEntryPoint,  // a runtime without the listing entry point
};

/// Loads the device manager library, asks it for the names of the interface
/// devices it can find (in the form a device name takes), and releases it.
DeviceListResult ListInterfaceDevices(std::vector<std::string>* names);
