// NaCl(aq) ion-interaction parameters after Archer.
#include "nacl/archer.h"

#include <array>
#include <cmath>

#include "nacl/fp.h"

namespace tersolv::nacl {
namespace {

// Archer, J. Phys. Chem. Ref. Data 21 (1992) 793, NaCl(aq): coefficients of
// the parameter function, rows k = 1..24, columns beta0, beta1, C0, C1.
constexpr std::array<std::array<double, 4>, 24> kArcherCoefficients{{
    {0.242651052883794, -1.94792794517029, 0, 0.73877035596916},
    {0, 5.5347739956377, -0.0476961507576975, -3.48181614204602},
    {-0.160578547305475, 0, 0.0248453996970447, 1.08380749393807},
    {1.22249898267412, -40.9575943938422, -0.583285519436642, 0},
    {0, 0, 0, 0},
    {0, 0, 0.0966416317519622, -9.76294707814877},
    {-65.8299103364965, 495.48895938107, 5.17677315192276, 0},
    {0, -0.647069267974439, -0.00530484869542637, 0},
    {0.592206494036454, 0, 0, 0},
    {-21.6059704995988, 0, 1.49331442521389, 0},
    {79.9242989836885, 263.514104240237, -3.57598920090558, 0},
    {-1.37402918488118, 0, 0.084654730827537, 0},
    {0, -110.865524218289, 0, 0},
    {0, 0, -19.6647827776674, 0},
    {35.9009013869343, 0, -3.16551434879799, 0},
    {-49.4314672615553, -54.9466586142382, 3.62129862281871, 0},
    {1.04390658682638, 0, 0, 0},
    {-41.9541567430562, 0, 3.67884876799807, 0},
    {0, 0, 0, 0},
    {0, 0, 0, 0},
    {33.2379600367917, 0, 0, 0},
    {2.03031549012081, 0, 0, 0},
    {-0.187396334924425, 0, 0, 0},
    {8.81256035834609, 0, -0.564064305163377, 28.1027292775539},
}};
static_assert(kArcherCoefficients.size() == 24);

// The 24 terms without their coefficient (F) and their pressure derivatives
// (G), at T in K and p in MPa.
struct Basis {
  std::array<double, 24> F{};
  std::array<double, 24> G{};
};

Basis ArcherBasis(double T, double p) {
  const double t1000 = T / 1000;
  const double t500 = T / 500;
  const double a = T - 200;      // poles of terms 4 to 6
  const double b = T - 225;      // poles of the pressure terms
  const double c = 650 - T;      // upper limit
  const double c3 = c * c * c;
  Basis s;
  s.F = {1,
         t1000,
         t500 * t500,
         1 / a,
         1e4 / (a * a * a),
         1e2 / (a * a),
         200 / (T * T),
         t500 * t500 * t500,
         1 / std::sqrt(c),
         1e-5 * p,
         2e-4 * p / b,
         1e2 * p / c3,
         1e-5 * p * t500,
         2e-4 * p / c,
         1e-7 * p * p,
         2e-6 * p * p / b,
         p * p / c3,
         1e-7 * p * p * t500,
         1e-7 * p * p * t500 * t500,
         0.04 * p / (b * b),
         1e-5 * p * t500 * t500,
         2e-8 * p * p * p / b,
         0.01 * p * p * p / c3,
         200 / c3};
  s.G = {0,
         0,
         0,
         0,
         0,
         0,
         0,
         0,
         0,
         1e-5,
         2e-4 / b,
         1e2 / c3,
         1e-5 * t500,
         2e-4 / c,
         2e-7 * p,
         4e-6 * p / b,
         2 * p / c3,
         2e-7 * p * t500,
         2e-7 * p * t500 * t500,
         0.04 / (b * b),
         1e-5 * t500 * t500,
         6e-8 * p * p / b,
         0.03 * p * p / c3,
         0};
  return s;
}

}  // namespace

ArcherResults ArcherParameters(double T, double P) {
  if (T == 200 || T == 225) detail::Fault("division by zero (pole)", "ArcherParameters", T);
  if (!(T < 650)) detail::Fault("temperature at or above 650 K", "ArcherParameters", T);
  ClearFaultFlags();
  const Basis basis = ArcherBasis(T, P / 10);
  std::array<double, 4> f{};
  std::array<double, 4> g{};
  for (std::size_t i = 0; i < 4; ++i) {
    for (std::size_t k = 0; k < kArcherCoefficients.size(); ++k) {
      f[i] += kArcherCoefficients[k][i] * basis.F[k];
      g[i] += kArcherCoefficients[k][i] * basis.G[k];
    }
    detail::Checked(f[i] + g[i], "ArcherParameters", T);
  }
  return {f[0], f[1], f[2], f[3], g[0], g[1], g[2], g[3]};
}

}  // namespace tersolv::nacl
