// Exact response of a homogeneous elastic half-space under a uniformly
// loaded circle: closed forms on the axis and at the surface, the Hankel
// integrals summed numerically below it. Slower than the plate tables but
// without their interpolation error (up to 1e-2 at the load edge).
#pragma once

namespace zalk::plate {

struct HalfSpaceResponse {
  double w = 0, u = 0;                    // vertical and radial displacement
  double er = 0, et = 0, ez = 0, erz = 0;  // radial, tangential, vertical, r-z shear (tensor) strain
};

// Response to pressure q on a circle of radius a on a half-space of modulus
// e and Poisson's ratio nu, at horizontal distance r >= 0 from the centre
// and depth z >= 0. On the surface at the load edge, where the strains jump,
// the mean of the two one-sided limits is returned.
HalfSpaceResponse halfspace_exact(double r, double z, double a, double q, double e, double nu);

}  // namespace zalk::plate
