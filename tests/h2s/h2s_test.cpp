// Pure H2S and the solubility law: the published test point, derivatives, the
// iteration cap, the undefined cases; with the real water state, the "Components"
// reference points (calc/reference_points.h, an independent implementation,
// 8 digits) of pure H2S and its gas-saturated molality in pure water.
#include <cmath>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "calc/equations.h"
#include "calc/reference_points.h"
#include "h2s/h2s.h"
#include "water/real_water.h"

namespace tersolv::h2s {
namespace {

TEST(H2SResidual, TestPointOfLemmonSpanTable10) {
  // Lemmon and Span, J. Chem. Eng. Data 51 (2006) 785, Table 10, with its R: 375 K, 10 mol/dm3.
  EXPECT_NEAR(H2SPressure(375, 0.010, 83.14472) * 100, 9289.914, 0.0005);
}

TEST(H2SResidual, DerivativesMatchFiniteDifferences) {
  for (double tau : {0.6, 1.0, 1.3}) {
    for (double delta : {0.05, 0.8, 2.4}) {
      const double h = 1e-5 * delta;
      const ResidualHelmholtz r = H2SResidual(tau, delta), up = H2SResidual(tau, delta + h),
                              down = H2SResidual(tau, delta - h);
      EXPECT_NEAR(r.PhiD, (up.Phi - down.Phi) / (2 * h), 1e-7 * (1 + std::fabs(r.PhiD)));
      EXPECT_NEAR(r.PhiDD, (up.PhiD - down.PhiD) / (2 * h), 1e-6 * (1 + std::fabs(r.PhiDD)));
    }
  }
}

TEST(H2SPure, FaultsAndTheIterationCapRaise) {
  EXPECT_THROW(H2SPureState(298.15, 0), FloatingPointError);
  EXPECT_THROW(H2SPureState(0, 10), FloatingPointError);
  EXPECT_THROW(H2SPureState(std::nan(""), 10), FloatingPointError);
  EXPECT_THAT([] { H2SMolarDensity(298.15, 100, 3); },
              testing::ThrowsMessage<FloatingPointError>(testing::HasSubstr("not converged after 3 passes")));
}

TEST(H2SSolubilityLaw, NoH2SInTheGasGivesZero) {
  // At and above the saturation pressure of water, and for y below 1e-8.
  for (double pw : {10.0, 12.0, 10 * (1 - 0.9e-8)}) {
    const H2SSolubilityResult s = H2SSolubilityFrom(453.15, 10, 0.89, 2.3, pw, 9.2);
    EXPECT_EQ(s.H2SSolubilityIdeal, 0);
    EXPECT_EQ(s.H2SSolubilityMolality, 0);
  }
}

TEST(H2SSolubilityLaw, UndefinedCasesRaiseInsteadOfAnswering) {
  // Gas-like or NaN water density; no saturation pressure (at or above the
  // critical temperature of water); a dissolved mole fraction of 1 or more.
  EXPECT_THROW(H2SSolubilityFrom(500, 50, 0.3, -1, 20, 40), H2SSolubilityUndefined);
  EXPECT_THROW(H2SSolubilityFrom(500, 50, std::nan(""), -1, 20, 40), H2SSolubilityUndefined);
  EXPECT_THROW(H2SSolubilityFrom(673.15, 500, 0.58, 4, 0, 300), H2SSolubilityUndefined);
  EXPECT_THROW(H2SSolubilityFrom(298.15, 100, 1.0, -5.7, 0.03, 1e9), H2SSolubilityUndefined);
  EXPECT_THROW(H2SCorrectionLambda(228), FloatingPointError);
}

TEST(H2SReferencePoints, ComponentsColumnsToOneInTenMillion) {
  for (const auto& p : reference::kComponents) {
    SCOPED_TRACE(testing::Message() << p.T << " C, " << p.P << " MPa");
    const double T = p.T + 273.15;
    water::WaterModel w = testing_water::WaterAt(T, p.NormalisedP * 10);
    const water::WaterState before = w.State;
    const H2SResults r = H2SProperties(w, T, p.NormalisedP * 10);
    const double mH0 = calc::SolubilityInPureWater(r.H2SSolubilityIdeal, r.H2SSolubilityMolality,
                                                   nacl::H2SSelfInteraction(T)).MH0;
    const double got[] = {r.H2SDensity, r.H2SVolume, r.H2SFugacity * 0.1, mH0};  // columns 6..9
    for (int k = 0; k < 4; ++k) {
      EXPECT_NEAR(got[k], p.Values[k + 3], 1e-7 * p.Values[k + 3]) << "column " << k + 6;
    }
    // The point's water state is left in place.
    EXPECT_EQ(w.State.Pressure, before.Pressure);
    EXPECT_EQ(w.State.Density, before.Density);
  }
}

}  // namespace
}  // namespace tersolv::h2s
