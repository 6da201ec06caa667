// Pure H2S and the solubility law from explicit inputs: start densities,
// derivatives, bounds and the undefined cases.
#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "h2s/h2s.h"

namespace tersolv::h2s {
namespace {

TEST(H2SResidual, DerivativesMatchFiniteDifferences) {
  for (double tau : {0.6, 1.0, 1.3}) {
    for (double delta : {0.05, 0.8, 2.4}) {
      const double h = 1e-5 * delta;
      const ResidualHelmholtz r = H2SResidual(tau, delta);
      const ResidualHelmholtz up = H2SResidual(tau, delta + h);
      const ResidualHelmholtz down = H2SResidual(tau, delta - h);
      EXPECT_NEAR(r.PhiD, (up.Phi - down.Phi) / (2 * h), 1e-7 * (1 + std::fabs(r.PhiD)));
      EXPECT_NEAR(r.PhiDD, (up.PhiD - down.PhiD) / (2 * h), 1e-6 * (1 + std::fabs(r.PhiDD)));
    }
  }
}

TEST(H2SPure, StartsAndStatesAt25C) {
  // 1 bar lies below the vapour pressure of H2S at 298.15 K: ideal-gas start,
  // a dilute gas whose fugacity lies just below 1 bar.
  EXPECT_DOUBLE_EQ(H2SStartDensity(298.15, 1), 1 / (kGasConstantBar * 298.15));
  const H2SPure gas = H2SPureState(298.15, 1);
  EXPECT_LT(gas.H2SFugacity, 1);
  EXPECT_GT(gas.H2SFugacity, 0.98);
  // 100 bar: liquid start and a liquid-like density.
  EXPECT_GT(H2SStartDensity(298.15, 100), 0.02);
  EXPECT_NEAR(H2SPureState(298.15, 100).H2SDensity, 0.8, 0.01);
  // At and above 373.1 K the start is 0.02 mol/cm3 at any pressure.
  EXPECT_EQ(H2SStartDensity(373.1, 1), 0.02);
  EXPECT_LT(H2SStartDensity(373.0, 1), 0.001);
}

TEST(H2SPure, FaultsAndTheIterationCapRaise) {
  EXPECT_THROW(H2SPureState(298.15, 0), FloatingPointError);
  EXPECT_THROW(H2SPureState(0, 10), FloatingPointError);
  EXPECT_THROW(H2SPureState(std::nan(""), 10), FloatingPointError);
  try {
    H2SMolarDensity(298.15, 100, 3);
    FAIL() << "no error at the pass cap";
  } catch (const FloatingPointError& error) {
    EXPECT_NE(std::string(error.what()).find("not converged after 3 passes"), std::string::npos);
  }
}

TEST(H2SSolubilityLaw, NoH2SInTheGasGivesZero) {
  // At (and above) the saturation pressure of water, and y below 1e-8.
  for (double pw : {10.0, 12.0, 10 * (1 - 0.9e-8)}) {
    const H2SSolubilityResult s = H2SSolubilityFrom(453.15, 10, 0.89, 2.3, pw, 9.2);
    EXPECT_EQ(s.H2SSolubilityIdeal, 0);
    EXPECT_EQ(s.H2SSolubilityMolality, 0);
  }
}

TEST(H2SSolubilityLaw, UndefinedCasesRaiseInsteadOfAnswering) {
  // Gas-like water; no saturation pressure (at or above the critical
  // temperature of water); a dissolved mole fraction of 1 or more.
  EXPECT_THROW(H2SSolubilityFrom(500, 50, 0.3, -1, 20, 40), H2SSolubilityUndefined);
  EXPECT_THROW(H2SSolubilityFrom(673.15, 500, 0.58, 4, 0, 300), H2SSolubilityUndefined);
  EXPECT_THROW(H2SSolubilityFrom(500, 50, std::nan(""), -1, 20, 40), H2SSolubilityUndefined);
  EXPECT_THROW(H2SSolubilityFrom(298.15, 100, 1.0, -5.7, 0.03, 1e9), H2SSolubilityUndefined);
  EXPECT_THROW(H2SCorrectionLambda(228), FloatingPointError);
}

}  // namespace
}  // namespace tersolv::h2s
