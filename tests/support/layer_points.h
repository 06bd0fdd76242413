// Where the engine's tests, recorded outputs and benchmarks load and look at
// layered structures.
#pragma once

#include "io/deck.h"
#include "zalk/rating_model.hpp"

namespace zalk::testing {

// Points on the axis and 7.5 off it, at the top and in the middle of every
// layer (the half-space taken as 20 deep).

inline void place_points_in_every_layer(engine::DeckProblem& p) {
  double depth = 0.0;
  int k = 0;
  for (int i = 0; i < p.nlayer; ++i) {
    const double h = i + 1 == p.nlayer ? 20.0 : p.thick[i];
    for (double frac : {0.0, 0.5}) {
      for (double r : {0.0, 7.5}) {
        p.lpoint[k] = i + 1;
        p.xpoint[k] = r;
        p.zpoint[k] = depth + frac * h;
        ++k;
      }
    }
    depth += p.thick[i];
  }
  p.npoint = k;
}

// The falling weight's plate at `pressure_psi` and a nine-sensor basin on
// the surface: the table's six sensors and three more out to 72 in.
inline void place_plate_and_nine_sensors(engine::DeckProblem& p, double pressure_psi) {
  p.nload = 1;
  p.press[0] = pressure_psi;
  p.radius[0] = kRatingModel.plate_radius_in;
  const double outer[] = {48, 60, 72};
  int k = 0;
  for (double r : kLegacySensorOffsets) p.xpoint[k++] = r;
  for (double r : outer) p.xpoint[k++] = r;
  p.npoint = k;
  for (int s = 0; s < k; ++s) p.lpoint[s] = 1;
}

}  // namespace zalk::testing
