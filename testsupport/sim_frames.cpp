// SPDX-License-Identifier: MIT
// Raw select periods on a simulated interface device.
#include "testsupport/sim_frames.h"

#include <gtest/gtest.h>

#include <charconv>
#include <stdexcept>

namespace testsupport {

namespace {

bool IsDataFlash(const SimInterface& sim) {
  return sim.Chip() && sim.Chip()->family == SimFamily::kDataFlash;
}

uint8_t StatusOpcode(const SimInterface& sim) { return IsDataFlash(sim) ? 0xD7 : 0x05; }

bool Ready(const SimInterface& sim, uint8_t status) {
  return IsDataFlash(sim) ? (status & 0x80) != 0 : (status & 0x01) == 0;
}

}  // namespace

std::unique_ptr<SimInterface> MakeSim(const SimConfig& config) {
  std::string error;
  auto sim = SimInterface::Create(config, &error);
  if (!sim) ADD_FAILURE() << error;
  return sim;
}

std::vector<uint8_t> HexBytes(std::string_view hex) {
  std::vector<uint8_t> bytes;
  for (size_t at = hex.find_first_not_of(' '); at != std::string_view::npos;
       at = hex.find_first_not_of(' ', at)) {
    uint8_t value = 0;
    const auto [end, ec] = std::from_chars(hex.data() + at, hex.data() + hex.size(), value, 16);
    if (ec != std::errc()) throw std::invalid_argument(std::string(hex));
    bytes.push_back(value);
    at = static_cast<size_t>(end - hex.data());
  }
  return bytes;
}

std::vector<uint8_t> SimFrame(SimInterface& sim, const std::vector<uint8_t>& tx, size_t fill) {
  std::vector<uint8_t> rx(tx.size() + fill);
  sim.SetSelectLine(false);
  sim.Transfer(tx.data(), rx.data(), tx.size());
  sim.TransferFill(0x00, rx.data() + tx.size(), fill);
  sim.SetSelectLine(true);
  return rx;
}

std::vector<uint8_t> SimFrame(SimInterface& sim, std::string_view hex, size_t fill) {
  return SimFrame(sim, HexBytes(hex), fill);
}

uint8_t SimStatus(SimInterface& sim) { return SimFrame(sim, {StatusOpcode(sim)}, 1)[1]; }

uint64_t SimBusyNs(SimInterface& sim, size_t limit) {
  const uint64_t start = sim.NowNs();
  const uint8_t opcode = StatusOpcode(sim);
  sim.SetSelectLine(false);
  sim.Transfer(&opcode, nullptr, 1);
  uint8_t status = 0;
  bool ready = false;
  for (size_t i = 0; i < limit && !ready; ++i) {
    sim.TransferFill(0x00, &status, 1);
    ready = Ready(sim, status);
  }
  sim.SetSelectLine(true);
  return ready ? sim.NowNs() - start : 0;
}

}  // namespace testsupport
