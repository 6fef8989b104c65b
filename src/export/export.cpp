// Frame export: each frame scaled to an 8-bit file by its format's writer,
// whole in memory, then put in place of the old file of its name.
#include "export/export.h"

#include <allegro.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <sys/stat.h>
#include <vector>

#include "common/checked_bitmap.h"
#include "common/row_scaler.h"
#include "common/safe_file.h"
#include "common/surfaces.h"
#include "export/writers.h"
#include "gif/gif_anim.h"

export_options glb_export_options;

// A format's writer: its extension, the largest side its header holds, and
// its coder.
struct export_writer {
    const char *extension;
    int max_side;
    size_t (*encode)(BITMAP *bmp, std::vector<uint8_t> &bytes);
};

// By export_format.
static const export_writer export_writers[] = {
    {".bmp", 0x7FFFFFFF, encode_bmp_file},
    {".pcx", 0xFFFF, encode_pcx_file}, // each side in 16 bits
};

const char *name_export_extension(export_format format)
{
    return export_writers[format].extension;
}

void compute_export_size(int zoom, int w, int h, int *out_w, int *out_h)
{
    long long sw = static_cast<long long>(zoom) * w / 100;
    long long sh = static_cast<long long>(zoom) * h / 100;
    *out_w = sw < 1 ? 1 : static_cast<int>(sw);
    *out_h = sh < 1 ? 1 : static_cast<int>(sh);
}

// Saves the frame's file through a temporary file beside it, so the file of
// that name is replaced whole or not at all (a link there is replaced, not
// written through). The frame is scaled alone onto save_bmp, as if drawn on
// the cleared canvas and stretched from it. The library's writers make a
// call per pixel, which took most of the export's time; the coding here
// works on rows. A frame whose file cannot be made is reported and the
// export goes on. True when the file was written.
static bool save_export_frame(const gif_frame &frame, BITMAP *save_bmp, const char *name,
                              const export_writer &writer, std::vector<uint8_t> &bytes)
{
    bool fits = save_bmp->w <= writer.max_side && save_bmp->h <= writer.max_side;
    bool saved = false;
    if (fits) {
        try {
            // Both bitmaps are 8-bit memory bitmaps made whole here and at
            // load, and the canvas keeps its whole clip: the scaler takes them.
            preview_rect whole = {0, 0, save_bmp->w, save_bmp->h};
            BITMAP *canvas = glb_sprite_8bpp;
            if (draw_frame_scaled(save_bmp, whole, canvas, frame.bmp, frame.pos.x, frame.pos.y,
                                  nullptr)) {
                size_t length = writer.encode(save_bmp, bytes);
                saved = replace_file(name, bytes.data(), length);
            }
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

// The directory and every missing parent made; false when it cannot be had.
static bool make_export_dir(const std::string &dir)
{
    for (size_t slash = dir.find('/', 1); slash != std::string::npos; slash = dir.find('/', slash + 1))
        mkdir(dir.substr(0, slash).c_str(), 0755);
    mkdir(dir.c_str(), 0755);
    struct stat info;
    return stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string format_export_summary(int frames, const std::string &dir)
{
    // The directory as the system resolves it, when it is there to resolve.
    std::string shown = dir.empty() ? "." : dir;
    char *absolute = realpath(shown.c_str(), nullptr);
    if (absolute)
        shown = absolute;
    std::free(absolute);
    return "exported " + std::to_string(frames) + " frames to <" + shown + ">";
}

// Writes every frame into the options' directory, made if missing; returns
// the number written.
static int write_frames(const gif_anim *anim, int zoom, const export_options &options)
{
    if (!options.dir.empty() && !make_export_dir(options.dir)) {
        printf("can't create <%s>\n", options.dir.c_str());
        return 0;
    }
    int w;
    int h;
    compute_export_size(zoom, anim->w, anim->h, &w, &h);
    BITMAP *save_bmp = create_checked_bitmap(8, w, h);
    if (!save_bmp) {
        // The session goes on: the loop still saves the slot choices.
        printf("can't create save_bmp %i * %i\n", w, h);
        return 0;
    }
    clear_to_color(save_bmp, 0);
    const export_writer &writer = export_writers[options.format];
    std::string dir = options.dir.empty() ? "" : options.dir + "/";
    std::vector<uint8_t> bytes; // one file's bytes, kept for the next frame
    int written = 0;
    for (int32_t i = 0; i < anim->num_frames; i++) {
        if (options.progress && !options.progress(i, anim->num_frames))
            break;
        char name[32];
        snprintf(name, sizeof name, "frame%03i%s", static_cast<int>(i), writer.extension);
        std::string path = dir + name;
        written += save_export_frame(anim->frames[i], save_bmp, path.c_str(), writer, bytes);
    }
    destroy_bitmap(save_bmp);
    return written;
}

int save_all_frames(const gif_anim *anim, int zoom, const export_options &options)
{
    if (!anim || !glb_sprite_8bpp)
        return 0;
    int written = write_frames(anim, zoom, options);
    printf("%s\n", format_export_summary(written, options.dir).c_str());
    return written;
}

long measure_file(FILE *file)
{
    if (fseek(file, 0, SEEK_END) != 0)
        return -1;
    return ftell(file);
}

void patch_palette_table(const char *file, const char *routine, long (*find)(FILE *),
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
