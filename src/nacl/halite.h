// Gibbs energy of halite (solid NaCl) from its constants at 298.15 K and 1 bar,
// a heat capacity Cp = a + b T + c/T^2 + d T^2 and a constant molar volume, on
// the apparent-formation scale of the HKF ions (src/hkf/hkf.h).
//
// Units: T in K, P in bar, energies J/mol.
#pragma once

#include "core/fp.h"

namespace tersolv::nacl {

// The seven constants of solid NaCl, in the order the worksheet reader fills
// them.
struct HaliteConstants {
  double G0;  // Gibbs energy of formation at 298.15 K and 1 bar, J/mol
  double S0;  // entropy at 298.15 K and 1 bar, J/(mol K)
  double V0;  // molar volume, J/bar
  double A;   // heat-capacity coefficient a, J/(mol K)
  double B;   // heat-capacity coefficient b, J/(mol K2)
  double C;   // heat-capacity coefficient c (term c/T^2), J K/mol
  double D;   // heat-capacity coefficient d (term d T^2), J/(mol K3)
};

inline constexpr HaliteConstants HaliteData{-384160.0, 72.132, 2.7015, 44.6, 0.032, 0.0, 0.0};

// Gibbs energy of halite at T (K) and P (bar), J/mol. Raises
// tersolv::FloatingPointError for T <= 0.
double HaliteGibbsEnergy(double T, double P, const HaliteConstants& data = HaliteData);

}  // namespace tersolv::nacl
