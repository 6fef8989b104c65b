// The widest vector code the program uses, chosen once at start-up: what
// the processor has, capped by HUESMITH_SIMD=none|ssse3|avx512. Every
// vectorised routine has a plain twin that the tier none runs, so each tier
// can be forced and checked on any machine that has it.
#pragma once

#include <string>

enum simd_tier { SIMD_NONE, SIMD_SSSE3, SIMD_AVX512 };

// The tier in use; set before main from the processor and HUESMITH_SIMD.
extern const simd_tier glb_simd_tier;

// The widest tier this processor runs: SSSE3 with popcnt, and AVX-512 with
// the byte, VBMI, VBMI2 and BMI2 parts the PCX coder needs.
simd_tier detect_simd_tier();

// The tier for the cap (null or empty: none given) on a processor with the
// tier available. A cap the processor lacks, or a cap not understood, falls
// back to what is available and sets *warning to the line that says so;
// else *warning is left empty.
simd_tier choose_simd_tier(const char *cap, simd_tier available, std::string *warning);

// "none", "ssse3" or "avx512".
const char *name_simd_tier(simd_tier tier);
