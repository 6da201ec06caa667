// HKF ions with hand-filled water states: the reference point, charges, range.
#include <gtest/gtest.h>

#include "hkf/hkf.h"

namespace tersolv::hkf {
namespace {

constexpr double kEpsilonR = 78.2451458168084;

// The reference state of the ion parameters: 298.15 K, 1 bar, eps = eps_r,
// g = 0.
water::WaterState ReferenceState() {
  water::WaterState s;
  s.Temperature = 298.15;
  s.Pressure = 1;
  s.Density = 0.99704704;
  s.Dielectric = kEpsilonR;
  s.DielectricDP = 3.7e-3;
  s.BornZ = -1 / kEpsilonR;
  s.BornQ = s.DielectricDP / (kEpsilonR * kEpsilonR);
  return s;
}

TEST(HKF, ReferencePointGivesTheFormationEnergy) {
  const water::WaterState s = ReferenceState();
  const HKFResults na = HKFProperties(1, s);
  const HKFResults cl = HKFProperties(-1, s);
  EXPECT_NEAR(na.HKFGibbsEnergy, 4.184 * -62591, 1e-6);
  EXPECT_NEAR(cl.HKFGibbsEnergy, 4.184 * -31379, 1e-6);
  EXPECT_NEAR(na.Omega, 33060, 1e-7);
  EXPECT_NEAR(cl.Omega, 145600, 1e-7);
  EXPECT_EQ(na.OmegaDP, 0);
}

TEST(HKF, OtherChargesGiveZeros) {
  water::WaterState s = ReferenceState();
  s.Temperature = 373.15;
  s.Pressure = 100;
  s.SolventG = 0.01;
  s.SolventGDP = -1e-5;
  for (int z : {0, 2, -2, 3}) {
    const HKFResults r = HKFProperties(z, s);
    EXPECT_EQ(r.HKFGibbsEnergy, 0);
    EXPECT_EQ(r.HKFVolume, 0);
    EXPECT_EQ(r.Omega, 0);
    EXPECT_EQ(r.OmegaDP, 0);
  }
}

TEST(HKF, OutsideTheRangeNoResultIsGiven) {
  water::WaterState s = ReferenceState();
  s.Density = 0.25;
  EXPECT_FALSE(HKFInRange(s, false));
  EXPECT_THROW(HKFProperties(1, s), HKFRangeError);
  // The extended range accepts any positive density.
  EXPECT_TRUE(HKFInRange(s, true));
  EXPECT_NO_THROW(HKFProperties(1, s, true));
  s.Density = 0;
  EXPECT_THROW(HKFProperties(1, s, true), HKFRangeError);
  s = ReferenceState();
  s.Pressure = 0;
  EXPECT_THROW(HKFProperties(-1, s), HKFRangeError);
  // The pole of the temperature functions is a floating-point fault.
  s = ReferenceState();
  s.Temperature = 228;
  EXPECT_THROW(HKFProperties(1, s), FloatingPointError);
}

}  // namespace
}  // namespace tersolv::hkf
