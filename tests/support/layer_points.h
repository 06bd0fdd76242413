// Points on the axis and 7.5 off it, at the top and in the middle of every
// layer (the half-space taken as 20 deep): where the engine's tests and
// recorded outputs look at random layered structures.
#pragma once

#include "io/deck.h"

namespace zalk::testing {

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

}  // namespace zalk::testing
