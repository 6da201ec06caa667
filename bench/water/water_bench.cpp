// Cost of the water routines per call.
#include <benchmark/benchmark.h>

#include <array>

#include "water/residual.h"
#include "water/water.h"

namespace tersolv::water {
namespace {

// One residual evaluation with its first and second delta-derivatives, the
// temperature factors made once (as inside a density iteration).
void BM_Residual(benchmark::State& state) {
  const TauFactors tf = MakeTauFactors(kCriticalTemperature / 450.0);
  double delta = 0.89 / kCriticalDensity;
  for (auto _ : state) {
    benchmark::DoNotOptimize(delta);
    benchmark::DoNotOptimize(EvaluateResidual(tf, delta, NonAnalyticMode::kPressure));
  }
}
BENCHMARK(BM_Residual);

// The public pressure routine: temperature factors plus residual.
void BM_WaterPressure(benchmark::State& state) {
  const WaterModel water;
  double P = 0;
  for (auto _ : state) {
    double dPdRho = -1;
    benchmark::DoNotOptimize(water.WaterPressure(450.0, 0.89, P, dPdRho));
    benchmark::DoNotOptimize(P);
  }
}
BENCHMARK(BM_WaterPressure);

// Liquid branch at alternating points, so that the one-point cache never hits.
// Arg 1: saturation memo on (its normal state), 0: off.
void BM_WaterDensityLiquid(benchmark::State& state) {
  constexpr std::array<std::array<double, 2>, 4> points = {{{300, 1}, {350, 100}, {450, 50}, {550, 200}}};
  WaterModel water;
  water.SetSaturationMemo(state.range(0) != 0);
  std::size_t i = 0;
  for (auto _ : state) {
    const auto& p = points[i++ % points.size()];
    benchmark::DoNotOptimize(water.WaterDensity(p[0], p[1], kLiquidPhase));
  }
}
BENCHMARK(BM_WaterDensityLiquid)->Arg(1)->Arg(0);

// Saturation pressure evaluated afresh every time (memo off).
void BM_SaturationPressure(benchmark::State& state) {
  WaterModel water;
  water.SetSaturationMemo(false);
  const auto T = static_cast<double>(state.range(0));
  double rhoV = 0;
  double rhoL = 0;
  for (auto _ : state) benchmark::DoNotOptimize(water.SaturationPressure(T, rhoV, rhoL));
}
BENCHMARK(BM_SaturationPressure)->Arg(300)->Arg(450)->Arg(600);

// Saturation pressure repeated at one temperature (memo on).
void BM_SaturationPressureMemo(benchmark::State& state) {
  WaterModel water;
  double rhoV = 0;
  double rhoL = 0;
  for (auto _ : state) benchmark::DoNotOptimize(water.SaturationPressure(450, rhoV, rhoL));
}
BENCHMARK(BM_SaturationPressureMemo);

void BM_WaterProperties(benchmark::State& state) {
  WaterModel water;
  const double rho = water.WaterDensity(298.15, 1, kLiquidPhase);
  for (auto _ : state) {
    water.WaterProperties(298.15, 1, rho);
    benchmark::DoNotOptimize(water.State.SolventGDP);
  }
}
BENCHMARK(BM_WaterProperties);

// The water part of one calculated point: properties, the two Gibbs energies
// (the ideal-gas one twice, as the driver and the H2S model both call it).
void BM_WaterPoint(benchmark::State& state) {
  constexpr std::array<std::array<double, 2>, 4> points = {{{300, 1}, {350, 100}, {450, 50}, {550, 200}}};
  WaterModel water;
  std::size_t i = 0;
  for (auto _ : state) {
    const auto& p = points[i++ % points.size()];
    const double rho = water.WaterDensity(p[0], p[1], kLiquidPhase);
    water.WaterProperties(p[0], p[1], rho);
    const double g0 = water.IdealGasGibbsEnergy(p[0]);
    benchmark::DoNotOptimize(water.WaterGibbsEnergy(p[0], p[1], rho) - g0);
    benchmark::DoNotOptimize(water.IdealGasGibbsEnergy(p[0]));
  }
}
BENCHMARK(BM_WaterPoint);

}  // namespace
}  // namespace tersolv::water
