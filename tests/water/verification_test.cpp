// IAPWS-95 Tables 6-8 (IAPWS R6-95), IAPWS R8-97 Table 4, and "Components" water columns of an independent code.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "calc/reference_points.h"
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

// The water columns of the "Components" reference points (an independent code), to 1e-8 or the
// 8th digit, and the saturation pressures of the "sat" rows to their 10 printed digits.
TEST(ComponentsReference, WaterDensityVolumeAndFugacity) {
  WaterModel water;
  for (const auto& row : reference::kComponents) {
    SCOPED_TRACE(testing::Message() << row.T << " degC, " << row.P);
    const double T = row.T + 273.15;
    double P = row.NormalisedP * 10, rhoV = 0, rhoL = 0;
    if (std::string(row.P) == "sat") P = water.SaturationPressure(T, rhoV, rhoL);
    EXPECT_NEAR(P / 10, row.NormalisedP, Printed(row.NormalisedP, 10));
    const double rho = water.WaterDensity(T, P, kLiquidPhase);
    const double gIdeal = water.IdealGasGibbsEnergy(T);
    const double fugacity = std::exp((water.WaterGibbsEnergy(T, P, rho) - gIdeal) / (kGasConstant * T)) / 10;
    for (int k = 0; const double got : {rho, kWaterMolarMass / rho, fugacity}) {
      const double want = row.Values[k++];
      EXPECT_NEAR(got, want, std::max(1e-8 * std::fabs(want), Printed(want, 8))) << "column " << k + 2;
    }
  }
}

}  // namespace
}  // namespace tersolv::water
