/* Built by the package check against the installed legacy C header and
 * shared library: the header finds the block layouts it includes, and the
 * library answers with the project's version. */
#include <stdio.h>

#include <zalk/version.h>
#include <zalk3071/zalk3071.h>

int main(void) {
  double ver = 0.0;
  VERSIONNUM(&ver);
  printf("VERSIONNUM %.1f\n", ver);
  return ver == ZALK_VERSION_NUMBER ? 0 : 1;
}
