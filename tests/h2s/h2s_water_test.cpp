// H2S solubility with the real water state: independently computed reference
// values of the gas-saturated molality of H2S in pure water (8 significant
// digits), the saturation-pressure case and the undefined cases.
#include <cmath>

#include <gtest/gtest.h>

#include "h2s/h2s.h"
#include "nacl/pitzer.h"
#include "water/water.h"

namespace tersolv::h2s {
namespace {

struct WaterPoint {
  water::WaterModel Water;
  double T = 0;
  double P = 0;
  double Rho = 0;
};

// The water state as the calculation leaves it before the H2S model runs.
// AtSaturation: P is the saturation pressure of water at T.
void Prepare(WaterPoint& point, double TCelsius, double PMPa, bool AtSaturation) {
  point.T = TCelsius + 273.15;
  point.P = PMPa * 10;
  if (AtSaturation) {
    double rhoV = 0;
    double rhoL = 0;
    point.P = point.Water.SaturationPressure(point.T, rhoV, rhoL);
  }
  point.Rho = point.Water.WaterDensity(point.T, point.P, water::kLiquidPhase);
  point.Water.WaterProperties(point.T, point.P, point.Rho);
}

// Solubility in pure water with the activity coefficient of dissolved H2S
// (lambda_HH, mu_HHH), by the averaged fixed-point iteration of the
// calculation, from the two results of H2SProperties.
double SaturatedMolality(const H2SResults& r, double T) {
  const nacl::H2SInteraction h = nacl::H2SSelfInteraction(T);
  const double m0 = r.H2SSolubilityIdeal;
  double d = r.H2SSolubilityMolality;
  if (m0 <= 0) return d;
  for (int pass = 0; pass < 1000; ++pass) {
    const double e = m0 / std::exp(nacl::LnGammaH2S(d, 0, h));
    if (std::fabs(d / e - 1) <= 1e-10) return e;
    d = (d + e) / 2;
  }
  ADD_FAILURE() << "iteration not converged";
  return 0;
}

struct SolubilityRow {
  double TCelsius;
  double PMPa;
  bool AtSaturation;
  double Molality;  // mol/kg
};

// Components layout, column 9.
constexpr SolubilityRow kRows[] = {
    {25, 0.1, false, 0.099323927},      {25, 10, false, 1.9225476},
    {25, 50, false, 2.265449},          {25, 100, false, 2.6954586},
    {50, 0.1, false, 0.052468992},      {50, 10, false, 2.1052261},
    {50, 50, false, 2.6428073},         {50, 100, false, 3.3217619},
    {100, 0.1014179967, true, 0},       {100, 10, false, 2.7258618},
    {100, 50, false, 3.9961749},        {100, 100, false, 5.3622456},
    {150, 0.476164538, true, 0},        {150, 10, false, 2.7529362},
    {150, 50, false, 6.2390565},        {150, 100, false, 7.930676},
    {200, 1.5549279, true, 0},          {200, 10, false, 2.5804567},
    {200, 50, false, 7.9529419},        {200, 100, false, 9.5231487},
    {250, 3.976174931, true, 0},        {250, 10, false, 1.984211},
    {250, 50, false, 8.3966802},        {250, 100, false, 9.8966317},
    {300, 8.587904941, true, 0},        {300, 10, false, 0.51527883},
    {300, 50, false, 7.6165407},        {300, 100, false, 9.1036628},
    {325, 12.05101495, true, 0},        {325, 10, false, 0},
    {325, 50, false, 6.8131284},        {325, 100, false, 8.2810195},
};

TEST(H2SSolubilityInWater, ReferenceMolalitiesToOneInTenMillion) {
  for (const SolubilityRow& row : kRows) {
    SCOPED_TRACE(testing::Message() << row.TCelsius << " C, " << row.PMPa << " MPa");
    WaterPoint point;
    Prepare(point, row.TCelsius, row.PMPa, row.AtSaturation);
    const H2SResults r = H2SProperties(point.Water, point.T, point.P);
    const double m = SaturatedMolality(r, point.T);
    if (row.Molality == 0) {
      EXPECT_EQ(r.H2SSolubilityIdeal, 0);
      EXPECT_EQ(m, 0);
    } else {
      EXPECT_NEAR(m / row.Molality, 1, 1e-7);
    }
  }
}

TEST(H2SSolubilityInWater, LeavesThePointsWaterStateInPlace) {
  WaterPoint point;
  Prepare(point, 100, 10, false);
  const water::WaterState before = point.Water.State;
  const H2SResults r = H2SProperties(point.Water, point.T, point.P);
  EXPECT_GT(r.H2SSolubilityMolality, r.H2SSolubilityIdeal);
  EXPECT_EQ(point.Water.State.Pressure, before.Pressure);
  EXPECT_EQ(point.Water.State.Density, before.Density);
  EXPECT_EQ(point.Water.State.Dielectric, before.Dielectric);
  // IdealGasGibbsEnergy left the saturation pressure of T for the H2S model.
  EXPECT_NEAR(point.Water.State.SatPressure, 1.014179967, 1e-8);
}

TEST(H2SSolubilityInWater, AboveTheCriticalTemperatureOfWaterNoSolubility) {
  // 400 C, 50 MPa: liquid-like water (extended range) without a saturation
  // pressure. The pure-H2S state is still available.
  WaterPoint point;
  Prepare(point, 400, 50, false);
  ASSERT_GE(point.Rho, 0.322);
  EXPECT_THROW(H2SProperties(point.Water, point.T, point.P), H2SSolubilityUndefined);
  EXPECT_GT(H2SPureState(point.T, point.P).H2SDensity, 0);
  // Gas-like water at 400 C, 20 MPa.
  WaterPoint gas;
  Prepare(gas, 400, 20, false);
  ASSERT_LT(gas.Rho, 0.322);
  EXPECT_THROW(H2SProperties(gas.Water, gas.T, gas.P), H2SSolubilityUndefined);
}

}  // namespace
}  // namespace tersolv::h2s
