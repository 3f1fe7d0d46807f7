// Which kernel sets the CPU can run, asked of the CPU itself (and, for AVX2, of the system's
// support for its registers) once per call.
#include "streaming/ConversionKernels.h"

ConversionKernelList SupportedConversionKernels() {
  ConversionKernelList list = {{&PortableConversionKernels()}, 1};
#if defined(__x86_64__)
  __builtin_cpu_init();
  list.sets[list.count++] = &Sse2ConversionKernels();
  if (__builtin_cpu_supports("avx2")) list.sets[list.count++] = &Avx2ConversionKernels();
#endif
  return list;
}
