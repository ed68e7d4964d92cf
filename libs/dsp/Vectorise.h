// Kernels marked VWD_WITH_AVX2 are built twice on x86-64, and the loader picks the
// AVX2 build where the CPU has it (GCC's target clones, through ELF's IFUNC). Not
// under ThreadSanitizer: the picking runs while the program is loaded, before its
// runtime is up.
#pragma once

#if defined(__x86_64__) && defined(__ELF__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define VWD_WITH_AVX2 __attribute__((target_clones("avx2", "default")))
#else
#define VWD_WITH_AVX2
#endif
