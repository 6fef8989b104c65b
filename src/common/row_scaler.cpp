// Scaling a frame's rows straight onto a bitmap's rows, as the library's
// masked drawing and stretch would leave them.
#include "common/row_scaler.h"

#include <allegro.h>
#include <algorithm>
#ifdef __x86_64__
#include <immintrin.h>
#endif
#include <cstring>
#include <vector>

#include "common/checked_bitmap.h"
#include "common/simd_tier.h"

// One axis of a stretch as the library steps it: the destination positions
// [beg, end) left by the clip and the source position each of them shows.
struct stretch_axis {
    int beg, end;
    std::vector<int> source;
};

// The library's stretch takes sw / dw source pixels per destination pixel
// and one more whenever its error term has run out; the term starts at
// dw - sw % dw. Positions the clip cuts off are stepped over, not skipped,
// so that the first kept one shows what it would unclipped.
static void map_stretch_axis(int sw, int d, int dw, int clip_beg, int clip_end, stretch_axis *axis)
{
    axis->beg = d > clip_beg ? d : clip_beg;
    axis->end = d + dw < clip_end ? d + dw : clip_end;
    axis->source.clear();
    if (axis->beg >= axis->end)
        return;
    axis->source.reserve(size_t(axis->end - axis->beg));
    int step = sw / dw, dec = sw - step * dw, inc = dw - dec, error = inc, s = 0;
    for (int i = d; i < axis->end; i++) {
        if (i >= axis->beg)
            axis->source.push_back(s);
        s += step;
        if (error <= 0) {
            s++;
            error += inc;
        } else {
            error -= dec;
        }
    }
}

// The destination positions [*first, *last) of the axis whose source lies
// in [lo, hi): one run, since the sources never decrease.
static void find_source_run(const stretch_axis &axis, int lo, int hi, int *first, int *last)
{
    const std::vector<int> &s = axis.source;
    *first = int(std::lower_bound(s.begin(), s.end(), lo) - s.begin());
    *last = int(std::lower_bound(s.begin() + *first, s.end(), hi) - s.begin());
}

// Stores one pixel of BYTES bytes as the library lays it out.
template <int BYTES>
static inline void store_pixel(uint8_t *out, uint32_t c)
{
    if (BYTES == 4) {
        std::memcpy(out, &c, 4);
    } else if (BYTES == 2) {
        uint16_t c16 = uint16_t(c);
        std::memcpy(out, &c16, 2);
    } else if (BYTES == 3) {
        out[0] = uint8_t(c);
        out[1] = uint8_t(c >> 8);
        out[2] = uint8_t(c >> 16);
    } else {
        out[0] = uint8_t(c);
    }
}

// Writes n pixels of BYTES bytes: the indices of the frame row at the n
// sources, each through colors. Consecutive sources (no scaling on this
// axis) are read straight along the row.
template <int BYTES>
static void write_colored_run(uint8_t *out, const uint8_t *row, const int *source, int n,
                              const int32_t *colors)
{
    if (n > 0 && source[n - 1] - source[0] == n - 1) {
        row += source[0];
        int i = 0;
        // Four pixels a step: about a third faster than one by one.
        for (; i + 4 <= n; i += 4) {
            uint8_t a = row[i], b = row[i + 1], c = row[i + 2], d = row[i + 3];
            uint8_t *o = out + BYTES * i;
            store_pixel<BYTES>(o, uint32_t(colors[a]));
            store_pixel<BYTES>(o + BYTES, uint32_t(colors[b]));
            store_pixel<BYTES>(o + 2 * BYTES, uint32_t(colors[c]));
            store_pixel<BYTES>(o + 3 * BYTES, uint32_t(colors[d]));
        }
        for (; i < n; i++)
            store_pixel<BYTES>(out + BYTES * i, uint32_t(colors[row[i]]));
        return;
    }
    for (int i = 0; i < n; i++)
        store_pixel<BYTES>(out + BYTES * i, uint32_t(colors[row[source[i]]]));
}

// The rule for 8-bit pixels that keep their index: each pixel is the row's
// pixel at its source. The plain twin of the shuffles below.
static void pick_index_run(uint8_t *out, const uint8_t *row, const int *source, int n)
{
    for (int i = 0; i < n; i++)
        out[i] = row[source[i]];
}

// A stretch of 8-bit rows sixteen pixels at a time: where the sixteen
// sources of a block lie within sixteen bytes of the row, one byte shuffle
// of those bytes gives the block. The same for every row of a frame, so
// planned once. Enlarging makes every block such a one.
struct shuffle_plan {
    std::vector<int> base;       // per block: its first source, or -1 (pixel by pixel)
    std::vector<uint8_t> offset; // per pixel: its source less its block's base
};

// The plan for n destination pixels of the sources, reading rows of w bytes.
static void plan_index_shuffles(const int *source, int n, int w, shuffle_plan *plan)
{
    plan->base.assign(size_t(n / 16), -1);
    plan->offset.assign(size_t(n / 16) * 16, 0);
    for (int b = 0; b < n / 16; b++) {
        const int *s = source + 16 * b;
        if (s[15] - s[0] >= 16 || s[0] + 16 > w)
            continue;
        plan->base[size_t(b)] = s[0];
        for (int k = 0; k < 16; k++)
            plan->offset[size_t(16 * b + k)] = uint8_t(s[k] - s[0]);
    }
}

#ifdef __x86_64__
__attribute__((target("ssse3"))) static void shuffle_index_run(uint8_t *out, const uint8_t *row,
                                                                const int *source, int n,
                                                                const shuffle_plan &plan)
{
    for (int b = 0; b < n / 16; b++) {
        uint8_t *o = out + 16 * b;
        int base = plan.base[size_t(b)];
        if (base < 0) {
            pick_index_run(o, row, source + 16 * b, 16);
            continue;
        }
        const uint8_t *offsets = &plan.offset[size_t(16 * b)];
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + base));
        __m128i order = _mm_loadu_si128(reinterpret_cast<const __m128i *>(offsets));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(o), _mm_shuffle_epi8(bytes, order));
    }
    int done = n / 16 * 16;
    pick_index_run(out + done, row, source + done, n - done);
}
#endif

// The same for 8-bit pixels that keep their index; plan is null or made
// for these sources.
static void write_index_run(uint8_t *out, const uint8_t *row, const int *source, int n,
                            const shuffle_plan *plan)
{
    if (n > 0 && source[n - 1] - source[0] == n - 1) {
        std::memcpy(out, row + source[0], size_t(n));
        return;
    }
#ifdef __x86_64__
    if (plan) {
        shuffle_index_run(out, row, source, n, *plan);
        return;
    }
#endif
    pick_index_run(out, row, source, n);
}

// n pixels of the frame row at the sources; colors null (8-bit pixels
// only) keeps the indices.
static void write_scaled_run(int bytes, uint8_t *out, const uint8_t *row, const int *source, int n,
                             const int32_t *colors, const shuffle_plan *plan)
{
    if (!colors)
        write_index_run(out, row, source, n, plan);
    else if (bytes == 1)
        write_colored_run<1>(out, row, source, n, colors);
    else if (bytes == 2)
        write_colored_run<2>(out, row, source, n, colors);
    else if (bytes == 3)
        write_colored_run<3>(out, row, source, n, colors);
    else
        write_colored_run<4>(out, row, source, n, colors);
}

bool draw_frame_scaled(BITMAP *dst, preview_rect rect, BITMAP *canvas, BITMAP *frame_bmp,
                       int frame_x, int frame_y, const int32_t *colors)
{
    if (!is_plain_bitmap(dst) || !dst->clip || !canvas || !has_whole_clip(canvas))
        return false;
    int bytes = count_pixel_bytes(bitmap_color_depth(dst));
    if ((!colors && bytes != 1) || bitmap_color_depth(canvas) != bitmap_color_depth(dst))
        return false;
    if (frame_bmp && !is_plain_bitmap(frame_bmp, 8))
        return false;
    if (rect.w <= 0 || rect.h <= 0 || canvas->w <= 0 || canvas->h <= 0)
        return true;
    stretch_axis xs, ys;
    map_stretch_axis(canvas->w, rect.x, rect.w, dst->cl, dst->cr, &xs);
    map_stretch_axis(canvas->h, rect.y, rect.h, dst->ct, dst->cb, &ys);
    if (xs.beg >= xs.end || ys.beg >= ys.end)
        return true;
    // Where the frame's pixels fall on the canvas, cut to the canvas; the
    // rest of the canvas is index 0. 64 bits: a position plus a size may
    // pass the int range.
    long long fx = frame_x, fy = frame_y;
    long long fw = frame_bmp ? frame_bmp->w : 0, fh = frame_bmp ? frame_bmp->h : 0;
    int lo_x = int(std::max(0LL, fx)), hi_x = int(std::min<long long>(canvas->w, fx + fw));
    int lo_y = int(std::max(0LL, fy)), hi_y = int(std::min<long long>(canvas->h, fy + fh));
    int first = 0, last = 0;
    if (lo_x < hi_x)
        find_source_run(xs, lo_x, hi_x, &first, &last);
    // From here on the run's sources are columns of the frame's rows.
    for (int i = first; i < last; i++)
        xs.source[size_t(i)] -= frame_x;
    shuffle_plan plan;
    bool planned = !colors && first < last && glb_simd_tier >= SIMD_SSSE3;
    if (planned)
        plan_index_shuffles(xs.source.data() + first, last - first, frame_bmp->w, &plan);
    size_t row_bytes = size_t(xs.end - xs.beg) * size_t(bytes);
    uint8_t *previous = nullptr;
    for (int y = ys.beg; y < ys.end; y++) {
        uint8_t *out = dst->line[y] + size_t(xs.beg) * size_t(bytes);
        int sy = ys.source[size_t(y - ys.beg)];
        if (previous && sy == ys.source[size_t(y - ys.beg - 1)]) {
            // A repeated source row: the same pixels as the row above.
            std::memcpy(out, previous, row_bytes);
        } else if (sy < lo_y || sy >= hi_y || first >= last) {
            std::memset(out, 0, row_bytes);
        } else {
            std::memset(out, 0, size_t(first) * size_t(bytes));
            write_scaled_run(bytes, out + size_t(first) * size_t(bytes),
                             frame_bmp->line[sy - frame_y], xs.source.data() + first, last - first,
                             colors, planned ? &plan : nullptr);
            std::memset(out + size_t(last) * size_t(bytes), 0,
                        row_bytes - size_t(last) * size_t(bytes));
        }
        previous = out;
    }
    return true;
}
