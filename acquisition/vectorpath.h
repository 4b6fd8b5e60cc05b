// The vector paths of the signal kernels (measurement, spectrum): the build has the portable
// one on processors without SSE2, SSE2 on the others, and AVX2 beside it on x86-64, taken when
// the processor has it. Every path gives the same results, bit for bit; tests pin each one in
// turn to compare it with the plain code.
#pragma once

enum class TVectorPath : int { Portable = 0, Sse2 = 1, Avx2 = 2 };

// The widest path this build and processor run.
TVectorPath bestVectorPath();
// The path the kernels take now (any thread).
TVectorPath vectorPath();
// Pins the path for every kernel and caller; false (nothing changed) when this build or
// processor lacks it.
bool setVectorPath(TVectorPath path);
// Back to bestVectorPath().
void resetVectorPath();
