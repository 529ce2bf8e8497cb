// The row kernels built for SSSE3 (the build gives this file -mssse3 on x86-64).
#include "imaging/FusedKernels.h"

#if defined(__x86_64__)
#define OKC_FUSED_KERNELS_NS ssse3
#include "imaging/FusedKernels.inc"
#endif
