// The water state record: the one-point density cache and its busy marker,
// the save/restore of IdealGasGibbsEnergy, the fields WaterProperties fills,
// and independence of two models on two threads.
#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <vector>

#include "water/water.h"

namespace tersolv::water {
namespace {

constexpr double kMarker = 12345;  // a SatPressure that only a re-evaluation overwrites

TEST(DensityCache, HitsMissesAndTheStoredPhase) {
  WaterModel water;
  const WaterState empty = water.State;
  EXPECT_EQ(empty.Temperature, 0);
  EXPECT_EQ(empty.Density, 0);
  EXPECT_EQ(empty.SolventGDP, 0);
  EXPECT_EQ(empty.CachedPhase, 0);

  const double rho = water.WaterDensity(350, 50, kLiquidPhase);
  EXPECT_EQ(water.State.Density, rho);
  EXPECT_GT(water.State.SatPressure, 0.4);
  water.State.SatPressure = kMarker;
  EXPECT_EQ(water.WaterDensity(350, 50, kLiquidPhase), rho);
  EXPECT_EQ(water.State.SatPressure, kMarker);  // hit: nothing evaluated

  // Phase 0 below Tc stores the chosen branch, so the same call evaluates again.
  EXPECT_EQ(water.WaterDensity(350, 50, kStablePhase), rho);
  water.State.SatPressure = kMarker;
  EXPECT_EQ(water.WaterDensity(350, 50, kStablePhase), rho);
  EXPECT_NE(water.State.SatPressure, kMarker);

  // Another key replaces the entry.
  const double other = water.WaterDensity(350, 60, kLiquidPhase);
  EXPECT_GT(other, rho);
  EXPECT_EQ(water.State.Pressure, 60);

  // At or above Tc every phase maps to 0 and hits.
  const double super = water.WaterDensity(700, 300, kVapourPhase);
  EXPECT_EQ(water.State.SatPressure, 0);
  EXPECT_EQ(water.State.CachedPhase, kStablePhase);
  water.State.SatPressure = kMarker;
  EXPECT_EQ(water.WaterDensity(700, 300, kLiquidPhase), super);
  EXPECT_EQ(water.State.SatPressure, kMarker);
}

TEST(DensityCache, BusyMarker) {
  WaterModel water;
  water.WaterDensity(400, 10, kLiquidPhase);
  EXPECT_EQ(water.State.CachedPhase, kLiquidPhase);
  // An evaluation that finds the marker set (a nested one) stores no key.
  water.State.CachedPhase = kBusyPhase;
  const double rho = water.WaterDensity(500, 100, kLiquidPhase);
  EXPECT_EQ(water.State.Temperature, 400);
  EXPECT_EQ(water.State.Pressure, 10);
  EXPECT_EQ(water.State.Density, rho);
  EXPECT_EQ(water.State.CachedPhase, kLiquidPhase);
  // A fault inside an evaluation does not leave the marker set.
  EXPECT_THROW(water.WaterDensity(1e300, 1, kStablePhase), FloatingPointError);
  EXPECT_NE(water.State.CachedPhase, kBusyPhase);
  EXPECT_GT(water.WaterDensity(400, 10, kLiquidPhase), 0.9);
  EXPECT_EQ(water.State.Temperature, 400);
}

TEST(DensityCache, RecordWrittenByOtherRoutinesIsNoHit) {
  WaterModel water;
  const double liquid = water.WaterDensity(400, 10, kLiquidPhase);
  // WaterProperties with another density under the same key.
  water.WaterProperties(400, 10, 0.5);
  EXPECT_EQ(water.WaterDensity(400, 10, kLiquidPhase), liquid);
  // IdealGasGibbsEnergy leaves (T, P, Density) of the liquid point with the vapour phase key.
  water.WaterProperties(400, 10, liquid);
  water.IdealGasGibbsEnergy(400);
  EXPECT_EQ(water.State.CachedPhase, kVapourPhase);
  EXPECT_EQ(water.State.Density, liquid);
  EXPECT_EQ(water.WaterDensity(400, 10, kVapourPhase), -5);
}

TEST(IdealGasGibbsEnergy, RestoresPressureAndDensityOnly) {
  WaterModel water;
  const double T = 473.15;
  const double P = 200;
  const double rho = water.WaterDensity(T, P, kLiquidPhase);
  water.WaterProperties(T, P, rho);
  const WaterState before = water.State;
  EXPECT_EQ(before.SatPressure, 0);
  const double g = water.IdealGasGibbsEnergy(T);
  const WaterState& after = water.State;
  EXPECT_EQ(after.Temperature, T);
  for (double WaterState::*field : {&WaterState::Pressure, &WaterState::Density, &WaterState::DensityDP,
                                    &WaterState::Dielectric, &WaterState::DielectricDP, &WaterState::BornZ,
                                    &WaterState::BornQ, &WaterState::SolventG, &WaterState::SolventGDP}) {
    EXPECT_EQ(after.*field, before.*field);
  }
  EXPECT_EQ(after.CachedPhase, kVapourPhase);
  double rhoV = 0;
  double rhoL = 0;
  EXPECT_EQ(after.SatPressure, WaterModel().SaturationPressure(T, rhoV, rhoL));
  EXPECT_EQ(water.IdealGasGibbsEnergy(T), g);  // a second call gives the same value
  // Above Tc the saturation pressure left behind is 0.
  water.IdealGasGibbsEnergy(700);
  EXPECT_EQ(water.State.SatPressure, 0);
}

TEST(WaterProperties, DerivativesAgreeWithDifferences) {
  WaterModel water;
  for (const auto& [T, P] : {std::pair{298.15, 1.0}, {473.15, 100.0}, {573.15, 300.0}, {700.0, 400.0}}) {
    const double h = 1e-3 * P;
    const auto at = [&](double p) {
      WaterModel m;
      m.WaterProperties(T, p, m.WaterDensity(T, p, kLiquidPhase));
      return m.State;
    };
    const WaterState lo = at(P - h);
    const WaterState hi = at(P + h);
    const WaterState mid = at(P);
    EXPECT_NEAR(mid.DensityDP, (hi.Density - lo.Density) / (2 * h), 1e-6 * std::fabs(mid.DensityDP));
    EXPECT_NEAR(mid.DielectricDP, (hi.Dielectric - lo.Dielectric) / (2 * h), 1e-5 * std::fabs(mid.DielectricDP));
    EXPECT_NEAR(mid.SolventGDP, (hi.SolventG - lo.SolventG) / (2 * h), 1e-5 * std::fabs(mid.SolventGDP) + 1e-18);
    EXPECT_EQ(mid.BornZ, -1 / mid.Dielectric);
    EXPECT_NEAR(mid.BornQ, mid.DielectricDP / (mid.Dielectric * mid.Dielectric), 1e-15 * std::fabs(mid.BornQ));
  }
}

TEST(WaterProperties, SolventFunctionRanges) {
  WaterModel water;
  const auto g = [&](double T, double P) {
    water.WaterProperties(T, P, water.WaterDensity(T, P, kLiquidPhase));
    return water.State.SolventG;
  };
  EXPECT_LT(std::fabs(g(298.15, 1)), 1e-13);
  EXPECT_NE(g(573.15, 100), g(573.15, 500));  // the pressure correction of 155-355 degC
  // Density at or above 1 g/cm3: g and its derivative are 0.
  water.WaterProperties(298.15, 1000, 1.0);
  EXPECT_EQ(water.State.SolventG, 0);
  EXPECT_EQ(water.State.SolventGDP, 0);
  EXPECT_GT(water.State.Dielectric, 78);
  EXPECT_EQ(water.State.SatPressure, 0);
}

TEST(WaterModel, TwoModelsOnTwoThreadsAgreeWithOne) {
  struct Point { double T, P; };
  std::vector<Point> points;
  for (int i = 0; i < 24; ++i) points.push_back({280.0 + 30 * i, 1.0 + 40 * i});
  const auto run = [&](WaterModel& m, std::vector<double>& out) {
    for (const Point& p : points) {
      const double rho = m.WaterDensity(p.T, p.P, kLiquidPhase);
      m.WaterProperties(p.T, p.P, rho);
      const double gi = m.IdealGasGibbsEnergy(p.T);
      out.insert(out.end(), {rho, m.State.Dielectric, m.State.SolventG, m.WaterGibbsEnergy(p.T, p.P, rho) - gi,
                             m.State.SatPressure});
    }
  };
  WaterModel single;
  std::vector<double> expected;
  run(single, expected);
  WaterModel a;
  WaterModel b;
  std::vector<double> outA;
  std::vector<double> outB;
  std::thread ta([&] { run(a, outA); });
  std::thread tb([&] { run(b, outB); });
  ta.join();
  tb.join();
  EXPECT_EQ(outA, expected);
  EXPECT_EQ(outB, expected);
}

}  // namespace
}  // namespace tersolv::water
