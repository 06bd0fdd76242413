// The deflection table and the spline surfaces built from it per section.
#pragma once

#include <filesystem>
#include <vector>

#include "rating/blocks.h"

namespace zalk::rating {

// DTAB(8, 8, 8, 11, 8, 8) and DTHK(8, 11, 8, 8), column-major, 4-byte floats.
struct DeflectionTables {
  std::vector<float> dtab;  // DTAB(i,k,d,m,n,s)
  std::vector<float> dthk;  // DTHK(d,m,n,s)
};

enum class TableRead { Complete, Short };

// Creates both tables zeroed and reads the table file into DTAB (the loop
// variable d runs in IDEPTH). A missing file is a terminal error through the
// reporter naming the file (no file is created); a short file stops the
// reading (the rest stays zero), prints a warning and returns Short.
TableRead read_deflection_table(const std::filesystem::path& file, DeflectionTables& t, Blocks& b);

// Thickness interpolation into DTHK at surface thickness h and base thickness b.
void fit_thickness(DeflectionTables& t, float h, float base, Blocks& b);

// Modulus surfaces SCOEF(., d, s), d, s = 1..8, with grids and knots in COM1/COM3.
void fit_modulus_surfaces(const DeflectionTables& t, Blocks& b);

// Deflection of sensor s (1..8) at (x1, x2) (thousands) for depth IDEPTH;
// leaves XVEC, YVEC, VALUE as the evaluation does.
float evaluate_surface(Blocks& b, float x1, float x2, int sensor);

}  // namespace zalk::rating
