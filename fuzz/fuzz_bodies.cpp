#include "fuzz_bodies.h"

#include "common/checked_bitmap.h"
#include "gif/gif_anim.h"
#include "gif/gif_lzw.h"
#include "palette/data_set.h"
#include "palette/global_palette.h"
#include "palette/gradients.h"
#include "palette/tint_slots.h"
#include "support/lzw_reference.h"

#include <allegro.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

static bool glb_fuzz_allegro_ready = false; // install_allegro has run
static std::string glb_fuzz_work_dir;       // scratch directory, "" until made
static pid_t glb_fuzz_work_dir_owner = 0;   // the process that made it

void start_fuzz_allegro()
{
    if (glb_fuzz_allegro_ready)
        return;
    if (install_allegro(SYSTEM_NONE, &errno, atexit) != 0) {
        std::fprintf(stderr, "install_allegro failed\n");
        std::abort();
    }
    glb_fuzz_allegro_ready = true;
}

void start_fuzz_session()
{
    start_fuzz_allegro();
    if (!std::freopen("/dev/null", "w", stdout)) {
        std::fprintf(stderr, "cannot silence stdout\n");
        std::abort();
    }
}

static void remove_fuzz_work_dir()
{
    // Forked children (death tests) exit too; only the maker cleans up.
    std::error_code ignored;
    if (!glb_fuzz_work_dir.empty() && getpid() == glb_fuzz_work_dir_owner)
        fs::remove_all(glb_fuzz_work_dir, ignored);
}

const std::string &get_fuzz_work_dir()
{
    if (glb_fuzz_work_dir.empty()) {
        char name[] = "/tmp/huesmith_fuzz_XXXXXX";
        if (!mkdtemp(name)) {
            std::perror("mkdtemp");
            std::abort();
        }
        glb_fuzz_work_dir = name;
        glb_fuzz_work_dir_owner = getpid();
        std::atexit(remove_fuzz_work_dir);
    }
    return glb_fuzz_work_dir;
}

bool write_fuzz_file(const std::string &path, const uint8_t *data, size_t size)
{
    FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool whole = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && whole;
}

static std::string describe_frame(int i, const char *what)
{
    return "frame " + std::to_string(i) + ": " + what;
}

// Reads every pixel of the frame and, with a palette, the colour it names.
static std::string walk_frame_pixels(const gif_anim *anim, int i)
{
    const gif_frame &frame = anim->frames[i];
    BITMAP *bmp = frame.bmp;
    if (bitmap_color_depth(bmp) != 8)
        return describe_frame(i, "bitmap is not 8-bit");
    if (bmp->w != frame.w || bmp->h != frame.h)
        return describe_frame(i, "bitmap size differs from descriptor");
    volatile unsigned sum = 0;
    for (int y = 0; y < bmp->h; y++) {
        for (int x = 0; x < bmp->w; x++) {
            int v = bmp->line[y][x];
            if (frame.pal < 0)
                continue;
            const uint8_t *rgb = anim->palettes + (size_t(frame.pal) * 256 + v) * 3;
            sum = sum + rgb[0] + rgb[1] + rgb[2];
        }
    }
    return "";
}

std::string check_gif_anim(const gif_anim *anim)
{
    if (anim->num_frames < 0)
        return "negative num_frames";
    if (anim->num_palettes < 1)
        return "num_palettes below 1";
    if (!anim->palettes)
        return "no palette block";
    if (anim->num_frames > 0 && !anim->frames)
        return "frames counted but no frame table";
    // The last palette byte must be readable: a short block shows up here.
    volatile uint8_t last = anim->palettes[size_t(anim->num_palettes) * GIF_PALETTE_BYTES - 1];
    (void)last;
    for (int i = 0; i < anim->num_frames; i++) {
        const gif_frame &frame = anim->frames[i];
        if (frame.pal < -1 || frame.pal >= anim->num_palettes)
            return describe_frame(i, "pal out of range");
        if (frame.trans < -1 || frame.trans > 255)
            return describe_frame(i, "trans out of range");
        if (!frame.bmp)
            continue;
        std::string problem = walk_frame_pixels(anim, i);
        if (!problem.empty())
            return problem;
    }
    return "";
}

std::string run_gif_body(const uint8_t *data, size_t size)
{
    start_fuzz_allegro();
    std::string path = get_fuzz_work_dir() + "/input.gif";
    if (!write_fuzz_file(path, data, size))
        return "cannot write " + path;
    set_color_depth(8);
    gif_anim *anim = load_gif_anim(path.c_str());
    if (!anim)
        return "";
    std::string problem = check_gif_anim(anim);
    destroy_gif_anim(anim);
    return problem;
}

// Pixels and stream position one decoder leaves for the image in path.
struct lzw_outcome {
    std::vector<uint8_t> pixels;
    long position;
};

// The decoder as the reader keeps it from image to image: here from input
// to input, so nothing of an earlier one may show through.
static gif_decoder *glb_fuzz_lzw_decoder = nullptr;

// The background every target starts with.
static uint8_t make_lzw_background(int x, int y)
{
    return uint8_t(x + 3 * y + 100);
}

// How a run decodes: 0 the reference, 1 a fresh decoder, 2 the kept one, 3
// the kept one into a bitmap whose rows are not contiguous.
static bool run_lzw_decoder(int how, const std::string &path, const uint8_t *settings,
                            lzw_outcome *outcome)
{
    int w = settings[1], h = settings[2], interlace = settings[3] & 1;
    int trans = settings[3] & 2 ? settings[4] : -1;
    FILE *file = std::fopen(path.c_str(), "rb");
    BITMAP *parent = create_checked_bitmap(8, w + 3, h);
    BITMAP *target = how == 3 && w > 0 && h > 0 ? create_sub_bitmap(parent, 2, 0, w, h)
                                                : create_checked_bitmap(8, w, h);
    if (!glb_fuzz_lzw_decoder)
        glb_fuzz_lzw_decoder = make_gif_decoder();
    gif_decoder *fresh = how == 1 ? make_gif_decoder() : nullptr;
    bool ok = file && parent && target && glb_fuzz_lzw_decoder && (how != 1 || fresh) &&
              std::fseek(file, 5, SEEK_SET) == 0;
    if (ok) {
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                target->line[y][x] = make_lzw_background(x, y);
        int code_size = settings[0] % 13;
        if (how == 0) {
            decode_gif_image_reference(file, code_size, target, interlace, trans);
        } else {
            // The pixels after those decoded in a plain image are the
            // caller's: the background goes back there, as the reader does.
            size_t at = decode_gif_image(file, code_size, target, interlace, trans,
                                         how == 1 ? fresh : glb_fuzz_lzw_decoder);
            for (size_t n = size_t(w) * size_t(h); !interlace && trans < 0 && at < n; at++)
                target->line[at / size_t(w)][at % size_t(w)] =
                    make_lzw_background(int(at % size_t(w)), int(at / size_t(w)));
        }
        outcome->position = std::ftell(file);
        for (int y = 0; y < h; y++)
            outcome->pixels.insert(outcome->pixels.end(), target->line[y], target->line[y] + w);
    }
    free_gif_decoder(fresh);
    if (target && target != parent)
        destroy_bitmap(target);
    if (parent)
        destroy_bitmap(parent);
    if (file)
        std::fclose(file);
    return ok;
}

std::string run_lzw_body(const uint8_t *data, size_t size)
{
    if (size < 5)
        return "";
    start_fuzz_allegro();
    std::string path = get_fuzz_work_dir() + "/input.lzw";
    if (!write_fuzz_file(path, data, size))
        return "cannot write " + path;
    const char *how[] = {"", "fresh decoder: ", "kept decoder: ", "rows apart: "};
    lzw_outcome want;
    if (!run_lzw_decoder(0, path, data, &want))
        return "cannot open " + path + " or make the target";
    for (int d = 1; d < 4; d++) {
        lzw_outcome got;
        if (!run_lzw_decoder(d, path, data, &got))
            return "cannot open " + path + " or make the target";
        if (got.position != want.position)
            return how[d] + ("stream left at " + std::to_string(got.position)) + ", not " +
                   std::to_string(want.position);
        for (size_t i = 0; i < want.pixels.size(); i++)
            if (got.pixels[i] != want.pixels[i])
                return how[d] + ("pixel " + std::to_string(i)) + " is " + std::to_string(got.pixels[i]) +
                       ", not " + std::to_string(want.pixels[i]);
    }
    return "";
}

// Little-endian 32-bit value at byte offset of a byte image.
static int32_t read_le32(const uint8_t *bytes)
{
    uint32_t v = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
                 uint32_t(bytes[3]) << 24;
    return int32_t(v);
}

// One table after a load: in range, and equal to the file where it was.
static std::string check_palshift_table(const int32_t *table, int count, int rows,
                                        const uint8_t *image, const char *name)
{
    for (int s = 0; s < count; s++) {
        int32_t want = read_le32(image + 4 * s);
        std::string where = std::string(name) + " slot " + std::to_string(s);
        if (table[s] < 0 || table[s] >= rows)
            return where + " out of range: " + std::to_string(table[s]);
        if (want >= 0 && want < rows && table[s] != want)
            return where + " changed a valid row " + std::to_string(want) + " to " +
                   std::to_string(table[s]);
    }
    return "";
}

std::string run_palshift_body(const uint8_t *data, size_t size)
{
    std::string dir = get_fuzz_work_dir() + "/state";
    std::error_code error;
    fs::remove_all(dir, error);
    if (!fs::create_directory(dir, error))
        return "cannot make " + dir;
    if (!write_fuzz_file(dir + "/last_palshift.bin", data, size))
        return "cannot write the state file";
    uint8_t image[144] = {};
    if (size > 0)
        std::memcpy(image, data, size < sizeof image ? size : sizeof image);

    char old_dir[4096];
    if (!getcwd(old_dir, sizeof old_dir) || chdir(dir.c_str()) != 0)
        return "cannot enter " + dir;
    std::memset(palshift_bg2, 0, sizeof palshift_bg2);
    std::memset(palshift_pst, 0, sizeof palshift_pst);
    load_palshift_file();
    std::string problem =
        check_palshift_table(palshift_bg2, BG2_SLOTS, bg2.gradient_rows, image, "bg2");
    if (problem.empty())
        problem = check_palshift_table(palshift_pst, PST_SLOTS, pst.gradient_rows,
                                       image + 112, "pst");
    // What the save writes is checked by the state file tests; here it only
    // has to run cleanly on whatever the load left.
    save_palshift_file();
    if (chdir(old_dir) != 0)
        return "cannot go back to " + std::string(old_dir);
    return problem;
}

static std::string check_glb_palette(const uint8_t *data, size_t size)
{
    for (int i = 0; i < 768; i++) {
        uint8_t want = size_t(i) < size ? data[i] : 255;
        if (glb_palette[i / 3][i % 3] != want)
            return "glb_palette byte " + std::to_string(i) + " differs from the file";
    }
    return "";
}

// One load_cmaps call: a refusal leaves the table alone, a success leaves
// every cell outside the loaded block black.
static std::string check_cmaps_load(const std::string &path, const data_set &set)
{
    static uint8_t before[sizeof gradient_table];
    std::memset(gradient_table, 0x5A, sizeof gradient_table);
    std::memcpy(before, gradient_table, sizeof before);
    std::string name = set.id == DATA_SET_PST ? "pst" : "bg2";
    if (!load_cmaps(path.c_str(), set.gradient_columns, set.gradient_rows)) {
        if (std::memcmp(before, gradient_table, sizeof before) != 0)
            return name + ": failed load_cmaps changed gradient_table";
        return "";
    }
    for (int r = 0; r < GRADIENT_TABLE_ROWS; r++)
        for (int c = 0; c < GRADIENT_TABLE_COLUMNS; c++) {
            if (r < set.gradient_rows && c < set.gradient_columns)
                continue;
            const uint8_t *cell = gradient_table[r][c];
            if (cell[0] || cell[1] || cell[2])
                return name + ": cell outside the loaded block is not black";
        }
    return "";
}

std::string run_palette_body(const uint8_t *data, size_t size)
{
    start_fuzz_allegro();
    const std::string &dir = get_fuzz_work_dir();
    std::string pal_path = dir + "/input.pal";
    std::string bmp_path = dir + "/input.bmp";
    if (!write_fuzz_file(pal_path, data, size) || !write_fuzz_file(bmp_path, data, size))
        return "cannot write the inputs";
    if (!load_glb_palette(pal_path.c_str()))
        return "load_glb_palette refused a readable file";
    std::string problem = check_glb_palette(data, size);
    if (!problem.empty())
        return problem;
    set_color_depth(32);
    problem = check_cmaps_load(bmp_path, bg2);
    if (problem.empty())
        problem = check_cmaps_load(bmp_path, pst);
    set_color_depth(8);
    return problem;
}

void stop_on_fuzz_problem(const std::string &problem)
{
    if (problem.empty())
        return;
    std::fprintf(stderr, "fuzz check failed: %s\n", problem.c_str());
    std::abort();
}
