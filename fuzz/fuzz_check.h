// The one check of the fuzz targets: a property that fails stops the run
// (libFuzzer keeps the input that did it), in every build type.
#pragma once

#include <cstdlib>

#define CHECK(cond)            \
  do {                         \
    if (!(cond)) std::abort(); \
  } while (0)
