// Physical constants that several models share, in the units the models
// work in (T in K, P in bar, density in g/cm3, molar energies in J/mol).
//
// One value each, on purpose also where a published formulation states
// another: every model uses the gas constant of the water formulation, so
// that energies of water, H2S and the solutes combine without a seam. The
// deliberate exceptions are named below.
#pragma once

namespace tersolv {

// Molar gas constant of IAPWS-95: its specific constant 0.46151805 J/(g K)
// times the molar mass of water (CODATA's 8.314462618 is not used; nor is
// the 8.314472 of the H2S formulation).
inline constexpr double kGasConstant = 8.3143713575874;  // J/(mol K)
// The same in cm3 bar/(mol K), written out: 10 * kGasConstant rounds one
// unit in the last place lower.
inline constexpr double kGasConstantBar = 83.143713575874;

inline constexpr double kWaterMolarMass = 18.015268;  // g/mol (IAPWS-95)
inline constexpr double kWaterMolesPerKg = 1000.0 / kWaterMolarMass;
inline constexpr double kNaClMolarMass = 58.44246;    // g/mol

// H2S has two molar masses here, on purpose. The equation of state of pure
// H2S (Lemmon and Span, J. Chem. Eng. Data 51 (2006) 785) converts its
// molar densities with its own value; the density of the ternary solution
// takes 34.08188, 0.001 g/mol (3e-5 relative) more. Both stay as they are:
// the results checked against reference values were computed with them.
inline constexpr double kH2SMolarMass = 34.08088;          // g/mol, pure-H2S equation of state
inline constexpr double kH2SMolarMassInSolution = 34.08188;  // g/mol, density of the solution

inline constexpr double kZeroCelsius = 273.15;  // K
inline constexpr double kBarPerMPa = 10.0;      // a pressure in MPa times this is in bar
inline constexpr double kMPaPerBar = 0.1;       // and back (a multiplication, not a division by 10)

}  // namespace tersolv
