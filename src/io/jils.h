// Reader of JILS .DAT field files: plain text, a header of "Key: value"
// lines, then per station its drop lines followed by a few trailer lines:
//
//   M5                                        device model
//   Date-Time:  5/13/2019  8:35:57            month/day/year and time
//   Sensors: 1,  2,  3,  4,  5,  6,  7,  8,  9  the sensors read, in order
//   Weight/spring: 3 / Location: / Temp: / Operator: / Comments:  kept
//   station drop distance(ft) type d1 .. dn (mils) load(kips) pavement(F)
//   Drop Sequence Completed Time: 08:38    Air Temp (F): 72.4
//   GPS: Quality : DGPS Fix   Latitude = 34 deg58.140880  N   Longitude = ...
//   Note: 4588
//
// Fields of a drop line are separated by blanks. The trailer lines belong to
// the station whose drops precede them. The file does not say where the
// sensors stand: the caller gives the offset of sensor k as offsets_mm[k-1].
// The drops come out as F25 drops do (deflections in micrometres, offsets in
// mm, temperatures in F), with the load as written; a faulty sensor (a zero
// reading, an outer sensor far above the centre) flags the basin.
#pragma once

#include <filesystem>
#include <string_view>
#include <vector>

#include "io/f25.h"

namespace zalk::io {

struct JilsOptions {
  // The offset of each sensor number (sensor k at offsets_mm[k-1]); empty
  // for jils_default_offsets_mm().
  std::vector<double> offsets_mm;
  // The plate radius, which the file does not give; the stress of a drop is
  // its load on this plate.
  double plate_radius_mm = 150.0;
};

// 0, 8, 12, 18, 24, 36, 48, 60 and 72 inches, in mm: the nine sensors of the
// usual layout.
std::vector<double> jils_default_offsets_mm();

F25File read_jils(std::string_view text, std::string_view file, const JilsOptions& options = {});
F25File read_jils_file(const std::filesystem::path& path, const JilsOptions& options = {});

}  // namespace zalk::io
