// Cost of the solute models per state point. H2SProperties includes the
// reference Gibbs energies of water (ideal gas at T, liquid at T, P).
#include <benchmark/benchmark.h>

#include "h2s/h2s.h"
#include "hkf/hkf.h"
#include "nacl/pitzer.h"
#include "water/water.h"

namespace {

using namespace tersolv;

struct StatePoint {
  double T;  // K
  double P;  // bar
};
// A dilute gas (25 C, 1 bar), a compressed liquid (100 C, 100 bar) and a
// dense supercritical H2S (300 C, 500 bar).
constexpr StatePoint kPoints[] = {{298.15, 1}, {373.15, 100}, {573.15, 500}};

void BM_H2SProperties(benchmark::State& state) {
  const StatePoint point = kPoints[state.range(0)];
  water::WaterModel w;
  const double rho = w.WaterDensity(point.T, point.P, water::kLiquidPhase);
  w.WaterProperties(point.T, point.P, rho);
  for (auto _ : state) {
    benchmark::DoNotOptimize(h2s::H2SProperties(w, point.T, point.P));
  }
}
BENCHMARK(BM_H2SProperties)->DenseRange(0, 2);

void BM_H2SPureState(benchmark::State& state) {
  const StatePoint point = kPoints[state.range(0)];
  for (auto _ : state) {
    benchmark::DoNotOptimize(h2s::H2SPureState(point.T, point.P));
  }
}
BENCHMARK(BM_H2SPureState)->DenseRange(0, 2);

// The NaCl part of one ternary point: both parameter sets, the activity
// coefficient, the osmotic coefficient and the two ions.
void BM_NaClPoint(benchmark::State& state) {
  const StatePoint point = kPoints[1];
  water::WaterModel w;
  const double rho = w.WaterDensity(point.T, point.P, water::kLiquidPhase);
  w.WaterProperties(point.T, point.P, rho);
  for (auto _ : state) {
    const nacl::NaClParameters params{true, nacl::PitzerParameters(point.T, point.P),
                                      nacl::ArcherParameters(point.T, point.P)};
    const nacl::H2SInteraction h = nacl::H2SInteractionParameters(point.T);
    const nacl::NaClActivity a =
        nacl::EvaluateNaClActivity(2, 0.1, rho, point.T, w.State.Dielectric, params, h);
    benchmark::DoNotOptimize(nacl::OsmoticCoefficient(2, 0.1, a, params, h));
    benchmark::DoNotOptimize(hkf::HKFProperties(1, w.State));
    benchmark::DoNotOptimize(hkf::HKFProperties(-1, w.State));
  }
}
BENCHMARK(BM_NaClPoint);

}  // namespace
