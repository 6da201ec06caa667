// The activity model with explicit inputs: ionic-strength functions, limits,
// reductions to the binary solutions, poles.
#include <cmath>

#include <gtest/gtest.h>

#include "nacl/halite.h"
#include "nacl/pitzer.h"

namespace tersolv::nacl {
namespace {

constexpr double kT = 298.15;
constexpr double kRho = 0.99704704;  // g/cm3, IAPWS-95 at 298.15 K, 1 bar
constexpr double kEps = 78.41;

NaClParameters ParametersAt25(bool archer) {
  return {archer, PitzerParameters(kT, 1), ArcherParameters(kT, 1)};
}

TEST(IonicStrengthFunctions, LimitsSwitchesAndMonotony) {
  EXPECT_EQ(PitzerG(0), 1);
  EXPECT_EQ(ArcherHGamma(0), 0.75);
  EXPECT_EQ(ArcherH(0), 0.25);
  // Series and closed form meet at the switch of PitzerG (the closed form has
  // lost about six digits to cancellation there).
  EXPECT_NEAR(PitzerG(1e-5), PitzerG(1.0000001e-5), 1e-5);
  EXPECT_NEAR(PitzerG(0.1), 2 * (1 - 1.1 * std::exp(-0.1)) / 0.01, 1e-15);
  // The polynomials below x = 0.003 are kept; they differ slightly from the
  // closed forms there.
  EXPECT_EQ(ArcherHGamma(0.003), 0.75 - 0.7 * 0.003 + 0.003 * 0.003 / 30);
  EXPECT_NEAR(ArcherHGamma(0.003), ArcherHGamma(0.0030001), 1e-5);
  EXPECT_NEAR(ArcherH(0.003), ArcherH(0.0030001), 2e-4);
  double g = 2, hg = 2, h = 2;
  for (double x = 0.001; x < 20; x *= 1.5) {
    SCOPED_TRACE(x);
    EXPECT_LT(PitzerG(x), g);
    EXPECT_LT(ArcherHGamma(x), hg);
    EXPECT_LT(ArcherH(x), h);
    EXPECT_GT(ArcherH(x), 0);
    g = PitzerG(x);
    hg = ArcherHGamma(x);
    h = ArcherH(x);
  }
  EXPECT_THROW(PitzerG(-1), FloatingPointError);
  EXPECT_THROW(ArcherH(std::nan("")), FloatingPointError);
}

TEST(Activity, ZeroMolalitiesGiveIdealSolution) {
  for (bool archer : {true, false}) {
    const NaClParameters params = ParametersAt25(archer);
    const H2SInteraction h2s = H2SInteractionParameters(kT);
    const NaClActivity a = EvaluateNaClActivity(0, 0, kRho, kT, kEps, params, h2s);
    EXPECT_EQ(a.LnGammaPM, 0);
    EXPECT_EQ(OsmoticCoefficient(0, 0, a, params, h2s), 1);
    EXPECT_EQ(LnGammaH2S(0, 0, h2s), 0);
  }
}

TEST(Activity, LimitingLawAtSmallMolality) {
  const NaClParameters params = ParametersAt25(true);
  const double aPhi = DebyeHuckelAPhi(kRho, kEps, kT);
  for (double m : {1e-8, 1e-6}) {
    const NaClActivity a = EvaluateNaClActivity(m, 0, kRho, kT, kEps, params, {});
    // ln gamma+- -> -3 A_phi sqrt(m), phi - 1 -> -A_phi sqrt(m).
    EXPECT_NEAR(a.LnGammaPM / (-3 * aPhi * std::sqrt(m)), 1, 5 * std::sqrt(m));
    EXPECT_NEAR((OsmoticCoefficient(m, 0, a, params, {}) - 1) / (-aPhi * std::sqrt(m)), 1,
                5 * std::sqrt(m));
  }
}

TEST(Activity, PureNaClReducesToTheBinaryForms) {
  const double m = 2;
  const double s = std::sqrt(m);
  const double aPhi = DebyeHuckelAPhi(kRho, kEps, kT);
  const double fPhi = -aPhi * s / (1 + 1.2 * s);
  const H2SInteraction h2s = H2SInteractionParameters(kT);

  const NaClParameters pitzer = ParametersAt25(false);
  const PitzerResults& p = pitzer.Pitzer;
  const NaClActivity ap = EvaluateNaClActivity(m, 0, kRho, kT, kEps, pitzer, h2s);
  const double bPhi = p.PitzerBeta0 + p.PitzerBeta1 * std::exp(-2 * s);
  EXPECT_NEAR(OsmoticCoefficient(m, 0, ap, pitzer, h2s) - 1, fPhi + m * bPhi + m * m * p.PitzerCphi,
              1e-14);

  const NaClParameters archer = ParametersAt25(true);
  const ArcherResults& r = archer.Archer;
  const NaClActivity aa = EvaluateNaClActivity(m, 0, kRho, kT, kEps, archer, h2s);
  const double bPhiA = r.ArcherBeta0 + r.ArcherBeta1 * std::exp(-2 * s);
  EXPECT_NEAR(OsmoticCoefficient(m, 0, aa, archer, h2s) - 1,
              fPhi + m * bPhiA + 2 * m * m * (r.ArcherC0 + r.ArcherC1 * std::exp(-2.5 * s)), 1e-14);
}

TEST(Activity, H2SInteractionTermsEnterAsWritten) {
  const H2SInteraction h = H2SInteractionParameters(kT);
  EXPECT_EQ(h.MuHHH, 0.004723812);
  EXPECT_EQ(h.MuHNN, 0);
  EXPECT_EQ(h.MuHHN, 0.002620349);
  const NaClParameters params = ParametersAt25(true);
  // No salt: the limiting effect of H2S on NaCl.
  const double mH = 0.3;
  const NaClActivity a = EvaluateNaClActivity(0, mH, kRho, kT, kEps, params, h);
  EXPECT_NEAR(a.LnGammaPM, 2 * mH * h.LambdaHN + 1.5 * mH * mH * h.MuHHN, 1e-15);
  // No H2S: the limiting salt effect on H2S.
  EXPECT_NEAR(LnGammaH2S(0, 1.5, h), 2 * h.LambdaHN * 1.5 + 3 * h.MuHNN * 2.25, 1e-15);
  // The self-interaction set leaves the salt terms out.
  const H2SInteraction self = H2SSelfInteraction(kT);
  EXPECT_EQ(self.LambdaHH, h.LambdaHH);
  EXPECT_EQ(self.LambdaHN, 0);
  EXPECT_EQ(LnGammaH2S(0.1, 0, self), LnGammaH2S(0.1, 0, h));
  // H2S alone: phi - 1 = (lambda_HH m + 2 mu_HHH m^2).
  const NaClActivity ah = EvaluateNaClActivity(0, mH, kRho, kT, kEps, params, h);
  EXPECT_NEAR(OsmoticCoefficient(0, mH, ah, params, h) - 1, h.LambdaHH * mH + 2 * h.MuHHH * mH * mH,
              1e-15);
}

TEST(Activity, ApparentVolumeAtInfiniteDilutionIsTheSumOfTheIons) {
  for (bool archer : {true, false}) {
    const NaClParameters params = ParametersAt25(archer);
    const NaClActivity a = EvaluateNaClActivity(0, 0, kRho, kT, kEps, params, {});
    EXPECT_DOUBLE_EQ(ApparentMolarVolume(0, a, kT, kEps, 3.7e-3, kRho, 4.5e-5, params, -1.1, 17.8),
                     16.7);
  }
}

TEST(Activity, PolesAndDomainErrorsRaise) {
  EXPECT_THROW(PitzerParameters(227, 1), FloatingPointError);
  EXPECT_THROW(PitzerParameters(680, 1), FloatingPointError);
  EXPECT_THROW(PitzerParameters(0, 1), FloatingPointError);
  EXPECT_THROW(LambdaHH(228), FloatingPointError);
  EXPECT_THROW(LambdaHH(760), FloatingPointError);
  EXPECT_THROW(LambdaHN(228), FloatingPointError);
  const NaClParameters params = ParametersAt25(true);
  EXPECT_THROW(EvaluateNaClActivity(-0.1, 0, kRho, kT, kEps, params, {}), FloatingPointError);
  EXPECT_THROW(EvaluateNaClActivity(1, 0, kRho, kT, 0, params, {}), FloatingPointError);
  EXPECT_THROW(EvaluateNaClActivity(1, 0, -1, kT, kEps, params, {}), FloatingPointError);
  const double huge = 1e300;
  EXPECT_THROW(LnGammaH2S(huge, huge, H2SInteractionParameters(kT)), FloatingPointError);
}

TEST(Halite, GibbsEnergyAtTheReferencePointAndAway) {
  EXPECT_EQ(HaliteGibbsEnergy(298.15, 1), -384160.0);
  // Pressure enters through the molar volume only.
  EXPECT_NEAR(HaliteGibbsEnergy(298.15, 101) - HaliteGibbsEnergy(298.15, 1), 270.15, 1e-9);
  // dG/dT = -S: at Tr the slope is -S0.
  const double h = 1e-3;
  EXPECT_NEAR((HaliteGibbsEnergy(298.15 + h, 1) - HaliteGibbsEnergy(298.15 - h, 1)) / (2 * h),
              -72.132, 1e-5);
  // With c and d set, d2G/dT2 = -Cp/T at T.
  HaliteConstants data = HaliteData;
  data.C = -2e5;
  data.D = 1e-5;
  const double T = 400;
  const double cp = data.A + data.B * T + data.C / (T * T) + data.D * T * T;
  const double hh = 0.05;
  const double second = (HaliteGibbsEnergy(T + hh, 1, data) - 2 * HaliteGibbsEnergy(T, 1, data) +
                         HaliteGibbsEnergy(T - hh, 1, data)) /
                        (hh * hh);
  EXPECT_NEAR(second, -cp / T, 1e-4);
  EXPECT_THROW(HaliteGibbsEnergy(0, 1), FloatingPointError);
}

}  // namespace
}  // namespace tersolv::nacl
