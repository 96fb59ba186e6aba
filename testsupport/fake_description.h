// SPDX-License-Identifier: MIT
// Reading a fake device's description ("chip=N25Q128,image=chip.bin"), the
// form its environment variable takes for the test build of the runtime.
#pragma once

#include <string>

#include "runtime/device_name.h"

namespace testsupport {

/// Applies each comma-separated item of `text` to `config` with
/// `applyKey(const KeyItem&, Config*)`, which returns false for an item it
/// does not know or a bad value; false, with the reason in `error`, at the
/// first such item. `fake` names the fake in the reason.
template <typename Config, typename ApplyKey>
bool ReadDescription(const std::string& text, const char* fake, Config* config, ApplyKey applyKey,
                     std::string* error) {
  for (const std::string& item : SplitAt(text, ',')) {
    if (!applyKey(KeyItem(item), config)) {
      *error = std::string(fake) + ": bad item '" + item + "' in '" + text + "'";
      return false;
    }
  }
  return true;
}

}  // namespace testsupport
