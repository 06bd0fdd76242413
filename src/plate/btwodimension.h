// Superposition of one circular load's response at one point into the
// point's fifteen result slots.
#pragma once

namespace zalk::plate {

// Adds load ILOAD's contribution at point IPT (1-based into the slot arrays).
// W, U, ER, ET, EZ, ERZ are the load's polar responses from the layered
// kernel (vertical and radial displacement; radial, tangential, vertical and
// radial-vertical tensor shear strain); when NEARSURF is nonzero the
// homogeneous top-layer response (plate_response) is first added to them. The
// polar quantities are turned into x-y-z displacements, strains and, by
// Hooke's law with the moduli of layer PLAYER, stresses, and added to
// SLOT1..SLOT15 (w; u_x, u_y; sigma_x, sigma_y, sigma_z; tau_xy, tau_yz,
// tau_xz; eps_x, eps_y, eps_z; eps_xy, eps_yz, eps_xz) at element IPT.
// XL, YL, P, A are per load and E, PR per layer (1-based indices). NDIM and
// UNUSED are not read.
//
// The host's arrays hold 1000 points, 10 loads and 50 layers: an IPT, ILOAD
// or PLAYER outside them is refused with a terminal error before anything is
// read or written.
void BTWODIMENSION(int* IPT, int* NDIM, int* ILOAD, int* NEARSURF, double* XL, double* YL,
                   double* P, double* A, double* PZ, int* PLAYER, double* PX, double* PY, double* W,
                   double* U, double* ER, double* ET, double* EZ, double* ERZ, double* SLOT1,
                   double* SLOT2, double* SLOT3, double* SLOT4, double* SLOT5, double* SLOT6,
                   double* SLOT7, double* SLOT8, double* SLOT9, double* SLOT10, double* SLOT11,
                   double* SLOT12, double* SLOT13, double* SLOT14, double* SLOT15, double* E,
                   double* PR, const void* UNUSED);

inline constexpr int kSlotCapacity = 1000;  // points of each result slot array
inline constexpr int kLoadCapacity = 10;    // loads of XL, YL, P, A
inline constexpr int kLayerCapacity = 50;   // layers of E, PR

// BTWODIMENSION for a caller whose layer arrays E, PR hold `layer_capacity`
// layers (the engine's top-layer split may add one to the 50).
void add_load_response(int layer_capacity, int* IPT, int* ILOAD, int* NEARSURF, double* XL,
                       double* YL, double* P, double* A, double* PZ, int* PLAYER, double* PX,
                       double* PY, double* W, double* U, double* ER, double* ET, double* EZ,
                       double* ERZ, double* SLOT1, double* SLOT2, double* SLOT3, double* SLOT4,
                       double* SLOT5, double* SLOT6, double* SLOT7, double* SLOT8, double* SLOT9,
                       double* SLOT10, double* SLOT11, double* SLOT12, double* SLOT13,
                       double* SLOT14, double* SLOT15, double* E, double* PR);

}  // namespace zalk::plate
