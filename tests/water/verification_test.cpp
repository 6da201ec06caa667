// Published verification values: IAPWS-95 Tables 6, 7 and 8 (IAPWS R6-95),
// the dielectric release's Table 4 (IAPWS R8-97), and whole state points of
// the "Components" layout from an independent implementation.
#include <gtest/gtest.h>

#include <cmath>

#include "water/residual.h"
#include "water/water.h"

namespace tersolv::water {
namespace {

// Half a unit in the last of `digits` significant digits of `printed`.
double PrintedTolerance(double printed, int digits) {
  return 0.5 * std::pow(10.0, std::floor(std::log10(std::fabs(printed))) - (digits - 1));
}

TEST(IapwsTable7, PressuresAtAllElevenPoints) {
  struct Point { double T, RhoKgM3, PMPa; };
  const Point points[] = {
      {300, 0.9965560e3, 0.992418352e-1}, {300, 0.1005308e4, 0.200022515e2}, {300, 0.1188202e4, 0.700004704e3},
      {500, 0.4350000, 0.999679423e-1},   {500, 0.4532000e1, 0.999938125},   {500, 0.8380250e3, 0.100003858e2},
      {500, 0.1084564e4, 0.700000405e3},  {647, 0.3580000e3, 0.220384756e2}, {900, 0.2410000, 0.100062559},
      {900, 0.5261500e2, 0.200000690e2},  {900, 0.8707690e3, 0.700000006e3}};
  const WaterModel water;
  for (const Point& pt : points) {
    double P = 0;
    double dPdRho = -1;
    ASSERT_EQ(water.WaterPressure(pt.T, pt.RhoKgM3 / 1000, P, dPdRho), 0);
    EXPECT_NEAR(P / (pt.PMPa * 10) - 1, 0, 1e-8) << "T = " << pt.T << ", rho = " << pt.RhoKgM3;
    EXPECT_GT(dPdRho, 0);
  }
}

TEST(IapwsTable6, HelmholtzEnergyAndResidualDeltaDerivatives) {
  const WaterModel water;
  const double T = 500;
  const double rho = 0.838025;
  // phi = phi° + phi^r = 0.204797733e1 - 0.342693206e1
  EXPECT_NEAR(water.HelmholtzPhi(T, rho), 0.204797733e1 - 0.342693206e1, 1e-8);
  const double delta = rho / kCriticalDensity;
  const double tau = kCriticalTemperature / T;
  EXPECT_NEAR(IdealGasPhi(delta, tau), 0.204797733e1, PrintedTolerance(0.204797733e1, 9));
  const ResidualDerivatives r = EvaluateResidual(MakeTauFactors(tau), delta, NonAnalyticMode::kPressure);
  EXPECT_NEAR(r.Phi, -0.342693206e1, PrintedTolerance(0.342693206e1, 9));
  EXPECT_NEAR(r.PhiD, -0.364366650, PrintedTolerance(0.364366650, 9));
  EXPECT_NEAR(r.PhiDD, 0.856063701, PrintedTolerance(0.856063701, 9));
}

TEST(IapwsTable8, SaturationAt275And450And625K) {
  struct Point { double T, PMPa, RhoLiquid, RhoVapour; };
  const Point points[] = {{275, 0.698451167e-3, 0.999887406e3, 0.550664919e-2},
                          {450, 0.932203564, 0.890341250e3, 0.481200360e1},
                          {625, 0.169082693e2, 0.567090385e3, 0.118290280e3}};
  WaterModel water;
  for (const Point& pt : points) {
    double rhoV = 0;
    double rhoL = 0;
    const double psat = water.SaturationPressure(pt.T, rhoV, rhoL);
    EXPECT_NEAR(psat / 10, pt.PMPa, PrintedTolerance(pt.PMPa, 9)) << pt.T;
    EXPECT_NEAR(rhoL * 1000, pt.RhoLiquid, PrintedTolerance(pt.RhoLiquid, 9)) << pt.T;
    EXPECT_NEAR(rhoV * 1000, pt.RhoVapour, PrintedTolerance(pt.RhoVapour, 9)) << pt.T;
  }
}

TEST(DielectricTable4, AllTenPointsWithIapws95Densities) {
  // T / K, p / MPa, rho / (mol/dm3) (IAPWS-95, 7 decimals), eps (printed to 5 decimals)
  struct Point { double T, PMPa, RhoMolar, Eps; };
  const Point points[] = {{240, 0.101325, 54.3370095, 104.34982}, {300, 0.101325, 55.3173528, 77.74735},
                          {300, 10, 55.5614843, 78.11269},        {300, 1000, 68.6926541, 103.69632},
                          {650, 10, 2.2469201, 1.26715},          {650, 100, 40.3109043, 17.71733},
                          {650, 500, 52.5863590, 26.62132},       {870, 10, 1.4527532, 1.12721},
                          {870, 100, 20.9892748, 4.98281},        {870, 500, 45.0137563, 15.09746}};
  WaterModel water;
  for (const Point& pt : points) {
    const double P = pt.PMPa * 10;
    const double rho = water.SolveDensity(pt.T, P, pt.RhoMolar * kMolarMass / 1000);
    ASSERT_GT(rho, 0);
    EXPECT_NEAR(rho * 1000 / kMolarMass, pt.RhoMolar, 0.5e-7);  // printed to 7 decimals
    water.WaterProperties(pt.T, P, rho);
    EXPECT_NEAR(water.State.Dielectric, pt.Eps, 0.5e-5) << pt.T << " K, " << pt.PMPa << " MPa";
  }
}

// "Components" layout: T in degC, P in MPa (the saturation pressure in the
// "0" rows at and above 100 degC), liquid density g/cm3, molar volume
// cm3/mol, fugacity MPa; 8 significant digits.
struct ComponentsRow { double TC, PMPa; bool Saturation; double Rho, Volume, Fugacity; };
const ComponentsRow kComponents[] = {
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

TEST(ComponentsReference, WaterDensityVolumeAndFugacity) {
  WaterModel water;
  for (const ComponentsRow& row : kComponents) {
    const double T = row.TC + 273.15;
    double P = row.PMPa * 10;
    if (row.Saturation) {
      double rhoV = 0;
      double rhoL = 0;
      P = water.SaturationPressure(T, rhoV, rhoL);
      EXPECT_NEAR(P / 10, row.PMPa, PrintedTolerance(row.PMPa, 10)) << row.TC;
    }
    const double rho = water.WaterDensity(T, P, kLiquidPhase);
    water.WaterProperties(T, P, rho);
    const double gIdeal = water.IdealGasGibbsEnergy(T);
    const double gWater = water.WaterGibbsEnergy(T, P, rho);
    const double fugacity = std::exp((gWater - gIdeal) / (kMolarGasConstant * T)) / 10;
    // The table carries 8 significant digits: the bound is 1e-8 relative or
    // half a unit of the 8th digit, whichever is larger.
    const auto tolerance = [](double v) { return std::max(1e-8 * std::fabs(v), PrintedTolerance(v, 8)); };
    EXPECT_NEAR(rho, row.Rho, tolerance(row.Rho)) << row.TC << " degC, " << row.PMPa << " MPa";
    EXPECT_NEAR(kMolarMass / rho, row.Volume, tolerance(row.Volume)) << row.TC << " degC, " << row.PMPa;
    EXPECT_NEAR(fugacity, row.Fugacity, tolerance(row.Fugacity)) << row.TC << " degC, " << row.PMPa;
  }
}

}  // namespace
}  // namespace tersolv::water
