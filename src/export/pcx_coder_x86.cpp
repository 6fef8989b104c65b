// The PCX coder's vector part, for x86-64 processors with SSSE3 (eight
// pixels at a time) or AVX-512 with VBMI2 (sixty-four). Both give the bytes
// of the run rule in pcx_coder.cpp; the tier chosen at start-up says which
// of them run.
#ifdef __x86_64__
#include <algorithm>
#include <cstring>
#include <immintrin.h>

#include "export/writers.h"

// The eight-pixel coder's tables.
struct pcx_run_tables {
    uint8_t counts[512][8]; // by run starts plus an end bit: 0xC0 | length
    uint8_t take[256][8];   // by kept lanes: their indices, in order
    uint16_t spread[256];   // bit k moved to bit 2k
};

static const pcx_run_tables *make_pcx_run_tables()
{
    static pcx_run_tables t{};
    for (int ends = 0; ends < 512; ends++) {
        for (int k = 0; k < 8; k++) {
            int next = k + 1;
            while (next < 9 && !(ends >> next & 1))
                next++;
            t.counts[ends][k] = uint8_t(0xC0 | std::min(next - k, 8));
        }
    }
    for (int m = 0; m < 256; m++) {
        int at = 0;
        for (int k = 0; k < 8; k++) {
            t.take[m][k] = 0x80; // a lane past the kept ones: stored, then overwritten
            if (m >> k & 1) {
                t.take[m][at] = uint8_t(k);
                at++;
            }
            t.spread[m] = uint16_t(t.spread[m] | (m >> k & 1) << (2 * k));
        }
    }
    return &t;
}

// Runs of one to eight pixels, one shuffle per word of eight. In each word
// the runs that end inside it (or at its end, when the next pixel differs)
// are coded: for each run's first pixel its count byte when needed, then
// its value, both picked out of the interleaved counts and pixels by a
// table. A run that goes on past the word is where the next word starts.
// Stops after such a word, at a run longer than a word, or within nine
// pixels of the row's end. Up to sixteen bytes are stored past out per word.
__attribute__((target("ssse3,popcnt"))) int shuffle_pcx_runs(const uint8_t *row, int x, int w,
                                                             uint8_t *&out)
{
    static const pcx_run_tables *t = make_pcx_run_tables();
    const __m128i top = _mm_set1_epi8(static_cast<char>(0xC0));
    uint8_t *at = out;
    while (x + 9 <= w) {
        __m128i pixels = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(row + x));
        __m128i next = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(row + x + 1));
        // Bit k: p[k] == p[k + 1].
        unsigned same = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(pixels, next))) & 0xFF;
        unsigned ends = (~same << 1 | 1) & 0xFF; // runs starting at k
        ends |= same & 0x80 ? 0 : 0x100;         // and one at 8 when the last run ends in the word
        if (ends == 1)
            break;
        int coded = 31 - __builtin_clz(ends); // up to the last run start, left uncoded
        unsigned starts = ends & ~(1u << coded);
        __m128i high_bits = _mm_cmpeq_epi8(_mm_and_si128(pixels, top), top);
        unsigned escaped = unsigned(_mm_movemask_epi8(high_bits));
        unsigned counted = starts & (escaped | ~(ends >> 1)); // longer than one, or escaped
        unsigned keep = t->spread[counted] | t->spread[starts] << 1;
        __m128i counts = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(t->counts[ends]));
        __m128i codes = _mm_unpacklo_epi8(counts, pixels); // count, pixel, count, pixel...
        __m128i low = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(t->take[keep & 0xFF]));
        __m128i high = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(t->take[keep >> 8]));
        high = _mm_add_epi8(high, _mm_set1_epi8(8));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(at), _mm_shuffle_epi8(codes, low));
        at += _mm_popcnt_u32(keep & 0xFF);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(at), _mm_shuffle_epi8(codes, high));
        at += _mm_popcnt_u32(keep >> 8);
        // Whole words step by eight, so the next word's loads need not
        // wait for this word's runs; a word whose last run goes on ends
        // the call.
        if (coded < 8) {
            x += coded;
            break;
        }
        x += 8;
    }
    out = at;
    return x;
}

// The sixty-four-pixel coder's lane orders.
struct pcx_block_order {
    alignas(64) uint8_t lanes[64]; // 0, 1, ... 63
    alignas(64) uint8_t low[64];   // count k, value k (64 + k) for the first 32 runs
    alignas(64) uint8_t high[64];  // the same for the last 32
};

static pcx_block_order make_pcx_block_order()
{
    pcx_block_order t;
    for (int k = 0; k < 64; k++)
        t.lanes[k] = uint8_t(k);
    for (int k = 0; k < 32; k++) {
        t.low[2 * k] = uint8_t(k);
        t.low[2 * k + 1] = uint8_t(64 + k);
        t.high[2 * k] = uint8_t(32 + k);
        t.high[2 * k + 1] = uint8_t(96 + k);
    }
    return t;
}

// The same, sixty-four pixels at a time with byte compression: the run
// starts' positions and values packed to the front, each run's length the
// next start less its own, then counts and values interleaved and the
// count bytes not needed dropped. Stops as the eight-pixel coder does, and
// before a run of the whole block (past the cap of 63). Up to 128 bytes
// are stored past out per block. Tuned on random pixels, where runs are
// short and the block's runs are many.
__attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vbmi2,bmi2,popcnt"))) int
compress_pcx_runs(const uint8_t *row, int x, int w, uint8_t *&out)
{
    static const pcx_block_order order = make_pcx_block_order();
    const __m512i lanes = _mm512_load_si512(order.lanes);
    const __m512i low = _mm512_load_si512(order.low);
    const __m512i high = _mm512_load_si512(order.high);
    const __m512i one = _mm512_set1_epi8(1);
    const __m512i top = _mm512_set1_epi8(char(0xC0));
    uint8_t *at = out;
    while (x + 65 <= w) {
        __m512i pixels = _mm512_loadu_si512(row + x);
        __m512i next = _mm512_loadu_si512(row + x + 1);
        uint64_t same = _mm512_cmpeq_epi8_mask(pixels, next); // bit k: p[k] == p[k + 1]
        uint64_t starts = ~(same << 1);
        // The last run is left uncoded when it goes on past the block.
        int coded = same >> 63 ? 63 - __builtin_clzll(starts) : 64;
        if (coded == 0 || starts == 1)
            break;
        starts &= coded == 64 ? ~0ull : (1ull << coded) - 1;
        int runs = int(_mm_popcnt_u64(starts));
        uint64_t held = runs == 64 ? ~0ull : (1ull << runs) - 1;
        __m512i first = _mm512_maskz_compress_epi8(starts, lanes);
        __m512i values = _mm512_maskz_compress_epi8(starts, pixels);
        // Each run's end: the next run's start, and for the last the end of what is coded.
        __m512i block_end = _mm512_set1_epi8(char(coded));
        __m512i after = _mm512_mask_compress_epi8(block_end, starts & ~1ull, lanes);
        __m512i lengths = _mm512_sub_epi8(after, first);
        uint64_t longer = _mm512_cmpgt_epu8_mask(lengths, one);
        uint64_t escaped = _mm512_cmpge_epu8_mask(values, top);
        uint64_t counted = (longer | escaped) & held;
        __m512i counts = _mm512_or_si512(lengths, top);
        uint64_t keep_low = _pdep_u64(counted, 0x5555555555555555ull) |
                            _pdep_u64(held, 0xAAAAAAAAAAAAAAAAull);
        uint64_t keep_high = _pdep_u64(counted >> 32, 0x5555555555555555ull) |
                             _pdep_u64(held >> 32, 0xAAAAAAAAAAAAAAAAull);
        __m512i codes = _mm512_permutex2var_epi8(counts, low, values);
        _mm512_storeu_si512(at, _mm512_maskz_compress_epi8(keep_low, codes));
        at += _mm_popcnt_u64(keep_low);
        codes = _mm512_permutex2var_epi8(counts, high, values);
        _mm512_storeu_si512(at, _mm512_maskz_compress_epi8(keep_high, codes));
        at += _mm_popcnt_u64(keep_high);
        x += coded;
    }
    out = at;
    return x;
}
#endif
