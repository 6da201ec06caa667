// IAPWS-95 Tables 6-8 (IAPWS R6-95), IAPWS R8-97 Table 4, and "Components" water columns of an independent code.
#include <gtest/gtest.h>

#include <cmath>

#include "water/residual.h"
#include "water/water.h"

namespace tersolv::water {
namespace {

// Half a unit in the last of `digits` significant digits of `printed`.
double Printed(double printed, int digits) {
  return 0.5 * std::pow(10.0, std::floor(std::log10(std::fabs(printed))) - (digits - 1));
}

TEST(Iapws95, Table7PressuresTable6PhiAndTable8Saturation) {
  const struct { double T, RhoKgM3, PMPa; } points[] = {
      {300, 0.9965560e3, 0.992418352e-1},
      {300, 0.1005308e4, 0.200022515e2},
      {300, 0.1188202e4, 0.700004704e3},
      {500, 0.4350000, 0.999679423e-1},
      {500, 0.4532000e1, 0.999938125},
      {500, 0.8380250e3, 0.100003858e2},
      {500, 0.1084564e4, 0.700000405e3},
      {647, 0.3580000e3, 0.220384756e2},
      {900, 0.2410000, 0.100062559},
      {900, 0.5261500e2, 0.200000690e2},
      {900, 0.8707690e3, 0.700000006e3},
  };
  for (const auto& pt : points) {
    double P = 0, dPdRho = -1;
    ASSERT_EQ(WaterModel().WaterPressure(pt.T, pt.RhoKgM3 / 1000, P, dPdRho), 0);
    EXPECT_NEAR(P / (pt.PMPa * 10), 1, 1e-8) << pt.T << " K, " << pt.RhoKgM3 << " kg/m3";
  }
  const double delta = 0.838025 / kCriticalDensity, tau = kCriticalTemperature / 500;
  const ResidualDerivatives r = EvaluateResidual(MakeTauFactors(tau), delta, NonAnalyticMode::kPressure);
  const std::pair<double, double> values[] = {
      {IdealGasPhi(delta, tau), 0.204797733e1},
      {r.Phi, -0.342693206e1},
      {r.PhiD, -0.364366650},
      {r.PhiDD, 0.856063701},
  };
  for (const auto& [got, printed] : values) EXPECT_NEAR(got, printed, Printed(printed, 9));
  EXPECT_NEAR(WaterModel().HelmholtzPhi(500, 0.838025), 0.204797733e1 - 0.342693206e1, 1e-8);
  const struct { double T, PMPa, RhoLiquid, RhoVapour; } saturation[] = {
      {275, 0.698451167e-3, 0.999887406e3, 0.550664919e-2},
      {450, 0.932203564, 0.890341250e3, 0.481200360e1},
      {625, 0.169082693e2, 0.567090385e3, 0.118290280e3},
  };
  WaterModel water;
  for (const auto& pt : saturation) {
    double rhoV = 0, rhoL = 0;
    EXPECT_NEAR(water.SaturationPressure(pt.T, rhoV, rhoL) / 10, pt.PMPa, Printed(pt.PMPa, 9)) << pt.T;
    EXPECT_NEAR(rhoL * 1000, pt.RhoLiquid, Printed(pt.RhoLiquid, 9)) << pt.T;
    EXPECT_NEAR(rhoV * 1000, pt.RhoVapour, Printed(pt.RhoVapour, 9)) << pt.T;
  }
}

TEST(DielectricTable4, AllTenPointsWithIapws95Densities) {
  // T / K, p / MPa, IAPWS-95 rho / (mol/dm3) to 7 decimals, eps to 5 decimals
  const struct { double T, PMPa, RhoMolar, Eps; } points[] = {
      {240, 0.101325, 54.3370095, 104.34982},
      {300, 0.101325, 55.3173528, 77.74735},
      {300, 10, 55.5614843, 78.11269},
      {300, 1000, 68.6926541, 103.69632},
      {650, 10, 2.2469201, 1.26715},
      {650, 100, 40.3109043, 17.71733},
      {650, 500, 52.5863590, 26.62132},
      {870, 10, 1.4527532, 1.12721},
      {870, 100, 20.9892748, 4.98281},
      {870, 500, 45.0137563, 15.09746},
  };
  WaterModel water;
  for (const auto& pt : points) {
    SCOPED_TRACE(testing::Message() << pt.T << " K, " << pt.PMPa << " MPa");
    const double rho = water.SolveDensity(pt.T, pt.PMPa * 10, pt.RhoMolar * kWaterMolarMass / 1000);
    EXPECT_NEAR(rho * 1000 / kWaterMolarMass, pt.RhoMolar, 0.5e-7);
    water.WaterProperties(pt.T, pt.PMPa * 10, rho);
    EXPECT_NEAR(water.State.Dielectric, pt.Eps, 0.5e-5);
  }
}

TEST(ComponentsReference, WaterDensityVolumeAndFugacity) {
  // T degC, P MPa (saturation in the "0" rows), rho g/cm3, V cm3/mol, fugacity MPa; 1e-8 or the 8th digit
  const struct { double TC, PMPa; bool Saturation; double Rho, Volume, Fugacity; } rows[] = {
      {25, 0.1, false, 0.99704704, 18.068624, 0.0031670835},
      {25, 10, false, 1.001467, 17.988879, 0.0034035229},
      {25, 50, false, 1.0184392, 17.689095, 0.0045385826},
      {25, 100, false, 1.037872, 17.35789, 0.0064623288},
      {50, 0.1, false, 0.98803447, 18.233441, 0.012311661},
      {50, 10, false, 0.992308, 18.154916, 0.013165321},
      {50, 50, false, 1.0086859, 17.860137, 0.017212463},
      {50, 100, false, 1.0274274, 17.534347, 0.023924572},
      {100, 0.1014179967, true, 0.95834905, 18.798232, 0.099897325},
      {100, 10, false, 0.96293375, 18.70873, 0.10605684},
      {100, 50, false, 0.98026946, 18.377873, 0.13469339},
      {100, 100, false, 0.99976179, 18.01956, 0.18058835},
      {150, 0.476164538, true, 0.91700774, 19.64571, 0.45710181},
      {150, 10, false, 0.9223215, 19.532525, 0.48199444},
      {150, 50, false, 0.94269608, 19.110367, 0.60036137},
      {150, 100, false, 0.96484615, 18.671648, 0.78517669},
      {200, 1.5549279, true, 0.8646581, 20.835135, 1.4266769},
      {200, 10, false, 0.87093528, 20.684967, 1.4916935},
      {200, 50, false, 0.89697055, 20.08457, 1.8350077},
      {200, 100, false, 0.92374017, 19.502527, 2.3595501},
      {250, 3.976174931, true, 0.79889422, 22.550255, 3.4122686},
      {250, 10, false, 0.80570277, 22.359695, 3.5200431},
      {250, 50, false, 0.84241106, 21.385365, 4.302964},
      {250, 100, false, 0.87665963, 20.5499, 5.4742586},
      {300, 8.587904941, true, 0.71213564, 25.297523, 6.740243},
      {300, 10, false, 0.71528753, 25.186051, 6.7908463},
      {300, 50, false, 0.77647715, 23.201285, 8.310719},
      {300, 100, false, 0.82317124, 21.885201, 10.522351},
      {325, 12.05101495, true, 0.65432798, 27.532474, 8.962839},
      {325, 10, false, 0.64586498, 27.893242, 8.8610028},
      {325, 50, false, 0.73762623, 24.423302, 10.902419},
      {325, 100, false, 0.79374708, 22.696484, 13.803915},
  };
  WaterModel water;
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.TC << " degC, " << row.PMPa << " MPa");
    const double T = row.TC + 273.15;
    double P = row.PMPa * 10, rhoV = 0, rhoL = 0;
    if (row.Saturation) P = water.SaturationPressure(T, rhoV, rhoL);
    EXPECT_NEAR(P / 10, row.PMPa, Printed(row.PMPa, 10));
    const double rho = water.WaterDensity(T, P, kLiquidPhase);
    const double gIdeal = water.IdealGasGibbsEnergy(T);
    const double fugacity = std::exp((water.WaterGibbsEnergy(T, P, rho) - gIdeal) / (kGasConstant * T)) / 10;
    for (const auto& [got, want] : {std::pair{rho, row.Rho}, {kWaterMolarMass / rho, row.Volume}, {fugacity, row.Fugacity}})
      EXPECT_NEAR(got, want, std::max(1e-8 * std::fabs(want), Printed(want, 8)));
  }
}

}  // namespace
}  // namespace tersolv::water
