#include "plate/btwodimension.h"

#include <cmath>

#include "plate/plate_messages.h"
#include "plate/plateresp.h"
#include "toolkit/errors.h"

namespace zalk::plate {
namespace {

// Refuses an index outside 1..capacity: it would address memory outside the
// caller's arrays.
void check_index(PlateMessage message, int value, int capacity) {
  if (value >= 1 && value <= capacity) return;
  toolkit::RoutineScope scope("BTWODIMENSION");
  toolkit::E1STI(1, value);
  toolkit::E1STI(2, capacity);
  raise(message);
}

}  // namespace

void BTWODIMENSION(int* IPT, int* /*NDIM*/, int* ILOAD, int* NEARSURF, double* XL, double* YL,
                   double* P, double* A, double* PZ, int* PLAYER, double* PX, double* PY, double* W,
                   double* U, double* ER, double* ET, double* EZ, double* ERZ, double* SLOT1,
                   double* SLOT2, double* SLOT3, double* SLOT4, double* SLOT5, double* SLOT6,
                   double* SLOT7, double* SLOT8, double* SLOT9, double* SLOT10, double* SLOT11,
                   double* SLOT12, double* SLOT13, double* SLOT14, double* SLOT15, double* E,
                   double* PR, const void* /*UNUSED*/) {
  add_load_response(kLayerCapacity, IPT, ILOAD, NEARSURF, XL, YL, P, A, PZ, PLAYER, PX, PY, W, U,
                    ER, ET, EZ, ERZ, SLOT1, SLOT2, SLOT3, SLOT4, SLOT5, SLOT6, SLOT7, SLOT8, SLOT9,
                    SLOT10, SLOT11, SLOT12, SLOT13, SLOT14, SLOT15, E, PR);
}

void add_load_response(int layer_capacity, int* IPT, int* ILOAD, int* NEARSURF, double* XL,
                       double* YL, double* P, double* A, double* PZ, int* PLAYER, double* PX,
                       double* PY, double* W, double* U, double* ER, double* ET, double* EZ,
                       double* ERZ, double* SLOT1, double* SLOT2, double* SLOT3, double* SLOT4,
                       double* SLOT5, double* SLOT6, double* SLOT7, double* SLOT8, double* SLOT9,
                       double* SLOT10, double* SLOT11, double* SLOT12, double* SLOT13,
                       double* SLOT14, double* SLOT15, double* E, double* PR) {
  check_index(PlateMessage::point_index, *IPT, kSlotCapacity);
  check_index(PlateMessage::load_index, *ILOAD, kLoadCapacity);
  check_index(PlateMessage::layer_index, *PLAYER, layer_capacity);

  const int layer = *PLAYER - 1;
  const int load = *ILOAD - 1;
  const int k = *IPT - 1;

  // Lame constants of the point's own layer.
  const double mu = E[layer] / (1.0 + PR[layer]) / 2.0;
  const double lambda = PR[layer] * E[layer] / (PR[layer] + 1.0) / (1.0 - 2.0 * PR[layer]);

  const double dx = *PX - XL[load];
  const double dy = *PY - YL[load];
  const double r = std::sqrt(dy * dy + dx * dx);

  if (*NEARSURF != 0) {
    // The kernel returned the layered response minus the homogeneous body of
    // the top layer; add that body back from its own solution.
    double w = 0, u = 0, er = 0, et = 0, ez = 0, erz = 0;
    plate_response(*ILOAD, r, E[0], PR[0], w, u, er, et, ez, erz, *PZ, P, A);
    *W += w;
    *U += u;
    *ER += er;
    *ET += et;
    *EZ += ez;
    *ERZ += erz;
  }

  // Below the load centre the direction is undefined; both cosines are taken
  // as 1/sqrt(2), which the axisymmetric response (U = ERZ = 0 there) allows.
  double c = 0.7071067811865476;
  double s = 0.7071067811865476;
  if (r != 0.0) {
    c = dx / r;
    s = dy / r;
  }

  const double ux = c * *U;
  const double uy = s * *U;
  const double ex = s * s * *ET + c * c * *ER;
  const double ey = s * s * *ER + c * c * *ET;
  const double exy = (*ER - *ET) * s * c;
  const double ez = *EZ;
  const double eyz = s * *ERZ;
  const double exz = c * *ERZ;

  const double theta = ex + ey + ez;
  const double sx = 2.0 * mu * ex + lambda * theta;
  const double sy = 2.0 * mu * ey + lambda * theta;
  const double sz = 2.0 * mu * ez + lambda * theta;
  const double txy = 2.0 * mu * exy;
  const double tyz = 2.0 * mu * eyz;
  const double txz = 2.0 * mu * exz;

  SLOT1[k] += *W;
  SLOT2[k] += ux;
  SLOT3[k] += uy;
  SLOT4[k] += sx;
  SLOT5[k] += sy;
  SLOT6[k] += sz;
  SLOT7[k] += txy;
  SLOT8[k] += tyz;
  SLOT9[k] += txz;
  SLOT10[k] += ex;
  SLOT11[k] += ey;
  SLOT12[k] += ez;
  SLOT13[k] += exy;
  SLOT14[k] += eyz;
  SLOT15[k] += exz;
}

}  // namespace zalk::plate
