// Residual part of the IAPWS-95 Helmholtz energy, phi^r(delta, tau), with its
// first and second delta-derivatives, evaluated together.
//
// The temperature-dependent factors of every term are formed once per
// temperature (TauFactors), so that a density iteration at fixed T only
// re-evaluates the density-dependent factors. Integer powers are built by
// repeated multiplication and exp(-delta^c) is formed once per c.
#pragma once

#include <array>

#include "water/coefficients.h"

namespace tersolv::water {

// How terms 55-56 enter the delta-derivatives on their singular lines.
enum class NonAnalyticMode {
  // Pressure: terms 55-56 add nothing to the derivatives at tau = 1 exactly.
  kPressure,
  // Compressibility: included at tau = 1; only where Delta^b is 0 (the
  // critical point itself) do they add nothing.
  kCompressibility,
};

struct TauFactors {
  double Tau = 0;
  std::array<double, 7> Polynomial{};        // n tau^t, terms 1-7
  std::array<double, 44> Exponential{};      // n tau^t, terms 8-51
  std::array<double, 3> Gaussian{};          // n tau^t exp(-beta (tau - gamma)^2)
  std::array<double, 2> NonAnalyticPsiTau{};  // exp(-D (tau - 1)^2)
  double OneMinusTau = 0;
  double TauMinusOneSquared = 0;
};

struct ResidualDerivatives {
  double Phi = 0;     // phi^r
  double PhiD = 0;    // d phi^r / d delta
  double PhiDD = 0;   // d2 phi^r / d delta2
};

TauFactors MakeTauFactors(double tau);
ResidualDerivatives EvaluateResidual(const TauFactors& tf, double delta, NonAnalyticMode mode);

// Ideal-gas part phi°(delta, tau).
double IdealGasPhi(double delta, double tau);

// phi° + phi^r at (tau of tf, Rho), the same value as WaterModel::HelmholtzPhi.
double PhiAt(const TauFactors& tf, double Rho);
// Pressure (bar) and (dP/d rho)_T (bar cm3/g) at (T, Rho), tf made for T; the
// same values as WaterModel::WaterPressure.
void PressureAt(const TauFactors& tf, double T, double Rho, double& P, double& DPDRho);

// The terms of one phase in the conditions of phase equilibrium at (tau of
// tf, delta): the reduced pressure J = delta (1 + delta phi^r_delta) = P /
// (rho_c R T), its derivative dJ/d delta, and the reduced Gibbs energy K =
// phi^r + delta phi^r_delta + ln delta, without the part that depends on tau
// alone (equal in both phases).
struct PhaseTerms {
  double J = 0;
  double JD = 0;
  double K = 0;
};
PhaseTerms PhaseTermsAt(const TauFactors& tf, double delta);

}  // namespace tersolv::water
