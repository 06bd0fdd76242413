// The shared blocks as the rating core sees them: references to one set of
// blocks, so the core keeps no state of its own. The library boundary binds
// them to the exported blocks; tests may bind private copies.
#pragma once

#include <array>
#include <cstddef>
#include <memory>

#include "zalk3071/block_layout.h"

namespace zalk::rating {

// Where the surfaces' coefficients and the last surface evaluation are kept:
// the legacy COM2 block (SCOEF(1000, 20, 20), of which 8 x 8 surfaces of 88
// coefficients are used) or a compact store of just those.
struct SurfaceStore {
  float* scoef;
  int sensors;              // slots per depth
  int depths;               // slots per sensor
  std::size_t slot_length;  // floats of one slot, and from one depth's to the next's
  std::size_t sensor_stride;  // floats from one sensor's surfaces to the next's
  float* XVEC;
  float* YVEC;
  float* VALUE;

  SurfaceStore(float* coefficients, int sensor_slots, int depth_slots, std::size_t length, float* x, float* y,
               float* value)
      : scoef(coefficients), sensors(sensor_slots), depths(depth_slots), slot_length(length),
        sensor_stride(std::size_t(depth_slots) * length), XVEC(x), YVEC(y), VALUE(value) {}
  SurfaceStore(zalk_com2_block& b)  // NOLINT: the legacy block stands for its store
      : SurfaceStore(&b.SCOEF[0][0][0], 20, 20, 1000, b.XVEC, b.YVEC, b.VALUE) {}
  // The coefficients of sensor s at depth index d (1-based).
  float* slot(int s, int d) const {
    return scoef + std::size_t(s - 1) * sensor_stride + std::size_t(d - 1) * slot_length;
  }
};

struct Blocks {
  zalk_code_block& code;
  zalk_dd_block& dd;
  zalk_com1_block& com1;
  SurfaceStore com2;
  zalk_com3_block& com3;
  zalk_depth_block& depth;
  zalk_dam_block& dam;
};

// A private set of blocks, zero like the exported ones at load, for callers
// that run the rating core on their own state. COM2 alone is 1.6 MB, so the
// set lives on the heap.
struct OwnedBlocks {
  std::unique_ptr<zalk_code_block> code = std::make_unique<zalk_code_block>();
  std::unique_ptr<zalk_dd_block> dd = std::make_unique<zalk_dd_block>();
  std::unique_ptr<zalk_com1_block> com1 = std::make_unique<zalk_com1_block>();
  std::unique_ptr<zalk_com2_block> com2 = std::make_unique<zalk_com2_block>();
  std::unique_ptr<zalk_com3_block> com3 = std::make_unique<zalk_com3_block>();
  std::unique_ptr<zalk_depth_block> depth = std::make_unique<zalk_depth_block>();
  std::unique_ptr<zalk_dam_block> dam = std::make_unique<zalk_dam_block>();
  Blocks view{*code, *dd, *com1, *com2, *com3, *depth, *dam};
};

// The rating's working blocks without the legacy COM2's unused room: the
// 8 x 8 surfaces of 88 coefficients the rating fits (22 KB, not 1.6 MB).
// Results are those of OwnedBlocks bit for bit; only COM2's bytes differ.
struct CompactBlocks {
  static constexpr std::size_t kSurfaceLength = 88;  // 11 x 8 coefficients
  static constexpr std::size_t kDepths = 8;
  static constexpr std::size_t kSensors = 8;
  struct Surfaces {
    std::array<float, kSensors * kDepths * kSurfaceLength> scoef{};
    std::array<float, 10> xvec{}, yvec{}, value{};
  };
  std::unique_ptr<zalk_code_block> code = std::make_unique<zalk_code_block>();
  std::unique_ptr<zalk_dd_block> dd = std::make_unique<zalk_dd_block>();
  std::unique_ptr<zalk_com1_block> com1 = std::make_unique<zalk_com1_block>();
  std::unique_ptr<Surfaces> surfaces = std::make_unique<Surfaces>();
  std::unique_ptr<zalk_com3_block> com3 = std::make_unique<zalk_com3_block>();
  std::unique_ptr<zalk_depth_block> depth = std::make_unique<zalk_depth_block>();
  std::unique_ptr<zalk_dam_block> dam = std::make_unique<zalk_dam_block>();
  Blocks view{*code,
              *dd,
              *com1,
              SurfaceStore(surfaces->scoef.data(), int(kSensors), int(kDepths), kSurfaceLength,
                           surfaces->xvec.data(), surfaces->yvec.data(), surfaces->value.data()),
              *com3,
              *depth,
              *dam};
};

}  // namespace zalk::rating
