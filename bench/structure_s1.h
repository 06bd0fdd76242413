// Structure S1 of the engine benchmarks (h 4, 8, 12; E 500000, 30000,
// 10000 in all five seasons) as QUORVAN takes it, and as the deck request
// whose problems the core analyses.
#pragma once

#include "io/deck.h"

namespace zalk::bench {

inline constexpr float kS1E1[5] = {500000, 500000, 500000, 500000, 500000};
inline constexpr float kS1E2[5] = {30000, 30000, 30000, 30000, 30000};
inline constexpr float kS1E3[5] = {10000, 10000, 10000, 10000, 10000};
inline constexpr float kS1Seastab[5] = {10.0f, 0.2f, 1.0f, 1.3f, 1.0f};

inline engine::DeckRequest s1_request(int ncases, int mode) {
  engine::DeckRequest request;
  request.h1 = 4;
  request.h2 = 8;
  request.h3 = 12;
  request.e1 = kS1E1;
  request.e2 = kS1E2;
  request.e3 = kS1E3;
  request.q = 1;
  request.ncases = ncases;
  request.mode = mode;
  return request;
}

}  // namespace zalk::bench
