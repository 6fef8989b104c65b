// Frame export: each frame scaled to an 8-bit file by its format's writer,
// or all of them into the one file of an animation format, whole in
// memory, then put in place of the old file of its name.
#include "export/export.h"

#include <allegro.h>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <dirent.h>
#include <sys/stat.h>
#include <vector>

#include "common/checked_bitmap.h"
#include "common/row_scaler.h"
#include "common/safe_file.h"
#include "common/surfaces.h"
#include "export/gif_writer.h"
#include "export/sprite_sheet.h"
#include "export/writers.h"
#include "gif/gif_anim.h"
#include "palette/tint_slots.h"

export_options glb_export_options;

// A format's writer: its extension, the largest side its header holds, and
// its coder of one frame's file (none for the formats of one file for the
// whole animation).
struct export_writer {
    const char *extension;
    int max_side;
    size_t (*encode)(BITMAP *bmp, std::vector<uint8_t> &bytes);
};

// By export_format.
static const export_writer export_writers[] = {
    {".bmp", 0x7FFFFFFF, encode_bmp_file},
    {".pcx", 0xFFFF, encode_pcx_file}, // each side in 16 bits
    {".png", 0x7FFFFFFF, encode_png_file},
    {".gif", GIF_MAX_SIDE, nullptr},
    {".png", SHEET_MAX_SIDE, nullptr},
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

// The options' directory as the start of a file's path: empty for the
// working directory.
static std::string prefix_export_dir(const export_options &options)
{
    return options.dir.empty() ? "" : options.dir + "/";
}

// The file of frame i: "frame", the number in at least three digits, the
// extension.
static std::string name_frame_file(int i, const char *extension)
{
    char name[40];
    snprintf(name, sizeof name, "frame%03i%s", i, extension);
    return name;
}

// The frame scaled alone onto save_bmp, as if drawn on the cleared canvas
// and stretched from it. Both bitmaps are 8-bit memory bitmaps made whole
// here and at load, and the canvas keeps its whole clip: the scaler takes
// them.
static bool scale_export_frame(const gif_frame &frame, BITMAP *save_bmp)
{
    preview_rect whole = {0, 0, save_bmp->w, save_bmp->h};
    return draw_frame_scaled(save_bmp, whole, glb_sprite_8bpp, frame.bmp, frame.pos.x, frame.pos.y,
                             nullptr);
}

// Saves the frame's file through a temporary file beside it, so the file of
// that name is replaced whole or not at all (a link there is replaced, not
// written through). The library's writers make a call per pixel, which
// took most of the export's time; the coding here works on rows. A frame
// whose file cannot be made is reported and the export goes on. True when
// the file was written.
static bool save_export_frame(const gif_frame &frame, BITMAP *save_bmp, const char *name,
                              const export_writer &writer, std::vector<uint8_t> &bytes)
{
    bool fits = save_bmp->w <= writer.max_side && save_bmp->h <= writer.max_side;
    bool saved = false;
    if (fits) {
        try {
            if (scale_export_frame(frame, save_bmp)) {
                size_t length = writer.encode(save_bmp, bytes);
                saved = length > 0 && replace_file(name, bytes.data(), length);
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

// False when the options' hook, when given, stops the export before frame
// i of total, which sets stopped.
static bool continue_export(const export_options &options, int i, int total, bool &stopped)
{
    stopped = options.progress && !options.progress(i, total);
    return !stopped;
}

// The most the GIF's buffer is sized for before coding; a larger file grows it.
constexpr size_t GIF_RESERVE_MAX = size_t(64) << 20;

// Every frame scaled in turn and coded into one animated GIF on
// working_palette, each with its delay, looping as the source did.
static bool encode_gif_animation(const gif_anim *anim, BITMAP *save_bmp,
                                 const export_options &options, std::vector<uint8_t> &bytes,
                                 bool &stopped)
{
    gif_encoding gif;
    bool ok = begin_gif_encoding(gif, save_bmp->w, save_bmp->h, working_palette, anim->loop_count);
    // Room for a file as large as the frames' pixels (noise codes to about
    // that), so the buffer is not copied and faulted in anew as it grows.
    size_t pixels = size_t(save_bmp->w) * size_t(save_bmp->h) * size_t(anim->num_frames);
    gif.bytes.reserve(std::min(pixels, GIF_RESERVE_MAX));
    for (int32_t i = 0; i < anim->num_frames && ok; i++) {
        const gif_frame &frame = anim->frames[i];
        ok = continue_export(options, i, anim->num_frames, stopped);
        ok = ok && scale_export_frame(frame, save_bmp);
        ok = ok && add_gif_frame(gif, save_bmp->line, frame.delay);
    }
    ok = finish_gif_encoding(gif) && ok;
    bytes.swap(gif.bytes);
    return ok;
}

// Every frame scaled in turn onto the sheet, and the description of the
// sheet, which is saved as image.
static bool encode_sprite_sheet(const gif_anim *anim, BITMAP *save_bmp, int zoom,
                                const export_options &options, const std::string &image,
                                std::vector<uint8_t> &bytes, std::string &json, bool &stopped)
{
    sheet_layout layout;
    if (!plan_sprite_sheet(save_bmp->w, save_bmp->h, anim->num_frames, layout))
        return false;
    sheet_encoding sheet;
    bool ok = begin_sheet_encoding(sheet, layout, working_palette, bytes);
    std::vector<int> delays;
    for (int32_t i = 0; i < anim->num_frames && ok; i++) {
        const gif_frame &frame = anim->frames[i];
        ok = continue_export(options, i, anim->num_frames, stopped);
        ok = ok && scale_export_frame(frame, save_bmp) && add_sheet_frame(sheet, save_bmp->line);
        delays.push_back(frame.delay);
    }
    ok = finish_sheet_encoding(sheet) && ok;
    if (ok)
        json = format_sheet_json(layout, delays, options.name, image, zoom);
    return ok;
}

// A file per frame, each saved or reported on its own. Returns the frames
// written.
static int write_frame_files(const gif_anim *anim, BITMAP *save_bmp, const export_options &options)
{
    const export_writer &writer = export_writers[options.format];
    std::string dir = prefix_export_dir(options);
    std::vector<uint8_t> bytes; // one file's bytes, kept for the next frame
    int written = 0;
    bool stopped = false;
    for (int32_t i = 0; i < anim->num_frames; i++) {
        if (!continue_export(options, i, anim->num_frames, stopped))
            break;
        std::string path = dir + name_frame_file(i, writer.extension);
        written += save_export_frame(anim->frames[i], save_bmp, path.c_str(), writer, bytes);
    }
    return written;
}

// The animation's own files: all the frames in each, or the files are not
// written (the first that cannot be is named, unless the options' hook
// stopped the export). Returns the frames written.
static int write_animation_files(const gif_anim *anim, BITMAP *save_bmp, int zoom,
                                 const export_options &options)
{
    std::string dir = prefix_export_dir(options);
    std::vector<std::string> files = list_export_files(options);
    std::vector<uint8_t> bytes;
    std::string json;
    size_t saved = 0;
    bool stopped = false;
    try {
        bool coded = options.format == EXPORT_GIF
                         ? encode_gif_animation(anim, save_bmp, options, bytes, stopped)
                         : encode_sprite_sheet(anim, save_bmp, zoom, options, files[0], bytes, json,
                                               stopped);
        if (coded && replace_file((dir + files[0]).c_str(), bytes.data(), bytes.size()))
            saved = 1;
        const uint8_t *text = reinterpret_cast<const uint8_t *>(json.data());
        bool more = saved == 1 && files.size() > 1;
        if (more && replace_file((dir + files[1]).c_str(), text, json.size()))
            saved = 2;
    } catch (const std::bad_alloc &) {
        // No room for the file's bytes or the scaler's tables.
    }
    if (saved < files.size()) {
        if (!stopped)
            printf("can't save <%s>\n", (dir + files[saved]).c_str());
        return 0;
    }
    return anim->num_frames;
}

// The directory and every missing parent made; false when it cannot be had.
static bool make_export_dir(const std::string &dir)
{
    for (size_t slash = dir.find('/', 1); slash != std::string::npos;
         slash = dir.find('/', slash + 1))
        mkdir(dir.substr(0, slash).c_str(), 0755);
    mkdir(dir.c_str(), 0755);
    struct stat info;
    return stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The directory as the system resolves it, when it is there to resolve.
static std::string resolve_shown_dir(const std::string &dir)
{
    std::string shown = dir.empty() ? "." : dir;
    char *absolute = realpath(shown.c_str(), nullptr);
    if (absolute)
        shown = absolute;
    std::free(absolute);
    return shown;
}

std::string format_export_summary(int frames, const std::string &dir)
{
    return "exported " + std::to_string(frames) + " frames to <" + resolve_shown_dir(dir) + ">";
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
    int written = export_writers[options.format].encode
                      ? write_frame_files(anim, save_bmp, options)
                      : write_animation_files(anim, save_bmp, zoom, options);
    destroy_bitmap(save_bmp);
    return written;
}

std::vector<std::string> list_export_files(const export_options &options)
{
    if (options.format == EXPORT_GIF)
        return {options.name + "_tinted.gif"};
    if (options.format == EXPORT_SHEET)
        return {options.name + "_sheet.png", options.name + "_sheet.json"};
    return {};
}

bool find_input_clash(const export_options &options, std::string &refusal)
{
    struct stat input;
    if (options.input.empty() || stat(options.input.c_str(), &input) != 0)
        return false;
    std::string dir = prefix_export_dir(options);
    for (const std::string &file : list_export_files(options)) {
        struct stat output;
        std::string path = dir + file;
        bool same = stat(path.c_str(), &output) == 0 && output.st_dev == input.st_dev &&
                    output.st_ino == input.st_ino;
        if (same) {
            refusal = "can't write <" + path + "> : it is the animation being read";
            return true;
        }
    }
    return false;
}

std::string format_export_summary(int frames, const export_options &options)
{
    std::vector<std::string> files = list_export_files(options);
    if (files.empty())
        return format_export_summary(frames, options.dir);
    // Each file in the directory is named instead of the directory.
    std::string dir = resolve_shown_dir(options.dir);
    std::string summary = "exported " + std::to_string(frames) + " frames to ";
    for (size_t k = 0; k < files.size(); k++)
        summary += (k > 0 ? " and <" : "<") + dir + "/" + files[k] + ">";
    return summary;
}

int count_frame_files_from(const std::string &dir, const char *extension, int first)
{
    DIR *folder = opendir(dir.empty() ? "." : dir.c_str());
    if (!folder)
        return 0;
    int count = 0;
    while (const dirent *entry = readdir(folder)) {
        // Only names the export would write: "frame", the number as it
        // prints it, the extension.
        int number = -1;
        char tail[8] = "";
        if (sscanf(entry->d_name, "frame%9d%7s", &number, tail) != 2 || number < first)
            continue;
        count += name_frame_file(number, extension) == entry->d_name;
    }
    closedir(folder);
    return count;
}

int save_all_frames(const gif_anim *anim, int zoom, const export_options &options)
{
    if (!anim || !glb_sprite_8bpp)
        return 0;
    std::string refusal;
    if (find_input_clash(options, refusal)) {
        printf("%s\n", refusal.c_str());
        return 0;
    }
    int written = write_frames(anim, zoom, options);
    printf("%s\n", format_export_summary(written, options).c_str());
    const char *extension = export_writers[options.format].extension;
    int left = 0;
    if (export_writers[options.format].encode)
        left = count_frame_files_from(options.dir, extension, anim->num_frames);
    if (left > 0)
        printf("%i older frame file%s past %s left as they were\n", left, left > 1 ? "s" : "",
               name_frame_file(anim->num_frames - 1, extension).c_str());
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
