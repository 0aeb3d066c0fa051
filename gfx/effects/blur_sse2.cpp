// The blur's passes on 16-byte vectors: the baseline every x86-64
// processor runs.
#if defined(__x86_64__)
#define QM_BLUR_BYTES 16
#define QM_BLUR_ENTRY BlurPairsSse2
#include "gfx/effects/blur_pairs_simd.h"
#endif
