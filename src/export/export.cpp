// Frame export: each frame scaled to an 8-bit file written as the library's
// writers lay it out, with the 6-bit palette, then patched with the exact
// 8-bit one.
#include "export/export.h"

#include <algorithm>
#include <allegro.h>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#ifdef __x86_64__
#include <immintrin.h>
#endif

#include "common/checked_bitmap.h"
#include "common/row_scaler.h"
#include "common/safe_file.h"
#include "common/surfaces.h"
#include "gif/gif_anim.h"
#include "palette/tint_slots.h"

// The BMP colour table: 256 entries of blue, green, red, reserved.
constexpr long BMP_HEADER_SIZE_OFFSET = 14;
constexpr long BMP_MIN_INFO_HEADER = 40;
constexpr long BMP_TABLE_BYTES = 256 * 4;
// The PCX palette: a marker byte then 256 entries of red, green, blue.
constexpr long PCX_TABLE_BYTES = 256 * 3;
constexpr int PCX_PALETTE_MARKER = 12;
constexpr int PCX_MAX_SIDE = 65535;

void compute_export_size(int zoom, int w, int h, int *out_w, int *out_h)
{
    long long sw = static_cast<long long>(zoom) * w / 100;
    long long sh = static_cast<long long>(zoom) * h / 100;
    *out_w = sw < 1 ? 1 : static_cast<int>(sw);
    *out_h = sh < 1 ? 1 : static_cast<int>(sh);
}

// Scales frame i alone onto save_bmp, as if drawn on the cleared canvas
// and stretched from it: directly from the frame's rows where
// draw_frame_scaled can, else through the canvas with the library.
static void scale_export_frame(const gif_frame &frame, BITMAP *save_bmp)
{
    preview_rect whole = {0, 0, save_bmp->w, save_bmp->h};
    if (draw_frame_scaled(save_bmp, whole, glb_sprite_8bpp, frame.bmp, frame.pos.x, frame.pos.y, nullptr))
        return;
    // Index 0 is skipped by the masked drawing; what reaches past the
    // canvas is clipped.
    clear_to_color(glb_sprite_8bpp, 0);
    if (frame.bmp)
        draw_sprite(glb_sprite_8bpp, frame.bmp, frame.pos.x, frame.pos.y);
    if (glb_sprite_8bpp->w > 0 && glb_sprite_8bpp->h > 0)
        stretch_blit(glb_sprite_8bpp, save_bmp, 0, 0, glb_sprite_8bpp->w, glb_sprite_8bpp->h, 0, 0,
                     save_bmp->w, save_bmp->h);
}

// Appends v as little-endian bytes.
static void put_le(std::vector<uint8_t> &out, uint32_t v, int bytes)
{
    for (int k = 0; k < bytes; k++)
        out.push_back(uint8_t(v >> (8 * k)));
}

// An 8-bit bitmap as the library's BMP writer lays it out: both headers,
// the palette scaled up from 6 bits as blue, green, red, 0, then the rows
// from the bottom, each padded to four bytes.
static void encode_bmp(BITMAP *bmp, const RGB *pal, std::vector<uint8_t> &out)
{
    uint32_t padding = uint32_t(3 - ((bmp->w - 1) & 3));
    uint32_t image = (uint32_t(bmp->w) + padding) * uint32_t(bmp->h);
    out.clear();
    out.reserve(14 + 40 + BMP_TABLE_BYTES + image);
    put_le(out, 0x4D42, 2); // "BM"
    put_le(out, uint32_t(14 + 40 + BMP_TABLE_BYTES) + image, 4);
    put_le(out, 0, 4);
    put_le(out, 14 + 40 + BMP_TABLE_BYTES, 4);
    for (uint32_t v : {40u, uint32_t(bmp->w), uint32_t(bmp->h)})
        put_le(out, v, 4);
    put_le(out, 1, 2); // planes
    put_le(out, 8, 2); // bits per pixel
    // No compression, the image size, 72 dpi both ways, 256 colours used and important.
    for (uint32_t v : {0u, image, 0xB12u, 0xB12u, 256u, 256u})
        put_le(out, v, 4);
    for (int c = 0; c < 256; c++)
        out.insert(out.end(), {uint8_t(_rgb_scale_6[pal[c].b]), uint8_t(_rgb_scale_6[pal[c].g]),
                               uint8_t(_rgb_scale_6[pal[c].r]), 0});
    for (int y = bmp->h - 1; y >= 0; y--) {
        out.insert(out.end(), bmp->line[y], bmp->line[y] + bmp->w);
        out.insert(out.end(), padding, 0);
    }
}

static inline uint64_t load_word(const uint8_t *p)
{
    uint64_t word;
    std::memcpy(&word, p, 8);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    word = __builtin_bswap64(word);
#endif
    return word;
}

// Non-zero when v has a zero byte.
static inline uint64_t find_zero_bytes(uint64_t v)
{
    return (v - 0x0101010101010101ull) & ~v & 0x8080808080808080ull;
}

// 1 for a value that could be read as a count byte (0xC0 and up), else 0.
static inline unsigned escape_pcx_value(unsigned v)
{
    return (v + 0x40) >> 8;
}

// Eight runs of one, the pixels of word in row order: each value from 0xC0
// up gets the count byte 0xC1 before it. Returns the end of what it wrote;
// up to sixteen bytes are stored.
static inline uint8_t *put_pcx_singles(uint8_t *out, uint64_t word)
{
    for (int k = 0; k < 8; k++) {
        unsigned v = unsigned(word >> (8 * k)) & 0xFF;
        uint16_t code = uint16_t(escape_pcx_value(v) ? 0xC1 | v << 8 : v);
        std::memcpy(out, &code, 2);
        out += 1 + escape_pcx_value(v);
    }
    return out;
}

#ifdef __x86_64__
// Runs of one to eight pixels at a time, in one shuffle per word, from
// row[x], which starts a run. In each word the runs that end inside it (or
// at its end, when the next pixel differs) are coded: for each run's first
// pixel its count byte when needed, then its value, both picked out of the
// interleaved counts and pixels by a table. A run that goes on past the
// word is where the next word starts. Returns where it stopped: after such
// a word, at a run longer than a word, or within nine pixels of the row's
// end. Noise has
// short runs everywhere, so most of a row goes here. Up to sixteen bytes
// are stored past out per word.
struct pcx_run_tables {
    uint8_t counts[512][8]; // by run starts plus an end bit: 0xC0 | length
    uint8_t take[256][8];   // by kept lanes: their indices, in order
    uint16_t spread[256];   // bit k moved to bit 2k
};

__attribute__((target("ssse3,popcnt"))) static int shuffle_pcx_runs(const uint8_t *row, int x, int w,
                                                                    uint8_t *&out)
{
    static const pcx_run_tables *t = [] {
        static pcx_run_tables t{};
        for (int ends = 0; ends < 512; ends++)
            for (int k = 0; k < 8; k++) {
                int next = k + 1;
                while (next < 9 && !(ends >> next & 1))
                    next++;
                t.counts[ends][k] = uint8_t(0xC0 | std::min(next - k, 8));
            }
        for (int m = 0; m < 256; m++) {
            for (int k = 0, at = 0; k < 8; k++) {
                t.take[m][k] = 0x80; // a lane past the kept ones: stored, then overwritten
                if (m >> k & 1)
                    t.take[m][at++] = uint8_t(k);
                t.spread[m] = uint16_t(t.spread[m] | (m >> k & 1) << (2 * k));
            }
        }
        return &t;
    }();
    __m128i top = _mm_set1_epi8(static_cast<char>(0xC0));
    uint8_t *at = out;
    while (x + 9 <= w) {
        __m128i pixels = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(row + x));
        __m128i next = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(row + x + 1));
        unsigned same = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(pixels, next))) & 0xFF; // p[k] == p[k + 1]
        unsigned ends = (~same << 1 | 1) & 0xFF; // runs starting at k
        ends |= same & 0x80 ? 0 : 0x100;         // and one at 8 when the last run ends in the word
        if (ends == 1)
            break;
        int coded = 31 - __builtin_clz(ends); // up to the last run start, left uncoded
        unsigned starts = ends & ~(1u << coded);
        unsigned escaped = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(pixels, top), top)));
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
// The same, sixty-four pixels at a time with byte compression: the run
// starts' positions and values packed to the front, each run's length the
// next start less its own, then counts and values interleaved and the
// count bytes not needed dropped. Stops as the eight-pixel coder does, and
// before a run of the whole block (past the cap of 63). Up to 128 bytes
// are stored past out per block.
__attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vbmi2,bmi2,popcnt"))) static int
compress_pcx_runs(const uint8_t *row, int x, int w, uint8_t *&out)
{
    static const auto order = [] {
        struct { alignas(64) uint8_t lanes[64], low[64], high[64]; } t;
        for (int k = 0; k < 64; k++)
            t.lanes[k] = uint8_t(k);
        for (int k = 0; k < 32; k++) { // count k, value k (64 + k)
            t.low[2 * k] = uint8_t(k), t.low[2 * k + 1] = uint8_t(64 + k);
            t.high[2 * k] = uint8_t(32 + k), t.high[2 * k + 1] = uint8_t(96 + k);
        }
        return t;
    }();
    const __m512i lanes = _mm512_load_si512(order.lanes);
    const __m512i low = _mm512_load_si512(order.low), high = _mm512_load_si512(order.high);
    uint8_t *at = out;
    while (x + 65 <= w) {
        __m512i pixels = _mm512_loadu_si512(row + x);
        uint64_t same = _mm512_cmpeq_epi8_mask(pixels, _mm512_loadu_si512(row + x + 1)); // p[k] == p[k + 1]
        uint64_t starts = ~(same << 1);
        int coded = same >> 63 ? 63 - __builtin_clzll(starts) : 64; // the last run left when it goes on
        if (coded == 0 || starts == 1)
            break;
        starts &= coded == 64 ? ~0ull : (1ull << coded) - 1;
        int runs = int(_mm_popcnt_u64(starts));
        uint64_t held = runs == 64 ? ~0ull : (1ull << runs) - 1;
        __m512i first = _mm512_maskz_compress_epi8(starts, lanes);
        __m512i values = _mm512_maskz_compress_epi8(starts, pixels);
        __m512i after = _mm512_mask_compress_epi8(_mm512_set1_epi8(char(coded)), starts & ~1ull, lanes);
        __m512i lengths = _mm512_sub_epi8(after, first);
        uint64_t counted = (_mm512_cmpgt_epu8_mask(lengths, _mm512_set1_epi8(1)) |
                            _mm512_cmpge_epu8_mask(values, _mm512_set1_epi8(char(0xC0)))) & held;
        __m512i counts = _mm512_or_si512(lengths, _mm512_set1_epi8(char(0xC0)));
        uint64_t keep_low = _pdep_u64(counted, 0x5555555555555555ull) | _pdep_u64(held, 0xAAAAAAAAAAAAAAAAull);
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

// Codes one row into out, which has room for two bytes per pixel plus one,
// in runs of at most 63: a count byte (0xC0 | count) when the run is longer
// than one or the value could be read as a count, then the value. Returns
// the end of the row's code. From each run start the vector coders above
// take as much as they can (noise is mostly short runs); what is left, or
// all of it without them, goes eight pixels at a time: none equal to the next
// (and not continuing the run before) are eight runs of one; eight that
// continue the run lengthen it; others go one by one through a loop with
// no branch on the data, which rewrites the current run's code in place as
// the run grows (branches there mispredict on noise).
static uint8_t *code_pcx_row(const uint8_t *row, int w, uint8_t *out)
{
#ifdef __x86_64__
    static const bool shuffles = __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("popcnt");
    static const bool compresses = shuffles && __builtin_cpu_supports("avx512bw") &&
                                   __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2") &&
                                   __builtin_cpu_supports("bmi2");
#endif
    uint8_t *run = out; // where the current run's code starts
    int count = 0;
    unsigned value = 0x100; // the run's value; none yet
    int x = 0;
    while (x < w) {
        if (x + 9 <= w) {
            uint64_t word = load_word(row + x);
#ifdef __x86_64__
            if (shuffles && (word & 0xFF) != value) {
                // Sixty-four pixels at a time where the processor can, then eight.
                int to = compresses ? compress_pcx_runs(row, x, w, out) : x;
                to = to > x ? to : shuffle_pcx_runs(row, x, w, out);
                if (to > x) {
                    x = to; // a run starts at x: none goes on
                    count = 0;
                    value = 0x100;
                    continue;
                }
            }
#endif
            if (!find_zero_bytes(word ^ load_word(row + x + 1)) && (word & 0xFF) != value) {
                out = put_pcx_singles(out, word);
                value = row[x + 7];
                count = 1;
                run = out - 1 - escape_pcx_value(value);
                x += 8;
                continue;
            }
            if (count > 0 && count + 8 <= 0x3F && word == value * 0x0101010101010101ull) {
                count += 8;
                run[0] = uint8_t(0xC0 | count);
                run[1] = uint8_t(value);
                out = run + 2;
                x += 8;
                continue;
            }
        }
        for (int end = std::min(w, x + 8); x < end; x++) {
            unsigned v = row[x];
            bool longer = (v == value) & (count < 0x3F);
            count = longer ? count + 1 : 1;
            run = longer ? run : out;
            unsigned long_form = (count > 1) | escape_pcx_value(v);
            run[0] = uint8_t(0xC0 | count);
            run[long_form] = uint8_t(v); // over the count byte when it is not needed
            out = run + 1 + long_form;
            value = v;
        }
    }
    return out;
}

// An 8-bit bitmap as the library's PCX writer lays it out: the 128-byte
// header with the first 16 palette entries, each row run-length coded on
// its own in runs of at most 63, then the marker and the whole palette,
// both palettes scaled up from 6 bits. Returns the file's length: out is
// kept at least as long as the longest file so far, so the room for the
// rows is not zero-filled again for every frame.
static size_t encode_pcx(BITMAP *bmp, const RGB *pal, std::vector<uint8_t> &out)
{
    std::vector<uint8_t> head;
    head.insert(head.end(), {10, 5, 1, 8}); // maker, version, run-length coding, 8 bits
    // Corners, then 320 x 200 dots per inch.
    for (int v : {0, 0, bmp->w - 1, bmp->h - 1, 320, 200})
        put_le(head, uint32_t(v), 2);
    for (int c = 0; c < 16; c++)
        head.insert(head.end(), {uint8_t(_rgb_scale_6[pal[c].r]), uint8_t(_rgb_scale_6[pal[c].g]),
                                 uint8_t(_rgb_scale_6[pal[c].b])});
    head.insert(head.end(), {0, 1}); // reserved, one plane
    // Bytes per row, a colour palette, the screen size.
    for (int v : {bmp->w, 1, bmp->w, bmp->h})
        put_le(head, uint32_t(v), 2);
    head.insert(head.end(), 54, 0);
    // Two bytes a pixel at most, one more for the coder's last store, then
    // the marker and the palette.
    size_t longest = head.size() + 2 * size_t(bmp->w) * size_t(bmp->h) + 1 + 1 + PCX_TABLE_BYTES;
    if (out.size() < longest)
        out.resize(longest);
    uint8_t *end = std::copy(head.begin(), head.end(), out.data()), *last = end;
    for (int y = 0; y < bmp->h; y++) {
        // A zoomed frame repeats rows: a row like the one before has its code.
        uint8_t *start = end;
        if (y > 0 && std::memcmp(bmp->line[y], bmp->line[y - 1], size_t(bmp->w)) == 0) {
            std::memcpy(end, last, size_t(start - last));
            end += start - last;
        } else {
            end = code_pcx_row(bmp->line[y], bmp->w, end);
        }
        last = start;
    }
    *end++ = PCX_PALETTE_MARKER;
    for (int c = 0; c < 256; c++) {
        *end++ = uint8_t(_rgb_scale_6[pal[c].r]);
        *end++ = uint8_t(_rgb_scale_6[pal[c].g]);
        *end++ = uint8_t(_rgb_scale_6[pal[c].b]);
    }
    return size_t(end - out.data());
}

// working_palette as a BMP colour table: blue, green, red, 0 per entry.
static std::array<uint8_t, BMP_TABLE_BYTES> make_bmp_table()
{
    std::array<uint8_t, BMP_TABLE_BYTES> bytes;
    for (int k = 0; k < 256; k++) {
        bytes[4 * k] = working_palette[k][2];
        bytes[4 * k + 1] = working_palette[k][1];
        bytes[4 * k + 2] = working_palette[k][0];
        bytes[4 * k + 3] = 0;
    }
    return bytes;
}

// Codes save_bmp as the library's writer would and puts the exact palette
// where modify_bmp_palette or modify_pcx_palette would patch it, so the
// file is whole before it is written. Returns the file's length: the first
// bytes of bytes.
static size_t encode_export_frame(BITMAP *save_bmp, int pcx_flag, std::vector<uint8_t> &bytes)
{
    if (pcx_flag) {
        size_t length = encode_pcx(save_bmp, display_palette, bytes);
        std::memcpy(bytes.data() + length - PCX_TABLE_BYTES, working_palette, PCX_TABLE_BYTES);
        return length;
    }
    encode_bmp(save_bmp, display_palette, bytes);
    std::array<uint8_t, BMP_TABLE_BYTES> table = make_bmp_table();
    std::copy(table.begin(), table.end(), bytes.begin() + BMP_HEADER_SIZE_OFFSET + BMP_MIN_INFO_HEADER);
    return bytes.size();
}

// Saves the frame's file through a temporary file beside it, so the file of
// that name is replaced whole or not at all (a link there is replaced, not
// written through). The library's writers make a call per pixel, which
// took most of the export's time; the coding here works on rows. A frame
// whose file cannot be made is reported and the export goes on. True when
// the file was written.
static bool save_export_frame(const gif_frame &frame, BITMAP *save_bmp, const char *name, int pcx_flag,
                              std::vector<uint8_t> &bytes)
{
    // PCX holds each side in 16 bits: a larger frame would wrap there.
    bool fits = !pcx_flag || (save_bmp->w <= PCX_MAX_SIDE && save_bmp->h <= PCX_MAX_SIDE);
    bool saved = false;
    if (fits) {
        try {
            scale_export_frame(frame, save_bmp);
            size_t length = encode_export_frame(save_bmp, pcx_flag, bytes);
            saved = replace_file(name, bytes.data(), length);
        } catch (const std::bad_alloc &) {
            // No room for the file's bytes or the scaler's tables: what was
            // had goes back, and the next frame tries again.
            std::vector<uint8_t>().swap(bytes);
        }
    }
    if (!saved)
        printf("can't save <%s>\n", name);
    return saved;
}

std::string glb_export_dir;

// The directory and every missing parent made; false when it cannot be had.
static bool make_export_dir(const std::string &dir)
{
    for (size_t slash = dir.find('/', 1); slash != std::string::npos; slash = dir.find('/', slash + 1))
        mkdir(dir.substr(0, slash).c_str(), 0755);
    mkdir(dir.c_str(), 0755);
    struct stat info;
    return stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string format_export_summary(int frames)
{
    // The directory as the system resolves it, when it is there to resolve.
    std::string dir = glb_export_dir.empty() ? "." : glb_export_dir;
    char *absolute = realpath(dir.c_str(), nullptr);
    if (absolute)
        dir = absolute;
    std::free(absolute);
    return "exported " + std::to_string(frames) + " frames to <" + dir + ">";
}

// Writes every frame into glb_export_dir, made if missing; returns the
// number written.
static int write_frames(const gif_anim *anim, int zoom, int pcx_flag)
{
    if (!glb_export_dir.empty() && !make_export_dir(glb_export_dir)) {
        printf("can't create <%s>\n", glb_export_dir.c_str());
        return 0;
    }
    int w, h;
    compute_export_size(zoom, anim->w, anim->h, &w, &h);
    BITMAP *save_bmp = create_checked_bitmap(8, w, h);
    if (!save_bmp) {
        // The session goes on: the loop still saves the slot choices.
        printf("can't create save_bmp %i * %i\n", w, h);
        return 0;
    }
    clear_to_color(save_bmp, 0);
    const char *extension = pcx_flag ? ".pcx" : ".bmp";
    std::string dir = glb_export_dir.empty() ? "" : glb_export_dir + "/";
    std::vector<uint8_t> bytes; // one file's bytes, kept for the next frame
    int written = 0;
    for (int32_t i = 0; i < anim->num_frames; i++) {
        char name[32];
        snprintf(name, sizeof name, "frame%03i%s", static_cast<int>(i), extension);
        written += save_export_frame(anim->frames[i], save_bmp, (dir + name).c_str(), pcx_flag, bytes);
    }
    destroy_bitmap(save_bmp);
    return written;
}

int save_all_frames(const gif_anim *anim, int zoom, int pcx_flag)
{
    if (!anim || !glb_sprite_8bpp)
        return 0;
    int written = write_frames(anim, zoom, pcx_flag);
    printf("%s\n", format_export_summary(written).c_str());
    return written;
}

// Length of an open file, or -1.
static long measure_file(FILE *file)
{
    if (fseek(file, 0, SEEK_END) != 0)
        return -1;
    return ftell(file);
}

// Offset of the BMP colour table, or -1 when the info header size read at
// offset 14 and the file's length leave no room for the whole table.
static long find_bmp_table(FILE *file)
{
    long length = measure_file(file);
    uint8_t size_bytes[4];
    if (length < 0 || fseek(file, BMP_HEADER_SIZE_OFFSET, SEEK_SET) != 0 ||
        fread(size_bytes, 1, 4, file) != 4)
        return -1;
    uint32_t size = size_bytes[0] | size_bytes[1] << 8 | size_bytes[2] << 16 |
                    static_cast<uint32_t>(size_bytes[3]) << 24;
    // A smaller header (the 12-byte core form) has 3-byte table entries.
    if (size < BMP_MIN_INFO_HEADER)
        return -1;
    long long table = BMP_HEADER_SIZE_OFFSET + static_cast<long long>(size);
    if (table + BMP_TABLE_BYTES > length)
        return -1;
    return static_cast<long>(table);
}

// Rewrites the colour table that find locates with bytes, warning in the
// routine's name when the file cannot be opened, has no room for the table,
// or cannot be written. A file without a sound table is left alone.
static void patch_palette_table(const char *file, const char *routine, long (*find)(FILE *),
                                const uint8_t *bytes, size_t count)
{
    FILE *f = fopen(file, "rb+");
    if (!f) {
        printf("%s warning : can't open <%s>\n", routine, file);
        return;
    }
    long table = find(f);
    if (table < 0) {
        printf("%s warning : bad header in <%s>\n", routine, file);
        fclose(f);
        return;
    }
    // A seek is required between the reads of find and the write.
    bool written = fseek(f, table, SEEK_SET) == 0 && fwrite(bytes, 1, count, f) == count;
    if (fclose(f) != 0 || !written)
        printf("%s warning : can't write <%s>\n", routine, file);
}

void modify_bmp_palette(const char *file)
{
    std::array<uint8_t, BMP_TABLE_BYTES> bytes = make_bmp_table();
    patch_palette_table(file, "modify_bmp_palette()", find_bmp_table, bytes.data(), bytes.size());
}

// Offset of the PCX palette, or -1 when the file is too short or lacks the
// marker byte in front of it.
static long find_pcx_table(FILE *file)
{
    long length = measure_file(file);
    if (length < PCX_TABLE_BYTES + 1 || fseek(file, length - PCX_TABLE_BYTES - 1, SEEK_SET) != 0)
        return -1;
    if (fgetc(file) != PCX_PALETTE_MARKER)
        return -1;
    return length - PCX_TABLE_BYTES;
}

void modify_pcx_palette(const char *file)
{
    patch_palette_table(file, "modify_pcx_palette()", find_pcx_table, &working_palette[0][0],
                        PCX_TABLE_BYTES);
}
