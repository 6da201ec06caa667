// H2S against published and independently computed values:
// - Lemmon and Span, J. Chem. Eng. Data 51 (2006) 785, Table 10: the test
//   point of the hydrogen sulfide equation (with the paper's R = 8.314472);
// - independently computed "Components" points (8 significant digits):
//   density, molar volume and fugacity of pure H2S and the gas-saturated
//   molality of H2S in pure water, with the real water state.
#include <cmath>

#include <gtest/gtest.h>

#include "h2s/h2s.h"
#include "nacl/pitzer.h"
#include "water/water.h"

namespace tersolv::h2s {
namespace {

TEST(H2SPublished, TestPointOfLemmonSpanTable10) {
  // 375 K, 10 mol/dm3: 9289.914 kPa, to half a unit of the last digit.
  EXPECT_NEAR(H2SPressure(375, 0.010, 83.14472) * 100, 9289.914, 0.0005);
}

// Solubility in pure water: the calculation's averaged fixed-point iteration
// with ln gamma(H2S) = 2 lambda_HH m + 3 mu_HHH m^2.
double SaturatedMolality(const H2SResults& r, double T) {
  const nacl::H2SInteraction h = nacl::H2SSelfInteraction(T);
  double d = r.H2SSolubilityMolality;
  if (r.H2SSolubilityIdeal <= 0) return d;
  for (int pass = 0; pass < 1000; ++pass) {
    const double e = r.H2SSolubilityIdeal / std::exp(nacl::LnGammaH2S(d, 0, h));
    if (std::fabs(d / e - 1) <= 1e-10) return e;
    d = (d + e) / 2;
  }
  ADD_FAILURE() << "iteration not converged";
  return 0;
}

struct Row {
  double TCelsius, PMPa;
  bool AtSaturation;  // P is the saturation pressure of water
  double Density, Volume, Fugacity, Molality;  // g/cm3, cm3/mol, MPa, mol/kg
};
constexpr Row kRows[] = {
    {25, 0.1, false, 0.0013852724, 24602.294, 0.099251039, 0.099323927},
    {25, 10, false, 0.79619435, 42.804725, 1.9680424, 1.9225476},
    {25, 50, false, 0.8626335, 39.507949, 3.8101326, 2.265449},
    {25, 100, false, 0.91295991, 37.330095, 8.253934, 2.6954586},
    {50, 0.1, false, 0.0012759165, 26710.902, 0.099418882, 0.052468992},
    {50, 10, false, 0.73407448, 46.427005, 3.153561, 2.1052261},
    {50, 50, false, 0.82325991, 41.397473, 6.0224314, 2.6428073},
    {50, 100, false, 0.88214622, 38.634049, 12.648884, 3.3217619},
    {100, 0.1014179967, true, 0.001118266, 30476.54, 0.10103883, 0},
    {100, 10, false, 0.5055407, 67.414711, 6.1132653, 2.7258618},
    {100, 50, false, 0.74011004, 46.048396, 11.851589, 3.9961749},
    {100, 100, false, 0.82066634, 41.528303, 23.881665, 5.3622456},
    {150, 0.476164538, true, 0.0046675576, 7301.6517, 0.47060964, 0},
    {150, 10, false, 0.13795992, 247.03464, 7.640585, 2.7529362},
    {150, 50, false, 0.6515741, 52.305456, 18.742672, 6.2390565},
    {150, 100, false, 0.75993966, 44.846824, 37.01953, 7.930676},
    {200, 1.5549279, true, 0.01383725, 2462.9806, 1.5144987, 0},
    {200, 10, false, 0.10562781, 322.65064, 8.3999313, 2.5804567},
    {200, 50, false, 0.56179317, 60.664461, 25.651588, 7.9529419},
    {200, 100, false, 0.7010838, 48.611707, 50.484076, 9.5231487},
    {250, 3.976174931, true, 0.032686274, 1042.6664, 3.7941717, 0},
    {250, 10, false, 0.088740958, 384.04904, 8.88966, 1.984211},
    {250, 50, false, 0.47898546, 71.152222, 31.823267, 8.3966802},
    {250, 100, false, 0.6454212, 52.804091, 63.13895, 9.8966317},
    {300, 8.587904941, true, 0.065894642, 517.2026, 8.0101025, 0},
    {300, 10, false, 0.077594199, 439.21943, 9.2240978, 0.51527883},
    {300, 50, false, 0.41030305, 83.062702, 36.933886, 7.6165407},
    {300, 100, false, 0.59407958, 57.367533, 74.362105, 9.1036628},
    {325, 12.05101495, true, 0.089359442, 381.39092, 11.124344, 0},
    {325, 10, false, 0.073231054, 465.38836, 9.3521993, 0},
    {325, 50, false, 0.38186149, 89.249324, 39.085885, 6.8131284},
    {325, 100, false, 0.570258, 59.763966, 79.356116, 8.2810195},
};

TEST(H2SPublished, ComponentsPointsToOneInTenMillion) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(testing::Message() << row.TCelsius << " C, " << row.PMPa << " MPa");
    water::WaterModel w;
    const double T = row.TCelsius + 273.15;
    double P = row.PMPa * 10;
    double rhoV = 0, rhoL = 0;
    if (row.AtSaturation) P = w.SaturationPressure(T, rhoV, rhoL);
    const double rho = w.WaterDensity(T, P, water::kLiquidPhase);
    w.WaterProperties(T, P, rho);
    const water::WaterState before = w.State;
    const H2SResults r = H2SProperties(w, T, P);
    EXPECT_NEAR(r.H2SDensity / row.Density, 1, 1e-7);
    EXPECT_NEAR(r.H2SVolume / row.Volume, 1, 1e-7);
    EXPECT_NEAR(r.H2SFugacity * 0.1 / row.Fugacity, 1, 1e-7);
    if (row.Molality == 0) {
      EXPECT_EQ(SaturatedMolality(r, T), 0);
    } else {
      EXPECT_NEAR(SaturatedMolality(r, T) / row.Molality, 1, 1e-7);
    }
    // The point's water state is left in place.
    EXPECT_EQ(w.State.Pressure, before.Pressure);
    EXPECT_EQ(w.State.Density, before.Density);
  }
}

TEST(H2SPublished, NoSolubilityAboveTheCriticalTemperatureOfWater) {
  // 400 C, 50 MPa: liquid-like water (extended range) but no saturation
  // pressure; 400 C, 20 MPa: gas-like water.
  for (double P : {500.0, 200.0}) {
    water::WaterModel w;
    const double rho = w.WaterDensity(673.15, P, water::kLiquidPhase);
    w.WaterProperties(673.15, P, rho);
    EXPECT_THROW(H2SProperties(w, 673.15, P), H2SSolubilityUndefined);
  }
}

}  // namespace
}  // namespace tersolv::h2s
