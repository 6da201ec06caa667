// Prints the properties of liquid water at 25 degC and 0.1 MPa, as a first
// look at the water module.
#include <cmath>
#include <cstdio>
#include <exception>

#include "water/water.h"

int main() {
  using namespace tersolv::water;
  try {
    WaterModel water;
    const double T = 298.15;  // K
    const double P = 1.0;     // bar
    const double rho = water.WaterDensity(T, P, kLiquidPhase);
    if (rho <= 0) {
      std::fprintf(stderr, "water_example: no liquid density (code %g)\n", rho);
      return 1;
    }
    double rhoVapour = 0;
    double rhoLiquid = 0;
    const double psat = water.SaturationPressure(T, rhoVapour, rhoLiquid);
    water.WaterProperties(T, P, rho);
    const WaterState props = water.State;
    const double gIdeal = water.IdealGasGibbsEnergy(T);
    const double gWater = water.WaterGibbsEnergy(T, P, rho);
    const double fugacity = std::exp((gWater - gIdeal) / (tersolv::kGasConstant * T));

    std::printf("Liquid water at 25 degC (298.15 K) and 0.1 MPa (1 bar), IAPWS-95\n");
    std::printf("  %-28s %.8f g/cm3\n", "density", rho);
    std::printf("  %-28s %.10f MPa\n", "saturation pressure", psat * 0.1);
    std::printf("  %-28s %.10f MPa\n", "fugacity", fugacity * 0.1);
    std::printf("  %-28s %.6f (dimensionless)\n", "dielectric constant", props.Dielectric);
    std::printf("  %-28s %.9e (dimensionless)\n", "Born function Z = -1/eps", props.BornZ);
    std::printf("  %-28s %.9e 1/bar\n", "Born function Q", props.BornQ);
    std::printf("  %-28s %.9e angstrom\n", "solvent function g", props.SolventG);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "water_example: %s\n", e.what());
    return 1;
  }
}
