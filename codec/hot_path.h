// The loops that run once per byte or per symbol are built twice on x86-64
// with GCC: for the processors of the last decade (x86-64-v3: AVX2, BMI2,
// LZCNT, which shorten the coder's shifts and bit counts) and for the
// baseline; the dynamic loader picks one when the library loads. Both do the
// same integer arithmetic, so they give the same bytes. Defining
// VEK_BASELINE_ONLY builds the baseline alone (the sanitizer build does, so
// that the tests run that code too).
#ifndef VEK_CODEC_HOT_PATH_H
#define VEK_CODEC_HOT_PATH_H

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__) && \
    !defined(VEK_BASELINE_ONLY)
#define VEK_HOT_PATH __attribute__((target_clones("arch=x86-64-v3", "default")))
#define VEK_HOT_PATH_CLONES 1
#else
#define VEK_HOT_PATH
#endif

#endif
