// The blur's vertical pass on 16-byte vectors: the baseline every x86-64
// processor runs.
#if defined(__x86_64__)
#define QM_BLUR_BYTES 16
#define QM_BLUR_ENTRY BlurColumnsSse2
#include "gfx/blur_columns_simd.h"
#endif
