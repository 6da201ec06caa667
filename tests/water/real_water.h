// Test helper: liquid water at (T, P) as the calculation sets it up (IAPWS-95
// density, then the state record: dielectric constant, Born functions, g).
#pragma once

#include "water/water.h"

namespace tersolv::testing_water {

inline water::WaterModel WaterAt(double T, double P) {
  water::WaterModel w;
  w.WaterProperties(T, P, w.WaterDensity(T, P, water::kLiquidPhase));
  return w;
}

}  // namespace tersolv::testing_water
