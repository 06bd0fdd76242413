// Windows builds only: the exponential of the system C runtime (msvcrt.dll)
// in place of MinGW's static one, which works in x87 extended precision and
// costs about ten times as much per call. The engine calls exp some eight
// hundred times per analysis, which made the Windows library markedly slower
// than the Linux one. Both are accurate to about half a unit in the last
// place; this definition takes precedence over the static library's at link
// time, for the whole module.
extern "C" {

#if defined(_WIN64)
extern double (*crt_exp)(double) __asm__("__imp_exp");
#else
extern double (*crt_exp)(double) __asm__("__imp__exp");
#endif

double exp(double x) { return crt_exp(x); }

}  // extern "C"
