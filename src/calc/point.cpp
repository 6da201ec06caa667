#include "calc/point.h"

#include <cmath>
#include <sstream>
#include <string_view>

#include "calc/equations.h"
#include "h2s/h2s.h"
#include "hkf/hkf.h"
#include "nacl/archer.h"
#include "nacl/pitzer.h"

namespace tersolv::calc {
namespace {

// The result of this key in the "Components" or "Ternary system" row.
consteval layout::ResultSlot Components(std::string_view key) { return layout::Slot(layout::kComponents, key); }
consteval layout::ResultSlot Ternary(std::string_view key) { return layout::Slot(layout::kTernary, key); }

// The model's run-time error, with the state point added to its message.
FloatingPointError AtPoint(const std::exception& e, double T, double P) {
  std::ostringstream text;
  text.precision(10);
  text << e.what() << " (point T = " << T - kZeroCelsius << " C, P = " << P * kMPaPerBar << " MPa)";
  return FloatingPointError(text.str());
}

}  // namespace

PointCalculator::PointCalculator(const input::HaliteDataRecord& haliteData, bool haliteDataSet,
                                 bool extendedRange)
    : halite_{haliteData.Values[0], haliteData.Values[1], haliteData.Values[2], haliteData.Values[3],
              haliteData.Values[4], haliteData.Values[5], haliteData.Values[6]},
      haliteDataSet_(haliteDataSet),
      extendedRange_(extendedRange) {}

PointOutcome PointCalculator::Compute(int kind, double T, double P, double Rho, double MH, double MN) {
  PointOutcome out;
  try {
    Run(kind, T, P, Rho, MH, MN, out);
  } catch (const FloatingPointError& e) {
    out.Fault = std::make_exception_ptr(AtPoint(e, T, P));
  } catch (...) {
    out.Fault = std::current_exception();
  }
  return out;
}

void PointCalculator::Run(int kind, double T, double P, double Rho, double MH, double MN, PointOutcome& out) {
  // Common part: water, its fugacity, pure H2S and its solubility in pure
  // water, the NaCl parameters, halite against its ions.
  const double Vw = CheckFinite(kWaterMolarMass / Rho, "the molar volume of water");
  const double RT = kGasConstant * T;
  water_.WaterProperties(T, P, Rho);
  const double epsilon = water_.State.Dielectric;
  const double rhoDP = water_.State.DensityDP;
  const double epsilonDP = water_.State.DielectricDP;
  // The Gibbs energy of the liquid first, while the water model still holds
  // the residual at Rho.
  const double gWater = water_.WaterGibbsEnergy(T, P, Rho);
  if (T != idealT_) {
    idealT_ = 0;  // not valid should the call fail
    idealGibbs_ = water_.IdealGasGibbsEnergy(T);
    idealSatPressure_ = water_.State.SatPressure;  // left by IdealGasGibbsEnergy
    idealT_ = T;
  }
  const double gIdeal = idealGibbs_;
  const double psatAtT = idealSatPressure_;
  const double lnFw = CheckFinite((gWater - gIdeal) / RT, "the fugacity of water");
  const double fw = CheckFinite(std::exp(lnFw), "the fugacity of water");

  // H2SProperties: the pure-H2S state, then the solubility from this point's
  // water fugacity (the same two Gibbs energies, not evaluated twice).
  const h2s::H2SPure pure = h2s::H2SPureState(T, P);
  const h2s::H2SSolubilityResult solubility =
      h2s::H2SSolubilityFrom(T, P, Rho, lnFw, psatAtT, pure.H2SFugacity);

  nacl::NaClParameters params;
  params.HaliteDataSet = haliteDataSet_;
  params.Pitzer = nacl::PitzerParameters(T, P, 0, 0);
  double gHalite = nacl::HaliteGibbsEnergy(T, P, halite_);
  if (haliteDataSet_) params.Archer = nacl::ArcherParameters(T, P);
  const hkf::HKFResults sodium = hkf::HKFProperties(1, water_.State, extendedRange_);
  gHalite -= sodium.HKFGibbsEnergy;
  const hkf::HKFResults chloride = hkf::HKFProperties(-1, water_.State, extendedRange_);
  gHalite -= chloride.HKFGibbsEnergy;
  const double L = CheckFinite(gHalite / (2 * RT), "the halite saturation term");

  nacl::H2SInteraction h2s = nacl::H2SSelfInteraction(T);
  const PureWaterSolubility pureWater =
      SolubilityInPureWater(solubility.H2SSolubilityIdeal, solubility.H2SSolubilityMolality, h2s);

  if (kind == 1) {
    out.Number(Components("water_density"), Rho);
    out.Number(Components("water_molar_volume"), Vw);
    out.Number(Components("water_fugacity"), fw * kMPaPerBar);
    out.Number(Components("h2s_density"), pure.H2SDensity);
    out.Number(Components("h2s_molar_volume"), pure.H2SVolume);
    out.Number(Components("h2s_fugacity"), pure.H2SFugacity * kMPaPerBar);
    out.Number(Components("h2s_solubility"), pureWater.MH0);
    const std::optional<double> halite = HaliteSolubility(L, Rho, T, epsilon, params, h2s);
    if (halite) {
      out.Number(Components("halite_solubility"), *halite);
    } else {
      out.Special(Components("halite_solubility"), ResultCell::Kind::NotFound);
    }
    return;
  }
  if (kind != 2) return;

  h2s = nacl::H2SInteractionParameters(T);
  double rhoVapour = 0, rhoLiquid = 0;
  const double psat = water_.SaturationPressure(T, rhoVapour, rhoLiquid);
  const double m0s = ReferenceMolality(T, P, Rho, lnFw, psat, pure.H2SFugacity);
  const double mHs = SolubilityInSolution(m0s, pureWater.LastIterate, MN, h2s);
  if (mHs < MH) out.Mark = layout::kMarkH2S;
  const double lnGammaH2S = nacl::LnGammaH2S(MH, MN, h2s);
  // k_S is undefined where no H2S dissolves (m_Hs <= 0): the cell is left
  // empty rather than showing a value of another point.
  if (mHs > 0) {
    out.Number(Ternary("salting_out_coefficient"), SaltingOutCoefficient(pureWater.MH0, mHs, MN, h2s));
  } else {
    out.Special(Ternary("salting_out_coefficient"), ResultCell::Kind::Empty);
  }
  out.Number(Ternary("h2s_solubility"), mHs);
  out.Number(Ternary("h2s_activity_coefficient"),
             CheckFinite(std::exp(lnGammaH2S), "the activity coefficient of H2S"));

  const nacl::NaClActivity activity = nacl::EvaluateNaClActivity(MN, MH, Rho, T, epsilon, params, h2s);
  const double haliteSaturation = CheckFinite(std::exp(L - activity.LnGammaPM), "the halite saturation molality");
  if (haliteSaturation < MN) out.Mark += layout::kMarkHalite;
  out.Number(Ternary("nacl_activity_coefficient"),
             CheckFinite(std::exp(activity.LnGammaPM), "the activity coefficient of NaCl"));
  const double phi = nacl::OsmoticCoefficient(MN, MH, activity, params, h2s);
  out.Number(Ternary("osmotic_coefficient"), phi);
  out.Number(Ternary("water_activity_coefficient"), WaterActivityCoefficient(MN, MH, phi));

  // The standard volumes of the ions at this state: the same HKF evaluation
  // as above (the water state has not changed since), so not repeated.
  const double VH = H2SPartialVolume(T, Rho, Vw, rhoDP);
  const double VPhi = nacl::ApparentMolarVolume(MN, activity, T, epsilon, epsilonDP, Rho, rhoDP, params,
                                                sodium.HKFVolume, chloride.HKFVolume);
  const SolutionVolume solution = SolutionVolumeAndDensity(MH, MN, Vw, VH, VPhi);
  out.Number(Ternary("density"), solution.Density);
  out.Number(Ternary("molar_volume"), solution.MolarVolume);
}

}  // namespace tersolv::calc
