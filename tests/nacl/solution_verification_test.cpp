// NaCl parameters and the activity model with the real water state against:
// - Pitzer, Peiper and Busey, J. Phys. Chem. Ref. Data 13 (1984) 1: beta0,
//   beta1, Cphi at the check points of the 8-digit coefficients;
// - A_phi of water at 25 C, 0.3915 (Bradley and Pitzer, J. Phys. Chem. 83
//   (1979) 1599); phi and gamma+- of 1 mol/kg NaCl at 25 C, 0.936 and 0.657
//   (Robinson and Stokes, Electrolyte Solutions, 2nd ed., Appendix 8.10);
// - the reference points (calc/reference_points.h, 8 digits) of the columns
//   these models give, combined by the calculation's equations.
#include <cmath>
#include <optional>

#include <gtest/gtest.h>

#include "calc/equations.h"
#include "calc/reference_points.h"
#include "h2s/h2s.h"
#include "hkf/hkf.h"
#include "nacl/halite.h"
#include "nacl/real_water.h"

namespace tersolv::nacl {
namespace {

using testing_water::WaterAt;

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

NaClParameters ArcherSetAt(double T, double P) {
  return {true, PitzerParameters(T, P, 0, 0), ArcherParameters(T, P)};
}

TEST(NaClWithWater, DebyeHueckelSlopeAndOneMolalNaClAt25C) {
  const water::WaterState s = WaterAt(298.15, 1).State;
  EXPECT_NEAR(DebyeHuckelAPhi(s.Density, s.Dielectric, 298.15), 0.3915, 0.0005);
  for (bool archer : {true, false}) {
    SCOPED_TRACE(archer ? "Archer" : "Pitzer, Peiper and Busey");
    NaClParameters params = ArcherSetAt(298.15, 1);
    params.HaliteDataSet = archer;
    const NaClActivity a = EvaluateNaClActivity(1, 0, s.Density, 298.15, s.Dielectric, params, {});
    EXPECT_NEAR(OsmoticCoefficient(1, 0, a, params, {}), 0.936, 0.0015);
    EXPECT_NEAR(std::exp(a.LnGammaPM), 0.657, 0.0015);
  }
}

TEST(NaClWithWater, HaliteSolubilityOfTheComponentsPoints) {
  for (const auto& p : reference::kComponents) {
    SCOPED_TRACE(testing::Message() << p.T << " C, " << p.P << " MPa");
    const double T = p.T + 273.15, P = p.NormalisedP * 10;
    const water::WaterState s = WaterAt(T, P).State;
    const double L = (HaliteGibbsEnergy(T, P) - hkf::HKFProperties(1, s).HKFGibbsEnergy -
                      hkf::HKFProperties(-1, s).HKFGibbsEnergy) / (2 * kGasConstant * T);
    const std::optional<double> m =
        calc::HaliteSolubility(L, s.Density, T, s.Dielectric, ArcherSetAt(T, P), {});
    if (p.Values[7] == reference::kNotFound) {
      EXPECT_FALSE(m);
    } else {
      ASSERT_TRUE(m);
      EXPECT_NEAR(*m / p.Values[7], 1, 1e-7);
    }
  }
}

TEST(NaClWithWater, TernaryColumnsOfTheseModels) {
  for (const auto& group : reference::kTernary) {
    for (const auto& p : group.Points) {
      SCOPED_TRACE(testing::Message() << group.Name << ", m(NaCl) " << p.MNaCl);
      const double T = p.T + 273.15, P = p.P * 10, mH = p.MH2S, mN = p.MNaCl;
      water::WaterModel w = WaterAt(T, P);
      const water::WaterState s = w.State;
      const h2s::H2SResults pure = h2s::H2SProperties(w, T, P);
      const double m0 = pure.H2SSolubilityIdeal, start = calc::SolubilityInPureWater(
          m0, pure.H2SSolubilityMolality, H2SSelfInteraction(T)).LastIterate;
      const NaClParameters params = ArcherSetAt(T, P);
      const H2SInteraction h = H2SInteractionParameters(T);
      const NaClActivity a = EvaluateNaClActivity(mN, mH, s.Density, T, s.Dielectric, params, h);
      const double vW = kWaterMolarMass / s.Density;
      const double vPhi = ApparentMolarVolume(mN, a, T, s.Dielectric, s.DielectricDP, s.Density, s.DensityDP,
                                              params, hkf::HKFProperties(1, s).HKFVolume,
                                              hkf::HKFProperties(-1, s).HKFVolume);
      const double v = calc::SolutionVolumeAndDensity(
          mH, mN, vW, calc::H2SPartialVolume(T, s.Density, vW, s.DensityDP), vPhi).MolarVolume;
      const double got[] = {OsmoticCoefficient(mN, mH, a, params, h),
                            calc::SolubilityInSolution(m0, start, mN, h), std::exp(LnGammaH2S(mH, mN, h)),
                            std::exp(a.LnGammaPM), v};
      const int column[] = {5, 8, 9, 10, 12};
      for (int k = 0; k < 5; ++k) {
        EXPECT_NEAR(got[k] / p.Values[column[k] - 5], 1, 1e-7) << "column " << column[k];
      }
    }
  }
}

}  // namespace
}  // namespace tersolv::nacl
