// Ion-interaction activity model of water + NaCl + H2S.
#include "nacl/pitzer.h"

#include <array>
#include <cmath>

#include "core/constants.h"
#include "nacl/fp.h"

namespace tersolv::nacl {
namespace {

// Pitzer, Peiper and Busey, J. Phys. Chem. Ref. Data 13 (1984) 1, NaCl(aq):
// q1..q37 (T in K, P in bar); q1..q21 beta0, q22..q25 beta1, q26..q37 Cphi.
constexpr std::array<double, 37> kQ{
    -656.81518,     24.869130,      5.3812753e-5,   -5.5887470e-8,  6.5893263e-12,
    -4.4640952,     1.1109914e-2,   -2.6573399e-7,  1.7460070e-10,  1.0462619e-14,
    -5.3070129e-6,  8.6340233e-10,  -4.1785962e-13, -1.5793660,     2.2022821e-3,
    -1.3105503e-7,  -6.3813683e-11, 9.7065780,      -2.6860396e-2,  1.5344744e-5,
    -3.2153983e-9,  119.31966,      -0.48309327,    1.4068095e-3,   -4.2345814,
    -6.1084589,     0.40217793,     2.2902837e-5,   -0.075354649,   1.5317673e-4,
    -9.0550901e-8,  -1.5386008e-8,  8.6926600e-11,  0.35310414,     -4.3314252e-4,
    -9.1871455e-2,  5.1904777e-4};
static_assert(kQ.size() == 37);

// q(i) with the published 1-based numbering.
constexpr double q(int i) { return kQ[static_cast<std::size_t>(i - 1)]; }

constexpr double kB = 1.2;         // b of the Debye-Hueckel term, kg^0.5 mol^-0.5
constexpr double kAlpha1 = 2;      // alpha of beta1
constexpr double kAlpha2 = 2.5;    // alpha of the ionic-strength dependent third virial term

void CheckMolality(double m, const char* routine, double T) {
  if (!(m >= 0) || !std::isfinite(m)) detail::Fault("negative or invalid molality", routine, T);
}

}  // namespace

PitzerResults PitzerParameters(double T, double P, double Beta1DP, double Beta1DPT) {
  if (T == 227 || T == 680) detail::Fault("division by zero (pole)", "PitzerParameters", T);
  if (!(T > 0)) detail::Fault("logarithm of a non-positive temperature", "PitzerParameters", T);
  ClearFaultFlags();
  const double lnT = std::log(T);
  const double a = T - 227;
  const double c = 680 - T;
  const double P2 = P * P;
  const double P3 = P2 * P;
  PitzerResults r;
  r.PitzerBeta0 = q(1) / T + q(2) + q(3) * P + q(4) * P2 + q(5) * P3 + q(6) * lnT +
                  T * (q(7) + q(8) * P + q(9) * P2 + q(10) * P3) +
                  T * T * (q(11) + q(12) * P + q(13) * P2) +
                  (q(14) + q(15) * P + q(16) * P2 + q(17) * P3) / a +
                  (q(18) + q(19) * P + q(20) * P2 + q(21) * P3) / c;
  r.PitzerBeta1 = q(22) / T + q(23) + q(24) * T + q(25) / a + Beta1DP * P + Beta1DPT * P / a;
  r.PitzerCphi = q(26) / T + q(27) + q(28) * P + q(29) * lnT + T * (q(30) + q(31) * P) +
                 T * T * (q(32) + q(33) * P) + (q(34) + q(35) * P) / a + (q(36) + q(37) * P) / c;
  r.PitzerBeta0DP = q(3) + 2 * q(4) * P + 3 * q(5) * P2 + T * (q(8) + 2 * q(9) * P + 3 * q(10) * P2) +
                    T * T * (q(12) + 2 * q(13) * P) + (q(15) + 2 * q(16) * P + 3 * q(17) * P2) / a +
                    (q(19) + 2 * q(20) * P + 3 * q(21) * P2) / c;
  r.PitzerBeta1DP = Beta1DP + Beta1DPT / a;
  r.PitzerCphiDP = q(28) + q(31) * T + q(33) * T * T + q(35) / a + q(37) / c;
  detail::Checked(r.PitzerBeta0 + r.PitzerBeta1 + r.PitzerCphi + r.PitzerBeta0DP +
                      r.PitzerBeta1DP + r.PitzerCphiDP,
                  "PitzerParameters", T);
  return r;
}

double PitzerG(double x) {
  if (!(x >= 0) || !std::isfinite(x)) detail::Fault("negative or invalid argument", "PitzerG", x);
  if (x <= 1e-5) return 1 - 2 * x / 3;
  return 2 * (1 - (1 + x) * std::exp(-x)) / (x * x);
}

double ArcherHGamma(double x) {
  if (!(x >= 0) || !std::isfinite(x)) {
    detail::Fault("negative or invalid argument", "ArcherHGamma", x);
  }
  if (x <= 0.003) return 0.75 - 0.7 * x + x * x / 30;
  const double x2 = x * x;
  const double x4 = x2 * x2;
  return (6 - (6 + 6 * x + 3 * x2 + x2 * x - x4 / 2) * std::exp(-x)) / x4;
}

double ArcherH(double x) {
  if (!(x >= 0) || !std::isfinite(x)) detail::Fault("negative or invalid argument", "ArcherH", x);
  if (x <= 0.003) return (1 + x * x / 6) * (1 - x) / 4;
  const double x2 = x * x;
  const double x4 = x2 * x2;
  return (6 - (6 + 6 * x + 3 * x2 + x2 * x) * std::exp(-x)) / x4;
}

double LambdaHH(double T) {
  if (T == 228 || T == 760) detail::Fault("division by zero (pole)", "LambdaHH", T);
  ClearFaultFlags();
  return detail::Checked(10.7217529 / (T - 228) - 0.20347938 - 0.03924548 * T / (T - 760),
                         "LambdaHH", T);
}

double LambdaHN(double T) {
  if (T == 228 || T == 760) detail::Fault("division by zero (pole)", "LambdaHN", T);
  ClearFaultFlags();
  return detail::Checked(3.5978933 / (T - 228) - 0.02304063 * T / (T - 760), "LambdaHN", T);
}

H2SInteraction H2SSelfInteraction(double T) {
  H2SInteraction h;
  h.LambdaHH = LambdaHH(T);
  h.MuHHH = kMuHHH;
  return h;
}

H2SInteraction H2SInteractionParameters(double T) {
  H2SInteraction h = H2SSelfInteraction(T);
  h.LambdaHN = LambdaHN(T);
  h.MuHNN = kMuHNN;
  h.MuHHN = kMuHHN;
  return h;
}

double DebyeHuckelAPhi(double Rho, double Epsilon, double T) {
  if (!(Rho >= 0)) detail::Fault("negative water density", "DebyeHuckelAPhi", T);
  if (!(Epsilon * T > 0)) detail::Fault("epsilon T not positive", "DebyeHuckelAPhi", T);
  ClearFaultFlags();
  return detail::Checked(1400608.2 * std::sqrt(Rho) / std::pow(Epsilon * T, 1.5),
                         "DebyeHuckelAPhi", T);
}

NaClActivity EvaluateNaClActivity(double MN, double MH, double Rho, double T, double Epsilon,
                                  const NaClParameters& params, const H2SInteraction& h2s) {
  CheckMolality(MN, "EvaluateNaClActivity", T);
  CheckMolality(MH, "EvaluateNaClActivity", T);
  NaClActivity a;
  a.APhi = DebyeHuckelAPhi(Rho, Epsilon, T);
  ClearFaultFlags();
  const double s = std::sqrt(MN);
  const double beta0 = params.HaliteDataSet ? params.Archer.ArcherBeta0 : params.Pitzer.PitzerBeta0;
  const double beta1 = params.HaliteDataSet ? params.Archer.ArcherBeta1 : params.Pitzer.PitzerBeta1;
  a.SqrtI = s;
  a.B = beta0 + beta1 * PitzerG(kAlpha1 * s);
  a.Bphi = beta0 + beta1 * std::exp(-kAlpha1 * s);
  a.Bgamma = a.B + a.Bphi;
  a.Cphi = params.Pitzer.PitzerCphi;
  a.Cgamma = params.HaliteDataSet
                 ? 3 * params.Archer.ArcherC0 + 4 * params.Archer.ArcherC1 * ArcherHGamma(kAlpha2 * s)
                 : 1.5 * params.Pitzer.PitzerCphi;
  const double fGamma = -a.APhi * (s / (1 + kB * s) + (2 / kB) * std::log(1 + kB * s));
  a.LnGammaPM = fGamma + MN * a.Bgamma + MN * MN * a.Cgamma + 2 * MH * h2s.LambdaHN +
                3 * MH * MN * h2s.MuHNN + 1.5 * MH * MH * h2s.MuHHN;
  detail::Checked(a.LnGammaPM + a.Bgamma + a.Cgamma, "EvaluateNaClActivity", T);
  return a;
}

double LnGammaH2S(double MH, double MN, const H2SInteraction& h2s) {
  ClearFaultFlags();
  const double value = 2 * h2s.LambdaHH * MH + 3 * h2s.MuHHH * MH * MH + 2 * h2s.LambdaHN * MN +
                       3 * h2s.MuHNN * MN * MN + 6 * h2s.MuHHN * MH * MN;
  return detail::Checked(value, "LnGammaH2S", 0);
}

double OsmoticCoefficient(double MN, double MH, const NaClActivity& activity,
                          const NaClParameters& params, const H2SInteraction& h2s) {
  CheckMolality(MN, "OsmoticCoefficient", 0);
  CheckMolality(MH, "OsmoticCoefficient", 0);
  if (!(MH + MN > 0)) return 1;
  ClearFaultFlags();
  const double s = activity.SqrtI;
  const double fPhi = -activity.APhi * s / (1 + kB * s);
  double sum = 2 * fPhi * MN + h2s.LambdaHH * MH * MH + 2 * h2s.MuHHH * MH * MH * MH +
               4 * h2s.LambdaHN * MH * MN + 2 * activity.Bphi * MN * MN +
               6 * h2s.MuHHN * MH * MH * MN + 6 * h2s.MuHNN * MH * MN * MN;
  const double mN3 = MN * MN * MN;
  if (params.HaliteDataSet) {
    sum += mN3 * 4 * (params.Archer.ArcherC0 + params.Archer.ArcherC1 * std::exp(-kAlpha2 * s));
  } else {
    sum += mN3 * 2 * activity.Cphi;
  }
  return detail::Checked(1 + sum / (2 * MN + MH), "OsmoticCoefficient", 0);
}

double ApparentMolarVolume(double MN, const NaClActivity& activity, double T, double Epsilon,
                           double EpsilonDP, double Rho, double RhoDP,
                           const NaClParameters& params, double VNa, double VCl) {
  CheckMolality(MN, "ApparentMolarVolume", T);
  if (!(Epsilon != 0 && Rho != 0)) {
    detail::Fault("division by zero (epsilon or density 0)", "ApparentMolarVolume", T);
  }
  ClearFaultFlags();
  const double s = activity.SqrtI;
  const double RT = kGasConstant * T;
  const double aV = 2 * activity.APhi * RT * (3 * EpsilonDP / Epsilon - RhoDP / Rho) * 10;
  double bV = 0;
  double cV = 0;
  if (params.HaliteDataSet) {
    // Archer's derivatives are per MPa.
    bV = 0.1 * (params.Archer.ArcherBeta0DP + params.Archer.ArcherBeta1DP * PitzerG(kAlpha1 * s));
    cV = 0.1 * (params.Archer.ArcherC0DP + 4 * params.Archer.ArcherC1DP * ArcherH(kAlpha2 * s));
  } else {
    bV = params.Pitzer.PitzerBeta0DP + params.Pitzer.PitzerBeta1DP * PitzerG(kAlpha1 * s);
    cV = params.Pitzer.PitzerCphiDP / 2;
  }
  const double v = aV * std::log(1 + kB * s) / kB + 2 * RT * (MN * bV + MN * MN * cV) * 10 + VNa + VCl;
  return detail::Checked(v, "ApparentMolarVolume", T);
}

}  // namespace tersolv::nacl
