// NaCl parameter sets, ionic-strength functions, activity model and halite with
// explicit inputs (limits, derivatives, poles), and with the real water state against:
// - Pitzer, Peiper and Busey, J. Phys. Chem. Ref. Data 13 (1984) 1: beta0,
//   beta1, Cphi at the check points of the 8-digit coefficients;
// - A_phi of water at 25 C, 0.3915 (Bradley and Pitzer, J. Phys. Chem. 83
//   (1979) 1599); phi and gamma+- of 1 mol/kg NaCl at 25 C, 0.936 and 0.657
//   (Robinson and Stokes, Electrolyte Solutions, 2nd ed., Appendix 8.10).
// The columns these models give are compared with the reference points of an
// independent implementation through the calculation (tests/calc, tests/apps).
#include <cmath>

#include <gtest/gtest.h>

#include "nacl/halite.h"
#include "nacl/pitzer.h"
#include "water/real_water.h"

namespace tersolv::nacl {
namespace {

using testing_water::WaterAt;

constexpr double kT = 298.15, kRho = 0.99704704, kEps = 78.41;  // water at 25 C, 1 bar

TEST(Archer, C1DPIsZeroBeta0AndPressureDerivatives) {
  for (double T : {280.0, 373.15, 523.15}) {
    for (double P : {5.0, 300.0}) {
      const ArcherResults r = ArcherParameters(T, P), up = ArcherParameters(T, P + 1),
                          down = ArcherParameters(T, P - 1);
      EXPECT_EQ(r.ArcherC1DP, 0.0);
      EXPECT_NEAR(r.ArcherBeta0DP, (up.ArcherBeta0 - down.ArcherBeta0) * 5, 1e-9);  // per MPa
      EXPECT_NEAR(r.ArcherBeta1DP, (up.ArcherBeta1 - down.ArcherBeta1) * 5, 1e-9);
      EXPECT_NEAR(r.ArcherC0DP, (up.ArcherC0 - down.ArcherC0) * 5, 1e-9);
    }
  }
  EXPECT_NEAR(ArcherParameters(kT, 1).ArcherBeta0, 0.08, 0.01);
}

TEST(Archer, PolesAndRangeLimitsRaise) {
  for (double T : {200.0, 225.0, 650.0, 700.0, 0.0, std::nan("")}) {
    EXPECT_THROW(ArcherParameters(T, 1), FloatingPointError) << T;
  }
  EXPECT_THROW(PitzerParameters(227, 1), FloatingPointError);
  EXPECT_THROW(PitzerParameters(680, 1), FloatingPointError);
  EXPECT_THROW(LambdaHH(228), FloatingPointError);
  EXPECT_THROW(LambdaHN(760), FloatingPointError);
}

TEST(IonicStrengthFunctions, LimitsSwitchAndMonotony) {
  EXPECT_EQ(PitzerG(0), 1);
  EXPECT_EQ(ArcherHGamma(0), 0.75);
  EXPECT_EQ(ArcherH(0), 0.25);
  // The polynomials hold up to x = 0.003 inclusive and nearly meet the closed
  // forms just above.
  EXPECT_EQ(ArcherHGamma(0.003), 0.75 - 0.7 * 0.003 + 0.003 * 0.003 / 30);
  EXPECT_NEAR(ArcherHGamma(0.003), ArcherHGamma(0.0030001), 2e-4);
  EXPECT_NEAR(ArcherH(0.003), ArcherH(0.0030001), 2e-4);
  for (double x = 0.001; x < 20; x *= 1.5) {
    EXPECT_LT(PitzerG(1.5 * x), PitzerG(x));
    EXPECT_LT(ArcherHGamma(1.5 * x), ArcherHGamma(x));
    EXPECT_LT(ArcherH(1.5 * x), ArcherH(x));
  }
  EXPECT_THROW(PitzerG(-1), FloatingPointError);
}

TEST(Activity, IdealAndLimitingBehaviour) {
  const NaClParameters params{true, PitzerParameters(kT, 1), ArcherParameters(kT, 1)};
  const H2SInteraction h = H2SInteractionParameters(kT);
  const NaClActivity zero = EvaluateNaClActivity(0, 0, kRho, kT, kEps, params, h);
  EXPECT_EQ(zero.LnGammaPM, 0);
  EXPECT_EQ(OsmoticCoefficient(0, 0, zero, params, h), 1);
  // Debye-Hueckel limiting law: ln gamma+- -> -3 A_phi sqrt(m), phi - 1 -> -A_phi sqrt(m).
  const double aPhi = DebyeHuckelAPhi(kRho, kEps, kT);
  for (double m : {1e-8, 1e-6}) {
    const NaClActivity a = EvaluateNaClActivity(m, 0, kRho, kT, kEps, params, h);
    EXPECT_NEAR(a.LnGammaPM / (-3 * aPhi * std::sqrt(m)), 1, 5 * std::sqrt(m));
    EXPECT_NEAR((OsmoticCoefficient(m, 0, a, params, h) - 1) / (-aPhi * std::sqrt(m)), 1,
                5 * std::sqrt(m));
  }
  EXPECT_THROW(EvaluateNaClActivity(-0.1, 0, kRho, kT, kEps, params, h), FloatingPointError);
  EXPECT_THROW(EvaluateNaClActivity(1, 0, kRho, kT, 0, params, h), FloatingPointError);
}

TEST(Halite, GibbsEnergyAtTheReferencePointAndItsSlopes) {
  EXPECT_EQ(HaliteGibbsEnergy(298.15, 1), -384160.0);
  EXPECT_NEAR(HaliteGibbsEnergy(298.15, 101) - HaliteGibbsEnergy(298.15, 1), 270.15, 1e-9);
  // d2G/dT2 = -Cp/T, with every heat-capacity term in use.
  const HaliteConstants data{-384160.0, 72.132, 2.7015, 44.6, 0.032, -2e5, 1e-5};
  const double T = 400, h = 0.05, cp = data.A + data.B * T + data.C / (T * T) + data.D * T * T;
  EXPECT_NEAR((HaliteGibbsEnergy(T + h, 1, data) - 2 * HaliteGibbsEnergy(T, 1, data) +
               HaliteGibbsEnergy(T - h, 1, data)) / (h * h), -cp / T, 1e-4);
  EXPECT_THROW(HaliteGibbsEnergy(0, 1), FloatingPointError);
}

TEST(PitzerPeiperBusey, CheckPointsToThePrintedDigits) {
  struct Row { double T, P, Beta0, Beta1, Cphi; };
  constexpr Row kRows[] = {
      {298.15, 1, 0.0754434, 0.2770308, 0.00137271},
      {373.15, 1.01325, 0.1001946, 0.3326467, -0.00330870},
      {473.15, 200, 0.0941622, 0.4175169, -0.00479745},
      {573.15, 500, 0.0619806, 0.5191685, -0.00258632},
  };
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.T);
    const PitzerResults r = PitzerParameters(row.T, row.P, 0, 0);
    EXPECT_NEAR(r.PitzerBeta0, row.Beta0, 5e-8);
    EXPECT_NEAR(r.PitzerBeta1, row.Beta1, 5e-8);
    EXPECT_NEAR(r.PitzerCphi, row.Cphi, 5e-9);
  }
}

TEST(NaClWithWater, DebyeHueckelSlopeAndOneMolalNaClAt25C) {
  const water::WaterState s = WaterAt(298.15, 1).State;
  EXPECT_NEAR(DebyeHuckelAPhi(s.Density, s.Dielectric, 298.15), 0.3915, 0.0005);
  for (bool archer : {true, false}) {
    SCOPED_TRACE(archer ? "Archer" : "Pitzer, Peiper and Busey");
    const NaClParameters params{archer, PitzerParameters(kT, 1), ArcherParameters(kT, 1)};
    const NaClActivity a = EvaluateNaClActivity(1, 0, s.Density, 298.15, s.Dielectric, params, {});
    EXPECT_NEAR(OsmoticCoefficient(1, 0, a, params, {}), 0.936, 0.0015);
    EXPECT_NEAR(std::exp(a.LnGammaPM), 0.657, 0.0015);
  }
}

}  // namespace
}  // namespace tersolv::nacl
