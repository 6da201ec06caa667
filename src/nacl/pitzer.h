// Ion-interaction (Pitzer) activity model of the ternary solution water + NaCl
// + dissolved H2S.
//
// - PitzerParameters: beta0, beta1, Cphi of NaCl(aq) and their pressure
//   derivatives after Pitzer, Peiper and Busey (J. Phys. Chem. Ref. Data 13
//   (1984) 1).
// - The model equations: Debye-Hueckel slope A_phi, the ionic-strength
//   functions PitzerG, ArcherHGamma, ArcherH, the mean ionic activity
//   coefficient of NaCl (EvaluateNaClActivity), the activity coefficient of
//   dissolved H2S, the osmotic coefficient and the apparent molar volume of
//   NaCl. The NaCl parameters come from Archer's set (src/nacl/archer.h) when
//   NaClParameters::HaliteDataSet is true, else from PitzerParameters.
//
// Units: T in K, P in bar, molalities in mol per kg of water (the ionic
// strength of NaCl equals m_N), density g/cm3, volumes cm3/mol; logarithms
// are natural. Every function is pure; a pole (T = 227 K, 680 K for
// PitzerParameters; 228 K, 760 K for the H2S parameters) or a domain error
// (ln, sqrt of a negative number, epsilon T <= 0) raises
// tersolv::FloatingPointError, never NaN.
#pragma once

#include "nacl/archer.h"

namespace tersolv::nacl {

struct PitzerResults {
  double PitzerBeta0 = 0;    // kg/mol
  double PitzerBeta1 = 0;    // kg/mol
  double PitzerCphi = 0;     // kg2/mol2
  double PitzerBeta0DP = 0;  // (d beta0/d P)_T, kg/(mol bar)
  double PitzerBeta1DP = 0;  // (d beta1/d P)_T, kg/(mol bar)
  double PitzerCphiDP = 0;   // (d Cphi/d P)_T, kg2/(mol2 bar)
};

// Pitzer-Peiper-Busey parameters at T (K), P (bar). Beta1DP and Beta1DPT are
// two pressure coefficients of beta1 (kg/(mol bar) and kg K/(mol bar)); the
// calculation passes 0 and 0, which makes beta1 independent of pressure.
PitzerResults PitzerParameters(double T, double P, double Beta1DP = 0, double Beta1DPT = 0);

// Ionic-strength functions (x >= 0), dimensionless:
// PitzerG(x) = 2 (1 - (1 + x) e^-x) / x^2, 1 - 2x/3 for x <= 1e-5;
// ArcherHGamma(x) = (6 - (6 + 6x + 3x^2 + x^3 - x^4/2) e^-x) / x^4,
//   0.75 - 0.7x + x^2/30 for x <= 0.003;
// ArcherH(x) = (6 - (6 + 6x + 3x^2 + x^3) e^-x) / x^4,
//   (1 + x^2/6)(1 - x)/4 for x <= 0.003.
double PitzerG(double x);
double ArcherHGamma(double x);
double ArcherH(double x);

// The NaCl parameters in use for a point. HaliteDataSet true: Archer's set
// (ArcherParameters must have been evaluated for the point); false: the
// Pitzer-Peiper-Busey set.
struct NaClParameters {
  bool HaliteDataSet = true;
  PitzerResults Pitzer;
  ArcherResults Archer;
};

// Interaction parameters of dissolved H2S (H = H2S, N = NaCl), kg/mol and
// kg2/mol2.
struct H2SInteraction {
  double LambdaHH = 0;
  double MuHHH = 0;
  double LambdaHN = 0;
  double MuHNN = 0;
  double MuHHN = 0;
};
// lambda_HH = 10.7217529/(T - 228) - 0.20347938 - 0.03924548 T/(T - 760)
double LambdaHH(double T);
// lambda_HN = 3.5978933/(T - 228) - 0.02304063 T/(T - 760)
double LambdaHN(double T);
inline constexpr double kMuHHH = 0.004723812;
inline constexpr double kMuHNN = 0.0;
inline constexpr double kMuHHN = 0.002620349;
// H2S-H2S parameters only (lambda_HH, mu_HHH); the H2S-NaCl ones left 0.
H2SInteraction H2SSelfInteraction(double T);
// All five parameters.
H2SInteraction H2SInteractionParameters(double T);

// Debye-Hueckel osmotic slope, kg^0.5 mol^-0.5:
// A_phi = 1400608.2 sqrt(rho) / (epsilon T)^1.5, rho in g/cm3.
double DebyeHuckelAPhi(double Rho, double Epsilon, double T);

// Terms of the mean ionic activity coefficient of NaCl at one composition.
struct NaClActivity {
  double SqrtI = 0;      // sqrt(m_N), (mol/kg)^0.5
  double B = 0;          // beta0 + beta1 PitzerG(2 sqrt I)
  double Bphi = 0;       // beta0 + beta1 exp(-2 sqrt I)
  double Bgamma = 0;     // B + Bphi
  double Cgamma = 0;     // third-virial term of ln gamma+-
  double Cphi = 0;       // PitzerCphi (used by the osmotic coefficient, Pitzer set)
  double APhi = 0;       // Debye-Hueckel slope
  double LnGammaPM = 0;  // ln gamma+- of NaCl (molal scale)
};

// Mean ionic activity coefficient of NaCl in the ternary solution at m_N
// (NaCl) and m_H (H2S), water density Rho (g/cm3), temperature T (K) and
// dielectric constant Epsilon of water.
NaClActivity EvaluateNaClActivity(double MN, double MH, double Rho, double T, double Epsilon,
                                  const NaClParameters& params, const H2SInteraction& h2s);

// ln gamma of dissolved H2S (molal scale) at m(H2S) = MH, m(NaCl) = MN:
// 2 lambda_HH m_H + 3 mu_HHH m_H^2 + 2 lambda_HN m_N + 3 mu_HNN m_N^2
// + 6 mu_HHN m_H m_N. With MN = 0 this is the pure-water form.
double LnGammaH2S(double MH, double MN, const H2SInteraction& h2s);

// Osmotic coefficient of the ternary solution at (MN, MH), from the terms of
// EvaluateNaClActivity at the same composition. 1 when MN + MH = 0.
double OsmoticCoefficient(double MN, double MH, const NaClActivity& activity,
                          const NaClParameters& params, const H2SInteraction& h2s);

// Apparent molar volume of NaCl, cm3/mol, at m_N = MN (activity from
// EvaluateNaClActivity at the point's composition), from the water state
// (T in K, Epsilon, EpsilonDP = (d eps/d P)_T in 1/bar, Rho in g/cm3,
// RhoDP = (d rho/d P)_T in g/(cm3 bar)) and the standard volumes of Na+ and
// Cl- (HKFVolume, cm3/mol).
double ApparentMolarVolume(double MN, const NaClActivity& activity, double T, double Epsilon,
                           double EpsilonDP, double Rho, double RhoDP,
                           const NaClParameters& params, double VNa, double VCl);

}  // namespace tersolv::nacl
