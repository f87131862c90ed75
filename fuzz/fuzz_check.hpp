// A property check for fuzz targets: a violated property is reported and aborts, so libFuzzer saves
// the input as a crash just as it does for a sanitizer report.
#pragma once

#include <cstdio>
#include <cstdlib>

#define QM_FUZZ_CHECK(cond)                                                                   \
  do {                                                                                        \
    if (!(cond)) {                                                                            \
      std::fprintf(stderr, "%s:%d: fuzz property violated: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                           \
    }                                                                                         \
  } while (0)
