// Archer's NaCl(aq) parameters: structure of the table, derivatives, poles.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "nacl/archer.h"
#include "nacl/pitzer.h"

namespace tersolv::nacl {
namespace {

TEST(Archer, C1HasNoPressureDependence) {
  for (double T : {273.15, 298.15, 450.0, 620.0}) {
    for (double P : {1.0, 250.0, 1000.0}) {
      EXPECT_EQ(ArcherParameters(T, P).ArcherC1DP, 0.0);
    }
  }
  EXPECT_EQ(ArcherParameters(298.15, 1).ArcherC1, ArcherParameters(298.15, 900).ArcherC1);
}

TEST(Archer, AtTwentyFiveDegreesCloseToThePitzerPeiperBuseySet) {
  const ArcherResults a = ArcherParameters(298.15, 1);
  EXPECT_GT(a.ArcherBeta0, 0.07);
  EXPECT_LT(a.ArcherBeta0, 0.09);
  const PitzerResults p = PitzerParameters(298.15, 1);
  EXPECT_NEAR(a.ArcherBeta1, p.PitzerBeta1, 0.02);
  // Both sets describe the same solutions: the osmotic coefficient at 1 mol/kg
  // agrees to a few thousandths.
  NaClParameters archer{true, p, a};
  NaClParameters pitzer{false, p, a};
  const H2SInteraction none;
  const double rho = 0.99704704;
  const double eps = 78.41;
  const NaClActivity aa = EvaluateNaClActivity(1, 0, rho, 298.15, eps, archer, none);
  const NaClActivity ap = EvaluateNaClActivity(1, 0, rho, 298.15, eps, pitzer, none);
  EXPECT_NEAR(OsmoticCoefficient(1, 0, aa, archer, none), OsmoticCoefficient(1, 0, ap, pitzer, none),
              0.005);
  EXPECT_NEAR(aa.LnGammaPM, ap.LnGammaPM, 0.01);
}

TEST(Archer, PressureDerivativesMatchFiniteDifferences) {
  // The derivatives are per MPa; P is in bar.
  for (double T : {280.0, 373.15, 523.15}) {
    for (double P : {5.0, 300.0}) {
      SCOPED_TRACE(testing::Message() << T << " K, " << P << " bar");
      const double h = 1;  // bar
      const ArcherResults r = ArcherParameters(T, P);
      const ArcherResults up = ArcherParameters(T, P + h);
      const ArcherResults down = ArcherParameters(T, P - h);
      const double perMPa = 10 / (2 * h);
      EXPECT_NEAR(r.ArcherBeta0DP, (up.ArcherBeta0 - down.ArcherBeta0) * perMPa, 1e-9);
      EXPECT_NEAR(r.ArcherBeta1DP, (up.ArcherBeta1 - down.ArcherBeta1) * perMPa, 1e-9);
      EXPECT_NEAR(r.ArcherC0DP, (up.ArcherC0 - down.ArcherC0) * perMPa, 1e-9);
    }
  }
}

TEST(Archer, PolesAndTheUpperLimitRaise) {
  EXPECT_THROW(ArcherParameters(200, 1), FloatingPointError);
  EXPECT_THROW(ArcherParameters(225, 1), FloatingPointError);
  EXPECT_THROW(ArcherParameters(650, 1), FloatingPointError);
  EXPECT_THROW(ArcherParameters(700, 1), FloatingPointError);
  EXPECT_THROW(ArcherParameters(0, 1), FloatingPointError);
  EXPECT_THROW(ArcherParameters(std::numeric_limits<double>::quiet_NaN(), 1), FloatingPointError);
  EXPECT_NO_THROW(ArcherParameters(649.9, 1));
}

}  // namespace
}  // namespace tersolv::nacl
