// Writing animated GIFs with giflib's encoder, for the data generator and the
// benchmarks (never for the program itself, which has its own reader).
#pragma once

#include <fcntl.h>
#include <gif_lib.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <vector>

using gif_rgb = std::array<uint8_t, 3>;

struct gif_out_frame {
    int x, y, w, h;                  // rectangle in the logical screen
    std::vector<uint8_t> pixels;     // w * h colour indices, rows top-down
    int delay;                       // hundredths of a second
    bool interlace;                  // store rows in the four-pass order
    std::vector<gif_rgb> local_table; // empty: the frame uses the global table
};

// A giflib colour map from a table whose size is a power of two, 2 .. 256;
// null otherwise.
inline ColorMapObject *make_gif_color_map(const std::vector<gif_rgb> &table)
{
    std::vector<GifColorType> colors(table.size());
    for (size_t i = 0; i < table.size(); i++) {
        colors[i].Red = table[i][0];
        colors[i].Green = table[i][1];
        colors[i].Blue = table[i][2];
    }
    return GifMakeMapObject(static_cast<int>(table.size()), colors.data());
}

// The NETSCAPE2.0 application extension: loop forever.
inline bool put_gif_loop_extension(GifFileType *gif)
{
    static const char app[] = "NETSCAPE2.0";
    uint8_t loop[3] = {1, 0, 0};
    return EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
           EGifPutExtensionBlock(gif, 11, app) == GIF_OK &&
           EGifPutExtensionBlock(gif, 3, loop) == GIF_OK &&
           EGifPutExtensionTrailer(gif) == GIF_OK;
}

// Row order in which an image's rows are stored: the four interlace passes,
// or top-down.
inline std::vector<int> list_gif_row_order(int h, bool interlace)
{
    std::vector<int> rows;
    if (!interlace) {
        for (int y = 0; y < h; y++)
            rows.push_back(y);
        return rows;
    }
    static const int start[4] = {0, 4, 2, 1};
    static const int step[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; pass++)
        for (int y = start[pass]; y < h; y += step[pass])
            rows.push_back(y);
    return rows;
}

// Graphic control extension (leave in place, no transparency), descriptor,
// optional local table and the image data of one frame.
inline bool put_gif_frame(GifFileType *gif, const gif_out_frame &frame)
{
    if (frame.w <= 0 || frame.h <= 0 ||
        frame.pixels.size() != static_cast<size_t>(frame.w) * frame.h)
        return false;
    GraphicsControlBlock gcb{};
    gcb.DisposalMode = DISPOSE_DO_NOT;
    gcb.UserInputFlag = false;
    gcb.DelayTime = frame.delay;
    gcb.TransparentColor = NO_TRANSPARENT_COLOR;
    GifByteType ext[4];
    size_t len = EGifGCBToExtension(&gcb, ext);
    if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(len), ext) != GIF_OK)
        return false;

    ColorMapObject *local = nullptr;
    if (!frame.local_table.empty()) {
        local = make_gif_color_map(frame.local_table);
        if (!local)
            return false;
    }
    int rc = EGifPutImageDesc(gif, frame.x, frame.y, frame.w, frame.h, frame.interlace, local);
    GifFreeMapObject(local);
    if (rc != GIF_OK)
        return false;

    std::vector<GifPixelType> line(frame.w);
    for (int y : list_gif_row_order(frame.h, frame.interlace)) {
        const uint8_t *src = &frame.pixels[static_cast<size_t>(y) * frame.w];
        line.assign(src, src + frame.w);
        if (EGifPutLine(gif, line.data(), frame.w) != GIF_OK)
            return false;
    }
    return true;
}

// Writes a looping GIF89a animation; false on any failure (the file may then
// be incomplete).
inline bool write_gif_file(const char *path, int w, int h, const std::vector<gif_rgb> &global_table,
                           const std::vector<gif_out_frame> &frames)
{
    // Opened here rather than by giflib, which would make the file private.
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    int error = 0;
    GifFileType *gif = EGifOpenFileHandle(fd, &error);
    if (!gif) {
        close(fd);
        return false;
    }
    EGifSetGifVersion(gif, true);
    ColorMapObject *global = make_gif_color_map(global_table);
    bool ok = global && EGifPutScreenDesc(gif, w, h, 8, 0, global) == GIF_OK;
    GifFreeMapObject(global);
    ok = ok && put_gif_loop_extension(gif);
    for (size_t i = 0; ok && i < frames.size(); i++)
        ok = put_gif_frame(gif, frames[i]);
    if (EGifCloseFile(gif, &error) != GIF_OK)
        ok = false;
    return ok;
}

// Frames of an animation drawn as full w x h canvases: the first frame whole,
// each later one only the rectangle that differs from the canvas before it
// (a single pixel when nothing changed).
inline std::vector<gif_out_frame> crop_gif_frames(const std::vector<std::vector<uint8_t>> &canvases,
                                                  int w, int h, int delay)
{
    std::vector<gif_out_frame> frames;
    for (size_t i = 0; i < canvases.size(); i++) {
        int x0 = 0, y0 = 0, x1 = w - 1, y1 = h - 1;
        if (i > 0) {
            x0 = w, y0 = h, x1 = -1, y1 = -1;
            for (int y = 0; y < h; y++)
                for (int x = 0; x < w; x++) {
                    size_t at = static_cast<size_t>(y) * w + x;
                    if (canvases[i][at] == canvases[i - 1][at])
                        continue;
                    x0 = x < x0 ? x : x0;
                    x1 = x > x1 ? x : x1;
                    y0 = y < y0 ? y : y0;
                    y1 = y > y1 ? y : y1;
                }
            if (x1 < 0)
                x0 = x1 = y0 = y1 = 0;
        }
        gif_out_frame frame{x0, y0, x1 - x0 + 1, y1 - y0 + 1, {}, delay, false, {}};
        for (int y = y0; y <= y1; y++)
            for (int x = x0; x <= x1; x++)
                frame.pixels.push_back(canvases[i][static_cast<size_t>(y) * w + x]);
        frames.push_back(frame);
    }
    return frames;
}
