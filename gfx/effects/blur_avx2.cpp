// The blur's passes on 32-byte vectors; this file alone is compiled
// for AVX2 and is only reached when the processor has it.
#if defined(__x86_64__)
#define QM_BLUR_BYTES 32
#define QM_BLUR_ENTRY BlurPairsAvx2
#include "gfx/effects/blur_pairs_simd.h"
#endif
