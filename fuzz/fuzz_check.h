// The oracle of the fuzz targets: a broken property aborts, which libFuzzer
// and the corpus replay both report as a failure with the input that did it.
#ifndef LUN_FUZZ_FUZZ_CHECK_H_
#define LUN_FUZZ_FUZZ_CHECK_H_

#include <cstdlib>

inline void Check(bool condition) {
  if (!condition) std::abort();
}

#endif  // LUN_FUZZ_FUZZ_CHECK_H_
