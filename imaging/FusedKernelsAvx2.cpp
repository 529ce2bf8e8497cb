// The row kernels built for AVX2 (the build gives this file -mavx2 on x86-64).
#include "imaging/FusedKernels.h"

#if defined(__x86_64__)
#define OKC_FUSED_KERNELS_NS avx2
#include "imaging/FusedKernels.inc"
#endif
