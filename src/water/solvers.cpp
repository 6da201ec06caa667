// Density of water at given temperature and pressure, the saturation
// pressure, and the treatment of the region around the critical point.
#include <cmath>
#include <exception>
#include <string>

#include "water/fp_scope.h"
#include "water/residual.h"
#include "water/water.h"

namespace tersolv::water {
namespace {

// Squared radius of the near-critical circle (T in K and P in bar in one
// distance). Slightly below 1.5^2, so that a point projected onto the circle
// of radius 1.5 lies outside it.
constexpr double kNearCriticalRadiusSquared = 2.249999999999;
constexpr double kNearCriticalRadius = 1.5;
// Stability factor: P counts as below saturation when P < 0.9999999 Psat.
constexpr double kStabilityFactor = 0.9999999;
constexpr int kMaxNewtonSteps = 100;
// Newton steps of the saturation solution. From the auxiliary equations it
// takes 2 or 3, and more only within 2 K of the near-critical closed form; the
// cap only stops a sequence that cannot meet its tolerance, with
// FloatingPointError.
constexpr int kMaxSaturationSteps = 100;

// Where the saturation line leaves the near-critical circle.
constexpr double kSaturationCircleDT = -0.5293962194590449;
constexpr double kSaturationCircleDP = -1.403474133294992;
constexpr double kSaturationCircleT = 646.566603780541;
constexpr double kCircleRhoVapour = 0.06175761207154601;
constexpr double kCircleRhoLiquid = 0.062312550893226015;

// Newton iteration of SolveDensity. On the liquid branch P(rho) is convex and
// on the vapour branch concave, so from the saturated liquid (vapour) density
// the iterates approach a root from one side without crossing it. An iterate
// where (dP/d rho)_T <= 0 has passed the spinodal into the mechanically
// unstable part of the two-phase region: the branch has no root at P (-3).
// Going on from there would end on a root of a loop of the equation inside the
// two-phase region, e.g. 0.343 g/cm3 for liquid at 324 C and 1 MPa.
double Newton(ResidualCache& cache, double T, double P, double RhoStart) {
  if (T <= 0 || P <= 0 || RhoStart <= 0) return -1;
  double rho = RhoStart;
  double p = 0;
  double dp = 0;
  PressureAt(cache, T, rho, p, dp);
  for (int k = 0;; ++k) {
    if (dp <= 0) return -3;
    if (k + 1 > kMaxNewtonSteps) return -4;
    if (std::fabs(p / P - 1.0) < 1e-12) return rho;
    const double next = rho + (P - p) / dp;
    if (next < 0.5 * rho) {
      rho = 0.5 * rho;
    } else if (next > 1.5 * rho) {
      rho = 1.5 * rho;
    } else if (std::fabs(next / rho - 1.0) <= 1e-12) {
      return next;
    } else {
      rho = next;
    }
    PressureAt(cache, T, rho, p, dp);
  }
}

// Whether a Newton sequence of quadratic convergence has met its tolerance
// after a step of relative size `step` that followed one of size `before`:
// the error left is then about step^3 / before^2, and 1e-15 of it is below
// what one more step could still change. Spares the step that would only
// confirm convergence (from the auxiliary equations, 2 steps instead of 3).
bool Converged(double step, double before) {
  return before > 0 && step <= 1e-6 && step * step * step <= 1e-15 * before * before;
}

// Densities of the near-critical closed form of the saturation line.
double NearCriticalSaturation(double T, double& RhoVapour, double& RhoLiquid) {
  const double psat = kCriticalPressure + (T - kCriticalTemperature) * kSaturationCircleDP / kSaturationCircleDT;
  const double dp = psat - kCriticalPressure;
  const double dt = T - kCriticalTemperature;
  const double r = std::sqrt(dp * dp + dt * dt);
  if (r <= 1e-12) {
    RhoVapour = kCriticalDensity;
    RhoLiquid = kCriticalDensity;
    return psat;
  }
  const double w = std::pow(r / kNearCriticalRadius, 2.0 / 9.0);
  RhoVapour = kCriticalDensity - kCircleRhoVapour * w;
  RhoLiquid = kCriticalDensity + kCircleRhoLiquid * w;
  return psat;
}

// Start values of the saturation iteration: the auxiliary equations of
// Wagner and Pruss (2002), eqs 2.5-2.7 (IAPWS R6-95, eqs 2.5-2.7), which
// reproduce the saturation pressure and the coexisting densities of the
// formulation to about 1e-4 relative, so that few Newton steps remain.
struct SaturationStart {
  double P = 0;          // bar
  double RhoVapour = 0;  // g/cm3
  double RhoLiquid = 0;  // g/cm3
};

SaturationStart AuxiliarySaturation(double T) {
  const double theta = 1.0 - T / kCriticalTemperature;
  const double t3 = std::cbrt(theta);  // theta^(1/3)
  const double t6 = std::sqrt(t3);     // theta^(1/6)
  const double sq = std::sqrt(theta);
  const double ln = (-7.85951783 * theta + 1.84408259 * theta * sq +
                     theta * theta * theta * (-11.7866497 + 22.6807411 * sq - 15.9618719 * theta) +
                     1.80122502 * std::pow(theta, 7.5)) *
                    kCriticalTemperature / T;
  const double liquid = 1.0 + 1.99274064 * t3 + 1.09965342 * t3 * t3 - 0.510839303 * theta * t3 * t3 -
                        1.75493479 * std::pow(t3, 16) - 45.5170352 * std::pow(t3, 43) -
                        6.74694450e5 * std::pow(t3, 110);
  const double vapour = -2.03150240 * t3 - 2.68302940 * t3 * t3 - 5.38626492 * theta * t3 -
                        17.2991605 * theta * theta * theta - 44.7586581 * std::pow(t6, 37) -
                        63.9201063 * std::pow(t6, 71);
  return {kCriticalPressure * std::exp(ln), kCriticalDensity * std::exp(vapour), kCriticalDensity * liquid};
}

// amp / (exp(hi) + exp(lo)) with lo = (center - L)/kLow and hi = (L - center)/kHigh,
// taken only when both are below 500. kHigh = 0 is taken as its limit kHigh -> 0+.
double BellTerm(double amp, double center, double L, double kLow, double kHigh) {
  const double lo = (center - L) / kLow;
  if (!(lo < 500)) return 0;
  if (kHigh == 0) {
    if (L > center) return 0;                   // hi -> +infinity
    if (L < center) return amp / std::exp(lo);  // hi -> -infinity
    return amp / (1.0 + std::exp(lo));          // hi = 0
  }
  const double hi = (L - center) / kHigh;
  if (!(hi < 500)) return 0;
  return amp / (std::exp(hi) + std::exp(lo));
}

// Puts the busy marker back if an exception leaves a top-level WaterDensity,
// so that a trapped fault does not leave the cache marked busy for good.
class BusyGuard {
 public:
  BusyGuard(WaterState& state, bool armed) : state_(state), armed_(armed), exceptions_(std::uncaught_exceptions()) {}
  ~BusyGuard() {
    if (armed_ && std::uncaught_exceptions() > exceptions_ && state_.CachedPhase == kBusyPhase) {
      state_.CachedPhase = kStablePhase;
      state_.Density = 0;
    }
  }
  BusyGuard(const BusyGuard&) = delete;
  BusyGuard& operator=(const BusyGuard&) = delete;

 private:
  WaterState& state_;
  bool armed_;
  int exceptions_;
};

}  // namespace

double WaterModel::SolveDensity(double T, double P, double RhoStart) const {
  if (T <= 0 || P <= 0 || RhoStart <= 0) return -1;
  FpScope fp("SolveDensity", "T", T, "P", P);
  return fp.Check(Newton(residuals_, T, P, RhoStart));
}

double WaterModel::WaterDensity(double T, double P, std::int16_t Phase) {
  if (Phase < 0 || Phase > 2 || T <= 0 || P <= 0) return 0;
  FpScope fp("WaterDensity", "T", T, "P", P);
  if (T >= kCriticalTemperature) Phase = kStablePhase;

  const bool nested = State.CachedPhase == kBusyPhase;
  if (!nested) {
    const bool sameKey = Phase == State.CachedPhase && T == State.Temperature && P == State.Pressure;
    if (sameKey && State.Density > 0 && densityEntry_.Phase == Phase && densityEntry_.T == T &&
        densityEntry_.P == P && densityEntry_.Density == State.Density) {
      return State.Density;
    }
    if (!sameKey) {
      State.Temperature = T;
      State.Pressure = P;
      State.Density = 0;
      State.SatPressure = 0;
    }
    State.CachedPhase = kBusyPhase;
  }
  BusyGuard guard(State, !nested);

  double result = 0;
  const double dt = T - kCriticalTemperature;
  const double dp = P - kCriticalPressure;
  if (dt * dt + dp * dp < kNearCriticalRadiusSquared) {
    result = NearCriticalDensity(dt, dp, Phase);
  } else {
    double psat = 0;
    double start = 0;
    bool solve = true;
    if (T >= kCriticalTemperature) {
      start = SupercriticalDensityGuess(T, P);
    } else {
      double rhoV = 0;
      double rhoL = 0;
      psat = SaturationPressure(T, rhoV, rhoL);
      State.SatPressure = psat;
      if (Phase == kStablePhase) {
        const double limit = kStabilityFactor * psat;
        Phase = P < limit ? kVapourPhase : kLiquidPhase;
      }
      if (Phase == kVapourPhase) {
        const double x = kCriticalTemperature - T;
        const double s =
            x * (0.0024485 +
                 x * (-3.62841e-5 + x * (7.03414e-7 + x * (-4.97442e-9 + x * (1.51243e-11 - 1.60632e-14 * x)))));
        const double vapourLimit = psat * std::exp(s);
        if (P > vapourLimit) {
          result = -5;
          solve = false;
        } else {
          const double f = x < 76.019 ? x * (0.0280014 + x * (-0.000463458 + 3.04967e-6 * x))
                                      : 0.08096 + x * (0.0120795 + x * (-4.45684e-5 + 1.10235e-7 * x));
          const double u = 5.92963 - std::log(P);
          const double w = 0.422284 / (u * u) + f - 6.50219;
          const double rho0 = std::exp(P * std::exp(w) - 1.529351) * P / T;
          start = rho0 > rhoV ? rhoV : rho0;
        }
      } else {
        start = rhoL;
      }
    }
    if (solve) {
      result = SolveDensity(T, P, start);
      State.Density = result;
      if (result > 0) State.SatPressure = psat;
    }
  }
  State.CachedPhase = Phase;
  if (!nested) densityEntry_ = {State.Temperature, State.Pressure, result, Phase};
  return fp.Check(result);
}

double WaterModel::NearCriticalDensity(double DT, double DP, std::int16_t Phase) {
  FpScope fp("NearCriticalDensity", "DT", DT, "DP", DP);
  const double r = std::sqrt(DT * DT + DP * DP);
  double result = kCriticalDensity;
  if (!(r < 1e-12)) {
    const double t1 = kCriticalTemperature + kNearCriticalRadius * DT / r;
    const double p1 = kCriticalPressure + kNearCriticalRadius * DP / r;
    const double rho1 = WaterDensity(t1, p1, Phase);
    if (rho1 <= 0) {
      result = rho1;
    } else {
      result = kCriticalDensity + std::pow(r / kNearCriticalRadius, 2.0 / 9.0) * (rho1 - kCriticalDensity);
    }
  }
  State.Density = result;
  return fp.Check(result);
}

double WaterModel::SupercriticalDensityGuess(double T, double P) const {
  FpScope fp("SupercriticalDensityGuess", "T", T, "P", P);
  const double x = T - kCriticalTemperature;
  const double L = std::log(P);
  const double c0 = 0.263728 * std::log(x + 63.39358) + 6.454242;
  const double w = 0.39322 / (x + 12.461) + 0.0001191 * x + 0.21982;
  const double L1 = 8.598859 - 0.0002670149 * x - 762.84 / (x + 235.15);
  const double L2 = 0.00467956 * x + 6.641726 - 49.9657 / (x + 56.399);
  const double s1 = 0.0212862 - 0.1825528 * std::log(std::exp(-0.01539974 * x) + 0.01058154);
  double k1 = 0;
  if (x < 79.706) {
    k1 = (1.369109e-5 * x + 0.001418103) * x + 0.63162;
  } else if (x < 376.688) {
    k1 = 149.268 / (491.914 - x) + 0.000895784 * x + 0.398114;
  } else {
    k1 = 1.23297 * std::exp(-std::pow(std::fabs(459.372 - x) / 111.818, 1.8)) + 1.34114;
  }
  double k2 = 0;
  if (x < 75.134) {
    k2 = 15.62843 / (x + 11.3829) + 0.001726848 * x + 0.128004;
  } else if (x < 274.633) {
    k2 = ((3.34077e-8 * x - 7.52341e-6) * x + 3.14283e-5) * x + 0.464329;
  } else if (x < 425.033) {
    k2 = ((1.3449e-7 * x - 0.000151218) * x + 0.05689564) * x - 6.408333;
  } else {
    k2 = (-8.24178e-7 * x + 0.000815708) * x + 0.585;
  }
  if (k2 < 0) k2 = 0;
  double k3 = 37.3884 / (x + 24.2735) + 0.935496 - k2;
  if (k3 < 0) k3 = 0;
  double k4 = 0;
  if (x < 170.21) {
    k4 = ((8.30302e-8 * x - 1.22889e-6) * x - 0.00700418) * x + 1.29063;
  } else if (x < 428.709) {
    k4 = ((-2.55893e-8 * x + 1.89927e-5) * x - 0.004512088) * x + 0.81623;
  } else {
    k4 = -0.00095087 * x + 0.76394;
  }
  if (k4 < 0) k4 = 0;
  double k5 = 0;
  if (x < 74.123) {
    k5 = ((2.4802e-6 * x - 0.000487585) * x + 0.02163833) * x + 1.42045;
  } else if (x < 376.08) {
    k5 = ((2.73944e-8 * x - 9.28973e-6) * x - 0.004941647) * x + 1.76168;
  } else {
    k5 = (1.3907e-6 * x - 0.00141414) * x + 0.3816;
  }
  if (k5 < 0) k5 = 0;

  double S = BellTerm(k5, L2, L, k1, k3);
  S += BellTerm(k4, L1, L, s1, k2);
  S = S + c0 - std::log(std::exp(-2.5 * w * (L - c0)) + std::exp(-2.5 * (L - c0))) / 2.5;
  return fp.Check(std::exp(S - 1.529351) / T);
}

double WaterModel::SaturationPressure(double T, double& RhoVapour, double& RhoLiquid) {
  if (T < 273.15 || T > kCriticalTemperature) return -1;
  FpScope fp("SaturationPressure", "T", T, nullptr, 0);
  if (T >= kSaturationCircleT) return fp.Check(NearCriticalSaturation(T, RhoVapour, RhoLiquid));

  if (saturationMemoOn_) {
    for (std::size_t i = 0; i < saturationMemoUsed_; ++i) {
      const SaturationEntry& e = saturationMemo_[i];
      if (e.T == T) {
        RhoVapour = e.RhoVapour;
        RhoLiquid = e.RhoLiquid;
        return e.Psat;
      }
    }
  }

  // Newton's method in the two reduced densities on the conditions of phase
  // equilibrium, equal pressure (J) and equal Gibbs energy (K) of the two
  // phases (Akasaka, J. Therm. Sci. Technol. 3 (2008) 442); dK/d delta is
  // (dJ/d delta) / delta, which gives the 2x2 solution below.
  const SaturationStart start = AuxiliarySaturation(T);
  double dV = start.RhoVapour / kCriticalDensity;
  double dL = start.RhoLiquid / kCriticalDensity;
  double lastV = 0, lastL = 0;  // the relative steps before
  for (int step = 1;; ++step) {
    const PhaseTerms v = PhaseTermsAt(residuals_, T, dV);
    const PhaseTerms l = PhaseTermsAt(residuals_, T, dL);
    const double dJ = l.J - v.J;
    const double dK = l.K - v.K;
    const double spread = 1.0 / dV - 1.0 / dL;
    const double stepV = fp.Check((dK - dJ / dL) / (v.JD * spread));
    const double stepL = fp.Check((dK - dJ / dV) / (l.JD * spread));
    dV += stepV;
    dL += stepL;
    if (!(dV > 0 && dL > 0)) return -2;
    if (dV >= dL) return -6;
    const double relV = std::fabs(stepV) / dV, relL = std::fabs(stepL) / dL;
    if (relV <= 1e-12 && relL <= 1e-12) break;
    if (Converged(relV, lastV) && Converged(relL, lastL)) break;
    lastV = relV;
    lastL = relL;
    if (step >= kMaxSaturationSteps) {
      throw FloatingPointError("SaturationPressure: no convergence within " +
                               std::to_string(kMaxSaturationSteps) + " steps at T = " + std::to_string(T) + " K");
    }
  }
  RhoVapour = dV * kCriticalDensity;
  RhoLiquid = dL * kCriticalDensity;
  // The pressure of the vapour, which unlike that of the liquid is well
  // conditioned in its density.
  double p = 0;
  double dp = 0;
  PressureAt(residuals_, T, RhoVapour, p, dp);
  fp.Check(p);
  RememberSaturation(T, p, RhoVapour, RhoLiquid);
  return p;
}

void WaterModel::RememberSaturation(double T, double Psat, double RhoVapour, double RhoLiquid) {
  if (!saturationMemoOn_) return;
  saturationMemo_[saturationMemoNext_] = {T, Psat, RhoVapour, RhoLiquid};
  saturationMemoNext_ = (saturationMemoNext_ + 1) % kSaturationMemoSize;
  if (saturationMemoUsed_ < kSaturationMemoSize) ++saturationMemoUsed_;
}

void WaterModel::SetSaturationMemo(bool enabled) {
  saturationMemoOn_ = enabled;
  saturationMemoUsed_ = 0;
  saturationMemoNext_ = 0;
}

}  // namespace tersolv::water
