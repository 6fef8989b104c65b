// The Wuffs peer. Version 0.3 writes an 8-bit indexed canvas by plain copy
// only, so a frame with a transparent index is decoded into a scratch
// canvas and its opaque pixels copied over, as a player does; a frame
// without one is decoded straight into the canvas. Disposal as the
// program's reader applies it: background (the global table's background
// index, else 0) or what the frame covered.
#include "bench_wuffs.h"

#ifdef HUESMITH_WUFFS_SOURCE
#define WUFFS_IMPLEMENTATION
#define WUFFS_CONFIG__MODULES
#define WUFFS_CONFIG__MODULE__BASE
#define WUFFS_CONFIG__MODULE__GIF
#define WUFFS_CONFIG__MODULE__LZW
#include HUESMITH_WUFFS_SOURCE

#include <cstdlib>
#include <cstring>

const char *find_wuffs_source()
{
    return HUESMITH_WUFFS_SOURCE;
}

namespace {

// Kept from one file to the next, as a player keeps them: the decoder, the
// canvases and the rectangle a frame disposed of by 3 covered.
wuffs_gif__decoder *glb_wuffs_decoder;
std::vector<uint8_t> glb_wuffs_canvas, glb_wuffs_scratch, glb_wuffs_before, glb_wuffs_workbuf;
uint8_t glb_wuffs_palette[1024];

bool is_ok(const wuffs_base__status &status)
{
    return wuffs_base__status__is_ok(&status);
}

// A w x h pixel buffer over memory (and the shared palette).
bool point_pixel_buffer(wuffs_base__pixel_buffer *pb, wuffs_base__pixel_config *config,
                        uint8_t *memory, uint32_t w, uint32_t h)
{
    return is_ok(wuffs_base__pixel_buffer__set_interleaved(
        pb, config, wuffs_base__make_table_u8(memory, w, h, w),
        wuffs_base__make_slice_u8(glb_wuffs_palette, sizeof glb_wuffs_palette)));
}

void copy_rect(const uint8_t *from, size_t from_row, uint8_t *to, size_t to_row, size_t w, size_t h)
{
    for (size_t y = 0; y < h; y++)
        std::memcpy(to + y * to_row, from + y * from_row, w);
}

} // namespace

bool decode_with_wuffs(const uint8_t *data, size_t size, std::vector<peer_frame> &frames)
{
    frames.clear();
    if (!glb_wuffs_decoder)
        glb_wuffs_decoder = static_cast<wuffs_gif__decoder *>(std::malloc(sizeof__wuffs_gif__decoder()));
    wuffs_gif__decoder *dec = glb_wuffs_decoder;
    if (!dec || !is_ok(wuffs_gif__decoder__initialize(
                    dec, sizeof__wuffs_gif__decoder(), WUFFS_VERSION,
                    WUFFS_INITIALIZE__LEAVE_INTERNAL_BUFFERS_UNINITIALIZED)))
        return false;
    // The logical screen is the canvas, whatever the first frame's size.
    wuffs_gif__decoder__set_quirk_enabled(dec, WUFFS_GIF__QUIRK_IMAGE_BOUNDS_ARE_STRICT, true);
    wuffs_base__io_buffer src = wuffs_base__ptr_u8__reader(const_cast<uint8_t *>(data), size, true);
    wuffs_base__image_config ic{};
    if (!is_ok(wuffs_gif__decoder__decode_image_config(dec, &ic, &src)))
        return false;
    uint32_t w = wuffs_base__pixel_config__width(&ic.pixcfg);
    uint32_t h = wuffs_base__pixel_config__height(&ic.pixcfg);
    wuffs_base__pixel_config__set(&ic.pixcfg, WUFFS_BASE__PIXEL_FORMAT__INDEXED__BGRA_BINARY,
                                  WUFFS_BASE__PIXEL_SUBSAMPLING__NONE, w, h);
    size_t pixels = size_t(w) * h;
    uint8_t fill = size > 11 && (data[10] & 0x80) ? data[11] : 0;
    glb_wuffs_canvas.assign(pixels, fill);
    if (glb_wuffs_scratch.size() < pixels)
        glb_wuffs_scratch.resize(pixels);
    glb_wuffs_workbuf.resize(size_t(wuffs_gif__decoder__workbuf_len(dec).max_incl));
    wuffs_base__pixel_buffer canvas_pb, scratch_pb;
    if (!point_pixel_buffer(&canvas_pb, &ic.pixcfg, glb_wuffs_canvas.data(), w, h) ||
        !point_pixel_buffer(&scratch_pb, &ic.pixcfg, glb_wuffs_scratch.data(), w, h))
        return false;
    wuffs_base__slice_u8 workbuf =
        wuffs_base__make_slice_u8(glb_wuffs_workbuf.data(), glb_wuffs_workbuf.size());
    uint8_t *canvas = glb_wuffs_canvas.data();
    for (;;) {
        wuffs_base__frame_config fc{};
        wuffs_base__status status = wuffs_gif__decoder__decode_frame_config(dec, &fc, &src);
        if (status.repr == wuffs_base__note__end_of_data)
            return true;
        if (!is_ok(status))
            return false;
        wuffs_base__rect_ie_u32 r = wuffs_base__frame_config__bounds(&fc);
        size_t fx = r.min_incl_x, fy = r.min_incl_y;
        size_t fw = r.max_excl_x - r.min_incl_x, fh = r.max_excl_y - r.min_incl_y;
        uint8_t *at = canvas + fy * w + fx;
        uint8_t disposal = wuffs_base__frame_config__disposal(&fc);
        if (disposal == WUFFS_BASE__ANIMATION_DISPOSAL__RESTORE_PREVIOUS) {
            glb_wuffs_before.resize(fw * fh);
            copy_rect(at, w, glb_wuffs_before.data(), fw, fw, fh);
        }
        bool overwrite = wuffs_base__frame_config__overwrite_instead_of_blend(&fc);
        status = wuffs_gif__decoder__decode_frame(dec, overwrite ? &canvas_pb : &scratch_pb, &src,
                                                  WUFFS_BASE__PIXEL_BLEND__SRC, workbuf, nullptr);
        if (!is_ok(status))
            return false;
        if (!overwrite) {
            // The transparent index is the palette entry with no alpha.
            const uint8_t *from = glb_wuffs_scratch.data() + fy * w + fx;
            bool opaque[256];
            for (int e = 0; e < 256; e++)
                opaque[e] = glb_wuffs_palette[4 * e + 3] != 0;
            for (size_t y = 0; y < fh; y++)
                for (size_t x = 0; x < fw; x++) {
                    uint8_t p = from[y * w + x];
                    if (opaque[p])
                        at[y * w + x] = p;
                }
        }
        peer_frame frame{int(fx), int(fy), int(fw), int(fh), std::vector<uint8_t>(fw * fh)};
        copy_rect(at, w, frame.pixels.data(), fw, fw, fh);
        frames.push_back(std::move(frame));
        if (disposal == WUFFS_BASE__ANIMATION_DISPOSAL__RESTORE_BACKGROUND)
            for (size_t y = 0; y < fh; y++)
                std::memset(at + y * w, fill, fw);
        if (disposal == WUFFS_BASE__ANIMATION_DISPOSAL__RESTORE_PREVIOUS)
            copy_rect(glb_wuffs_before.data(), fw, at, w, fw, fh);
    }
}

#else

const char *find_wuffs_source()
{
    return "";
}

bool decode_with_wuffs(const uint8_t *, size_t, std::vector<peer_frame> &frames)
{
    frames.clear();
    return false;
}

#endif
