// The solubility of H2S as the calculation runs it: reading the water model.
#include "h2s/h2s.h"
#include "water/water.h"

namespace tersolv::h2s {

void H2SSolubility(water::WaterModel& water, double T, double P, H2SResults& results) {
  const double rhoW = water.State.Density;  // taken before the two calls
  const double gIdeal = water.IdealGasGibbsEnergy(T);
  const double gWater = water.WaterGibbsEnergy(T, P, rhoW);
  const double satPressure = water.State.SatPressure;  // left by IdealGasGibbsEnergy
  const double lnFw = CheckFinite((gWater - gIdeal) / (kGasConstant * T), "H2SSolubility");
  const H2SSolubilityResult s = H2SSolubilityFrom(T, P, rhoW, lnFw, satPressure, results.H2SFugacity);
  results.H2SSolubilityIdeal = s.H2SSolubilityIdeal;
  results.H2SSolubilityMolality = s.H2SSolubilityMolality;
}

H2SResults H2SProperties(water::WaterModel& water, double T, double P) {
  const H2SPure pure = H2SPureState(T, P);
  H2SResults results;
  results.H2SDensity = pure.H2SDensity;
  results.H2SVolume = pure.H2SVolume;
  results.H2SFugacity = pure.H2SFugacity;
  H2SSolubility(water, T, P, results);
  return results;
}

}  // namespace tersolv::h2s
