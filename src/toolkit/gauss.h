// Gauss quadrature rules for the classical weight functions (Golub-Welsch).
#pragma once

namespace zalk::toolkit {

// N-point rule for weight IWEIGH (1..7), with NFIX = 0 (Gauss), 1 (Radau) or
// 2 (Lobatto) prescribed nodes in QXFIX. Nodes ascending in QNODE(N), weights
// in QWGHT(N). Obtains a work area of 2*N values and calls DG2RUL.
void DGQRUL(int N, int IWEIGH, double ALPHA, double BETA, int NFIX, const double* QXFIX,
            double* QNODE, double* QWGHT);

// Work-area variant; WK holds at least 2*N values.
void DG2RUL(int N, int IWEIGH, double ALPHA, double BETA, int NFIX, const double* QXFIX,
            double* QNODE, double* QWGHT, double* WK);

// Recurrence coefficients B(1..N), C(1..N) of the monic orthogonal
// polynomials of weight IWEIGH; C(1) is the integral of the weight (mu0).
void DRECCF(int N, int IWEIGH, double ALPHA, double BETA, double* B, double* C);

// Rule from recurrence coefficients (B, C as from DRECCF; both are modified
// when NFIX > 0). WK holds at least N values.
void DG2RCF(int N, double* B, double* C, int NFIX, const double* QXFIX, double* QNODE,
            double* QWGHT, double* WK);

}  // namespace zalk::toolkit
