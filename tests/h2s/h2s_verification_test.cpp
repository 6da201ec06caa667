// H2S with the real water state against the "Components" reference points
// (calc/reference_points.h, an independent implementation, 8 digits): pure
// H2S and its gas-saturated molality in pure water.
#include <gtest/gtest.h>

#include "calc/equations.h"
#include "calc/reference_points.h"
#include "h2s/h2s.h"
#include "water/real_water.h"

namespace tersolv::h2s {
namespace {

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
