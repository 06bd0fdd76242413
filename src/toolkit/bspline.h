// Tensor-product B-spline interpolation on rectangular grids, in a 4-byte
// family (BSNAK, BS2IN, BS2GD) and an 8-byte family (DBSNAK, DBS2IN, DBS2VL,
// DBS2DR). Arrays are column-major; COEF(i, j) is COEF[i-1 + (j-1)*NXCOEF].
#pragma once

#include <array>
#include <cstddef>

namespace zalk::toolkit {

// Not-a-knot knot sequence (NDATA + KORDER values) for abscissas in any order.
void BSNAK(int NDATA, const float* XDATA, int KORDER, float* XKNOT);
void DBSNAK(int NDATA, const double* XDATA, int KORDER, double* XKNOT);
// Work-area variants (work holds NDATA values, iwork NDATA integers).
void B2NAK(int NDATA, const float* XDATA, int KORDER, float* XKNOT, float* XSRT, int* IWK);
void DB2NAK(int NDATA, const double* XDATA, int KORDER, double* XKNOT, double* XSRT, int* IWK);

// Interpolation coefficients of FDATA(NXDATA, NYDATA) (leading dimension LDF).
void BS2IN(int NXDATA, const float* XDATA, int NYDATA, const float* YDATA, const float* FDATA,
           int LDF, int KXORD, int KYORD, const float* XKNOT, const float* YKNOT, float* BSCOEF);
void DBS2IN(int NXDATA, const double* XDATA, int NYDATA, const double* YDATA, const double* FDATA,
            int LDF, int KXORD, int KYORD, const double* XKNOT, const double* YKNOT,
            double* BSCOEF);

// VALUE(i, j) (leading dimension LDVALUE) = the (IXDER, IYDER) partial
// derivative at (XVEC(i), YVEC(j)).
void BS2GD(int IXDER, int IYDER, int NX, const float* XVEC, int NY, const float* YVEC, int KXORD,
           int KYORD, const float* XKNOT, const float* YKNOT, int NXCOEF, int NYCOEF,
           const float* BSCOEF, float* VALUE, int LDVALUE);

// One point prepared for evaluating several coefficient sets that share
// knots, orders and counts: the intervals and basis values that BS2GD forms
// for a single point. prepared_value(P, BSCOEF) then equals, bit for bit,
// the VALUE(1, 1) of BS2GD at that point with the same arguments: both run
// the same interval search, basis recurrence and active sum (one template
// code, 4-byte arithmetic throughout).
struct PreparedPoint {
  static constexpr int kMaxOrder = 8;
  bool ready = false;
  int kxord = 0, kyord = 0, nxcoef = 0;
  int lx = 0, ly = 0;  // intervals, 0-based knot indices
  std::array<float, kMaxOrder> bx{}, by{};
  float x = 0;  // the point's X, which the x basis belongs to
};

// Prepares P at (X, Y) without any message. Returns false (P not ready) for
// every case in which BS2GD would not evaluate the point by its single-point
// path in silence: arguments BS2GD rejects, a point outside the knots or not
// a number, orders above kMaxOrder. Such a point must go through BS2GD,
// which gives the warning or error and the value it documents.
bool prepare_point(int IXDER, int IYDER, float X, float Y, int KXORD, int KYORD,
                   const float* XKNOT, const float* YKNOT, int NXCOEF, int NYCOEF,
                   PreparedPoint& P);
// prepare_point at (X, Y) for a P that is ready and was prepared with the
// same IXDER, IYDER, orders, knots and counts: where X is P's X (bit for
// bit) the x basis is kept, being what the same recurrence gives again.
bool move_prepared_point(int IXDER, int IYDER, float X, float Y, const float* XKNOT,
                         const float* YKNOT, int NYCOEF, PreparedPoint& P);
// The value of the coefficient set BSCOEF (NXCOEF of P per column) at a
// ready point.
float prepared_value(const PreparedPoint& P, const float* BSCOEF);

// Value, or (IXDER, IYDER) partial derivative, at one point.
double DBS2VL(double X, double Y, int KXORD, int KYORD, const double* XKNOT, const double* YKNOT,
              int NXCOEF, int NYCOEF, const double* BSCOEF);
double DBS2DR(int IXDER, int IYDER, double X, double Y, int KXORD, int KYORD, const double* XKNOT,
              const double* YKNOT, int NXCOEF, int NYCOEF, const double* BSCOEF);

// ---------------------------------------------------------------------------
// Work-area variants, for callers that own their work storage. The public
// routines above check their arguments, obtain per-thread work areas of the
// sizes given here and call these, which check again.

// WK holds bs2in_work_length(...) reals, IWK max(NXDATA, NYDATA) integers.
std::size_t bs2in_work_length(int NXDATA, int NYDATA, int KXORD, int KYORD);
void B22IN(int NXDATA, const float* XDATA, int NYDATA, const float* YDATA, const float* FDATA,
           int LDF, int KXORD, int KYORD, const float* XKNOT, const float* YKNOT, float* BSCOEF,
           float* WK, int* IWK);
void DB22IN(int NXDATA, const double* XDATA, int NYDATA, const double* YDATA,
            const double* FDATA, int LDF, int KXORD, int KYORD, const double* XKNOT,
            const double* YKNOT, double* BSCOEF, double* WK, int* IWK);

// WK holds bs2gd_work_length(...) reals, IWK NX + NY integers.
std::size_t bs2gd_work_length(int NX, int NY, int KXORD, int KYORD);
void B22GD(int IXDER, int IYDER, int NX, const float* XVEC, int NY, const float* YVEC, int KXORD,
           int KYORD, const float* XKNOT, const float* YKNOT, int NXCOEF, int NYCOEF,
           const float* BSCOEF, float* VALUE, int LDVALUE, float* WK, int* IWK);

// WK holds bs2dr_work_length(KXORD, KYORD) values.
std::size_t bs2dr_work_length(int KXORD, int KYORD);
double DB22VL(double X, double Y, int KXORD, int KYORD, const double* XKNOT, const double* YKNOT,
              int NXCOEF, int NYCOEF, const double* BSCOEF, double* WK);
double DB22DR(int IXDER, int IYDER, double X, double Y, int KXORD, int KYORD,
              const double* XKNOT, const double* YKNOT, int NXCOEF, int NYCOEF,
              const double* BSCOEF, double* WK);

// Univariate interpolation with given knots: BSCOEF(NDATA) so that the spline
// of order KORDER with knots XKNOT(NDATA + KORDER) passes through
// (XDATA(i), FDATA(i)); XDATA strictly increasing. WK holds
// b2int_work_length(NDATA, KORDER) values, IWK NDATA integers.
std::size_t b2int_work_length(int NDATA, int KORDER);
void DB2INT(int NDATA, const double* XDATA, const double* FDATA, int KORDER, const double* XKNOT,
            double* BSCOEF, double* WK, int* IWK);

}  // namespace zalk::toolkit
