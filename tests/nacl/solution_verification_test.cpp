// NaCl parameters and the activity model with the real water state against:
// - Pitzer, Peiper and Busey, J. Phys. Chem. Ref. Data 13 (1984) 1: beta0,
//   beta1, Cphi at the check points of the 8-digit coefficients;
// - A_phi of water at 25 C, 0.3915 (Bradley and Pitzer, J. Phys. Chem. 83
//   (1979) 1599); phi and gamma+- of 1 mol/kg NaCl at 25 C, 0.936 and 0.657
//   (Robinson and Stokes, Electrolyte Solutions, 2nd ed., Appendix 8.10).
// The columns these models give are compared with the reference points of an
// independent implementation through the calculation (calc/reference_test.cpp,
// apps/point_cli_test.cpp).
#include <cmath>

#include <gtest/gtest.h>

#include "nacl/pitzer.h"
#include "water/real_water.h"

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

}  // namespace
}  // namespace tersolv::nacl
