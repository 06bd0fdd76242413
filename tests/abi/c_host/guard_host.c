/* A C host whose every array lies against protected pages: each array gets
 * exactly the extent zalk3071.h documents, with an inaccessible page right
 * before it and one right after it (the array is placed once against the
 * page after it, once against the page before it). An entry point that
 * reads or writes one element beyond a host array faults here.
 *
 * Usage: api_guard_host <deflection table>             valid and invalid
 *            counts with the status opted in (invalid ones must give 5)
 *        api_guard_host <deflection table> --stop CASE  one invalid count
 *            without the opt-in: the process must end with status 5
 * The data folder is $ZALK3071_DIR (it must exist). */
#define _DEFAULT_SOURCE
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include "zalk3071/zalk3071.h"

static int failures;
static int against_end = 1; /* arrays placed against the page after them */

/* Guarded arrays live until the end of the process; a run makes few. */
static void* guarded(size_t bytes) {
  const size_t page = (size_t)sysconf(_SC_PAGESIZE);
  const size_t data_pages = (bytes + page - 1) / page;
  const size_t total = (data_pages + 2) * page;
  unsigned char* base = mmap(NULL, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED || mprotect(base, page, PROT_NONE) != 0 ||
      mprotect(base + (data_pages + 1) * page, page, PROT_NONE) != 0) {
    perror("mmap");
    exit(1);
  }
  unsigned char* first = base + page;
  return against_end ? first + data_pages * page - bytes : first;
}

#define NEW(type, n) ((type*)guarded(sizeof(type) * (size_t)(n)))

static void expect_status(const char* what, int32_t expected) {
  int32_t* mode = NEW(int32_t, 1);
  int32_t* status = NEW(int32_t, 1);
  int32_t* length = NEW(int32_t, 1);
  char* message = NEW(char, 16); /* cut to fit: 15 characters and the NUL */
  *mode = -1;
  *length = 16;
  ZALKSTATUS(mode, status, message, length);
  if (*status != expected || (expected != 0 && *length <= 15) || strlen(message) > 15) {
    fprintf(stderr, "FAILED: %s: status %d (expected %d), message length %d\n", what, *status, expected,
            *length);
    ++failures;
  }
}

/* ---- QUORVAN ---------------------------------------------------------- */

static void quorvan(int32_t ncases, int32_t mode, int32_t extent) {
  float *h1 = NEW(float, 1), *h2 = NEW(float, 1), *h3 = NEW(float, 1), *q = NEW(float, 1);
  float *e1 = NEW(float, extent), *e2 = NEW(float, extent), *e3 = NEW(float, extent);
  float *defl = NEW(float, 8), *resp = NEW(float, 10 * extent), *seastab = NEW(float, 5);
  int32_t *n = NEW(int32_t, 1), *m = NEW(int32_t, 1);
  *h1 = 4, *h2 = 10, *h3 = 60, *q = 1, *n = ncases, *m = mode;
  for (int i = 0; i < extent; ++i) e1[i] = 400000, e2[i] = 30000, e3[i] = 10000;
  for (int i = 0; i < 5; ++i) seastab[i] = 1;
  QUORVAN(h1, h2, h3, e1, e2, e3, q, defl, resp, seastab, n, m);
}

/* ---- BTWODIMENSION ---------------------------------------------------- */

static void btwodimension(int32_t ipt, int32_t iload, int32_t player) {
  int32_t *i = NEW(int32_t, 1), *nd = NEW(int32_t, 1), *l = NEW(int32_t, 1), *near = NEW(int32_t, 1);
  int32_t* layer = NEW(int32_t, 1);
  double *xl = NEW(double, 10), *yl = NEW(double, 10), *p = NEW(double, 10), *a = NEW(double, 10);
  double *pz = NEW(double, 1), *px = NEW(double, 1), *py = NEW(double, 1);
  double* r[6];
  double* s[15];
  double *e = NEW(double, 50), *pr = NEW(double, 50);
  for (int k = 0; k < 6; ++k) *(r[k] = NEW(double, 1)) = 1e-4;
  for (int k = 0; k < 15; ++k) s[k] = NEW(double, 1000);
  for (int k = 0; k < 10; ++k) xl[k] = yl[k] = 0, p[k] = 80, a[k] = 6;
  for (int k = 0; k < 50; ++k) e[k] = 30000, pr[k] = 0.35;
  *i = ipt, *nd = 3, *l = iload, *near = 1, *layer = player, *pz = 1, *px = 3, *py = 4;
  BTWODIMENSION(i, nd, l, near, xl, yl, p, a, pz, layer, px, py, r[0], r[1], r[2], r[3], r[4], r[5], s[0],
                s[1], s[2], s[3], s[4], s[5], s[6], s[7], s[8], s[9], s[10], s[11], s[12], s[13], s[14], e,
                pr, NULL);
}

/* ---- ZALK3071DLL and OVER --------------------------------------------- */

#define NSECMAX 20
#define NTESTMAX 2000
#define FWD_AT(f, p, j, k) (f)[((k)-1) * NSECMAX * NTESTMAX + ((j)-1) * NSECMAX + ((p)-1)]
#define SECT_AT(s, p, c) (s)[((c)-1) * NSECMAX + ((p)-1)]

static void fill_sections(double* fwd, double* sect, int nsec, int ntest) {
  const double basin[6] = {20.0, 15.0, 12.0, 9.0, 7.0, 5.0};
  for (int p = 1; p <= nsec; ++p) {
    for (int j = 1; j <= ntest; ++j) {
      FWD_AT(fwd, p, j, 1) = 13.0;
      FWD_AT(fwd, p, j, 2) = 10940.0;
      for (int k = 1; k <= 6; ++k) FWD_AT(fwd, p, j, 2 + k) = basin[k - 1];
      FWD_AT(fwd, p, j, 9) = 100000.0;
      FWD_AT(fwd, p, j, 10) = 72.0;
    }
    for (int i = 1; i <= 5; ++i) SECT_AT(sect, p, i) = 73.0, SECT_AT(sect, p, 5 + i) = 55.0;
    SECT_AT(sect, p, 11) = 5.0;
    SECT_AT(sect, p, 12) = 12.0;
    SECT_AT(sect, p, 13) = 60.0;
  }
  for (int i = 1; i <= 5; ++i) SECT_AT(sect, 1, 13 + i) = SECT_AT(sect, 1, 18 + i) = 1.0;
}

static void rating(int32_t nsec, int32_t ntest1) {
  double* fwd = NEW(double, NSECMAX * NTESTMAX * 10);
  double* result = NEW(double, NSECMAX * NTESTMAX * 6);
  double* sect = NEW(double, NSECMAX * 23);
  int32_t *ntest = NEW(int32_t, NSECMAX), *n = NEW(int32_t, 1);
  fill_sections(fwd, sect, 1, 2);
  ntest[0] = ntest1;
  *n = nsec;
  ZALK3071DLL(fwd, result, sect, ntest, n);
}

static void over(int32_t nsec) {
  double *h3 = NEW(double, 20), *e1 = NEW(double, 20), *e2 = NEW(double, 20), *e3 = NEW(double, 20);
  double* fwd = NEW(double, NSECMAX * NTESTMAX * 10);
  double* sect = NEW(double, NSECMAX * 23);
  double *dh = NEW(double, 1), *rpass = NEW(double, 400), *tpass = NEW(double, 400);
  int32_t *n = NEW(int32_t, 1), *npass = NEW(int32_t, 20);
  for (int i = 0; i < 20; ++i) h3[i] = 84, e1[i] = 450000, e2[i] = 30000, e3[i] = 9000;
  fill_sections(fwd, sect, 1, 1);
  *dh = 4.0;
  *n = nsec;
  OVER(h3, e1, e2, e3, fwd, sect, n, NULL, dh, npass, rpass, tpass);
}

/* ---- the cases ---------------------------------------------------------- */

struct invalid {
  const char* name;
  void (*call)(void);
};
static void q_too_many(void) { quorvan(201, 1, 200); }
static void q_mode2_too_many(void) { quorvan(6, 2, 5); }
static void b_point_beyond(void) { btwodimension(1001, 1, 1); }
static void b_point_zero(void) { btwodimension(0, 1, 1); }
static void b_load_beyond(void) { btwodimension(1, 11, 1); }
static void b_layer_beyond(void) { btwodimension(1, 1, 51); }
static void r_sections_beyond(void) { rating(21, 1); }
static void r_tests_beyond(void) { rating(1, 2001); }
static void o_items_beyond(void) { over(21); }
static const struct invalid invalid_cases[] = {
    {"quorvan-ncases", q_too_many},        {"quorvan-mode2-ncases", q_mode2_too_many},
    {"btwo-ipt", b_point_beyond},          {"btwo-ipt-zero", b_point_zero},
    {"btwo-iload", b_load_beyond},         {"btwo-player", b_layer_beyond},
    {"rating-nsec", r_sections_beyond},    {"rating-ntest", r_tests_beyond},
    {"over-nsec", o_items_beyond},
};
#define NINVALID (sizeof invalid_cases / sizeof invalid_cases[0])

static void set_mode(int32_t m) {
  int32_t* mode = NEW(int32_t, 1);
  *mode = m;
  ZALKSTATUS(mode, NULL, NULL, NULL);
}

static void copy_table(const char* from) {
  char to[4096];
  snprintf(to, sizeof to, "%s/backdefl.txt", getenv("ZALK3071_DIR"));
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

int main(int argc, char** argv) {
  if ((argc != 2 && argc != 4) || getenv("ZALK3071_DIR") == NULL) {
    fprintf(stderr, "usage: api_guard_host <table> [--stop CASE], with ZALK3071_DIR set\n");
    return 2;
  }
  copy_table(argv[1]);
  if (argc == 4) {
    for (size_t k = 0; k < NINVALID; ++k) {
      if (strcmp(argv[3], invalid_cases[k].name) != 0) continue;
      invalid_cases[k].call();
      printf("the process went on after a severe error\n");
      return 0;
    }
    fprintf(stderr, "no case %s\n", argv[3]);
    return 2;
  }

  for (against_end = 1; against_end >= 0; --against_end) {
    double* ver = NEW(double, 1);
    VERSIONNUM(ver);
    VERSIONNUM(NULL);
    set_mode(1);
    /* Valid counts at the ends of their ranges. */
    quorvan(1, 1, 1);
    expect_status("QUORVAN one case", 0);
    quorvan(5, 2, 5);
    expect_status("QUORVAN mode 2, five cases", 0);
    btwodimension(1000, 10, 50);
    expect_status("BTWODIMENSION last point, load, layer", 0);
    btwodimension(1, 1, 1);
    expect_status("BTWODIMENSION first point, load, layer", 0);
    rating(1, 2);
    expect_status("ZALK3071DLL", 0);
    over(1);
    expect_status("OVER", 0);
    /* Invalid counts: a status, nothing touched beyond the arrays. */
    for (size_t k = 0; k < NINVALID; ++k) {
      invalid_cases[k].call();
      expect_status(invalid_cases[k].name, ZALK_STATUS_TERMINAL);
    }
    set_mode(0);
  }
  if (failures == 0) printf("every entry point kept within the host's arrays\n");
  return failures == 0 ? 0 : 1;
}
