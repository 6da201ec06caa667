// IAPWS-95 Helmholtz energy of water and the pressure and compressibility
// that follow from it.
#include <cmath>

#include "water/fp_scope.h"
#include "water/residual.h"
#include "water/water.h"

namespace tersolv::water {
namespace {

// bar cm3/(g K): rho [g/cm3] x T [K] x R [J/(g K)] gives MPa; x 10 gives bar.
constexpr double kPressureFactor = 4.6151805;

// A non-analytic term whose factor psi = exp(-C (delta-1)^2 - D (tau-1)^2) is
// below exp(-69) ~ 1e-30 adds less than 1e-25 of any of the sums (its other
// factors stay below ~1e5 there): it is not evaluated.
constexpr double kNegligibleExponent = 69.0;

// Factors of the non-analytic terms that depend on delta and tau together.
struct DistanceFunction {
  double Delta = 0;    // Delta = theta^2 + B ((delta - 1)^2)^a
  double DeltaD = 0;   // d Delta / d delta
  double DeltaDD = 0;  // d2 Delta / d delta2
};

DistanceFunction MakeDistance(const coef::NonAnalyticTerm& c, double oneMinusTau, double dm1, double x) {
  DistanceFunction f;
  if (x == 0) {  // on delta = 1 the delta-derivatives of Delta are taken as 0
    f.Delta = oneMinusTau * oneMinusTau;
    return f;
  }
  const double px = std::pow(x, 1.0 / (2.0 * c.Beta));  // ((delta-1)^2)^(1/(2 beta))
  const double xa = std::pow(x, c.A);                   // ((delta-1)^2)^a
  const double theta = oneMinusTau + c.AA * px;
  f.Delta = theta * theta + c.BB * xa;
  const double pxOverX = px / x;
  f.DeltaD = dm1 * (c.AA * theta * (2.0 / c.Beta) * pxOverX + 2.0 * c.BB * c.A * xa / x);
  f.DeltaDD = f.DeltaD / dm1 +
              x * (4.0 * c.BB * c.A * (c.A - 1.0) * xa / (x * x) +
                   2.0 * c.AA * c.AA * (1.0 / (c.Beta * c.Beta)) * pxOverX * pxOverX +
                   c.AA * theta * (4.0 / c.Beta) * (1.0 / (2.0 * c.Beta) - 1.0) * pxOverX / x);
  return f;
}

constexpr bool SameDistance(const coef::NonAnalyticTerm& a, const coef::NonAnalyticTerm& b) {
  return a.A == b.A && a.BB == b.BB && a.AA == b.AA && a.Beta == b.Beta;
}

// 1 + 2 delta phi_d + delta^2 phi_dd.
double CompressibilityFactor(const ResidualDerivatives& r, double delta) {
  return 1.0 + 2.0 * delta * r.PhiD + delta * delta * r.PhiDD;
}

}  // namespace

TauFactors MakeTauFactors(double tau) {
  TauFactors tf;
  tf.Tau = tau;
  // tau^(k/8), k = 0..8
  const double s = std::sqrt(tau);
  const double q = std::sqrt(s);
  const double e = std::sqrt(q);
  const std::array<double, 9> eighths = {1.0, e, q, q * e, s, s * e, s * q, s * q * e, tau};
  for (std::size_t i = 0; i < coef::kPolynomial.size(); ++i) {
    const int k = coef::kPolynomial[i].T8;
    const double p = k >= 0 ? eighths[static_cast<std::size_t>(k)] : 1.0 / eighths[static_cast<std::size_t>(-k)];
    tf.Polynomial[i] = coef::kPolynomial[i].N * p;
  }
  // tau^k, k = 0..50, by squaring (few roundings even for k = 50)
  std::array<double, 51> tp{};
  tp[0] = 1.0;
  tp[1] = tau;
  for (std::size_t k = 2; k < tp.size(); ++k) {
    tp[k] = (k % 2 == 0) ? tp[k / 2] * tp[k / 2] : tp[k - 1] * tau;
  }
  for (std::size_t i = 0; i < coef::kExponential.size(); ++i) {
    tf.Exponential[i] = coef::kExponential[i].N * tp[static_cast<std::size_t>(coef::kExponential[i].T)];
  }
  for (std::size_t i = 0; i < coef::kGaussian.size(); ++i) {
    const auto& g = coef::kGaussian[i];
    const double dt = tau - static_cast<double>(g.Gamma);
    tf.Gaussian[i] = g.N * tp[static_cast<std::size_t>(g.T)] * std::exp(-g.Beta * dt * dt);
  }
  tf.OneMinusTau = 1.0 - tau;
  tf.TauMinusOneSquared = (tau - 1.0) * (tau - 1.0);
  for (std::size_t i = 0; i < coef::kNonAnalytic.size(); ++i) {
    tf.NonAnalyticPsiTau[i] = std::exp(-coef::kNonAnalytic[i].D * tf.TauMinusOneSquared);
  }
  return tf;
}

ResidualDerivatives EvaluateResidual(const TauFactors& tf, double delta, NonAnalyticMode mode) {
  // delta^k, k = 0..15
  std::array<double, 16> dp{};
  dp[0] = 1.0;
  for (std::size_t k = 1; k < dp.size(); ++k) dp[k] = dp[k - 1] * delta;
  // exp(-delta^c) for the c that occur (1, 2, 3, 4, 6)
  std::array<double, 7> ec{};
  for (int c : {1, 2, 3, 4, 6}) ec[static_cast<std::size_t>(c)] = std::exp(-dp[static_cast<std::size_t>(c)]);

  // Terms 1-51 in two interleaved partial sums, which halves the chain of
  // dependent additions that a density iteration waits on.
  std::array<double, 2> phiPart{}, sdPart{}, sddPart{};  // phi, delta phi_d, delta^2 phi_dd
#pragma GCC unroll 8
  for (std::size_t i = 0; i < coef::kPolynomial.size(); ++i) {
    const double d = coef::kPolynomial[i].D;
    const double base = tf.Polynomial[i] * dp[static_cast<std::size_t>(coef::kPolynomial[i].D)];
    phiPart[i % 2] += base;
    sdPart[i % 2] += base * d;
    sddPart[i % 2] += base * d * (d - 1.0);
  }
#pragma GCC unroll 44
  for (std::size_t i = 0; i < coef::kExponential.size(); ++i) {
    const auto& t = coef::kExponential[i];
    const auto c = static_cast<std::size_t>(t.C);
    const double d = t.D;
    const double cd = t.C * dp[c];
    const double base = tf.Exponential[i] * dp[static_cast<std::size_t>(t.D)] * ec[c];
    const std::size_t part = (coef::kPolynomial.size() + i) % 2;  // the alternation goes on from terms 1-7
    phiPart[part] += base;
    sdPart[part] += base * (d - cd);
    sddPart[part] += base * ((d - cd) * (d - 1.0 - cd) - t.C * cd);
  }
  double phi = phiPart[0] + phiPart[1];
  double sd = sdPart[0] + sdPart[1];    // delta * phi_d of terms 1-54
  double sdd = sddPart[0] + sddPart[1];  // delta^2 * phi_dd of terms 1-54
  double gaussDelta = 0;
  for (std::size_t i = 0; i < coef::kGaussian.size(); ++i) {
    const auto& g = coef::kGaussian[i];
    const double de = delta - g.Epsilon;
    if (i == 0 || g.Alpha != coef::kGaussian[i - 1].Alpha || g.Epsilon != coef::kGaussian[i - 1].Epsilon) {
      gaussDelta = std::exp(-g.Alpha * de * de);
    }
    const double d = g.D;
    const double a = g.Alpha;
    const double base = tf.Gaussian[i] * dp[static_cast<std::size_t>(g.D)] * gaussDelta;
    phi += base;
    sd += base * (d - 2.0 * a * delta * de);
    sdd += base * (-2.0 * a * delta * delta + 4.0 * a * a * delta * delta * de * de - 4.0 * d * a * delta * de +
                   d * (d - 1.0));
  }
  ResidualDerivatives r;
  r.PhiD = sd / delta;
  r.PhiDD = sdd / (delta * delta);

  const double dm1 = delta - 1.0;
  const double x = dm1 * dm1;
  DistanceFunction dist;
  const coef::NonAnalyticTerm* distOf = nullptr;  // the term whose Delta `dist` holds
  for (std::size_t i = 0; i < coef::kNonAnalytic.size(); ++i) {
    const auto& c = coef::kNonAnalytic[i];
    // Away from the critical point psi is below exp(-69) ~ 1e-30 and the
    // term cannot change a sum in double precision: skip its powers.
    if (c.C * x + c.D * tf.TauMinusOneSquared > kNegligibleExponent) continue;
    if (distOf == nullptr || !SameDistance(c, *distOf)) {
      dist = MakeDistance(c, tf.OneMinusTau, dm1, x);
      distOf = &c;
    }
    const double psi = std::exp(-c.C * x) * tf.NonAnalyticPsiTau[i];
    const double db = std::pow(dist.Delta, c.B);
    phi += c.N * db * delta * psi;
    const bool skip = mode == NonAnalyticMode::kPressure ? tf.TauMinusOneSquared == 0 : db == 0;
    if (skip) continue;
    const double psiD = -2.0 * c.C * dm1 * psi;
    const double psiDD = (2.0 * c.C * x - 1.0) * 2.0 * c.C * psi;
    const double dbOverDelta = db / dist.Delta;
    const double dbD = c.B * dbOverDelta * dist.DeltaD;
    const double dbDD =
        c.B * (dbOverDelta * dist.DeltaDD + (c.B - 1.0) * dbOverDelta / dist.Delta * dist.DeltaD * dist.DeltaD);
    r.PhiD += c.N * (db * (psi + delta * psiD) + dbD * delta * psi);
    r.PhiDD += c.N * (db * (2.0 * psiD + delta * psiDD) + 2.0 * dbD * (psi + delta * psiD) + dbDD * delta * psi);
  }
  r.Phi = phi;
  return r;
}

double IdealGasPhi(double delta, double tau) {
  double phi = std::log(delta) + coef::kIdealN[0] + coef::kIdealN[1] * tau + coef::kIdealN[2] * std::log(tau);
  for (std::size_t i = 0; i < coef::kIdealGamma.size(); ++i) {
    phi += coef::kIdealN[i + 3] * std::log(1.0 - std::exp(-coef::kIdealGamma[i] * tau));
  }
  return phi;
}

const TauFactors& ResidualCache::Factors(double T) {
  if (T != factorsT_) {
    factorsT_ = 0;  // not valid should the evaluation fail
    factors_ = MakeTauFactors(kCriticalTemperature / T);
    factorsT_ = T;
  }
  return factors_;
}

ResidualDerivatives ResidualCache::At(double T, double delta, NonAnalyticMode mode) {
  const TauFactors& tf = Factors(T);
  // The two modes differ only on the critical isotherm.
  const bool sameMode = mode == residualMode_ || tf.TauMinusOneSquared != 0;
  if (T == residualT_ && delta == residualDelta_ && sameMode) return residual_;
  residualT_ = 0;
  residual_ = EvaluateResidual(tf, delta, mode);
  residualT_ = T;
  residualDelta_ = delta;
  residualMode_ = mode;
  return residual_;
}

double PhiAt(ResidualCache& cache, double T, double Rho) {
  const double delta = Rho / kCriticalDensity;
  return IdealGasPhi(delta, kCriticalTemperature / T) + cache.At(T, delta, NonAnalyticMode::kPressure).Phi;
}

void PressureAt(ResidualCache& cache, double T, double Rho, double& P, double& DPDRho) {
  const double delta = Rho / kCriticalDensity;
  const ResidualDerivatives r = cache.At(T, delta, NonAnalyticMode::kPressure);
  P = kPressureFactor * Rho * T * (1.0 + delta * r.PhiD);
  DPDRho = kPressureFactor * T * CompressibilityFactor(r, delta);
}

PhaseTerms PhaseTermsAt(ResidualCache& cache, double T, double delta) {
  const ResidualDerivatives r = cache.At(T, delta, NonAnalyticMode::kPressure);
  return {delta * (1.0 + delta * r.PhiD), CompressibilityFactor(r, delta), r.Phi + delta * r.PhiD + std::log(delta)};
}

double WaterModel::HelmholtzPhi(double T, double Rho) const {
  if (T <= 0 || Rho <= 0) return 0;
  FpScope fp("HelmholtzPhi", "T", T, "Rho", Rho);
  return fp.Check(PhiAt(residuals_, T, Rho));
}

std::int16_t WaterModel::WaterPressure(double T, double Rho, double& P, double& DPDRho) const {
  if (T <= 0 || Rho <= 0) return -1;
  FpScope fp("WaterPressure", "T", T, "Rho", Rho);
  double p = 0;
  double dp = 0;
  PressureAt(residuals_, T, Rho, p, dp);
  fp.Check(p);
  fp.Check(dp);
  P = p;
  if (DPDRho == -1) DPDRho = dp;
  return 0;
}

double WaterModel::DensityDerivative(double T, double Rho) const {
  FpScope fp("DensityDerivative", "T", T, "Rho", Rho);
  const double delta = Rho / kCriticalDensity;
  const ResidualDerivatives r = residuals_.At(T, delta, NonAnalyticMode::kCompressibility);
  return fp.Check(1.0 / (kPressureFactor * T * CompressibilityFactor(r, delta)));
}

}  // namespace tersolv::water
