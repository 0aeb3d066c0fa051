// The blend kernels on 16-byte vectors: the baseline every x86-64
// processor runs.
#define QM_VBYTES 16
#define QM_SIMD_NS blend_sse2
#define QM_SIMD_TABLE kSse2BlendKernels
#include "gfx/blits/blend_simd_rows.h"
