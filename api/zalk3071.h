/* zalk3071: pavement structural analysis library.
 *
 * C interface for host programs: the exported entry points and the byte
 * layouts of the seven shared blocks. Every argument is passed by
 * reference; arrays are column-major with 1-based extents as documented.
 */
#ifndef ZALK3071_H
#define ZALK3071_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* CODE (8 bytes) */
typedef struct {
  int32_t ICODE;       /* bound flags of the last back-calculation search */
  int32_t reserved;
} zalk_code_block;

/* DD (160 bytes): deflections of the current test */
typedef struct {
  float DMEAS[10];     /* measured deflections / 1000, sensors 1..6 */
  float DFIT[10];      /* surface deflections at the search optimum */
  float DCALC[10];     /* engine deflections for the back-calculated moduli, 1..8 */
  float DSPARE[10];
} zalk_dd_block;

/* COM1 (1,600 bytes): grid and knots of the surfaces */
typedef struct {
  float XDATA[100];
  float YDATA[100];
  float XKNOT[100];
  float YKNOT[100];
} zalk_com1_block;

/* COM2 (1,600,128 bytes): SCOEF(1000, 20, 20) is SCOEF[s-1][d-1][i-1] */
typedef struct {
  float SCOEF[20][20][1000];
  float XVEC[10];
  float YVEC[10];
  float VALUE[10];
  char reserved[8];
} zalk_com2_block;

/* COM3 (96 bytes) */
typedef struct {
  int32_t KXORD;
  int32_t KYORD;
  int32_t reserved8;
  int32_t reserved12;
  int32_t NXDATA;
  int32_t reserved20;
  int32_t NX;
  int32_t NYDATA;
  int32_t reserved32;
  int32_t NY;
  int32_t reserved40;
  int32_t reserved44;
  int32_t reserved48;
  int32_t NXCOEF;
  int32_t NYCOEF;
  float WEIGHT[9];
} zalk_com3_block;

/* DEPTH (32 bytes) */
typedef struct {
  int32_t IDEPTH;
  int32_t reserved[7];
} zalk_depth_block;

/* DAM (288 bytes): per-season values of the current section, seasons 1..5 */
typedef struct {
  float SDAYS[12];
  float SPAVT[12];
  float SBASEF[12];
  float SSUBF[12];
  float SAIRT[12];
  float SYEARF[12];
} zalk_dam_block;

#ifdef __cplusplus
}
#endif

#endif /* ZALK3071_H */
