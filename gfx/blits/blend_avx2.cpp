// The blend kernels on 32-byte vectors; this file alone is compiled for
// AVX2 and is only reached when the processor has it.
#define QM_VBYTES 32
#define QM_SIMD_NS blend_avx2
#define QM_SIMD_TABLE kAvx2BlendKernels
#include "gfx/blits/blend_simd_rows.h"
