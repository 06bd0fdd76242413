// The seven shared blocks, exported as data symbols under their plain names.
// Zero-initialised static storage, so every block is zero at load.
#include "zalk3071/zalk3071.h"

extern "C" {
ZALK_API zalk_code_block CODE;
ZALK_API zalk_dd_block DD;
ZALK_API zalk_com1_block COM1;
ZALK_API zalk_com2_block COM2;
ZALK_API zalk_com3_block COM3;
ZALK_API zalk_depth_block DEPTH;
ZALK_API zalk_dam_block DAM;
}
