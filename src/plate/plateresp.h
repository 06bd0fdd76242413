// Homogeneous half-space response under a uniformly loaded circle, used near
// the surface of the top layer.
#pragma once

namespace zalk::plate {

// Response of a homogeneous body (modulus E1, Poisson's ratio NU1) to load
// ILOAD (1-based into P and A: pressure and radius) at horizontal distance R
// and depth Z: vertical and radial displacement, radial, tangential, vertical
// and radial-vertical shear (tensor) strain.
void plate_response(int ILOAD, double R, double E1, double NU1, double& W, double& U, double& ER,
               double& ET, double& EZ, double& ERZ, double Z, const double* P, const double* A);

}  // namespace zalk::plate
