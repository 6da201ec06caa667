// Gibbs energy of halite.
#include "nacl/halite.h"

#include <cmath>

#include "nacl/fp.h"

namespace tersolv::nacl {

double HaliteGibbsEnergy(double T, double P, const HaliteConstants& data) {
  if (!(T > 0)) detail::Fault("temperature not positive", "HaliteGibbsEnergy", T);
  ClearFaultFlags();
  constexpr double Tr = 298.15;
  // Integrals of Cp dT and Cp/T dT from Tr to T.
  const double h1 = data.A * (T - Tr) + (data.B / 2) * (T * T - Tr * Tr) +
                    (data.D / 3) * (T * T * T - Tr * Tr * Tr) - data.C * (1 / T - 1 / Tr);
  const double s1 = data.A * std::log(T / Tr) + data.B * (T - Tr) +
                    (data.D / 2) * (T * T - Tr * Tr) - (data.C / 2) * (1 / (T * T) - 1 / (Tr * Tr));
  const double g = data.G0 - data.S0 * (T - Tr) + h1 - T * s1 + data.V0 * (P - 1);
  return detail::Checked(g, "HaliteGibbsEnergy", T);
}

}  // namespace tersolv::nacl
