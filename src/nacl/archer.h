// Ion-interaction parameters of NaCl(aq) after Archer (J. Phys. Chem. Ref.
// Data 21 (1992) 793): beta0, beta1 (used with alpha1 = 2), C0, C1 (used with
// alpha2 = 2.5) and their pressure derivatives, from one 24-term function of
// temperature and pressure evaluated with four coefficient columns.
//
// Units: T in K, P in bar. Parameters in kg/mol (beta) and kg2/mol2 (C); the
// pressure derivatives are per MPa (multiply by 0.1 for per bar).
//
// The function has poles at T = 200 K and 225 K and needs T < 650 K; a pole or
// T >= 650 K raises tersolv::FloatingPointError, never NaN.
#pragma once

#include "core/fp.h"

namespace tersolv::nacl {

struct ArcherResults {
  double ArcherBeta0 = 0;    // kg/mol
  double ArcherBeta1 = 0;    // kg/mol
  double ArcherC0 = 0;       // kg2/mol2
  double ArcherC1 = 0;       // kg2/mol2
  double ArcherBeta0DP = 0;  // (d beta0/d p)_T, kg/(mol MPa)
  double ArcherBeta1DP = 0;  // (d beta1/d p)_T, kg/(mol MPa)
  double ArcherC0DP = 0;     // (d C0/d p)_T, kg2/(mol2 MPa)
  double ArcherC1DP = 0;     // (d C1/d p)_T, kg2/(mol2 MPa); always 0
};

// Archer parameters at T (K) and P (bar).
ArcherResults ArcherParameters(double T, double P);

}  // namespace tersolv::nacl
