/* A plain C host of the shared library: loads it at run time, finds every
 * entry point and block by name, and calls it the way a host program does
 * (every argument by reference, column-major arrays).
 *
 * Usage: api_host <library> <deflection table>        the checks below
 *        api_host <library> --missing-table-default     a rating call without
 *            a table and without the status opt-in: must end the process
 *
 * The data folder is $ZALK3071_DIR; it is created here when missing. */
#include <dlfcn.h>
#include <errno.h>
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "zalk3071/zalk3071.h"

typedef void (*versionnum_fn)(double*);
typedef void (*quorvan_fn)(float*, float*, float*, float*, float*, float*, float*, float*, float*,
                           float*, int32_t*, int32_t*);
typedef void (*rating_fn)(double*, double*, double*, int32_t*, int32_t*);
typedef void (*over_fn)(double*, double*, double*, double*, double*, double*, int32_t*, void*,
                        double*, int32_t*, double*, double*);
typedef void (*status_fn)(int32_t*, int32_t*, char*, int32_t*);

static void* lib;
static int failures;

static void check(int ok, const char* fmt, ...) {
  if (ok) return;
  va_list ap;
  va_start(ap, fmt);
  fprintf(stderr, "FAILED: ");
  vfprintf(stderr, fmt, ap);
  fprintf(stderr, "\n");
  va_end(ap);
  ++failures;
}

/* The reporter wraps a long message at a fixed width and starts each
 * continuation line with " ***" and spaces; a file name may be cut anywhere,
 * so the checks read the message with those breaks taken out. */
static void unwrap(const char* msg, char* out, size_t size) {
  size_t n = 0;
  while (*msg != '\0' && n + 1 < size) {
    if (strncmp(msg, "\n ***", 5) == 0) {
      msg += 5;
      while (*msg == ' ') ++msg;
      continue;
    }
    out[n++] = *msg++;
  }
  out[n] = '\0';
}

/* POSIX lets a data pointer from dlsym carry a function address; the copy
 * through memory avoids a cast that ISO C does not define. */
#define LOAD_FN(var, name) (*(void**)(&(var)) = symbol(name))

static void* symbol(const char* name) {
  void* p = dlsym(lib, name);
  if (p == NULL) {
    fprintf(stderr, "FAILED: symbol %s not found: %s\n", name, dlerror());
    exit(1);
  }
  return p;
}

/* Host arrays, column-major: FWD(20, 2000, 10), RESULT(20, 2000, 6), SECT(20, 23). */
#define NSECMAX 20
#define NTESTMAX 2000
static double FWD[NSECMAX * NTESTMAX * 10];
static double RESULT[NSECMAX * NTESTMAX * 6];
static double SECT[NSECMAX * 23];
#define FWD_AT(p, j, k) FWD[((k)-1) * NSECMAX * NTESTMAX + ((j)-1) * NSECMAX + ((p)-1)]
#define RES_AT(p, j, k) RESULT[((k)-1) * NSECMAX * NTESTMAX + ((j)-1) * NSECMAX + ((p)-1)]
#define SECT_AT(p, c) SECT[((c)-1) * NSECMAX + ((p)-1)]

static void make_dirs(const char* path) {
  char buf[4096];
  size_t n = strlen(path);
  if (n >= sizeof buf) exit(1);
  memcpy(buf, path, n + 1);
  for (size_t i = 1; i <= n; ++i) {
    if (buf[i] == '/' || buf[i] == '\0') {
      char c = buf[i];
      buf[i] = '\0';
      if (mkdir(buf, 0777) != 0 && errno != EEXIST) {
        fprintf(stderr, "cannot create %s\n", buf);
        exit(1);
      }
      buf[i] = c;
    }
  }
}

static void copy_file(const char* from, const char* to) {
  FILE* in = fopen(from, "rb");
  FILE* out = fopen(to, "wb");
  char chunk[1 << 16];
  size_t got;
  if (in == NULL || out == NULL) {
    fprintf(stderr, "cannot copy %s to %s\n", from, to);
    exit(1);
  }
  while ((got = fread(chunk, 1, sizeof chunk, in)) > 0) fwrite(chunk, 1, got, out);
  fclose(in);
  fclose(out);
}

static int all_zero(const void* p, size_t n) {
  const unsigned char* b = (const unsigned char*)p;
  for (size_t i = 0; i < n; ++i)
    if (b[i] != 0) return 0;
  return 1;
}

/* One section with one test: the deflection basin the engine computes for
 * known moduli, as if measured (mils under the table's reference load). */
static const float H1 = 5.0f, H2 = 12.0f, H3 = 120.0f;
static const float E1 = 500000.0f, E2 = 30000.0f, E3 = 10000.0f;

static void one_section(const float* basin) {
  memset(FWD, 0, sizeof FWD);
  memset(SECT, 0, sizeof SECT);
  FWD_AT(1, 1, 1) = 13.0;     /* time of day */
  FWD_AT(1, 1, 2) = 10940.0;  /* load */
  for (int s = 1; s <= 6; ++s) FWD_AT(1, 1, 2 + s) = (double)basin[s - 1] * 1000.0;
  FWD_AT(1, 1, 9) = 100000.0; /* annual repetitions */
  FWD_AT(1, 1, 10) = 72.0;    /* surface temperature */
  const double days[5] = {91, 90, 30, 30, 124}, air[5] = {55, 30, 45, 60, 80};
  for (int i = 1; i <= 5; ++i) {
    SECT_AT(1, i) = days[i - 1];
    SECT_AT(1, 5 + i) = air[i - 1];
    SECT_AT(1, 13 + i) = 1.0;
    SECT_AT(1, 18 + i) = 1.0;
  }
  SECT_AT(1, 11) = H1;
  SECT_AT(1, 12) = H2;
  SECT_AT(1, 13) = 60.0;
}

static int missing_table_default(void) {
  rating_fn zalk;
  LOAD_FN(zalk, "ZALK3071DLL");
  int32_t ntest[20] = {1}, nsec = 1;
  float basin[8] = {0.02f, 0.015f, 0.012f, 0.009f, 0.007f, 0.005f, 0.003f, 0.002f};
  one_section(basin);
  zalk(FWD, RESULT, SECT, ntest, &nsec);
  printf("the process went on after a severe error\n");
  return 0;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: api_host <library> <deflection table | --missing-table-default>\n");
    return 2;
  }
  const char* dir = getenv("ZALK3071_DIR");
  if (dir == NULL) {
    fprintf(stderr, "ZALK3071_DIR must name the data folder\n");
    return 2;
  }
  make_dirs(dir);
  char table[4096];
  snprintf(table, sizeof table, "%s/backdefl.txt", dir);
  remove(table);

  lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (lib == NULL) {
    fprintf(stderr, "FAILED: %s\n", dlerror());
    return 1;
  }
  if (strcmp(argv[2], "--missing-table-default") == 0) return missing_table_default();

  versionnum_fn versionnum;
  quorvan_fn quorvan;
  rating_fn zalk;
  over_fn over;
  status_fn status;
  LOAD_FN(versionnum, "VERSIONNUM");
  LOAD_FN(quorvan, "QUORVAN");
  LOAD_FN(zalk, "ZALK3071DLL");
  LOAD_FN(over, "OVER");
  LOAD_FN(status, "ZALKSTATUS");
  symbol("BTWODIMENSION");
  zalk_code_block* code = (zalk_code_block*)symbol("CODE");
  zalk_dd_block* dd = (zalk_dd_block*)symbol("DD");
  zalk_com1_block* com1 = (zalk_com1_block*)symbol("COM1");
  zalk_com2_block* com2 = (zalk_com2_block*)symbol("COM2");
  zalk_com3_block* com3 = (zalk_com3_block*)symbol("COM3");
  zalk_depth_block* depth = (zalk_depth_block*)symbol("DEPTH");
  zalk_dam_block* dam = (zalk_dam_block*)symbol("DAM");

  /* Blocks are zero at load; VERSIONNUM writes its 8 bytes and nothing else. */
#define BLOCKS_ZERO()                                                                         \
  (all_zero(code, sizeof *code) && all_zero(dd, sizeof *dd) && all_zero(com1, sizeof *com1) && \
   all_zero(com2, sizeof *com2) && all_zero(com3, sizeof *com3) &&                            \
   all_zero(depth, sizeof *depth) && all_zero(dam, sizeof *dam))
  check(BLOCKS_ZERO(), "blocks not zero at load");
  {
    unsigned char buf[24];
    double v;
    memset(buf, 0xA5, sizeof buf);
    versionnum((double*)(buf + 8));
    memcpy(&v, buf + 8, sizeof v);
    check(v == 2.0, "VERSIONNUM gave %g", v);
    for (int i = 0; i < 8; ++i) check(buf[i] == 0xA5 && buf[16 + i] == 0xA5, "VERSIONNUM wrote beyond VER");
    check(BLOCKS_ZERO(), "VERSIONNUM touched a block");
  }

  /* The status: default setting first, then the opt-in. */
  int32_t mode = -1, st = -1, len = 0;
  status(&mode, &st, NULL, &len);
  check(mode == 0 && st == 0 && len == 0, "initial status mode %d status %d length %d", mode, st, len);
  mode = 1;
  status(&mode, &st, NULL, &len);
  check(mode == 1, "opt-in not taken");

  /* A rating call without the table returns with a terminal status naming it. */
  int32_t ntest[20] = {1}, nsec = 1;
  {
    float basin[8] = {0.02f, 0.015f, 0.012f, 0.009f, 0.007f, 0.005f, 0.003f, 0.002f};
    one_section(basin);
    RES_AT(1, 1, 1) = -7.0;
    zalk(FWD, RESULT, SECT, ntest, &nsec);
    char msg[512];
    len = (int32_t)sizeof msg;
    mode = -1;
    status(&mode, &st, msg, &len);
    check(st == ZALK_STATUS_TERMINAL, "missing table: status %d", st);
    char joined[512];
    unwrap(msg, joined, sizeof joined);
    check(strstr(joined, "backdefl.txt") != NULL && strstr(joined, "exist.") != NULL,
          "missing table: message '%s'", msg);
    check(len == (int32_t)strlen(msg), "message length %d for '%s'", len, msg);
    check(RES_AT(1, 1, 1) == -7.0, "RESULT written after a failed table read");
    FILE* f = fopen(table, "rb");
    check(f == NULL, "an empty table file was created");
    if (f) fclose(f);
    /* A short buffer gets a cut, terminated message and the full length. */
    char small[8];
    int32_t full = len;
    len = (int32_t)sizeof small;
    status(&mode, &st, small, &len);
    check(len == full && strlen(small) == 7 && strncmp(small, msg, 7) == 0, "short buffer");
  }

  /* QUORVAN, mode 1: eight surface deflections decreasing with the offset;
   * the mode-2 output is not touched. */
  float h1 = H1, h2 = H2, h3 = H3, e1 = E1, e2 = E2, e3 = E3, q = 1.0f;
  float defl[10], resp[10], seastab[5] = {10.0f, 0.2f, 1.0f, 1.3f, 1.0f};
  int32_t ncases = 1, one = 1;
  static zalk_com2_block com2_before;
  zalk_code_block code_before = *code;
  zalk_dd_block dd_before = *dd;
  zalk_com1_block com1_before = *com1;
  zalk_com3_block com3_before = *com3;
  zalk_depth_block depth_before = *depth;
  zalk_dam_block dam_before = *dam;
  com2_before = *com2;
  for (int i = 0; i < 10; ++i) defl[i] = resp[i] = -1.0f;
  quorvan(&h1, &h2, &h3, &e1, &e2, &e3, &q, defl, resp, seastab, &ncases, &one);
  len = 0;
  status(&mode, &st, NULL, &len);
  check(st == 0, "QUORVAN status %d", st);
  for (int i = 0; i < 8; ++i) check(isfinite(defl[i]) && defl[i] > 0.0f, "DEFL(%d) = %g", i + 1, defl[i]);
  for (int i = 1; i < 8; ++i) check(defl[i] < defl[i - 1], "DEFL not decreasing at %d", i + 1);
  check(defl[8] == -1.0f && defl[9] == -1.0f, "DEFL written beyond 8");
  for (int i = 0; i < 10; ++i) check(resp[i] == -1.0f, "RESP touched in mode 1");
  check(memcmp(&code_before, code, sizeof *code) == 0 && memcmp(&dd_before, dd, sizeof *dd) == 0 &&
            memcmp(&com1_before, com1, sizeof *com1) == 0 && memcmp(&com2_before, com2, sizeof *com2) == 0 &&
            memcmp(&com3_before, com3, sizeof *com3) == 0 && memcmp(&depth_before, depth, sizeof *depth) == 0 &&
            memcmp(&dam_before, dam, sizeof *dam) == 0,
        "QUORVAN touched a block");

  /* QUORVAN, mode 2 with five cases: RESP(10, 5) column-major, elements 1..9
   * of every column written, element 10 and DEFL left alone. */
  {
    float e1s[5] = {900000, 400000, 300000, 250000, 150000}, e2s[5], e3s[5];
    float resp5[50], defl5[8];
    int32_t five = 5, two = 2;
    for (int c = 0; c < 5; ++c) {
      e2s[c] = E2;
      e3s[c] = E3;
    }
    for (int i = 0; i < 50; ++i) resp5[i] = -9.0f;
    for (int i = 0; i < 8; ++i) defl5[i] = -9.0f;
    quorvan(&h1, &h2, &h3, e1s, e2s, e3s, &q, defl5, resp5, seastab, &five, &two);
    status(&mode, &st, NULL, &len);
    check(st == 0, "QUORVAN mode 2 status %d", st);
    for (int c = 0; c < 5; ++c) {
      for (int k = 0; k < 9; ++k)
        check(resp5[10 * c + k] != -9.0f && isfinite(resp5[10 * c + k]), "RESP(%d,%d) = %g", k + 1, c + 1,
              resp5[10 * c + k]);
      check(resp5[10 * c + 9] == -9.0f, "RESP(10,%d) written", c + 1);
    }
    /* A stiffer surface layer strains less at its bottom (field 1, tension positive). */
    for (int c = 1; c < 5; ++c)
      check(fabs(resp5[10 * c]) > fabs(resp5[10 * (c - 1)]), "strain not growing as E1 falls (case %d)", c + 1);
    for (int i = 0; i < 8; ++i) check(defl5[i] == -9.0f, "DEFL written in mode 2");
  }

  /* The rating of that basin with the shipped table recovers the moduli. */
  copy_file(argv[2], table);
  one_section(defl);
  zalk(FWD, RESULT, SECT, ntest, &nsec);
  status(&mode, &st, NULL, &len);
  check(st == 0, "ZALK3071DLL status %d", st);
  printf("rating: allow %.4g E1 %.6g E72 %.6g E2 %.6g E3 %.6g depth %g\n", RES_AT(1, 1, 1),
         RES_AT(1, 1, 2), RES_AT(1, 1, 3), RES_AT(1, 1, 4), RES_AT(1, 1, 5), RES_AT(1, 1, 6));
  /* Thicknesses, depth, base and subgrade moduli lie on the table's grid; the
   * surface modulus 500 lies between grid values 400 and 600, where the
   * quadratic surfaces carry an interpolation error of a few parts in a
   * thousand, and the five refined search passes resolve the optimum far
   * finer than that. */
  check(fabs(RES_AT(1, 1, 5) / E3 - 1.0) < 0.01, "subgrade modulus %g", RES_AT(1, 1, 5));
  check(fabs(RES_AT(1, 1, 4) / E2 - 1.0) < 0.02, "base modulus %g", RES_AT(1, 1, 4));
  check(fabs(RES_AT(1, 1, 2) / E1 - 1.0) < 0.02, "surface modulus %g", RES_AT(1, 1, 2));
  check(RES_AT(1, 1, 6) == H3, "depth %g", RES_AT(1, 1, 6));
  check(RES_AT(1, 1, 1) > 0.0 && RES_AT(1, 1, 1) <= 999.0, "allowable load %g", RES_AT(1, 1, 1));
  /* What the blocks hold after the call, read through the host's view. */
  check(com3->KXORD == 3 && com3->KYORD == 3 && com3->NX == 1 && com3->NY == 1, "COM3 orders/counts");
  check(com3->NXDATA == 11 && com3->NYDATA == 8 && com3->NXCOEF == 11 && com3->NYCOEF == 8,
        "COM3 grid counts");
  for (int s = 0; s < 6; ++s) check(com3->WEIGHT[s] == 1.0f, "WEIGHT(%d)", s + 1);
  check(com3->WEIGHT[6] == 0.0f && com3->WEIGHT[8] == 0.0f, "WEIGHT(7..9) written");
  check(com1->XDATA[0] == 100.0f && com1->XDATA[10] == 4000.0f && com1->YDATA[7] == 100.0f, "COM1 grids");
  check(depth->IDEPTH == 6, "IDEPTH %d (depth 10 ft is index 6)", depth->IDEPTH);
  check(dd->DMEAS[0] == (float)(FWD_AT(1, 1, 3) / 1000.0), "DMEAS(1)");
  check(dd->DCALC[7] > 0.0f && dd->DCALC[8] == 0.0f, "DCALC");
  check(dam->SDAYS[4] == 124.0f && dam->SYEARF[0] == 91.0f / 365.0f, "DAM");
  check(com2->VALUE[0] != 0.0f, "VALUE");
  check(code->ICODE == 0, "ICODE %d for an optimum inside the bounds", code->ICODE);

  /* The same call again gives the same results and the same blocks. */
  {
    static zalk_com2_block com2_first;
    zalk_dd_block dd_first = *dd;
    zalk_com3_block com3_first = *com3;
    double first[6];
    for (int k = 1; k <= 6; ++k) first[k - 1] = RES_AT(1, 1, k);
    com2_first = *com2;
    zalk(FWD, RESULT, SECT, ntest, &nsec);
    for (int k = 1; k <= 6; ++k) check(RES_AT(1, 1, k) == first[k - 1], "repeat RESULT(%d)", k);
    check(memcmp(&dd_first, dd, sizeof *dd) == 0, "repeat DD");
    check(memcmp(&com3_first, com3, sizeof *com3) == 0, "repeat COM3");
    check(memcmp(&com2_first, com2, sizeof *com2) == 0, "repeat COM2");
  }

  /* OVER: thickness 4 grows by 3 per pass; passes with 7, 10, 13 are rated,
   * 16 passes the limit 4 + 6 + 3 and rates nothing. */
  {
    double h3i[20] = {H3}, e1i[20] = {E1}, e2i[20] = {E2}, e3i[20] = {E3}, dh = 3.0;
    double rpass[400], tpass[400];
    int32_t npass[20];
    int32_t nitem = 1;
    SECT_AT(1, 11) = 4.0;
    memset(rpass, 0, sizeof rpass);
    memset(tpass, 0, sizeof tpass);
    over(h3i, e1i, e2i, e3i, FWD, SECT, &nitem, NULL, &dh, npass, rpass, tpass);
    status(&mode, &st, NULL, &len);
    check(st == 0, "OVER status %d", st);
    check(npass[0] == 3, "NPASS %d", npass[0]);
    for (int p = 0; p < 4; ++p) check(tpass[p * 20] == 7.0 + 3.0 * p, "TPASS(1,%d) = %g", p + 1, tpass[p * 20]);
    for (int p = 0; p < 3; ++p) check(rpass[p * 20] > 0.0, "RPASS(1,%d) = %g", p + 1, rpass[p * 20]);
    check(rpass[3 * 20] == 0.0, "RPASS(1,4) = %g", rpass[3 * 20]);
    check(SECT_AT(1, 11) == 16.0, "SECT(1,11) = %g", SECT_AT(1, 11));
    printf("overlay: %g %g %g\n", rpass[0], rpass[20], rpass[40]);
  }

  mode = 0;
  status(&mode, &st, NULL, &len);
  check(mode == 0, "opt-out not taken");

  dlclose(lib);
  if (failures) fprintf(stderr, "%d check(s) failed\n", failures);
  else printf("all host checks passed\n");
  return failures ? 1 : 0;
}
