// The row kernels for any processor, and the choice of the kernels by level.
#include "imaging/FusedKernels.h"

#define OKC_FUSED_KERNELS_NS portable
#include "imaging/FusedKernels.inc"

namespace okc::imaging {

#if defined(__x86_64__)
namespace ssse3 {
extern const FusedKernels kKernels;
}
namespace avx2 {
extern const FusedKernels kKernels;
}
#endif

const FusedKernels& FusedKernelsFor(SimdLevel level) {
#if defined(__x86_64__)
  if (level == SimdLevel::kAvx2) return avx2::kKernels;
  if (level == SimdLevel::kSsse3) return ssse3::kKernels;
#else
  (void)level;
#endif
  return portable::kKernels;
}

const FusedKernels& ActiveFusedKernels() { return FusedKernelsFor(ActiveSimdLevel()); }

}  // namespace okc::imaging
