// Choosing the vector tier once, before main runs.
#include "common/simd_tier.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

simd_tier detect_simd_tier()
{
#ifdef __x86_64__
    if (!__builtin_cpu_supports("ssse3") || !__builtin_cpu_supports("popcnt"))
        return SIMD_NONE;
    bool wide = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2") &&
                __builtin_cpu_supports("bmi2");
    return wide ? SIMD_AVX512 : SIMD_SSSE3;
#else
    return SIMD_NONE;
#endif
}

const char *name_simd_tier(simd_tier tier)
{
    if (tier == SIMD_AVX512)
        return "avx512";
    if (tier == SIMD_SSSE3)
        return "ssse3";
    return "none";
}

simd_tier choose_simd_tier(const char *cap, simd_tier available, std::string *warning)
{
    warning->clear();
    if (!cap || !*cap)
        return available;
    for (simd_tier tier : {SIMD_NONE, SIMD_SSSE3, SIMD_AVX512}) {
        if (std::strcmp(cap, name_simd_tier(tier)) != 0)
            continue;
        if (tier <= available)
            return tier;
        *warning = std::string("HUESMITH_SIMD=") + cap + ": this processor lacks it; using " +
                   name_simd_tier(available);
        return available;
    }
    *warning = std::string("HUESMITH_SIMD=") + cap + " is not none, ssse3 or avx512; using " +
               name_simd_tier(available);
    return available;
}

static simd_tier start_simd_tier()
{
    std::string warning;
    simd_tier tier = choose_simd_tier(std::getenv("HUESMITH_SIMD"), detect_simd_tier(), &warning);
    if (!warning.empty())
        std::fprintf(stderr, "%s\n", warning.c_str());
    return tier;
}

const simd_tier glb_simd_tier = start_simd_tier();
