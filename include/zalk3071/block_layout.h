/* zalk3071: byte layouts of the seven shared blocks the rating core fills.
 *
 * Plain C, so that the host header (zalk3071.h) can include it; the
 * rating core binds its working state to blocks of these types. "float" is
 * an IEEE 4-byte float, int32_t a signed 4-byte integer.
 */
#ifndef ZALK3071_BLOCK_LAYOUT_H
#define ZALK3071_BLOCK_LAYOUT_H

#include <stddef.h>
#include <stdint.h>

/* CODE (8 bytes) */
typedef struct {
  int32_t ICODE;       /* where the optimum of the last back-calculation search
                          lies on the bounds: 20 surface modulus at its upper,
                          10 at its lower bound, plus 2 base modulus at its
                          upper, 1 at its lower bound; 0 inside */
  int32_t reserved;
} zalk_code_block;

/* DD (160 bytes): deflections of the current test */
typedef struct {
  float DMEAS[10];     /* measured deflections / 1000, sensors 1..6 */
  float DFIT[10];      /* surface deflections at the search optimum */
  float DCALC[10];     /* engine deflections for the back-calculated moduli,
                          1..8, of the last search made */
  float DSPARE[10];    /* never written */
} zalk_dd_block;

/* COM1 (1,600 bytes): grid and knots of the surfaces being fitted or
 * evaluated (after a rating call: surface and base modulus grids, in
 * thousands of the modulus unit, and their not-a-knot knots) */
typedef struct {
  float XDATA[100];    /* grid in x, first NXDATA used */
  float YDATA[100];    /* grid in y, first NYDATA used */
  float XKNOT[100];    /* knots in x, NXDATA + KXORD used */
  float YKNOT[100];    /* knots in y, NYDATA + KYORD used */
} zalk_com1_block;

/* COM2 (1,600,128 bytes): SCOEF(1000, 20, 20) is SCOEF[s-1][d-1][i-1]: the
 * B-spline coefficients of the deflection surface of sensor s at depth index
 * d (d, s = 1..8; 11 x 8 coefficients, column-major, in the first 88) */
typedef struct {
  float SCOEF[20][20][1000];
  float XVEC[10];      /* abscissa of the last surface evaluation (element 1) */
  float YVEC[10];      /* its ordinate (element 1) */
  float VALUE[10];     /* its value (element 1) */
  char reserved[8];
} zalk_com2_block;

/* COM3 (96 bytes): spline orders and counts, and the sensor weights */
typedef struct {
  int32_t KXORD;       /* spline order in x: 3 */
  int32_t KYORD;       /* spline order in y: 3 */
  int32_t reserved8;
  int32_t reserved12;
  int32_t NXDATA;      /* grid values in x: 8 (thickness) or 11 (modulus surfaces) */
  int32_t reserved20;
  int32_t NX;          /* evaluation abscissas: 1 */
  int32_t NYDATA;      /* grid values in y: 8 */
  int32_t reserved32;
  int32_t NY;          /* evaluation ordinates: 1 */
  int32_t reserved40;
  int32_t reserved44;
  int32_t reserved48;
  int32_t NXCOEF;      /* coefficients in x */
  int32_t NYCOEF;      /* coefficients in y */
  float WEIGHT[9];     /* sensor weights: 1..6 set to 1.0 by every rating
                          call; 7 and 8 are the host's (0 unless written); a
                          sensor with weight > 0 takes part in the search */
} zalk_com3_block;

/* DEPTH (32 bytes) */
typedef struct {
  int32_t IDEPTH;      /* depth index (1..8) of the surfaces in use; after a
                          rating call the best depth of the last test */
  int32_t reserved[7];
} zalk_depth_block;

/* DAM (288 bytes): per-season values of the current section, seasons 1..5 */
typedef struct {
  float SDAYS[12];     /* days of the season */
  float SPAVT[12];     /* pavement temperature of the season, F */
  float SBASEF[12];    /* base modulus factor */
  float SSUBF[12];     /* subgrade modulus factor */
  float SAIRT[12];     /* mean air temperature of the season, F */
  float SYEARF[12];    /* fraction of the year, SDAYS / 365 */
} zalk_dam_block;

/* The fixed layouts, checked wherever this header is compiled. */
#if defined(__cplusplus)
#  define ZALK_LAYOUT_CHECK(cond, what) static_assert(cond, what)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#  define ZALK_LAYOUT_CHECK(cond, what) _Static_assert(cond, what)
#else
#  define ZALK_LAYOUT_CHECK(cond, what)
#endif
#define ZALK_AT(type, member, offset) \
  ZALK_LAYOUT_CHECK(offsetof(type, member) == (offset), #type "." #member " offset")

ZALK_LAYOUT_CHECK(sizeof(zalk_code_block) == 8, "CODE size");
ZALK_AT(zalk_code_block, ICODE, 0);

ZALK_LAYOUT_CHECK(sizeof(zalk_dd_block) == 160, "DD size");
ZALK_AT(zalk_dd_block, DMEAS, 0);
ZALK_AT(zalk_dd_block, DFIT, 40);
ZALK_AT(zalk_dd_block, DCALC, 80);
ZALK_AT(zalk_dd_block, DSPARE, 120);

ZALK_LAYOUT_CHECK(sizeof(zalk_com1_block) == 1600, "COM1 size");
ZALK_AT(zalk_com1_block, XDATA, 0);
ZALK_AT(zalk_com1_block, YDATA, 400);
ZALK_AT(zalk_com1_block, XKNOT, 800);
ZALK_AT(zalk_com1_block, YKNOT, 1200);

ZALK_LAYOUT_CHECK(sizeof(zalk_com2_block) == 1600128, "COM2 size");
ZALK_AT(zalk_com2_block, SCOEF, 0);
ZALK_AT(zalk_com2_block, XVEC, 1600000);
ZALK_AT(zalk_com2_block, YVEC, 1600040);
ZALK_AT(zalk_com2_block, VALUE, 1600080);
ZALK_AT(zalk_com2_block, reserved, 1600120);

ZALK_LAYOUT_CHECK(sizeof(zalk_com3_block) == 96, "COM3 size");
ZALK_AT(zalk_com3_block, KXORD, 0);
ZALK_AT(zalk_com3_block, KYORD, 4);
ZALK_AT(zalk_com3_block, NXDATA, 16);
ZALK_AT(zalk_com3_block, NX, 24);
ZALK_AT(zalk_com3_block, NYDATA, 28);
ZALK_AT(zalk_com3_block, NY, 36);
ZALK_AT(zalk_com3_block, NXCOEF, 52);
ZALK_AT(zalk_com3_block, NYCOEF, 56);
ZALK_AT(zalk_com3_block, WEIGHT, 60);

ZALK_LAYOUT_CHECK(sizeof(zalk_depth_block) == 32, "DEPTH size");
ZALK_AT(zalk_depth_block, IDEPTH, 0);

ZALK_LAYOUT_CHECK(sizeof(zalk_dam_block) == 288, "DAM size");
ZALK_AT(zalk_dam_block, SDAYS, 0);
ZALK_AT(zalk_dam_block, SPAVT, 48);
ZALK_AT(zalk_dam_block, SBASEF, 96);
ZALK_AT(zalk_dam_block, SSUBF, 144);
ZALK_AT(zalk_dam_block, SAIRT, 192);
ZALK_AT(zalk_dam_block, SYEARF, 240);

#undef ZALK_AT

#endif /* ZALK3071_BLOCK_LAYOUT_H */
