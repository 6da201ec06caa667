// The equations that combine the model results: the limits and switches that
// catch real faults, and the caps of the two H2S solubility iterations.
#include <gtest/gtest.h>

#include <cmath>

#include "calc/equations.h"

namespace tersolv::calc {
namespace {

nacl::H2SInteraction Only(double lambdaHH, double muHHH = 0) {
  nacl::H2SInteraction p;
  p.LambdaHH = lambdaHH;
  p.MuHHH = muHHH;
  return p;
}

TEST(SolubilityInPureWater, SkippedWithoutReferenceMolality) {
  const auto h2s = nacl::H2SSelfInteraction(298.15);
  const PureWaterSolubility r = SolubilityInPureWater(0.0, 0.0, h2s);
  EXPECT_EQ(r.MH0, 0.0);
  EXPECT_EQ(r.LastIterate, 0.0);
  EXPECT_EQ(SolubilityInPureWater(-1.0, 0.25, h2s).MH0, 0.25);
}

TEST(SolubilityInPureWater, SolvesTheActivityCorrectedCondition) {
  const auto h2s = nacl::H2SSelfInteraction(373.15);
  const PureWaterSolubility r = SolubilityInPureWater(2.9, 2.7, h2s);
  const double lnGamma = 2 * h2s.LambdaHH * r.MH0 + 3 * h2s.MuHHH * r.MH0 * r.MH0;
  EXPECT_NEAR(r.MH0 * std::exp(lnGamma), 2.9, 1e-8);
  EXPECT_NEAR(r.LastIterate / r.MH0, 1, 1e-10);
}

TEST(SolubilityIterations, StopAtTheirCapWithARunTimeError) {
  // With 2 lambda m = 3.5 at the fixed point the damped step overshoots
  // (slope -1.25): the iterates cycle and never meet the tolerance.
  const double m0 = std::exp(3.5);
  try {
    SolubilityInPureWater(m0, 1.01, Only(1.75));
    ADD_FAILURE() << "no error at the cap";
  } catch (const FloatingPointError& e) {
    EXPECT_NE(std::string(e.what()).find("did not converge"), std::string::npos) << e.what();
  }
  EXPECT_THROW(SolubilityInSolution(m0, 1.01, 0.0, Only(1.75)), FloatingPointError);
}

TEST(SolubilityInSolution, StartAtZeroGivesZeroAndZeroReferenceIsAFault) {
  const auto h2s = nacl::H2SInteractionParameters(298.15);
  EXPECT_EQ(SolubilityInSolution(0.1, 0.0, 1.0, h2s), 0.0);
  EXPECT_THROW(SolubilityInSolution(0.0, 0.1, 1.0, h2s), FloatingPointError);
}

TEST(SolubilityInSolution, WithoutSaltItIsThePureWaterSolubility) {
  const auto h2s = nacl::H2SInteractionParameters(323.15);
  const PureWaterSolubility pure = SolubilityInPureWater(2.2, 2.1, h2s);
  EXPECT_NEAR(SolubilityInSolution(2.2, pure.LastIterate, 0.0, h2s) / pure.MH0, 1, 1e-9);
}

TEST(SaltingOutCoefficient, SeriesAndRatioMeetAtTheSwitch) {
  const auto h2s = nacl::H2SInteractionParameters(373.15);
  const double m0 = 2.9;
  const PureWaterSolubility pure = SolubilityInPureWater(m0, m0, h2s);
  auto kS = [&](double mN) {
    return SaltingOutCoefficient(pure.MH0, SolubilityInSolution(m0, pure.LastIterate, mN, h2s), mN, h2s);
  };
  const double series = kS(0.002);
  const double ratio = kS(0.0020001);
  EXPECT_NEAR(ratio / series, 1, 1e-5);
  // At m_N = 0 the series gives the limiting coefficient.
  const double m = pure.MH0;
  const double A = 1 + 2 * h2s.LambdaHH * m + 6 * h2s.MuHHH * m * m;
  EXPECT_DOUBLE_EQ(kS(0.0), (2 * h2s.LambdaHN + 6 * h2s.MuHHN * m) / A);
  // The series also follows the ratio below the switch.
  const double mN = 0.001;
  const double exact = std::log(pure.MH0 / SolubilityInSolution(m0, pure.LastIterate, mN, h2s)) / mN;
  EXPECT_NEAR(kS(mN) / exact, 1, 1e-6);
}

TEST(ReferenceMolality, ZeroAtTheSaturationPressure) {
  EXPECT_EQ(ReferenceMolality(373.15, 1.0141799, 0.958, -2.3, 1.0141799, 1.0), 0.0);
  EXPECT_EQ(ReferenceMolality(373.15, 1.0141799, 0.958, -2.3, 1.0141800, 1.0), 0.0);  // y < 0
  EXPECT_GT(ReferenceMolality(373.15, 100, 0.963, -2.24, 1.0141799, 61.1), 0.0);
}

TEST(HaliteSolubility, SettlesOrReportsNotFound) {
  nacl::NaClParameters params;
  params.Archer = nacl::ArcherParameters(298.15, 1);
  const auto h2s = nacl::H2SSelfInteraction(298.15);
  // A saturation term far beyond any solution: the search runs away.
  EXPECT_FALSE(HaliteSolubility(1000.0, 0.997, 298.15, 78.4, params, h2s).has_value());
  const auto m = HaliteSolubility(std::log(6.14 * 1.0), 0.997, 298.15, 78.4, params, h2s);
  ASSERT_TRUE(m.has_value());
  const double lnGamma = nacl::EvaluateNaClActivity(*m, 0, 0.997, 298.15, 78.4, params, h2s).LnGammaPM;
  EXPECT_NEAR(std::log(*m) + lnGamma, std::log(6.14), 1e-8);
}

TEST(SolutionProperties, MixtureByMoleFractions) {
  const double nw = 1000 / 18.015268;
  const SolutionVolume s = SolutionVolumeAndDensity(0.5, 1.0, 18.0, 35.0, 17.0);
  const double N = nw + 1.5;
  EXPECT_DOUBLE_EQ(s.MolarVolume, (nw * 18.0 + 0.5 * 35.0 + 1.0 * 17.0) / N);
  EXPECT_DOUBLE_EQ(s.Density * s.MolarVolume, (nw * 18.015268 + 0.5 * 34.08188 + 58.44246) / N);
  // a_w/x_w = (1 + X) exp(-phi X), X = (2 m_N + m_H) M_w / 1000.
  const double X = 2.5 * 18.015268 / 1000;
  EXPECT_DOUBLE_EQ(WaterActivityCoefficient(1.0, 0.5, 0.95), (1 + X) * std::exp(-0.95 * X));
}

}  // namespace
}  // namespace tersolv::calc
