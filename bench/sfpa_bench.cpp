// SPDX-License-Identifier: MIT
// Micro-benchmark of SFPA::Write: the image programmed page by page into a
// simulated N25Q128 through the in-process controller, in the one-call form
// of the second-generation runtime, with the simulator's default call latency
// (which sets how many status polls each page takes).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "flash/flashdev.h"
#include "flash/sfpa.h"
#include "sim/sim_interface.h"
#include "testsupport/sim_spictl.h"

namespace {

void SfpaWrite(benchmark::State& state) {
  const auto size = static_cast<int32_t>(state.range(0));
  std::vector<uint8_t> image(static_cast<size_t>(size));
  std::mt19937 random(2);
  std::ranges::generate(image, [&] { return static_cast<uint8_t>(random()); });

  std::string error;
  const std::unique_ptr<SimInterface> sim = SimInterface::Create({.chip = "N25Q128"}, &error);
  const FLASHDEV* row = FindDeviceByName("N25Q128");
  if (!sim || !row) return state.SkipWithError("no simulated N25Q128");
  testsupport::SimSpiCtl ctl(*sim, SPIKIND_RT2);
  if (!ctl.BringUp()) return state.SkipWithError("bring-up failed");
  SFPA programmer;
  programmer.SetDevice(*row);

  const uint64_t startNs = sim->NowNs();
  for (auto _ : state) {
    if (!programmer.Write(&ctl, 0, size, image.data())) return state.SkipWithError("write failed");
  }
  // The chip started erased, and programming the same bytes again changes nothing.
  if (!std::ranges::equal(image, sim->Contents().first(image.size()))) {
    return state.SkipWithError("the chip does not hold the image");
  }
  state.SetBytesProcessed(state.iterations() * size);
  state.counters["modelled_s"] =
      static_cast<double>(sim->NowNs() - startNs) / 1e9 / static_cast<double>(state.iterations());
}

BENCHMARK(SfpaWrite)->Arg(1 << 20)->Arg(16 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
