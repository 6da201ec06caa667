// Coefficient tables of the water equations.
//
// IAPWS-95: IAPWS R6-95(2018), Revised Release on the IAPWS Formulation 1995
// for the Thermodynamic Properties of Ordinary Water Substance for General and
// Scientific Use, Tables 1 and 2 (Wagner and Pruss, J. Phys. Chem. Ref. Data
// 31 (2002) 387).
//
// Dielectric constant: IAPWS R8-97, Release on the Static Dielectric Constant
// of Ordinary Water Substance, Table 2 (Fernandez et al., J. Phys. Chem. Ref.
// Data 26 (1997) 1125).
//
// Fractional exponents are held as small integers with a fixed divisor: the t
// exponents of the polynomial terms in eighths, the dielectric j exponents in
// quarters.
#pragma once

#include <array>
#include <cstdint>

namespace tersolv::water::coef {

// --- IAPWS-95 ideal-gas part: n°1..n°8 and gamma°4..gamma°8 ---
inline constexpr std::array<double, 8> kIdealN = {
    -8.3204464837497, 6.6832105275932, 3.00632, 0.012436,
    0.97315,          1.27950,         0.96956, 0.24873};
inline constexpr std::array<double, 5> kIdealGamma = {
    1.28728967, 3.53734222, 7.74073708, 9.24437796, 27.5075105};
static_assert(kIdealN.size() == 8 && kIdealGamma.size() == 5);

// --- IAPWS-95 residual part, terms 1..7: n, d and t in eighths ---
struct PolynomialTerm {
  double N;
  std::int16_t D;
  std::int16_t T8;  // t = T8 / 8
};
inline constexpr std::array<PolynomialTerm, 7> kPolynomial = {{
    {0.12533547935523e-1, 1, -4},
    {0.78957634722828e1, 1, 7},
    {-0.87803203303561e1, 1, 8},
    {0.31802509345418, 2, 4},
    {-0.26145533859358, 2, 6},
    {-0.78199751687981e-2, 3, 3},
    {0.88089493102134e-2, 4, 8},
}};
static_assert(kPolynomial.size() == 7);

// --- terms 8..51: n delta^d tau^t exp(-delta^c) ---
struct ExponentialTerm {
  double N;
  std::int16_t C;
  std::int16_t D;
  std::int16_t T;
};
inline constexpr std::array<ExponentialTerm, 44> kExponential = {{
    {-0.66856572307965, 1, 1, 4},
    {0.20433810950965, 1, 1, 6},
    {-0.66212605039687e-4, 1, 1, 12},
    {-0.19232721156002, 1, 2, 1},
    {-0.25709043003438, 1, 2, 5},
    {0.16074868486251, 1, 3, 4},
    {-0.40092828925807e-1, 1, 4, 2},
    {0.39343422603254e-6, 1, 4, 13},
    {-0.75941377088144e-5, 1, 5, 9},
    {0.56250979351888e-3, 1, 7, 3},
    {-0.15608652257135e-4, 1, 9, 4},
    {0.11537996422951e-8, 1, 10, 11},
    {0.36582165144204e-6, 1, 11, 4},
    {-0.13251180074668e-11, 1, 13, 13},
    {-0.62639586912454e-9, 1, 15, 1},
    {-0.10793600908932, 2, 1, 7},
    {0.17611491008752e-1, 2, 2, 1},
    {0.22132295167546, 2, 2, 9},
    {-0.40247669763528, 2, 2, 10},
    {0.58083399985759, 2, 3, 10},
    {0.49969146990806e-2, 2, 4, 3},
    {-0.31358700712549e-1, 2, 4, 7},
    {-0.74315929710341, 2, 4, 10},
    {0.47807329915480, 2, 5, 10},
    {0.20527940895948e-1, 2, 6, 6},
    {-0.13636435110343, 2, 6, 10},
    {0.14180634400617e-1, 2, 7, 10},
    {0.83326504880713e-2, 2, 9, 1},
    {-0.29052336009585e-1, 2, 9, 2},
    {0.38615085574206e-1, 2, 9, 3},
    {-0.20393486513704e-1, 2, 9, 4},
    {-0.16554050063734e-2, 2, 9, 8},
    {0.19955571979541e-2, 2, 10, 6},
    {0.15870308324157e-3, 2, 10, 9},
    {-0.16388568342530e-4, 2, 12, 8},
    {0.43613615723811e-1, 3, 3, 16},
    {0.34994005463765e-1, 3, 4, 22},
    {-0.76788197844621e-1, 3, 4, 23},
    {0.22446277332006e-1, 3, 5, 23},
    {-0.62689710414685e-4, 4, 14, 10},
    {-0.55711118565645e-9, 6, 3, 50},
    {-0.19905718354408, 6, 6, 44},
    {0.31777497330738, 6, 6, 46},
    {-0.11841182425981, 6, 6, 50},
}};
static_assert(kExponential.size() == 44);

// --- terms 52..54 (Gaussian) ---
// gamma is held in single precision: 1.21 enters as 1.2100000381469727.
struct GaussianTerm {
  double N;
  std::int16_t D;
  std::int16_t T;
  std::int16_t Alpha;
  std::int16_t Beta;
  float Gamma;
  std::int16_t Epsilon;
};
inline constexpr std::array<GaussianTerm, 3> kGaussian = {{
    {-0.31306260323435e2, 3, 0, 20, 150, 1.21f, 1},
    {0.31546140237781e2, 3, 1, 20, 150, 1.21f, 1},
    {-0.25213154341695e4, 3, 4, 20, 250, 1.25f, 1},
}};
static_assert(kGaussian.size() == 3);

// --- terms 55..56 (non-analytic) ---
struct NonAnalyticTerm {
  double N;
  double A;     // a
  double B;     // b
  double BB;    // B
  double AA;    // A
  double Beta;  // beta
  std::int16_t C;
  std::int16_t D;
};
inline constexpr std::array<NonAnalyticTerm, 2> kNonAnalytic = {{
    {-0.14874640856724, 3.5, 0.85, 0.2, 0.32, 0.3, 28, 700},
    {0.31806110878444, 3.5, 0.95, 0.2, 0.32, 0.3, 32, 800},
}};
static_assert(kNonAnalytic.size() == 2);

// --- static dielectric constant: N12 first, then N1..N11 ---
inline constexpr std::array<double, 12> kDielectricN = {
    0.196096504426e-2,   // N12
    0.978224486826,      -0.957771379375,     0.237511794148,
    0.714692244396,      -0.298217036956,     -0.108863472196,
    0.949327488264e-1,   -0.980469816509e-2,  0.165167634970e-4,
    0.937359795772e-4,   -0.123179218720e-9};
// Density exponents i and temperature exponents j (in quarters) of N1..N11.
inline constexpr std::array<std::int16_t, 11> kDielectricI = {1, 1, 1, 2, 3, 3, 4, 5, 6, 7, 10};
inline constexpr std::array<std::int16_t, 11> kDielectricJ4 = {1, 4, 10, 6, 6, 10, 8, 8, 20, 2, 40};
inline constexpr double kDielectricQ = 1.2;
static_assert(kDielectricN.size() == 12 && kDielectricI.size() == 11 && kDielectricJ4.size() == 11);

// Dipole and polarizability factors at the critical density and temperature,
// N_A mu^2 rho_c / (M eps0 k T_c) and N_A alpha rho_c / (3 M eps0).
inline constexpr double kDielectricA0 = 4.055267641712449e-31 / 7.910493154906802e-32;
inline constexpr double kDielectricB0 = 1.7609582252489385e-12 / 2.6562563452861174e-11;

}  // namespace tersolv::water::coef
