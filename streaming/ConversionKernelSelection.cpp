// Which kernel sets the CPU can run, asked of the CPU itself (and, for AVX2 and AVX-512, of the
// system's support for their registers) once per call.
#include "streaming/ConversionKernels.h"

ConversionKernelList SupportedConversionKernels() {
  ConversionKernelList list = {{&PortableConversionKernels()}, 1};
#if defined(__x86_64__)
  __builtin_cpu_init();
  list.sets[list.count++] = &Sse2ConversionKernels();
  if (__builtin_cpu_supports("avx2")) {
    list.sets[list.count++] = &Avx2ConversionKernels();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")) {
      list.sets[list.count++] = &Avx512ConversionKernels();
    }
  }
#endif
  return list;
}
