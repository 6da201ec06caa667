// Pure H2S and the solubility law from explicit inputs: start densities,
// iteration, bounds and the undefined cases.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "h2s/h2s.h"

namespace tersolv::h2s {
namespace {

TEST(H2SResidual, DerivativesMatchFiniteDifferences) {
  for (double tau : {0.6, 1.0, 1.3}) {
    for (double delta : {0.05, 0.8, 2.4}) {
      SCOPED_TRACE(testing::Message() << "tau " << tau << ", delta " << delta);
      const double h = 1e-5 * delta;
      const ResidualHelmholtz r = H2SResidual(tau, delta);
      const ResidualHelmholtz up = H2SResidual(tau, delta + h);
      const ResidualHelmholtz down = H2SResidual(tau, delta - h);
      EXPECT_NEAR(r.PhiD, (up.Phi - down.Phi) / (2 * h), 1e-7 * (1 + std::fabs(r.PhiD)));
      EXPECT_NEAR(r.PhiDD, (up.PhiD - down.PhiD) / (2 * h), 1e-6 * (1 + std::fabs(r.PhiDD)));
    }
  }
}

TEST(H2SStart, IdealGasLiquidAndSupercriticalBranches) {
  // 298.15 K, 1 bar lies below the vapour pressure of H2S (about 20 bar).
  EXPECT_DOUBLE_EQ(H2SStartDensity(298.15, 1), 1 / (kGasConstantBar * 298.15));
  const double liquid = H2SStartDensity(298.15, 100);
  EXPECT_GT(liquid, 0.02);
  EXPECT_LT(liquid, 0.03);
  EXPECT_EQ(H2SStartDensity(373.1, 1), 0.02);
  EXPECT_EQ(H2SStartDensity(373.1, 500), 0.02);
  // Just below 373.1 K the vapour-pressure correlation decides.
  EXPECT_LT(H2SStartDensity(373.0, 1), 0.001);
  EXPECT_GT(H2SStartDensity(373.0, 150), 0.005);
}

TEST(H2SPure, DiluteGasAtOneBarAndLiquidAtHundredBar) {
  const H2SPure gas = H2SPureState(298.15, 1);
  EXPECT_LT(gas.H2SFugacity, 1);
  EXPECT_GT(gas.H2SFugacity, 0.98);
  EXPECT_NEAR(gas.H2SVolume, kGasConstantBar * 298.15, 0.01 * kGasConstantBar * 298.15);
  EXPECT_DOUBLE_EQ(gas.H2SDensity * gas.H2SVolume, kH2SMolarMass);

  const H2SPure liquid = H2SPureState(298.15, 100);
  EXPECT_NEAR(liquid.H2SDensity, 0.8, 0.01);
  EXPECT_LT(liquid.H2SFugacity, 100);
}

TEST(H2SPure, SolvedDensityReproducesThePressure) {
  for (double T : {250.0, 298.15, 373.1, 450.0, 600.0}) {
    for (double P : {0.5, 20.0, 90.0, 400.0, 1000.0}) {
      SCOPED_TRACE(testing::Message() << T << " K, " << P << " bar");
      const double rho = H2SMolarDensity(T, P);
      EXPECT_NEAR(H2SPressure(T, rho) / P, 1, 1e-7);
    }
  }
}

TEST(H2SPure, FaultsAndTheIterationCapRaise) {
  EXPECT_THROW(H2SPureState(298.15, 0), FloatingPointError);
  EXPECT_THROW(H2SPureState(0, 10), FloatingPointError);
  EXPECT_THROW(H2SPureState(-5, 10), FloatingPointError);
  EXPECT_THROW(H2SPureState(std::numeric_limits<double>::quiet_NaN(), 10), FloatingPointError);
  try {
    H2SMolarDensity(298.15, 100, 3);
    FAIL() << "no error at the pass cap";
  } catch (const FloatingPointError& error) {
    EXPECT_NE(std::string(error.what()).find("not converged after 3 passes"), std::string::npos)
        << error.what();
  }
}

TEST(H2SSolubilityLaw, NoH2SInTheGasGivesZero) {
  // At the saturation pressure of water, and below it, the gas holds no H2S.
  for (double satPressure : {0.0316, 0.05}) {
    const H2SSolubilityResult s = H2SSolubilityFrom(298.15, 0.0316, 0.997, -3.45, satPressure, 0.0316);
    EXPECT_EQ(s.H2SSolubilityIdeal, 0);
    EXPECT_EQ(s.H2SSolubilityMolality, 0);
  }
  // y just under 1e-8 counts as 0.
  const double P = 10;
  const H2SSolubilityResult tiny = H2SSolubilityFrom(298.15, P, 0.997, -3.45, P * (1 - 0.9e-8), 9.2);
  EXPECT_EQ(tiny.H2SSolubilityMolality, 0);
}

TEST(H2SSolubilityLaw, CorrectionAppliesToTheIdealMolality) {
  const H2SSolubilityResult s = H2SSolubilityFrom(298.15, 1, 0.99704704, std::log(0.031670835), 0.0317, 0.9925);
  const double m = s.H2SSolubilityIdeal;
  EXPECT_GT(m, 0.05);
  EXPECT_LT(m, 0.2);
  EXPECT_DOUBLE_EQ(s.H2SSolubilityMolality, m * (1 + H2SCorrectionLambda(298.15) * m));
}

TEST(H2SSolubilityLaw, UndefinedCasesRaiseInsteadOfAnswering) {
  // Gas-like water, no saturation pressure (at or above the critical
  // temperature of water), and an invalid density.
  EXPECT_THROW(H2SSolubilityFrom(500, 50, 0.3, -1, 20, 40), H2SSolubilityUndefined);
  EXPECT_THROW(H2SSolubilityFrom(673.15, 500, 0.58, 4, 0, 300), H2SSolubilityUndefined);
  EXPECT_THROW(H2SSolubilityFrom(673.15, 500, 0.58, 4, -1, 300), H2SSolubilityUndefined);
  EXPECT_THROW(H2SSolubilityFrom(500, 50, std::numeric_limits<double>::quiet_NaN(), -1, 20, 40),
               H2SSolubilityUndefined);
  // A dissolved mole fraction of 1 or more.
  EXPECT_THROW(H2SSolubilityFrom(298.15, 100, 1.0, -5.7, 0.03, 1e9), H2SSolubilityUndefined);
  // The correction's poles.
  EXPECT_THROW(H2SCorrectionLambda(228), FloatingPointError);
  EXPECT_THROW(H2SCorrectionLambda(760), FloatingPointError);
}

}  // namespace
}  // namespace tersolv::h2s
