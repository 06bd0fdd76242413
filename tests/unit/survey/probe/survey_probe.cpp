// Reads drops from standard input, one a line:
//   load_lb plate_radius_in thickness_in design_factor reference_load_lb n r_1..r_n d_1..d_n
// and writes for each the flags, the basin indices (plain and at the
// reference load) and the AASHTO 93 columns, to 17 significant digits, for
// the reference computation in aashto_reference.py to check.
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "rating/survey.h"

namespace survey = zalk::rating::survey;

int main() {
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    double load, radius, thickness, factor, reference;
    std::size_t n = 0;
    if (!(in >> load >> radius >> thickness >> factor >> reference >> n)) continue;
    std::vector<double> r(n), d(n);
    for (double& v : r) in >> v;
    for (double& v : d) in >> v;
    const survey::Drop drop{r, d, load};
    const survey::Indices ix = survey::basin_indices(drop, reference);
    const survey::Aashto93 a = survey::aashto93(drop, {thickness, radius, factor});
    std::printf("%u %u", ix.flags, a.flags);
    for (double v : {ix.d0_mils, ix.sci_mils, ix.bdi_mils, ix.bci_mils, ix.area_in, ix.d0_norm, ix.sci_norm,
                     ix.bdi_norm, ix.bci_norm, ix.area_norm, a.mr_psi, a.mr_offset_in, a.ep_psi, a.ae_in,
                     a.sneff, a.mr_design_psi})
      std::printf(" %.17g", v);
    std::printf("\n");
  }
  return 0;
}
