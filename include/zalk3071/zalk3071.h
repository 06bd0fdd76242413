/* zalk3071: pavement structural analysis library.
 *
 * C interface for host programs: the exported entry points and the byte
 * layouts of the seven shared blocks. Every argument is passed by
 * reference (scalars included); arrays are column-major with 1-based
 * extents as documented: element (i, j, k) of an array with extents
 * (I, J, K) lies ((k-1)*J + (j-1))*I + (i-1) elements after the first.
 * "float" is an IEEE 4-byte float, "double" an IEEE 8-byte float, int32_t
 * a signed 4-byte integer. No entry point returns a function result.
 *
 * The library is not re-entrant: its shared blocks and working storage are
 * process-wide. A host must not call any entry point while another call is
 * running, from any thread. A call of QUORVAN, BTWODIMENSION, ZALK3071DLL or
 * OVER that overlaps another is refused as a severe error and touches
 * nothing; without the status opt-in it ends the process at once.
 *
 * Null pointers: a null pointer for any argument of those four entry points
 * (but the SPARE arguments and NDIM, which are never read) is a severe error
 * naming the entry point and the argument. VERSIONNUM(NULL) does nothing.
 *
 * Files: the deflection table "backdefl.txt" (read by ZALK3071DLL) and the
 * analysis deck "input_m.txt" (written and read back by every QUORVAN call)
 * live in one data folder: $ZALK3071_DIR when set, otherwise
 * $HOME/ZALK3071 (on Windows C:\ZALK3071\). The folder must exist and be
 * writable; its name may hold blanks and any Unicode characters.
 *
 * Windows: the module ZALK3071dll.dll exports every entry point under its
 * plain name and, in the 32-bit build, also under the decorated stdcall name
 * _NAME@n (n = 4 x the number of arguments); the seven blocks are data
 * exports under their plain names. Entry points use the stdcall convention
 * in the 32-bit build (ZALK_CALL). A host that loads the module at run time
 * calls through the pointer types ZALK_*_FN below, which carry the
 * convention and the full argument list.
 *
 * Severe errors: by default a severe error (a failed toolkit check of type 4
 * or 5, a missing data folder or deflection table, an unreadable deck) prints
 * its message on standard output, then "Stop - Program terminated.", and
 * ends the process with exit status 4 or 5. A host that calls ZALKSTATUS
 * with *MODE = 1 gets instead a return from the entry point and a status it
 * can query (see ZALKSTATUS below).
 */
#ifndef ZALK3071_H
#define ZALK3071_H

#include <stddef.h>
#include <stdint.h>

/* The Windows module exports exactly the names of its module-definition
 * file, so nothing is marked for export there. */
#if defined(_WIN32)
#  define ZALK_API
#elif defined(__GNUC__)
#  define ZALK_API __attribute__((visibility("default")))
#else
#  define ZALK_API
#endif

/* Calling convention of the entry points: stdcall (the callee removes its
 * arguments) in 32-bit Windows builds; the platform's C convention elsewhere. */
#if defined(_WIN32) && !defined(_WIN64)
#  define ZALK_CALL __stdcall
#else
#  define ZALK_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

#include "block_layout.h"


/* ---- shared blocks ------------------------------------------------------
 * One region each, zero at load, overwritten by every rating call and never
 * reset between calls. A host may read any member after a call returns. The
 * library writes every member it uses before using it, except WEIGHT(7..8),
 * which a host may preset to bring sensors 7 and 8 into the search.
 */
extern ZALK_API zalk_code_block CODE;
extern ZALK_API zalk_dd_block DD;
extern ZALK_API zalk_com1_block COM1;
extern ZALK_API zalk_com2_block COM2;
extern ZALK_API zalk_com3_block COM3;
extern ZALK_API zalk_depth_block DEPTH;
extern ZALK_API zalk_dam_block DAM;

/* ---- entry points ------------------------------------------------------ */

/* VER (double, out): receives 2.0. Touches nothing else. */
ZALK_API void ZALK_CALL VERSIONNUM(double* VER);

/* Layered elastic analysis of three layers on a stiff bottom layer.
 * H1, H2, H3    (float)      layer thicknesses, shared by all cases
 * E1, E2, E3    (float[NCASES]) layer moduli, one value per case
 * Q             (float)      load value; mode 1 pressure is 100 * Q
 * DEFL          (float[8])   mode 1 out: vertical surface displacements at
 *                            offsets 0, 8, 12, 18, 24, 36, 48, 60 from the
 *                            load centre (the last case's values)
 * RESP          (float[10 * NCASES]) mode 2 out: ten values per case, of
 *                            which 1..9 are written
 * SEASTAB       (float[5])   strength factors per case, read in mode 2 only
 * NCASES        (int32)      number of cases (1..200; 1..5 in mode 2)
 * MODE          (int32)      1 = single-load deflection mode,
 *                            2 = dual-load stress mode
 * Writes the analysis deck input_m.txt into the data folder and reads it
 * back: moduli are analysed with three significant digits. */
ZALK_API void ZALK_CALL QUORVAN(float* H1, float* H2, float* H3, float* E1, float* E2, float* E3,
                                float* Q, float* DEFL, float* RESP, float* SEASTAB,
                                int32_t* NCASES, int32_t* MODE);

/* Adds the response of load ILOAD at point IPT into the 15 result slots.
 * IPT, NDIM (not read), ILOAD, NEAR (nonzero: add the half-space plate
 * solution); XL, YL, P, A (double[10]) load centres, pressures, radii;
 * PZ (double) depth; PLAYER (int32) layer of the point; PX, PY (double)
 * point coordinates; W, U, ER, ET, EZ, ERZ (double, in/out) the six polar
 * response values; S1..S15 (double[1000]) result slots, element IPT updated;
 * E, PR (double[50]) modulus and Poisson's ratio per layer; SPARE not read. */
ZALK_API void ZALK_CALL BTWODIMENSION(int32_t* IPT, int32_t* NDIM, int32_t* ILOAD, int32_t* NEAR,
                                      double* XL, double* YL, double* P, double* A, double* PZ,
                                      int32_t* PLAYER, double* PX, double* PY, double* W,
                                      double* U, double* ER, double* ET, double* EZ, double* ERZ,
                                      double* S1, double* S2, double* S3, double* S4, double* S5,
                                      double* S6, double* S7, double* S8, double* S9, double* S10,
                                      double* S11, double* S12, double* S13, double* S14,
                                      double* S15, double* E, double* PR, void* SPARE);

/* Load rating from deflection tests.
 * FWD    (double[20*2000*10]) in: per section and test: 1 time of day (h),
 *        2 load, 3..8 deflections of sensors 1..6, 9 annual repetitions,
 *        10 surface temperature (F)
 * RESULT (double[20*2000*6]) out: 1 allowable load, 2 surface modulus,
 *        3 surface modulus at 72 F, 4 base modulus, 5 subgrade modulus,
 *        6 depth of the best-fitting depth candidate (inches)
 * SECT   (double[20*23]) in: section table
 * NTEST  (int32[20]) tests per section (at most 2000)
 * NSEC   (int32) number of sections (at most 20)
 * Reads the deflection table backdefl.txt from the data folder. */
ZALK_API void ZALK_CALL ZALK3071DLL(double* FWD, double* RESULT, double* SECT, int32_t* NTEST,
                                    int32_t* NSEC);

/* Overlay iteration: thickens the surface layer of each item by DH per pass
 * and re-rates. H3ITEM, E1ITEM, E2ITEM, E3ITEM (double[20]) in; FWD
 * (double[20*2000*10]) and SECT (double[20*23]) in and out (test 1's
 * deflections and column 11 are overwritten); NSEC (int32) in (at most 20);
 * SPARE never read; DH (double) in; NPASS (int32[20]), RPASS and TPASS
 * (double[20*20], item x pass) out. */
ZALK_API void ZALK_CALL OVER(double* H3ITEM, double* E1ITEM, double* E2ITEM, double* E3ITEM,
                             double* FWD, double* SECT, int32_t* NSEC, void* SPARE, double* DH,
                             int32_t* NPASS, double* RPASS, double* TPASS);

/* Severe-error handling and the status of the last call.
 *
 * MODE (int32, in/out): on entry 1 = from now on a severe error ends the
 *      entry point instead of the process; 0 = back to the default (print,
 *      "Stop - Program terminated.", end the process); any other value
 *      leaves the setting alone. On return it holds the setting in force
 *      (0 or 1).
 * STATUS (int32, out): how the last call of QUORVAN, BTWODIMENSION,
 *      ZALK3071DLL or OVER made by the calling thread ended: ZALK_STATUS_OK, or ZALK_STATUS_FATAL /
 *      ZALK_STATUS_TERMINAL (the error type of the message). 0 before any
 *      call. Each of those entry points clears it on entry.
 * MESSAGE (char[*LENGTH], out): the message of that severe error, its lines
 *      exactly as printed, joined by '\n', NUL-terminated and cut to fit;
 *      an empty string when STATUS is 0. May be NULL.
 * LENGTH (int32, in/out): on entry the size of MESSAGE in bytes (0 when
 *      MESSAGE is NULL); on return the full length of the message without
 *      the NUL, so a host can retry with a larger buffer.
 *
 * With the status opted in, the message is still printed on standard
 * output (so logs keep it), but "Stop - Program terminated." is not, and
 * the process goes on. The entry point returns at once: its outputs and the
 * shared blocks may be partly written and must not be used. Warnings are
 * printed in both settings and never change the status. The setting is
 * process-wide. */
ZALK_API void ZALK_CALL ZALKSTATUS(int32_t* MODE, int32_t* STATUS, char* MESSAGE,
                                   int32_t* LENGTH);

#define ZALK_STATUS_OK 0
#define ZALK_STATUS_FATAL 4
#define ZALK_STATUS_TERMINAL 5

/* ---- pointer types for hosts that load the library at run time ----------
 * A pointer from GetProcAddress (or dlsym) converted to one of these types
 * calls the entry point with its convention and its full argument list, so
 * the compiler rejects a call with a missing or extra argument. The library
 * checks at compile time that each type matches the declaration above. */
typedef void(ZALK_CALL* ZALK_VERSIONNUM_FN)(double*);
typedef void(ZALK_CALL* ZALK_QUORVAN_FN)(float*, float*, float*, float*, float*, float*, float*,
                                         float*, float*, float*, int32_t*, int32_t*);
typedef void(ZALK_CALL* ZALK_BTWODIMENSION_FN)(
    int32_t*, int32_t*, int32_t*, int32_t*, double*, double*, double*, double*, double*, int32_t*,
    double*, double*, double*, double*, double*, double*, double*, double*, double*, double*,
    double*, double*, double*, double*, double*, double*, double*, double*, double*, double*,
    double*, double*, double*, double*, double*, void*);
typedef void(ZALK_CALL* ZALK_ZALK3071DLL_FN)(double*, double*, double*, int32_t*, int32_t*);
typedef void(ZALK_CALL* ZALK_OVER_FN)(double*, double*, double*, double*, double*, double*,
                                      int32_t*, void*, double*, int32_t*, double*, double*);
typedef void(ZALK_CALL* ZALK_ZALKSTATUS_FN)(int32_t*, int32_t*, char*, int32_t*);

#ifdef __cplusplus
}
#endif

#endif /* ZALK3071_H */
