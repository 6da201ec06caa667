// Water model: lean residual against a plain evaluation, solvers, the density cache, the state record.
#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>

#include "water/real_water.h"
#include "water/residual.h"
#include "water/water.h"

namespace tersolv::water {
namespace {

using testing_water::WaterAt;

double PressureAt(double T, double rho) {
  double P = 0, dPdRho = -1;
  return WaterModel().WaterPressure(T, rho, P, dPdRho) == 0 ? P : -1;
}

// phi^r and its delta-derivatives term by term as in IAPWS-95 (Table 4), with std::pow for every power.
ResidualDerivatives PlainResidual(double delta, double tau, bool withNonAnalytic) {
  ResidualDerivatives r;
  const auto power = [&](double n, double d, double t, double c) {  // n delta^d tau^t exp(-delta^c), c = 0: no exp
    const double e = c == 0 ? 1 : std::exp(-std::pow(delta, c)), dc = c == 0 ? 0 : c * std::pow(delta, c);
    r.Phi += n * std::pow(delta, d) * std::pow(tau, t) * e;
    r.PhiD += n * e * std::pow(delta, d - 1) * std::pow(tau, t) * (d - dc);
    r.PhiDD += n * e * std::pow(delta, d - 2) * std::pow(tau, t) * ((d - dc) * (d - 1 - dc) - c * dc);
  };
  for (const auto& t : coef::kPolynomial) power(t.N, t.D, t.T8 / 8.0, 0);
  for (const auto& t : coef::kExponential) power(t.N, t.D, t.T, t.C);
  for (const auto& t : coef::kGaussian) {
    const double de = delta - t.Epsilon, g = t.D / delta - 2 * t.Alpha * de;  // g: d ln(term) / d delta
    const double f = t.N * std::pow(tau, t.T) * std::pow(delta, t.D) *
                     std::exp(-t.Alpha * std::pow(de, 2) - t.Beta * std::pow(tau - static_cast<double>(t.Gamma), 2));
    r.Phi += f;
    r.PhiD += f * g;
    r.PhiDD += f * (g * g - t.D / (delta * delta) - 2 * t.Alpha);
  }
  for (const auto& t : coef::kNonAnalytic) {
    const double x = std::pow(delta - 1, 2), e = 1 / (2 * t.Beta);
    const double theta = (1 - tau) + t.AA * std::pow(x, e), D = theta * theta + t.BB * std::pow(x, t.A);
    const double psi = std::exp(-t.C * x - t.D * std::pow(tau - 1, 2));
    const double psiD = -2 * t.C * (delta - 1) * psi, psiDD = (2 * t.C * x - 1) * 2 * t.C * psi;
    const double dD =
        (delta - 1) * (t.AA * theta * 2 / t.Beta * std::pow(x, e - 1) + 2 * t.BB * t.A * std::pow(x, t.A - 1));
    const double dDD = dD / (delta - 1) + x * (4 * t.BB * t.A * (t.A - 1) * std::pow(x, t.A - 2) +
                                               2 * std::pow(t.AA / t.Beta, 2) * std::pow(std::pow(x, e - 1), 2) +
                                               t.AA * theta * 4 / t.Beta * (e - 1) * std::pow(x, e - 2));
    const double db = std::pow(D, t.B), dbD = t.B * std::pow(D, t.B - 1) * dD;
    const double dbDD = t.B * (std::pow(D, t.B - 1) * dDD + (t.B - 1) * std::pow(D, t.B - 2) * dD * dD);
    r.Phi += t.N * db * delta * psi;
    if (!withNonAnalytic) continue;
    r.PhiD += t.N * (db * (psi + delta * psiD) + dbD * delta * psi);
    r.PhiDD += t.N * (db * (2 * psiD + delta * psiDD) + 2 * dbD * (psi + delta * psiD) + dbDD * delta * psi);
  }
  return r;
}

// On tau = 1 the pressure leaves terms 55-56 out of the delta-derivatives; the compressibility keeps them (not at
// the critical point). On delta = 1 all stays finite.
TEST(Residual, LeanEvaluationMatchesPlainFormulaAndSingularLines) {
  for (double T : {273.16, 300.0, 450.0, 600.0, 640.0, 646.0, kCriticalTemperature, 650.0, 700.0, 900.0, 1073.0}) {
    for (double rho : {1e-5, 0.01, 0.2, 0.31, 0.33, 0.5, 0.8, 1.0, 1.2}) {
      SCOPED_TRACE(testing::Message() << T << " K, " << rho << " g/cm3");
      const double delta = rho / kCriticalDensity, tau = kCriticalTemperature / T;
      const ResidualDerivatives lean = EvaluateResidual(MakeTauFactors(tau), delta, NonAnalyticMode::kPressure);
      const ResidualDerivatives plain = PlainResidual(delta, tau, tau != 1);
      // The two add the terms in other orders; in the cold liquid the sums
      // cancel to ~1/100 of their largest terms.
      EXPECT_NEAR(lean.Phi, plain.Phi, 1e-12 * std::fabs(plain.Phi));
      EXPECT_NEAR(lean.PhiD, plain.PhiD, 1e-12 * std::fabs(plain.PhiD));
      EXPECT_NEAR(lean.PhiDD, plain.PhiDD, 1e-12 * std::fabs(plain.PhiDD));
    }
  }
  double P = 0, dPdRho = -1;
  for (double rho : {0.2, 0.3, 0.35, 0.5}) {
    ASSERT_EQ(WaterModel().WaterPressure(kCriticalTemperature, rho, P, dPdRho = -1), 0);
    EXPECT_NE(WaterModel().DensityDerivative(kCriticalTemperature, rho), 1 / dPdRho) << rho;
  }
  ASSERT_EQ(WaterModel().WaterPressure(700, kCriticalDensity, P, dPdRho = -1), 0);
  EXPECT_GT(WaterModel().DensityDerivative(700, kCriticalDensity), 0);
}

TEST(Failures, CodesReturnedOutputsLeftAloneAndFaultsRaised) {
  WaterModel water;
  double P = 7, dPdRho = -1, rhoV = 9, rhoL = 9;
  EXPECT_TRUE(water.WaterPressure(0, 1, P, dPdRho) == -1 && water.WaterPressure(300, -0.5, P, dPdRho) == -1);
  EXPECT_TRUE(water.SaturationPressure(272, rhoV, rhoL) == -1 && water.SaturationPressure(650, rhoV, rhoL) == -1);
  EXPECT_TRUE(water.HelmholtzPhi(300, -1) == 0 && P == 7 && dPdRho == -1 && rhoV == 9 && rhoL == 9);
  ASSERT_EQ(water.WaterPressure(300, 1, P, dPdRho = 5), 0);
  EXPECT_EQ(dPdRho, 5);  // a derivative not asked for stays as it was
  const struct { double T, P, RhoStart, Code; const char* Label; } rows[] = {
      {0, 1, 1, -1, "T <= 0"},
      {300, 0, 1, -1, "P <= 0"},
      {300, 1, 0, -1, "start <= 0"},
      {500, 20, 0.1, -3, "unstable start, dP/drho < 0"},
      {500, 1000, 1e-20, -4, "more than 100 steps of at most x1.5"},
      {500, 1000, 1e-3, -3, "past the vapour spinodal into the two-phase region"},
      {597.15, 10, 0.66, -3, "liquid below its spinodal (324 C, 1 MPa): not a root of a loop inside"},
  };
  for (const auto& r : rows) EXPECT_EQ(water.SolveDensity(r.T, r.P, r.RhoStart), r.Code) << r.Label;
  for (std::int16_t phase : {-1, 3}) EXPECT_EQ(water.WaterDensity(300, 1, phase), 0);
  EXPECT_TRUE(water.WaterDensity(0, 1, 2) == 0 && water.WaterDensity(300, 0, 2) == 0 && water.State.Temperature == 0);
  // Below the triple point: -1 (-5 on the vapour branch), stored as the failure code, never a cache hit.
  EXPECT_EQ(water.WaterDensity(273.0, 1, kLiquidPhase), -1);
  EXPECT_TRUE(water.State.Density == -1 && water.State.SatPressure == -1);
  EXPECT_EQ(water.WaterDensity(273.0, 1, kVapourPhase), -5);
  EXPECT_EQ(water.WaterDensity(300, 1, kVapourPhase), -5);  // above the vapour limit Psat exp(s)
  EXPECT_EQ(water.State.Density, 0);
  EXPECT_THROW(water.WaterGibbsEnergy(300, 1, 0), FloatingPointError);           // P / 0
  EXPECT_THROW(water.IdealGasGibbsEnergy(0), FloatingPointError);                // 0 / 0 and ln 0
  EXPECT_NO_THROW(water.IdealGasGibbsEnergy(250));                               // failed vapour solve: no fault
  EXPECT_THROW(water.WaterProperties(228, 1, 1.0), FloatingPointError);          // (T/228 - 1)^-1.2
  EXPECT_THROW(water.WaterPressure(300, 1e30, P, dPdRho), FloatingPointError);  // delta^15 overflows
  std::feclearexcept(FE_ALL_EXCEPT);  // flags raised before are neither blamed on nor lost by a clean evaluation
  std::feraiseexcept(FE_OVERFLOW);
  EXPECT_NO_THROW(water.HelmholtzPhi(300, 1));
  EXPECT_NE(std::fetestexcept(FE_OVERFLOW), 0);
  std::feclearexcept(FE_ALL_EXCEPT);
}

TEST(NearCritical, CircleBoundAndSaturationClosedForm) {
  const double Tc = kCriticalTemperature, pc = kCriticalPressure;
  for (std::int16_t phase : {kStablePhase, kVapourPhase, kLiquidPhase})
    EXPECT_EQ(WaterModel().WaterDensity(Tc, pc, phase), kCriticalDensity);
  // Distance 1 above the critical point: scaled from the density solved on the circle of radius 1.5.
  const double onCircle = WaterModel().WaterDensity(Tc, pc + 1.5, kStablePhase);
  EXPECT_NEAR(PressureAt(Tc, onCircle) / (pc + 1.5), 1, 1e-10);
  WaterModel water;
  EXPECT_EQ(water.WaterDensity(Tc, pc + 1, kStablePhase),
            kCriticalDensity + std::pow(1 / 1.5, 2.0 / 9.0) * (onCircle - kCriticalDensity));
  EXPECT_TRUE(water.State.Pressure == pc + 1 && water.State.CachedPhase == kStablePhase);  // outer key kept
  // Just inside 1.5 but outside the bound 2.249999999999 on the squared distance: solved.
  const double P = pc + (1.5 - 1e-13);
  EXPECT_NEAR(PressureAt(Tc, WaterModel().WaterDensity(Tc, P, kStablePhase)) / P, 1, 1e-10);
  // Inside, below Tc on the liquid side: interpolated from the circle point at T1 < Tc.
  const double r = std::sqrt(2.0), rho1 = WaterModel().WaterDensity(Tc - 1.5 / r, pc - 1.5 / r, kLiquidPhase);
  WaterModel inner;
  EXPECT_EQ(inner.WaterDensity(Tc - 1, pc - 1, kLiquidPhase),
            kCriticalDensity + std::pow(r / 1.5, 2.0 / 9.0) * (rho1 - kCriticalDensity));
  EXPECT_GT(inner.State.SatPressure, 0);  // saturation pressure at T1, left by the nested evaluation
  WaterModel failing;  // a failure on the circle passes through: vapour above its limit
  EXPECT_EQ(failing.WaterDensity(Tc - 1, pc + 1, kVapourPhase), -5);
  EXPECT_TRUE(failing.State.Density == -5 && failing.State.CachedPhase == kVapourPhase);
  // Saturation: the critical point and the closed form just below Tc; the memo gives what a fresh model gives.
  double rhoV = 0, rhoL = 0, rhoV2 = 0, rhoL2 = 0;
  EXPECT_EQ(water.SaturationPressure(Tc, rhoV, rhoL), pc);
  EXPECT_TRUE(rhoV == kCriticalDensity && rhoL == kCriticalDensity);
  EXPECT_NEAR(water.SaturationPressure(646.566603780541, rhoV, rhoL), 220.64 - 1.403474133294992, 1e-12);
  EXPECT_NEAR(rhoV, 0.322 - 0.06175761207154601, 1e-12);
  EXPECT_NEAR(rhoL, 0.322 + 0.062312550893226015, 1e-12);
  for (double T : {300.0, 450.0, 600.0, 300.0, 373.15, 500.0, 550.0, 600.0, 300.0, 450.0}) {
    EXPECT_EQ(water.SaturationPressure(T, rhoV, rhoL), WaterModel().SaturationPressure(T, rhoV2, rhoL2)) << T;
    EXPECT_TRUE(rhoV == rhoV2 && rhoL == rhoL2) << T;
  }
}

TEST(WaterDensity, RoundTripsOnEveryExistingBranch) {
  WaterModel water;
  for (int i = 0; i <= 40; ++i) {
    const double T = 273.16 + (1073 - 273.16) * i / 40.0;
    const bool sub = T < kCriticalTemperature;
    double rhoV = 0, rhoL = 0;
    const double psat = sub ? water.SaturationPressure(T, rhoV, rhoL) : 0;
    for (int j = 0; j <= 30; ++j) {
      const double P = 0.001 * std::pow(10.0, 6.0 * j / 30.0);
      if (std::pow(T - kCriticalTemperature, 2) + std::pow(P - kCriticalPressure, 2) < 2.25) continue;
      for (std::int16_t phase : {kVapourPhase, kLiquidPhase}) {  // both map to the stable phase above Tc
        SCOPED_TRACE(testing::Message() << T << " K, " << P << " bar, phase " << phase);
        const double rho = water.WaterDensity(T, P, phase);
        const bool stableSide = !sub || (phase == kLiquidPhase ? P >= psat : P <= psat);
        ASSERT_TRUE(rho > 0 || !stableSide);
        if (rho <= 0) continue;
        // 1e-8 relative, but no finer than the ~3e-13 rho R T to which the pressure of the liquid resolves.
        EXPECT_LT(std::fabs(PressureAt(T, rho) - P), std::max(1e-8 * P, 5e-13 * 4.6151805 * rho * T));
        const bool onBranch = phase == kLiquidPhase ? rho >= rhoL * (1 - 1e-9) : rho <= rhoV * (1 + 1e-9);
        EXPECT_TRUE(onBranch || !sub || !stableSide);  // the branch asked for, not the other one
      }
    }
  }
  for (double P : {1.0, 100.0, 1000.0}) {  // at 2500 K the width k2 of the guess reaches 0: its limit is taken
    EXPECT_GT(water.SupercriticalDensityGuess(2500, P), 0);
    EXPECT_NEAR(PressureAt(2500, water.WaterDensity(2500, P, kStablePhase)) / P, 1, 1e-10);
  }
}

TEST(DensityCache, HitsMissesRecordsOfOtherRoutinesAndBusyMarker) {
  constexpr double kMarker = 12345;  // a SatPressure that only an evaluation overwrites
  WaterModel water;
  const double rho = water.WaterDensity(350, 50, kLiquidPhase);
  water.State.SatPressure = kMarker;
  EXPECT_EQ(water.WaterDensity(350, 50, kLiquidPhase), rho);
  EXPECT_EQ(water.State.SatPressure, kMarker);  // hit
  EXPECT_EQ(water.WaterDensity(350, 50, kStablePhase), rho);  // phase 0 below Tc stores the branch chosen...
  water.State.SatPressure = kMarker;
  EXPECT_EQ(water.WaterDensity(350, 50, kStablePhase), rho);
  EXPECT_NE(water.State.SatPressure, kMarker);  // ...so the same call misses again
  EXPECT_EQ(water.WaterDensity(350, 0.01, kStablePhase), water.WaterDensity(350, 0.01, kVapourPhase));
  const double super = water.WaterDensity(700, 300, kVapourPhase);  // above Tc every phase maps to 0
  water.State.SatPressure = kMarker;
  EXPECT_EQ(water.WaterDensity(700, 300, kLiquidPhase), super);
  EXPECT_EQ(water.State.SatPressure, kMarker);
  // Values that WaterProperties writes or IdealGasGibbsEnergy restores under the same key are no hit.
  const double liquid = water.WaterDensity(400, 10, kLiquidPhase);
  water.WaterProperties(400, 10, 0.5);
  EXPECT_EQ(water.WaterDensity(400, 10, kLiquidPhase), liquid);
  water.IdealGasGibbsEnergy(400);  // leaves (400 K, 10 bar, liquid density) with the vapour key
  EXPECT_EQ(water.WaterDensity(400, 10, kVapourPhase), -5);
  EXPECT_EQ(water.WaterDensity(400, 10, kVapourPhase), -5);  // a failure is never a hit
  water.State.CachedPhase = kBusyPhase;  // as a nested evaluation finds it: no key is stored
  const double rho500 = water.WaterDensity(500, 100, kLiquidPhase);
  EXPECT_TRUE(water.State.Temperature == 400 && water.State.Pressure == 10 && water.State.Density == rho500);
  EXPECT_EQ(water.State.CachedPhase, kLiquidPhase);
  EXPECT_THROW(water.WaterDensity(1e300, 1, kStablePhase), FloatingPointError);
  EXPECT_NE(water.State.CachedPhase, kBusyPhase);  // a fault does not leave the marker set
}

TEST(IdealGasGibbsEnergy, RestoresPressureAndDensityOnly) {
  const double T = 473.15;
  WaterModel water = WaterAt(T, 200);
  const WaterState before = water.State;
  const double g = water.IdealGasGibbsEnergy(T);
  for (double WaterState::*field : {&WaterState::Temperature, &WaterState::Pressure, &WaterState::Density,
                                    &WaterState::DensityDP, &WaterState::Dielectric, &WaterState::SolventGDP})
    EXPECT_EQ(water.State.*field, before.*field);
  double rhoV = 0, rhoL = 0;
  EXPECT_TRUE(before.SatPressure == 0 && water.State.CachedPhase == kVapourPhase);
  EXPECT_EQ(water.State.SatPressure, WaterModel().SaturationPressure(T, rhoV, rhoL));
  EXPECT_EQ(water.IdealGasGibbsEnergy(T), g);
}

TEST(WaterProperties, PressureDerivativesAndSolventFunctionLimit) {
  for (const auto& [T, P] : {std::pair{298.15, 1.0}, {473.15, 100.0}, {573.15, 300.0}, {700.0, 400.0}}) {
    const double h = 1e-3 * P;  // central differences
    const WaterState lo = WaterAt(T, P - h).State, hi = WaterAt(T, P + h).State, mid = WaterAt(T, P).State;
    EXPECT_NEAR(mid.DensityDP, (hi.Density - lo.Density) / (2 * h), 1e-6 * std::fabs(mid.DensityDP)) << T;
    EXPECT_NEAR(mid.DielectricDP, (hi.Dielectric - lo.Dielectric) / (2 * h), 1e-5 * std::fabs(mid.DielectricDP)) << T;
    EXPECT_NEAR(mid.SolventGDP, (hi.SolventG - lo.SolventG) / (2 * h), 1e-5 * std::fabs(mid.SolventGDP) + 1e-18) << T;
  }
  WaterModel water;
  water.WaterProperties(298.15, 1000, 1.0);  // at 1 g/cm3 and above, g and its derivative are 0
  EXPECT_TRUE(water.State.SolventG == 0 && water.State.SolventGDP == 0);
}

// Two models on two threads are compared with one in the reader's and the driver's tests.
TEST(WaterModel, ASaturationStateHandedOverIsUsedOnlyWithTheMemoOn) {
  WaterModel from, to, off;
  double rv = 0, rl = 0;
  const double psat = from.SaturationPressure(450.0, rv, rl);
  to.RememberSaturation(450.0, 2 * psat, rv, rl);  // a marked value shows that it is used
  off.SetSaturationMemo(false);
  off.RememberSaturation(450.0, 2 * psat, rv, rl);
  EXPECT_EQ(to.SaturationPressure(450.0, rv, rl), 2 * psat);
  EXPECT_EQ(off.SaturationPressure(450.0, rv, rl), psat);
}

}  // namespace
}  // namespace tersolv::water
