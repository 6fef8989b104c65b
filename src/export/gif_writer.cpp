// Animated GIF out through giflib's encoder.
#include "export/gif_writer.h"

#include <gif_lib.h>


// Bytes from giflib appended to the encoding's buffer.
static int append_gif_bytes(GifFileType *file, const GifByteType *data, int length)
{
    gif_encoding *gif = static_cast<gif_encoding *>(file->UserData);
    gif->bytes.insert(gif->bytes.end(), data, data + length);
    return length;
}

// The looping extension: "NETSCAPE2.0", then sub-block 1 with the count.
static bool put_loop_extension(GifFileType *file, int loop_count)
{
    static const char name[] = "NETSCAPE2.0";
    GifByteType count[3] = {1, GifByteType(loop_count & 0xFF), GifByteType(loop_count >> 8 & 0xFF)};
    if (EGifPutExtensionLeader(file, APPLICATION_EXT_FUNC_CODE) != GIF_OK)
        return false;
    if (EGifPutExtensionBlock(file, 11, name) != GIF_OK)
        return false;
    if (EGifPutExtensionBlock(file, 3, count) != GIF_OK)
        return false;
    return EGifPutExtensionTrailer(file) == GIF_OK;
}

bool begin_gif_encoding(gif_encoding &gif, int w, int h, const uint8_t (*palette)[3],
                        int loop_count)
{
    gif.file = nullptr;
    gif.bytes.clear();
    gif.w = w;
    gif.h = h;
    gif.failed = true;
    if (w < 1 || h < 1 || w > GIF_MAX_SIDE || h > GIF_MAX_SIDE || loop_count > 0xFFFF)
        return false;
    int error = 0;
    gif.file = EGifOpen(&gif, append_gif_bytes, &error);
    if (!gif.file)
        return false;
    GifColorType colours[256];
    for (int c = 0; c < 256; c++) {
        colours[c].Red = palette[c][0];
        colours[c].Green = palette[c][1];
        colours[c].Blue = palette[c][2];
    }
    ColorMapObject *table = GifMakeMapObject(256, colours);
    if (!table)
        return false;
    EGifSetGifVersion(gif.file, true);
    // giflib keeps a copy of the table.
    bool ok = EGifPutScreenDesc(gif.file, w, h, 8, 0, table) == GIF_OK;
    GifFreeMapObject(table);
    if (ok && loop_count >= 0)
        ok = put_loop_extension(gif.file, loop_count);
    gif.failed = !ok;
    return ok;
}

bool add_gif_frame(gif_encoding &gif, uint8_t *const *rows, int delay)
{
    if (!gif.file || gif.failed)
        return false;
    // Index 0 transparent, and the screen cleared after the frame, so the
    // next one shows over nothing of it.
    GraphicsControlBlock control = {};
    control.DisposalMode = DISPOSE_BACKGROUND;
    control.UserInputFlag = false;
    control.DelayTime = delay;
    control.TransparentColor = 0;
    GifByteType extension[4];
    size_t length = EGifGCBToExtension(&control, extension);
    gif.failed =
        EGifPutExtension(gif.file, GRAPHICS_EXT_FUNC_CODE, int(length), extension) != GIF_OK ||
        EGifPutImageDesc(gif.file, 0, 0, gif.w, gif.h, false, nullptr) != GIF_OK;
    for (int y = 0; y < gif.h && !gif.failed; y++)
        gif.failed = EGifPutLine(gif.file, rows[y], gif.w) != GIF_OK;
    return !gif.failed;
}

bool finish_gif_encoding(gif_encoding &gif)
{
    if (!gif.file)
        return false;
    int error = 0;
    bool closed = EGifCloseFile(gif.file, &error) == GIF_OK;
    gif.file = nullptr;
    return closed && !gif.failed;
}
