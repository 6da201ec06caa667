// HKF ions with the real water state (IAPWS-95, IAPWS dielectric constant,
// solvent function g): standard volumes at 25 C against Shock and Helgeson,
// Geochim. Cosmochim. Acta 52 (1988) 2009 (V = -1.11 cm3/mol for Na+, 17.79
// for Cl-), and the volume as the pressure derivative of the Gibbs energy.
#include <cmath>

#include <gtest/gtest.h>

#include "hkf/hkf.h"
#include "water/water.h"

namespace tersolv::hkf {
namespace {

water::WaterState StateAt(double T, double P) {
  water::WaterModel w;
  const double rho = w.WaterDensity(T, P, water::kLiquidPhase);
  w.WaterProperties(T, P, rho);
  return w.State;
}

TEST(HKFWithWater, StandardVolumesAt25C) {
  const water::WaterState s = StateAt(298.15, 1);
  const HKFResults na = HKFProperties(1, s);
  const HKFResults cl = HKFProperties(-1, s);
  RecordProperty("VNa", std::to_string(na.HKFVolume));
  RecordProperty("VCl", std::to_string(cl.HKFVolume));
  // The tabulated volumes rest on an older dielectric model of water; the
  // IAPWS one moves them by a about a tenth.
  EXPECT_NEAR(na.HKFVolume, -1.11, 0.15);
  EXPECT_NEAR(cl.HKFVolume, 17.79, 0.15);
  // Near the formation energy: eps of IAPWS differs from eps_r (78.41 against
  // 78.25), which moves the solvation term by a few cal/mol.
  EXPECT_NEAR(na.HKFGibbsEnergy / (4.184 * -62591), 1, 2e-4);
  EXPECT_NEAR(cl.HKFGibbsEnergy / (4.184 * -31379), 1, 2e-4);
}

TEST(HKFWithWater, VolumeIsThePressureDerivativeOfTheGibbsEnergy) {
  for (double T : {298.15, 373.15, 523.15}) {
    for (double P : {100.0, 500.0}) {
      for (int z : {1, -1}) {
        SCOPED_TRACE(testing::Message() << T << " K, " << P << " bar, charge " << z);
        const double h = 0.01;
        const double up = HKFProperties(z, StateAt(T, P + h)).HKFGibbsEnergy;
        const double down = HKFProperties(z, StateAt(T, P - h)).HKFGibbsEnergy;
        const double v = HKFProperties(z, StateAt(T, P)).HKFVolume;
        EXPECT_NEAR(v, (up - down) / (2 * h) * 10, 2e-4 * (1 + std::fabs(v)));
      }
    }
  }
}

}  // namespace
}  // namespace tersolv::hkf
