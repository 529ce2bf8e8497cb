// The row kernels in generic vectors only, as processors other than x86-64
// build them; the tests compare this build with the others on any machine.
#include "imaging/FusedKernels.h"

#define OKC_FUSED_NO_INTRINSICS
#define OKC_FUSED_KERNELS_NS generic
#include "imaging/FusedKernels.inc"

namespace okc::imaging {

const FusedKernels& GenericFusedKernels() { return generic::kKernels; }

}  // namespace okc::imaging
