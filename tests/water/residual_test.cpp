// The lean residual evaluation against a plain term-by-term evaluation with
// general powers, and the pressure routine's handling of bad input and of the
// singular lines of the non-analytic terms.
#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <string>

#include "water/residual.h"
#include "water/water.h"

namespace tersolv::water {
namespace {

// phi^r and its delta-derivatives, written out term by term as in the
// IAPWS-95 release (Table 4), with std::pow for every power.
ResidualDerivatives PlainResidual(double delta, double tau, bool withNonAnalytic) {
  ResidualDerivatives r;
  for (const auto& t : coef::kPolynomial) {
    const double ti = t.T8 / 8.0;
    r.Phi += t.N * std::pow(delta, t.D) * std::pow(tau, ti);
    r.PhiD += t.N * t.D * std::pow(delta, t.D - 1.0) * std::pow(tau, ti);
    r.PhiDD += t.N * t.D * (t.D - 1.0) * std::pow(delta, t.D - 2.0) * std::pow(tau, ti);
  }
  for (const auto& t : coef::kExponential) {
    const double e = std::exp(-std::pow(delta, t.C));
    const double dc = t.C * std::pow(delta, t.C);
    r.Phi += t.N * std::pow(delta, t.D) * std::pow(tau, t.T) * e;
    r.PhiD += t.N * e * std::pow(delta, t.D - 1.0) * std::pow(tau, t.T) * (t.D - dc);
    r.PhiDD += t.N * e * std::pow(delta, t.D - 2.0) * std::pow(tau, t.T) * ((t.D - dc) * (t.D - 1.0 - dc) - t.C * dc);
  }
  for (const auto& t : coef::kGaussian) {
    const double g = static_cast<double>(t.Gamma);
    const double e = std::exp(-t.Alpha * std::pow(delta - t.Epsilon, 2) - t.Beta * std::pow(tau - g, 2));
    const double de = delta - t.Epsilon;
    r.Phi += t.N * std::pow(delta, t.D) * std::pow(tau, t.T) * e;
    r.PhiD += t.N * std::pow(tau, t.T) * e * std::pow(delta, t.D) * (t.D / delta - 2.0 * t.Alpha * de);
    r.PhiDD += t.N * std::pow(tau, t.T) * e *
               (-2.0 * t.Alpha * std::pow(delta, t.D) + 4.0 * t.Alpha * t.Alpha * std::pow(delta, t.D) * de * de -
                4.0 * t.D * t.Alpha * std::pow(delta, t.D - 1.0) * de + t.D * (t.D - 1.0) * std::pow(delta, t.D - 2.0));
  }
  for (const auto& t : coef::kNonAnalytic) {
    const double x = std::pow(delta - 1, 2);
    const double theta = (1 - tau) + t.AA * std::pow(x, 1 / (2 * t.Beta));
    const double D = theta * theta + t.BB * std::pow(x, t.A);
    const double psi = std::exp(-t.C * x - t.D * std::pow(tau - 1, 2));
    const double psiD = -2 * t.C * (delta - 1) * psi;
    const double psiDD = (2 * t.C * x - 1) * 2 * t.C * psi;
    const double dD = (delta - 1) * (t.AA * theta * 2 / t.Beta * std::pow(x, 1 / (2 * t.Beta) - 1) +
                                     2 * t.BB * t.A * std::pow(x, t.A - 1));
    const double dDD = dD / (delta - 1) +
                       x * (4 * t.BB * t.A * (t.A - 1) * std::pow(x, t.A - 2) +
                            2 * std::pow(t.AA / t.Beta, 2) * std::pow(std::pow(x, 1 / (2 * t.Beta) - 1), 2) +
                            t.AA * theta * 4 / t.Beta * (1 / (2 * t.Beta) - 1) * std::pow(x, 1 / (2 * t.Beta) - 2));
    const double db = std::pow(D, t.B);
    const double dbD = t.B * std::pow(D, t.B - 1) * dD;
    const double dbDD = t.B * (std::pow(D, t.B - 1) * dDD + (t.B - 1) * std::pow(D, t.B - 2) * dD * dD);
    r.Phi += t.N * db * delta * psi;
    if (!withNonAnalytic) continue;
    r.PhiD += t.N * (db * (psi + delta * psiD) + dbD * delta * psi);
    r.PhiDD += t.N * (db * (2 * psiD + delta * psiDD) + 2 * dbD * (psi + delta * psiD) + dbDD * delta * psi);
  }
  return r;
}

TEST(Residual, LeanEvaluationMatchesPlainFormula) {
  for (double T : {273.16, 300.0, 450.0, 600.0, 640.0, 646.0, 650.0, 700.0, 900.0, 1073.0}) {
    for (double rho : {1e-5, 0.01, 0.2, 0.31, 0.33, 0.5, 0.8, 1.0, 1.2}) {
      const double delta = rho / kCriticalDensity;
      const double tau = kCriticalTemperature / T;
      const ResidualDerivatives lean = EvaluateResidual(MakeTauFactors(tau), delta, NonAnalyticMode::kPressure);
      const ResidualDerivatives plain = PlainResidual(delta, tau, true);
      EXPECT_NEAR(lean.Phi, plain.Phi, 1e-13 * std::fabs(plain.Phi)) << T << " K, " << rho;
      EXPECT_NEAR(lean.PhiD, plain.PhiD, 1e-13 * std::fabs(plain.PhiD)) << T << " K, " << rho;
      EXPECT_NEAR(lean.PhiDD, plain.PhiDD, 1e-13 * std::fabs(plain.PhiDD)) << T << " K, " << rho;
    }
  }
}

TEST(WaterPressure, RefusesNonPositiveInputAndLeavesOutputs) {
  const WaterModel water;
  double P = 7;
  double dPdRho = -1;
  EXPECT_EQ(water.WaterPressure(0, 1, P, dPdRho), -1);
  EXPECT_EQ(water.WaterPressure(300, -0.5, P, dPdRho), -1);
  EXPECT_EQ(P, 7);
  EXPECT_EQ(dPdRho, -1);
  EXPECT_EQ(water.HelmholtzPhi(0, 1), 0);
  EXPECT_EQ(water.HelmholtzPhi(300, -1), 0);
  // A derivative not asked for stays as it was.
  dPdRho = 5;
  ASSERT_EQ(water.WaterPressure(300, 1, P, dPdRho), 0);
  EXPECT_EQ(dPdRho, 5);
}

TEST(WaterPressure, CriticalIsothermExcludesNonAnalyticTerms) {
  const WaterModel water;
  const double T = kCriticalTemperature;
  for (double rho : {0.2, 0.3, 0.322, 0.35, 0.5}) {
    double P = 0;
    double dPdRho = -1;
    ASSERT_EQ(water.WaterPressure(T, rho, P, dPdRho), 0);
    const double delta = rho / kCriticalDensity;
    const ResidualDerivatives plain = PlainResidual(delta, 1.0, false);
    EXPECT_NEAR(P, 4.6151805 * rho * T * (1 + delta * plain.PhiD), 1e-11 * P);
    EXPECT_NEAR(dPdRho, 4.6151805 * T * (1 + 2 * delta * plain.PhiD + delta * delta * plain.PhiDD),
                1e-9 * std::fabs(dPdRho) + 1e-9);
    if (rho != 0.322) {
      // The compressibility keeps them on the critical isotherm.
      EXPECT_NE(water.DensityDerivative(T, rho), 1 / dPdRho);
    }
  }
  // On delta = 1 off the critical temperature the delta-derivatives of Delta are 0.
  double P = 0;
  double dPdRho = -1;
  ASSERT_EQ(water.WaterPressure(700, kCriticalDensity, P, dPdRho), 0);
  EXPECT_TRUE(std::isfinite(P) && std::isfinite(dPdRho));
  EXPECT_GT(water.DensityDerivative(700, kCriticalDensity), 0);
}

TEST(FloatingPoint, FaultsRaiseFloatingPointError) {
  WaterModel water;
  EXPECT_THROW(water.WaterGibbsEnergy(300, 1, 0), FloatingPointError);  // P / 0
  EXPECT_THROW(water.IdealGasGibbsEnergy(0), FloatingPointError);       // 0 / 0 and ln 0
  EXPECT_NO_THROW(water.IdealGasGibbsEnergy(250));  // failed vapour solve: a meaningless value, no fault
  EXPECT_THROW(water.WaterProperties(228, 1, 1.0), FloatingPointError);  // (T/228 - 1)^-1.2
  EXPECT_THROW(water.DensityDerivative(0, 1), FloatingPointError);
  double P = 0;
  double dPdRho = -1;
  EXPECT_THROW(water.WaterPressure(300, 1e30, P, dPdRho), FloatingPointError);  // delta^15 overflows
  try {
    water.WaterGibbsEnergy(300, 1, 0);
  } catch (const FloatingPointError& e) {
    EXPECT_NE(std::string(e.what()).find("WaterGibbsEnergy"), std::string::npos);
  }
  // Flags the caller raised before are neither blamed on nor lost by a clean evaluation.
  std::feclearexcept(FE_ALL_EXCEPT);
  std::feraiseexcept(FE_OVERFLOW);
  EXPECT_NO_THROW(water.HelmholtzPhi(300, 1));
  EXPECT_NE(std::fetestexcept(FE_OVERFLOW), 0);
  std::feclearexcept(FE_ALL_EXCEPT);
}

}  // namespace
}  // namespace tersolv::water
