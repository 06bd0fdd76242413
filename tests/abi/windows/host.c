/* A C host of the library that builds for Windows (LoadLibrary, stdcall
 * entry points found under their plain and decorated names, blocks through
 * their data exports) and for Linux (dlopen of the shared object), and writes
 * everything the library returns as exact bit patterns, so that the output of
 * a Windows build can be compared with the Linux build's byte for byte.
 *
 * Usage:
 *   zalk_host status  <library> <work folder> <out file>
 *       severe errors with the status opted in: a missing data folder and a
 *       missing deflection table (messages with the folder name replaced)
 *   zalk_host stop    <library> <work folder>
 *       a missing table without the opt-in: the process must end
 *   zalk_host results <library> <source dir> <work folder> <out file>
 *       every entry point: VERSIONNUM, QUORVAN modes 1 and 2, BTWODIMENSION,
 *       the rating of the sample data and the overlay iteration
 *   zalk_host time    <library> <source dir> <work folder> <calls>
 *       median time of one QUORVAN mode-1 call
 *
 * The data folder it gives the library lies in the work folder and has a
 * name with blanks and non-ASCII characters. Every host array is surrounded
 * by guard bytes that are checked after every call. */
#ifndef _WIN32
#define _POSIX_C_SOURCE 200809L /* setenv, clock_gettime */
#endif
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "zalk3071/zalk3071.h"

#ifdef _WIN32
#include <direct.h>
#include <windows.h>
#define SEP "\\"
#else
#include <dlfcn.h>
#include <sys/stat.h>
#include <time.h>
#define SEP "/"
#endif

/* "data folder" with a-umlaut, o-slash and a CJK character, in UTF-8. */
#define DATA_FOLDER_NAME "data folder \xc3\xa4\xc3\xb8\xe6\xbc\xa2"

static int failures;

static void fail(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  fprintf(stderr, "FAILED: ");
  vfprintf(stderr, fmt, ap);
  fprintf(stderr, "\n");
  va_end(ap);
  ++failures;
}

static void die(const char* what, const char* detail) {
  fprintf(stderr, "FAILED: %s %s\n", what, detail);
  exit(1);
}

/* ---- platform --------------------------------------------------------------- */

#ifdef _WIN32
static HMODULE lib;

static wchar_t* wide(const char* utf8) {
  static wchar_t buf[4][1024];
  static int next;
  wchar_t* w = buf[next++ % 4];
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, w, 1024) == 0) die("bad name", utf8);
  return w;
}

static void load_library(const char* name) {
  /* The module by name, as a host finds it: beside the program. */
  if (strcmp(name, "ZALK3071dll.dll") != 0) die("the Windows host loads ZALK3071dll.dll, not", name);
  lib = LoadLibraryA("ZALK3071dll.dll");
  if (lib == NULL) die("LoadLibraryA", name);
}

/* Data and code alike come back as FARPROC; the copy keeps the address. */
static void* find_symbol(const char* name) {
  FARPROC f = GetProcAddress(lib, name);
  void* p;
  memcpy(&p, &f, sizeof p);
  return p;
}
static void close_library(void) { FreeLibrary(lib); }

static void make_folder(const char* path) { _wmkdir(wide(path)); }

static FILE* open_file(const char* path, const char* mode) { return _wfopen(wide(path), wide(mode)); }
static void remove_file(const char* path) { _wremove(wide(path)); }

static void set_data_folder(const char* path) {
  static wchar_t setting[1100];
  _snwprintf(setting, 1100, L"ZALK3071_DIR=%ls", wide(path));
  if (_wputenv(setting) != 0) die("cannot set ZALK3071_DIR to", path);
}

static double seconds(void) {
  LARGE_INTEGER t, f;
  QueryPerformanceCounter(&t);
  QueryPerformanceFrequency(&f);
  return (double)t.QuadPart / (double)f.QuadPart;
}

/* Processor time of the process, user and system. */
static double cpu_seconds(void) {
  FILETIME created, ended, system, user;
  GetProcessTimes(GetCurrentProcess(), &created, &ended, &system, &user);
  const ULONGLONG u = ((ULONGLONG)user.dwHighDateTime << 32) | user.dwLowDateTime;
  const ULONGLONG k = ((ULONGLONG)system.dwHighDateTime << 32) | system.dwLowDateTime;
  return 1e-7 * (double)(u + k);
}
#else
static void* lib;

static void load_library(const char* name) {
  lib = dlopen(name, RTLD_NOW | RTLD_LOCAL);
  if (lib == NULL) die("dlopen", dlerror());
}

static void* find_symbol(const char* name) { return dlsym(lib, name); }
static void close_library(void) { dlclose(lib); }

static void make_folder(const char* path) { mkdir(path, 0777); }

static FILE* open_file(const char* path, const char* mode) { return fopen(path, mode); }
static void remove_file(const char* path) { remove(path); }

static void set_data_folder(const char* path) {
  if (setenv("ZALK3071_DIR", path, 1) != 0) die("cannot set ZALK3071_DIR to", path);
}

static double seconds(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + 1e-9 * (double)t.tv_nsec;
}

/* Processor time of the process, user and system. */
static double cpu_seconds(void) {
  struct timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return (double)t.tv_sec + 1e-9 * (double)t.tv_nsec;
}
#endif

static const char* join(const char* folder, const char* name) {
  static char buf[16][1024];
  static int next;
  char* out = buf[next++ % 16];
  if (snprintf(out, 1024, "%s%s%s", folder, SEP, name) >= 1024) die("path too long:", folder);
  return out;
}

static char* read_file(const char* path) {
  FILE* f = open_file(path, "rb");
  if (f == NULL) die("cannot open", path);
  size_t size = 0, cap = 1 << 16;
  char* text = (char*)malloc(cap);
  size_t got;
  while (text != NULL && (got = fread(text + size, 1, cap - size - 1, f)) > 0) {
    size += got;
    if (cap - size < 2) text = (char*)realloc(text, cap *= 2);
  }
  fclose(f);
  if (text == NULL) die("out of memory reading", path);
  text[size] = '\0';
  return text;
}

static void copy_file(const char* from, const char* to) {
  char* text = read_file(from);
  FILE* out = open_file(to, "wb");
  if (out == NULL || fwrite(text, 1, strlen(text), out) != strlen(text) || fclose(out) != 0)
    die("cannot write", to);
  free(text);
}

/* ---- the library's names ------------------------------------------------------ */

/* A function pointer from a data pointer: the copy through memory avoids a
 * cast that ISO C leaves undefined. */
#define AS_FN(var, ptr) memcpy(&(var), &(ptr), sizeof(var))

/* An entry point by its plain name and, in the 32-bit Windows build, by its
 * decorated name too: both must name the same code. The 64-bit build has no
 * decorated names. */
static void* entry_point(const char* name, int nargs) {
  void* plain = find_symbol(name);
  if (plain == NULL) die("no export", name);
  char decorated[64];
  snprintf(decorated, sizeof decorated, "_%s@%d", name, 4 * nargs);
  void* other = find_symbol(decorated);
#if defined(_WIN32) && !defined(_WIN64)
  if (other != plain) fail("%s does not name the code of %s", decorated, name);
#else
  if (other != NULL) fail("unexpected export %s", decorated);
#endif
  return plain;
}

static ZALK_VERSIONNUM_FN versionnum;
static ZALK_QUORVAN_FN quorvan;
static ZALK_BTWODIMENSION_FN btwodimension;
static ZALK_ZALK3071DLL_FN rate;
static ZALK_OVER_FN over;
static ZALK_ZALKSTATUS_FN zalkstatus;

static zalk_code_block* code;
static zalk_dd_block* dd;
static zalk_com1_block* com1;
static zalk_com2_block* com2;
static zalk_com3_block* com3;
static zalk_depth_block* depth;
static zalk_dam_block* dam;

static void* block(const char* name) {
  void* p = find_symbol(name);
  if (p == NULL) die("no data export", name);
  return p;
}

static void bind_library(const char* name) {
  load_library(name);
  void* p;
  p = entry_point("VERSIONNUM", 1), AS_FN(versionnum, p);
  p = entry_point("QUORVAN", 12), AS_FN(quorvan, p);
  p = entry_point("BTWODIMENSION", 36), AS_FN(btwodimension, p);
  p = entry_point("ZALK3071DLL", 5), AS_FN(rate, p);
  p = entry_point("OVER", 12), AS_FN(over, p);
  p = entry_point("ZALKSTATUS", 4), AS_FN(zalkstatus, p);
  code = (zalk_code_block*)block("CODE");
  dd = (zalk_dd_block*)block("DD");
  com1 = (zalk_com1_block*)block("COM1");
  com2 = (zalk_com2_block*)block("COM2");
  com3 = (zalk_com3_block*)block("COM3");
  depth = (zalk_depth_block*)block("DEPTH");
  dam = (zalk_dam_block*)block("DAM");
}

/* ---- host arrays with guard bytes ------------------------------------------------ */

#define GUARD 64
#define GUARD_BYTE 0xA5
#define MAX_ARRAYS 64

static struct {
  unsigned char* start;
  size_t size;
  const char* name;
} arrays[MAX_ARRAYS];
static int narrays;

/* A zeroed host array of `size` bytes between two guard regions. */
static void* host_array(size_t size, const char* name) {
  if (narrays == MAX_ARRAYS) die("too many arrays:", name);
  unsigned char* p = (unsigned char*)malloc(size + 2 * GUARD);
  if (p == NULL) die("out of memory for", name);
  memset(p, GUARD_BYTE, GUARD);
  memset(p + GUARD, 0, size);
  memset(p + GUARD + size, GUARD_BYTE, GUARD);
  arrays[narrays].start = p + GUARD;
  arrays[narrays].size = size;
  arrays[narrays].name = name;
  ++narrays;
  return p + GUARD;
}

static void check_guards(const char* after) {
  for (int a = 0; a < narrays; ++a) {
    for (int i = 1; i <= GUARD; ++i) {
      if (arrays[a].start[-i] != GUARD_BYTE || arrays[a].start[arrays[a].size + (size_t)i - 1] != GUARD_BYTE) {
        fail("%s wrote outside %s", after, arrays[a].name);
        break;
      }
    }
  }
}

static double* doubles(size_t n, const char* name) { return (double*)host_array(n * sizeof(double), name); }
static float* floats(size_t n, const char* name) { return (float*)host_array(n * sizeof(float), name); }
static int32_t* ints(size_t n, const char* name) { return (int32_t*)host_array(n * sizeof(int32_t), name); }

/* ---- status ------------------------------------------------------------------------ */

static void opt_in(int32_t mode) {
  int32_t m = mode;
  zalkstatus(&m, NULL, NULL, NULL);
  if (m != mode) fail("ZALKSTATUS setting %d not taken (%d)", mode, m);
}

static int32_t last_status(char* message, int32_t size) {
  int32_t st = -1, len = size;
  zalkstatus(NULL, &st, message, &len);
  if (message != NULL && len != (int32_t)strlen(message)) fail("message length %d for '%s'", len, message);
  return st;
}

static void expect_ok(const char* call) {
  char message[2048];
  const int32_t st = last_status(message, (int32_t)sizeof message);
  if (st != ZALK_STATUS_OK) fail("%s: status %d: %s", call, st, message);
  check_guards(call);
}

/* The message as both platforms print it, apart from the folder name and its
 * separators: the folder is replaced by <folder>, backslashes by slashes,
 * and blanks and the line prefixes "***" are dropped, since where a line
 * wraps depends on the folder name's length. */
static void squeeze(const char* in, char* out) {
  for (; *in; ++in) {
    if (strncmp(in, "***", 3) == 0) {
      in += 2;
    } else if (*in != ' ' && *in != '\n') {
      *out++ = *in == '\\' ? '/' : *in;
    }
  }
  *out = '\0';
}

static void put_message(FILE* out, const char* label, const char* message, const char* folder) {
  char text[4096], name[1024], result[4200];
  squeeze(message, text);
  squeeze(folder, name);
  result[0] = '\0';
  const char* at = strstr(text, name);
  if (at == NULL || strlen(text) > 4000) {
    fail("message does not name the folder %s: %s", folder, message);
    strcpy(result, text);
  } else {
    snprintf(result, sizeof result, "%.*s<folder>%s", (int)(at - text), text, at + strlen(name));
  }
  fprintf(out, "%s %s\n", label, result);
}

/* ---- output as bit patterns ------------------------------------------------------ */

static void put_floats(FILE* out, const char* label, const float* v, size_t n) {
  fprintf(out, "%s", label);
  for (size_t i = 0; i < n; ++i) {
    uint32_t u;
    memcpy(&u, &v[i], sizeof u);
    fprintf(out, "%s%08lx", i % 8 == 0 ? "\n " : " ", (unsigned long)u);
  }
  fprintf(out, "\n");
}

static void put_doubles(FILE* out, const char* label, const double* v, size_t n) {
  fprintf(out, "%s", label);
  for (size_t i = 0; i < n; ++i) {
    uint64_t u;
    memcpy(&u, &v[i], sizeof u);
    fprintf(out, "%s%08lx%08lx", i % 4 == 0 ? "\n " : " ", (unsigned long)(u >> 32),
            (unsigned long)(u & 0xffffffffu));
  }
  fprintf(out, "\n");
}

/* A block's bytes, 32 to a line, lines of zeros left out. */
static void put_block(FILE* out, const char* name, const void* p, size_t size) {
  const unsigned char* b = (const unsigned char*)p;
  fprintf(out, "block %s (%lu bytes)\n", name, (unsigned long)size);
  for (size_t at = 0; at < size; at += 32) {
    const size_t n = size - at < 32 ? size - at : 32;
    size_t i = 0;
    while (i < n && b[at + i] == 0) ++i;
    if (i == n) continue;
    fprintf(out, " %07lx ", (unsigned long)at);
    for (i = 0; i < n; ++i) fprintf(out, "%02x", b[at + i]);
    fprintf(out, "\n");
  }
}

static void put_blocks(FILE* out) {
  put_block(out, "CODE", code, sizeof *code);
  put_block(out, "DD", dd, sizeof *dd);
  put_block(out, "COM1", com1, sizeof *com1);
  put_block(out, "COM2", com2, sizeof *com2);
  put_block(out, "COM3", com3, sizeof *com3);
  put_block(out, "DEPTH", depth, sizeof *depth);
  put_block(out, "DAM", dam, sizeof *dam);
}

static FILE* create_output(const char* path) {
  FILE* out = open_file(path, "wb"); /* binary: the same line ends on both platforms */
  if (out == NULL) die("cannot create", path);
  return out;
}

/* ---- the sample data (CSV) -------------------------------------------------------- */

#define NSECMAX 20
#define NTESTMAX 2000
#define NFWD (NSECMAX * NTESTMAX * 10)
#define NRESULT (NSECMAX * NTESTMAX * 6)
#define NSECT (NSECMAX * 23)
/* Column-major: FWD(20, 2000, 10), RESULT(20, 2000, 6), SECT(20, 23). */
#define AT3(p, j, k) (((size_t)(k)-1) * NSECMAX * NTESTMAX + ((size_t)(j)-1) * NSECMAX + ((size_t)(p)-1))
#define AT2(p, c) (((size_t)(c)-1) * NSECMAX + ((size_t)(p)-1))

typedef struct {
  char id[32];
  double values[24]; /* fields 2.. of the row */
  int nvalues;
} CsvRow;

/* Rows of a CSV file after its header line; empty fields read as 0. */
static int read_rows(const char* path, CsvRow* rows, int max_rows, int nfields) {
  char* text = read_file(path);
  char* line = strchr(text, '\n');
  int n = 0;
  while (line != NULL && line[1] != '\0') {
    char* next = strchr(++line, '\n');
    if (next != NULL) *next = '\0';
    if (n == max_rows) die("too many rows in", path);
    CsvRow* r = &rows[n];
    char* field = line;
    r->nvalues = -1;
    for (;;) {
      char* comma = strchr(field, ',');
      if (comma != NULL) *comma = '\0';
      if (r->nvalues < 0) snprintf(r->id, sizeof r->id, "%s", field);
      else if (r->nvalues < 24) r->values[r->nvalues] = strtod(field, NULL);
      ++r->nvalues;
      if (comma == NULL) break;
      field = comma + 1;
    }
    if (r->nvalues != nfields - 1) die("unexpected number of fields in", path);
    ++n;
    line = next;
  }
  free(text);
  return n;
}

static int section_row(const CsvRow* sections, int nsec, const char* id) {
  for (int p = 0; p < nsec; ++p)
    if (strcmp(sections[p].id, id) == 0) return p + 1;
  die("unknown section", id);
  return 0;
}

typedef struct {
  double* fwd;
  double* result;
  double* sect;
  int32_t* ntest;
  int32_t nsec;
  CsvRow sections[NSECMAX];
} Sample;

/* Sections in rows 1..n of SECT (row 1 carries the shared seasonal
 * factors), their tests in FWD in file order. */
static void load_sample(const char* source, Sample* s) {
  static CsvRow tests[NSECMAX * NTESTMAX];
  const char* dir = join(source, "data" SEP "sample");
  s->nsec = read_rows(join(dir, "sections.csv"), s->sections, NSECMAX, 24);
  for (int p = 1; p <= s->nsec; ++p)
    for (int c = 1; c <= 23; ++c) s->sect[AT2(p, c)] = s->sections[p - 1].values[c - 1];
  const int n = read_rows(join(dir, "tests.csv"), tests, NSECMAX * NTESTMAX, 11);
  for (int t = 0; t < n; ++t) {
    const int p = section_row(s->sections, s->nsec, tests[t].id);
    const int j = ++s->ntest[p - 1];
    for (int k = 1; k <= 10; ++k) s->fwd[AT3(p, j, k)] = tests[t].values[k - 1];
  }
}

/* ---- the runs ---------------------------------------------------------------------- */

/* Structure S1: thicknesses 4, 8, 12; moduli 500000, 30000, 10000. */
static float h1 = 4.0f, h2 = 8.0f, h3 = 12.0f, q = 1.0f;

static void run_versionnum(FILE* out) {
  double* ver = doubles(1, "VER");
  versionnum(ver);
  check_guards("VERSIONNUM");
  if (*ver != 2.0) fail("VERSIONNUM gave %g", *ver);
  put_doubles(out, "VERSIONNUM", ver, 1);
}

static void run_quorvan(FILE* out) {
  float *e1 = floats(5, "E1"), *e2 = floats(5, "E2"), *e3 = floats(5, "E3");
  float *defl = floats(8, "DEFL"), *resp = floats(50, "RESP"), *seastab = floats(5, "SEASTAB");
  int32_t *ncases = ints(1, "NCASES"), *mode = ints(1, "MODE");
  const float s[5] = {10.0f, 0.2f, 1.0f, 1.3f, 1.0f}, e1s[5] = {900000, 500000, 300000, 250000, 150000};
  for (int c = 0; c < 5; ++c) {
    e1[c] = e1s[c];
    e2[c] = 30000.0f;
    e3[c] = 10000.0f;
    seastab[c] = s[c];
  }
  e1[0] = 500000.0f;
  *ncases = 1;
  *mode = 1;
  quorvan(&h1, &h2, &h3, e1, e2, e3, &q, defl, resp, seastab, ncases, mode);
  expect_ok("QUORVAN mode 1");
  put_floats(out, "QUORVAN mode 1 DEFL", defl, 8);
  for (int i = 0; i < 50; ++i)
    if (resp[i] != 0.0f) fail("QUORVAN mode 1 wrote RESP(%d)", i + 1);

  e1[0] = e1s[0];
  *ncases = 5;
  *mode = 2;
  memset(defl, 0, 8 * sizeof *defl);
  quorvan(&h1, &h2, &h3, e1, e2, e3, &q, defl, resp, seastab, ncases, mode);
  expect_ok("QUORVAN mode 2");
  put_floats(out, "QUORVAN mode 2 RESP", resp, 50);
  for (int i = 0; i < 8; ++i)
    if (defl[i] != 0.0f) fail("QUORVAN mode 2 wrote DEFL(%d)", i + 1);
}

/* Load 2 of two, at a point near the surface, with the half-space solution. */
static void run_btwodimension(FILE* out) {
  int32_t *ipt = ints(1, "IPT"), *ndim = ints(1, "NDIM"), *iload = ints(1, "ILOAD");
  int32_t *near_surface = ints(1, "NEAR"), *layer = ints(1, "PLAYER");
  double *xl = doubles(10, "XL"), *yl = doubles(10, "YL"), *p = doubles(10, "P"), *a = doubles(10, "A");
  double *pz = doubles(1, "PZ"), *px = doubles(1, "PX"), *py = doubles(1, "PY");
  double* polar = doubles(6, "W..ERZ");
  double *e = doubles(50, "E"), *pr = doubles(50, "PR");
  double* slot[15];
  for (int i = 0; i < 15; ++i) slot[i] = doubles(1000, "result slot");
  *ipt = 2, *ndim = 1000, *iload = 2, *near_surface = 1, *layer = 1;
  xl[1] = 13.5, yl[1] = 0.0, p[0] = p[1] = 80.0, a[0] = a[1] = 5.9;
  *pz = 1.5, *px = 10.0, *py = 2.0;
  const double polar_in[6] = {1e-3, 2e-4, -3e-5, 4e-5, -6e-5, 7e-6};
  memcpy(polar, polar_in, sizeof polar_in);
  e[0] = 500000, e[1] = 30000, e[2] = 10000, pr[0] = 0.35, pr[1] = 0.4, pr[2] = 0.45;
  btwodimension(ipt, ndim, iload, near_surface, xl, yl, p, a, pz, layer, px, py, &polar[0], &polar[1],
                &polar[2], &polar[3], &polar[4], &polar[5], slot[0], slot[1], slot[2], slot[3],
                slot[4], slot[5], slot[6], slot[7], slot[8], slot[9], slot[10], slot[11], slot[12],
                slot[13], slot[14], e, pr, NULL);
  expect_ok("BTWODIMENSION");
  put_doubles(out, "BTWODIMENSION W U ER ET EZ ERZ", polar, 6);
  for (int i = 0; i < 15; ++i) {
    char label[64];
    snprintf(label, sizeof label, "BTWODIMENSION S%d(1..3)", i + 1);
    put_doubles(out, label, slot[i], 3);
  }
}

static void run_rating(FILE* out, Sample* s) {
  rate(s->fwd, s->result, s->sect, s->ntest, &s->nsec);
  expect_ok("ZALK3071DLL");
  for (int p = 1; p <= s->nsec; ++p) {
    for (int j = 1; j <= s->ntest[p - 1]; ++j) {
      double r[6];
      char label[64];
      for (int k = 1; k <= 6; ++k) r[k - 1] = s->result[AT3(p, j, k)];
      snprintf(label, sizeof label, "RESULT %s test %d", s->sections[p - 1].id, j);
      put_doubles(out, label, r, 6);
      if (!(r[0] > 0.0)) fail("%s: allowable load %g", label, r[0]);
    }
  }
  put_blocks(out);
}

/* The overlay iteration of data/sample/overlay.csv in 1-inch passes, each
 * item with its section's first test (as the rating tool does). */
static void run_overlay(FILE* out, const char* source, Sample* s) {
  CsvRow items[NSECMAX];
  const int n = read_rows(join(join(source, "data" SEP "sample"), "overlay.csv"), items, NSECMAX, 5);
  double *h3i = doubles(20, "H3ITEM"), *e1i = doubles(20, "E1ITEM"), *e2i = doubles(20, "E2ITEM");
  double *e3i = doubles(20, "E3ITEM"), *dh = doubles(1, "DH");
  double *rpass = doubles(400, "RPASS"), *tpass = doubles(400, "TPASS");
  int32_t *npass = ints(20, "NPASS"), *nitem = ints(1, "NSEC (overlay)");
  double *fwd = doubles(NFWD, "FWD (overlay)"), *sect = doubles(NSECT, "SECT (overlay)");
  for (int i = 1; i <= n; ++i) {
    const int p = section_row(s->sections, s->nsec, items[i - 1].id);
    for (int c = 1; c <= 23; ++c) sect[AT2(i, c)] = s->sect[AT2(p, c)];
    for (int k = 1; k <= 10; ++k) fwd[AT3(i, 1, k)] = s->fwd[AT3(p, 1, k)];
    h3i[i - 1] = items[i - 1].values[0];
    e1i[i - 1] = items[i - 1].values[1];
    e2i[i - 1] = items[i - 1].values[2];
    e3i[i - 1] = items[i - 1].values[3];
  }
  for (int c = 14; c <= 23; ++c) sect[AT2(1, c)] = s->sect[AT2(1, c)];
  *nitem = n;
  *dh = 1.0;
  over(h3i, e1i, e2i, e3i, fwd, sect, nitem, NULL, dh, npass, rpass, tpass);
  expect_ok("OVER");
  for (int i = 1; i <= n; ++i) {
    char label[64];
    double r[20], t[20], basin[6];
    for (int pass = 1; pass <= 20; ++pass) {
      r[pass - 1] = rpass[AT2(i, pass)];
      t[pass - 1] = tpass[AT2(i, pass)];
    }
    for (int k = 3; k <= 8; ++k) basin[k - 3] = fwd[AT3(i, 1, k)];
    fprintf(out, "OVER item %d NPASS %ld\n", i, (long)npass[i - 1]);
    if (npass[i - 1] < 1) fail("OVER item %d made no pass", i);
    snprintf(label, sizeof label, "OVER item %d RPASS", i);
    put_doubles(out, label, r, 20);
    snprintf(label, sizeof label, "OVER item %d TPASS", i);
    put_doubles(out, label, t, 20);
    snprintf(label, sizeof label, "OVER item %d basin", i);
    put_doubles(out, label, basin, 6);
    snprintf(label, sizeof label, "OVER item %d SECT(11)", i);
    put_doubles(out, label, &sect[AT2(i, 11)], 1);
  }
  put_blocks(out);
}

static int all_zero(const void* p, size_t n) {
  const unsigned char* b = (const unsigned char*)p;
  for (size_t i = 0; i < n; ++i)
    if (b[i] != 0) return 0;
  return 1;
}

static void check_blocks_zero(void) {
  if (!(all_zero(code, sizeof *code) && all_zero(dd, sizeof *dd) && all_zero(com1, sizeof *com1) &&
        all_zero(com2, sizeof *com2) && all_zero(com3, sizeof *com3) &&
        all_zero(depth, sizeof *depth) && all_zero(dam, sizeof *dam)))
    fail("blocks not zero at load");
}

/* The data folder in the work folder, holding the deflection table. */
static const char* prepare_data_folder(const char* source, const char* work) {
  const char* folder = join(work, DATA_FOLDER_NAME);
  make_folder(work);
  make_folder(folder);
  copy_file(join(join(source, "data"), "backdefl.txt"), join(folder, "backdefl.txt"));
  set_data_folder(folder);
  return folder;
}

static int results(const char* library, const char* source, const char* work, const char* out_path) {
  prepare_data_folder(source, work);
  bind_library(library);
  check_blocks_zero();
  opt_in(1);
  FILE* out = create_output(out_path);
  run_versionnum(out);
  check_blocks_zero();
  run_quorvan(out);
  run_btwodimension(out);
  check_blocks_zero();
  static Sample s;
  s.fwd = doubles(NFWD, "FWD");
  s.result = doubles(NRESULT, "RESULT");
  s.sect = doubles(NSECT, "SECT");
  s.ntest = ints(20, "NTEST");
  load_sample(source, &s);
  run_rating(out, &s);
  run_overlay(out, source, &s);
  if (fclose(out) != 0) die("cannot write", out_path);
  return 0;
}

/* ---- severe errors ---------------------------------------------------------------- */

static int status(const char* library, const char* work, const char* out_path) {
  char message[4096];
  const char* missing = join(work, "missing folder \xc3\xa4");
  const char* empty = join(work, "empty folder \xc3\xb8");
  make_folder(work);
  make_folder(empty);
  remove_file(join(empty, "backdefl.txt"));
  bind_library(library);
  FILE* out = create_output(out_path);
  int32_t mode = -1, st = -1, len = 0;
  zalkstatus(&mode, &st, NULL, &len);
  if (mode != 0 || st != 0 || len != 0) fail("initial status: mode %d status %d length %d", mode, st, len);
  opt_in(1);

  /* QUORVAN without its data folder: terminal, DEFL untouched. */
  set_data_folder(missing);
  float *e = floats(3, "E1..E3"), *defl = floats(8, "DEFL"), *resp = floats(10, "RESP"), *seastab = floats(5, "SEASTAB");
  int32_t *ncases = ints(1, "NCASES"), *qmode = ints(1, "MODE");
  e[0] = 500000.0f, e[1] = 30000.0f, e[2] = 10000.0f, *ncases = 1, *qmode = 1;
  for (int i = 0; i < 8; ++i) defl[i] = -7.0f;
  quorvan(&h1, &h2, &h3, &e[0], &e[1], &e[2], &q, defl, resp, seastab, ncases, qmode);
  check_guards("QUORVAN without a data folder");
  st = last_status(message, (int32_t)sizeof message);
  if (st != ZALK_STATUS_TERMINAL) fail("missing folder: status %d", st);
  for (int i = 0; i < 8; ++i)
    if (defl[i] != -7.0f) fail("missing folder: DEFL(%d) written", i + 1);
  fprintf(out, "missing folder: status %ld\n", (long)st);
  put_message(out, "missing folder:", message, missing);

  /* A rating without the deflection table: terminal, RESULT untouched. */
  set_data_folder(empty);
  double *fwd = doubles(NFWD, "FWD"), *result = doubles(NRESULT, "RESULT"), *sect = doubles(NSECT, "SECT");
  int32_t *ntest = ints(20, "NTEST"), *nsec = ints(1, "NSEC");
  ntest[0] = 1, *nsec = 1;
  fwd[AT3(1, 1, 2)] = 9000.0, fwd[AT3(1, 1, 3)] = 20.0, sect[AT2(1, 11)] = 4.0, sect[AT2(1, 12)] = 8.0;
  result[AT3(1, 1, 1)] = -7.0;
  rate(fwd, result, sect, ntest, nsec);
  check_guards("ZALK3071DLL without a table");
  st = last_status(message, (int32_t)sizeof message);
  if (st != ZALK_STATUS_TERMINAL) fail("missing table: status %d", st);
  if (result[AT3(1, 1, 1)] != -7.0) fail("missing table: RESULT written");
  fprintf(out, "missing table: status %ld\n", (long)st);
  put_message(out, "missing table:", message, empty);

  /* Back to the default; the status of the last call stays readable. */
  opt_in(0);
  if (last_status(NULL, 0) != ZALK_STATUS_TERMINAL) fail("status lost on opt-out");
  if (fclose(out) != 0) die("cannot write", out_path);
  return 0;
}

/* Without the opt-in a missing table ends the process (status 5). */
static int stop(const char* library, const char* work) {
  const char* empty = join(work, "empty folder \xc3\xb8");
  make_folder(work);
  make_folder(empty);
  remove_file(join(empty, "backdefl.txt"));
  set_data_folder(empty);
  bind_library(library);
  double *fwd = doubles(NFWD, "FWD"), *result = doubles(NRESULT, "RESULT"), *sect = doubles(NSECT, "SECT");
  int32_t *ntest = ints(20, "NTEST"), *nsec = ints(1, "NSEC");
  ntest[0] = 1, *nsec = 1;
  fflush(stdout);
  rate(fwd, result, sect, ntest, nsec);
  printf("the process went on after a severe error\n");
  return 0;
}

/* ---- timing ---------------------------------------------------------------------- */

static int compare_doubles(const void* a, const void* b) {
  const double x = *(const double*)a, y = *(const double*)b;
  return (x > y) - (x < y);
}

static int timing(const char* library, const char* source, const char* work, int calls) {
  prepare_data_folder(source, work);
  bind_library(library);
  opt_in(1);
  float e1 = 500000.0f, e2 = 30000.0f, e3 = 10000.0f, defl[8], resp[10];
  float seastab[5] = {10.0f, 0.2f, 1.0f, 1.3f, 1.0f};
  int32_t ncases = 1, mode = 1;
  double* t = (double*)malloc((size_t)calls * sizeof *t);
  if (t == NULL || calls < 1) die("bad number of calls", "");
  quorvan(&h1, &h2, &h3, &e1, &e2, &e3, &q, defl, resp, seastab, &ncases, &mode); /* warm-up */
  const double cpu_start = cpu_seconds();
  for (int i = 0; i < calls; ++i) {
    const double start = seconds();
    quorvan(&h1, &h2, &h3, &e1, &e2, &e3, &q, defl, resp, seastab, &ncases, &mode);
    t[i] = seconds() - start;
  }
  const double cpu = (cpu_seconds() - cpu_start) / calls;
  expect_ok("QUORVAN");
  qsort(t, (size_t)calls, sizeof *t, compare_doubles);
  /* Under a loaded machine the elapsed times also hold waits for the
   * processor; the processor time of the process is the steadier figure. */
  printf("QUORVAN mode 1, structure S1, %d calls: median %.1f us per call (min %.1f, max %.1f); "
         "processor time %.1f us per call\n",
         calls, 1e6 * t[calls / 2], 1e6 * t[0], 1e6 * t[calls - 1], 1e6 * cpu);
  free(t);
  return 0;
}

int main(int argc, char** argv) {
  int rc = 2;
  if (argc == 5 && strcmp(argv[1], "status") == 0) rc = status(argv[2], argv[3], argv[4]);
  else if (argc == 4 && strcmp(argv[1], "stop") == 0) rc = stop(argv[2], argv[3]);
  else if (argc == 6 && strcmp(argv[1], "results") == 0) rc = results(argv[2], argv[3], argv[4], argv[5]);
  else if (argc == 6 && strcmp(argv[1], "time") == 0) rc = timing(argv[2], argv[3], argv[4], atoi(argv[5]));
  else fprintf(stderr, "usage: see the head of tests/abi/windows/host.c\n");
  if (rc == 2) return rc;
  close_library();
  if (failures) fprintf(stderr, "%d check(s) failed\n", failures);
  return failures ? 1 : rc;
}
