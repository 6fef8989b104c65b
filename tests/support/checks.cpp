#include "support/checks.h"

#include "common/checked_bitmap.h"
#include "common/trace.h"
#include "gif/gif_anim.h"
#include "gif/gif_lzw.h"
#include "palette/data_set.h"
#include "palette/global_palette.h"
#include "palette/gradients.h"
#include "palette/tint_slots.h"

#include <allegro.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

std::vector<gif_rgb> test_colours(int bits)
{
    static int seed = 0;
    std::vector<gif_rgb> colours(bits ? size_t(1) << bits : 0);
    for (size_t i = 0, s = size_t(++seed) * 53; i < colours.size(); ++i)
        colours[i] = {uint8_t(i * 7 + s), uint8_t(255 - i), uint8_t(s * 31 + i * 3)};
    return colours;
}

byte_list make_pixels(int w, int h, int colours, int seed)
{
    byte_list pixels(size_t(w) * h);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint8_t((i * 7 / 3 + size_t(seed) + i / size_t(w)) % size_t(colours));
    return pixels;
}

// The program's LZW decoder's contract met the plain way: codes read bit by
// bit, strings walked onto a stack, pixels put one at a time.
static void decode_gif_image_reference(FILE *file, int min_code_size, BITMAP *target, int interlace, int trans)
{
    if (min_code_size < 0 || min_code_size > GIF_LZW_MAX_MIN_CODE_SIZE)
        return skip_gif_sub_blocks(file); // past the data, as the program does
    uint8_t block[256], stack[4096], suffix[4096] = {};
    uint16_t prefix[4096] = {};
    int length = 0, at = 0, bit = 0; // length 0: the chain has ended
    auto read_block = [&] {
        int size = fgetc(file);
        length = size == EOF ? 0 : int(fread(block, 1, size_t(size), file)), at = 0;
    };
    auto read_code = [&](int width, int *code) {
        for (int k = *code = 0; k < width; ++k) {
            if (length == 0)
                return false;
            *code |= (block[at] >> bit & 1) << k;
            if (++bit == 8 && (bit = 0, ++at == length))
                read_block();
        }
        return true;
    };
    std::vector<int> rows = list_gif_row_order(target->h, interlace);
    size_t w = size_t(target->w), pixel = 0;
    auto put_pixel = [&](int index) {
        if (pixel < w * rows.size() && index != trans)
            putpixel(target, int(pixel % w), rows[pixel / w], index);
        ++pixel;
    };
    const int clear = 1 << min_code_size, first_free = clear + 2;
    int width = min_code_size + 1, next_free = first_free, prev = 0, first = 0, fresh = 1, code;
    for (read_block(); read_code(width, &code) && code != clear + 1; width += next_free >= 1 << width && width < 12) {
        if (code == clear) {
            width = min_code_size, next_free = first_free, fresh = 1; // the step below widens it to the first width
        } else if (fresh) { // one index, which the next entry extends
            put_pixel(prev = first = code < first_free ? code : 0), fresh = 0;
        } else { // a corrupt table may link in a loop: the stack bounds the walk
            int depth = 0, current = code;
            if (code >= next_free)
                stack[depth++] = uint8_t(first), current = prev;
            for (; current >= first_free && depth < 4095; current = prefix[current])
                stack[depth++] = suffix[current];
            stack[depth++] = uint8_t(current);
            if (next_free < 1 << width) {
                suffix[next_free] = uint8_t(current), prefix[next_free++] = uint16_t(prev);
                prev = code, first = current & 0xFF;
            }
            while (depth > 0)
                put_pixel(stack[--depth]);
        }
    }
}

byte_list read_frame_pixels(const gif_anim *anim, int frame)
{
    BITMAP *bmp = anim->frames[frame].bmp;
    byte_list pixels;
    for (int y = 0; bmp && y < bmp->h; ++y)
        pixels.insert(pixels.end(), bmp->line[y], bmp->line[y] + bmp->w);
    return pixels;
}

static std::string glb_fuzz_work_dir;     // scratch directory, "" until made
static gif_decoder *glb_fuzz_decoder;     // kept from input to input, as from image to image

static void start_fuzz_allegro() // the graphics library without a display, once
{
    static bool started = install_allegro(SYSTEM_NONE, &errno, atexit) == 0;
    if (!started)
        abort();
}

static const std::string &get_fuzz_work_dir() // made on first use, removed at exit
{
    char name[] = "/tmp/huesmith_fuzz_XXXXXX";
    if (glb_fuzz_work_dir.empty() && mkdtemp(name)) {
        glb_fuzz_work_dir = name;
        atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(glb_fuzz_work_dir, ignored);
        });
    }
    return glb_fuzz_work_dir;
}

static bool write_fuzz_file(const std::string &path, const uint8_t *data, size_t size)
{
    FILE *file = fopen(path.c_str(), "wb");
    bool whole = file && (size == 0 || fwrite(data, 1, size, file) == size);
    return file && fclose(file) == 0 && whole;
}

gif_anim *load_gif_bytes(const byte_list &bytes, bool quiet)
{
    std::string path = get_fuzz_work_dir() + "/input.gif";
    start_fuzz_allegro();
    set_color_depth(8);
    int saved = (fflush(stdout), dup(STDOUT_FILENO)), sink = open("/dev/null", O_WRONLY);
    dup2(quiet ? sink : saved, STDOUT_FILENO);
    gif_anim *anim = write_fuzz_file(path, bytes.data(), bytes.size()) ? load_gif_anim(path.c_str()) : nullptr;
    fflush(stdout), dup2(saved, STDOUT_FILENO), close(saved), close(sink);
    return anim;
}

std::string check_gif_anim(const gif_anim *anim)
{
    if (anim->num_frames < 0 || anim->num_palettes < 1 || !anim->palettes || (anim->num_frames > 0 && !anim->frames))
        return "counts or tables out of order";
    // The last palette byte must be readable: a short block shows up here.
    volatile uint8_t last = anim->palettes[size_t(anim->num_palettes) * GIF_PALETTE_BYTES - 1];
    (void)last;
    byte_list row;
    for (int i = 0; i < anim->num_frames; i++) {
        const gif_frame &f = anim->frames[i];
        if (f.pal < -1 || f.pal >= anim->num_palettes || f.trans < -1 || f.trans > 255 ||
            (f.bmp && (bitmap_color_depth(f.bmp) != 8 || f.bmp->w != f.w || f.bmp->h != f.h)))
            return "frame " + std::to_string(i) + ": slot, index or bitmap out of order";
        // Every pixel read, a row per copy that the address sanitizer checks
        // whole (a loop per pixel spent fuzzing time on coverage hooks); any
        // index names a colour inside the frame's slot.
        for (int y = 0; f.bmp && y < f.h; y++)
            row.assign(f.bmp->line[y], f.bmp->line[y] + f.w);
    }
    return "";
}

std::string run_gif_body(const uint8_t *data, size_t size)
{
    // From memory with the trace off: a file and the trace per input took
    // most of a fuzz run.
    start_fuzz_allegro();
    set_color_depth(8);
    glb_quiet = true;
    gif_anim *anim = load_gif_memory(data, size);
    glb_quiet = false;
    std::string problem = anim ? check_gif_anim(anim) : "";
    return destroy_gif_anim(anim), problem;
}

std::string run_palshift_body(const uint8_t *data, size_t size)
{
    namespace fs = std::filesystem;
    std::string dir = get_fuzz_work_dir() + "/state";
    char old_dir[4096];
    fs::remove_all(dir), fs::create_directory(dir), fs::create_symlink("victim", dir + "/last_palshift.bin.tmp");
    if (!write_fuzz_file(dir + "/victim", data, 0) || !write_fuzz_file(dir + "/last_palshift.bin", data, size) ||
        !getcwd(old_dir, sizeof old_dir) || chdir(dir.c_str()) != 0)
        return "cannot set up " + dir;
    load_palshift_file();
    std::string problem;
    for (int s = 0, row; s < BG2_SLOTS + PST_SLOTS; s++)
        if ((row = s < BG2_SLOTS ? palshift_bg2[s] : palshift_pst[s - BG2_SLOTS]) < 0 ||
            row >= (s < BG2_SLOTS ? bg2 : pst).gradient_rows)
            problem = "slot " + std::to_string(s) + " holds row " + std::to_string(row);
    save_palshift_file();
    if (fs::file_size("victim") != 0 || !fs::is_symlink("last_palshift.bin.tmp") ||
        fs::file_size("last_palshift.bin") != 144)
        problem = "the save went through or removed the stale link beside it, or did not save";
    return chdir(old_dir) == 0 ? problem : "cannot go back to " + std::string(old_dir);
}

std::string run_palette_body(const uint8_t *data, size_t size)
{
    start_fuzz_allegro();
    std::string path = get_fuzz_work_dir() + "/input.bmp", problem;
    // An empty file is no palette; any other is read, short or long.
    if (!write_fuzz_file(path, data, size) || load_glb_palette(path.c_str()) != (size > 0))
        return "load_glb_palette refused a readable file, or took an empty one";
    set_color_depth(32);
    for (const data_set *set : {&bg2, &pst}) {
        memset(gradient_table, 0x5A, sizeof gradient_table);
        bool loaded = load_cmaps(path.c_str(), set->gradient_columns, set->gradient_rows);
        for (int r = 0; r < GRADIENT_TABLE_ROWS; r++)
            for (int c = 0; c < GRADIENT_TABLE_COLUMNS; c++)
                for (uint8_t value : gradient_table[r][c])
                    if (loaded ? (r >= set->gradient_rows || c >= set->gradient_columns) && value : value != 0x5A)
                        problem = loaded ? "a cell outside the loaded block is not black" : "a refused load wrote";
    }
    set_color_depth(8);
    return problem;
}

// The stream position and pixels one run leaves: the reference decoder's,
// or the program's with the decoder kept from earlier inputs, as from image
// to image. A plain image's pixels past those decoded are the caller's: the
// background goes back there, as the reader does.
static byte_list run_lzw_decoder(bool reference, const uint8_t *data, size_t size)
{
    int interlace = data[3] & 1, trans = data[3] & 2 ? data[4] : -1;
    size_t w = data[1], count = w * data[2], n = 0;
    FILE *file = fmemopen(const_cast<uint8_t *>(data), size, "rb");
    BITMAP *target = create_checked_bitmap(8, data[1], data[2]);
    glb_fuzz_decoder = glb_fuzz_decoder ? glb_fuzz_decoder : make_gif_decoder();
    if (!file || !target || !glb_fuzz_decoder || fseek(file, 5, SEEK_SET) != 0)
        abort();
    // Row y of the background, x + 3y + 100, is the ramp from 3y on.
    static const byte_list ramp = [] {
        byte_list r(4 * 256);
        for (size_t k = 0; k < r.size(); k++)
            r[k] = uint8_t(k + 100);
        return r;
    }();
    for (int y = 0; w > 0 && y < target->h; y++)
        memcpy(target->line[y], ramp.data() + 3 * y, w);
    n = reference ? (decode_gif_image_reference(file, data[0] % 13, target, interlace, trans), 0)
                  : decode_gif_image(file, data[0] % 13, target, interlace, trans, glb_fuzz_decoder);
    for (; !reference && !interlace && trans < 0 && n < count; n++)
        target->line[n / w][n % w] = uint8_t(n % w + 3 * (n / w) + 100);
    long position = ftell(file);
    byte_list outcome(reinterpret_cast<uint8_t *>(&position), reinterpret_cast<uint8_t *>(&position + 1));
    for (int y = 0; y < target->h; y++)
        outcome.insert(outcome.end(), target->line[y], target->line[y] + w);
    destroy_bitmap(target);
    fclose(file);
    return outcome;
}

std::string run_lzw_body(const uint8_t *data, size_t size)
{
    start_fuzz_allegro();
    bool same = size < 5 || run_lzw_decoder(false, data, size) == run_lzw_decoder(true, data, size);
    return same ? "" : "the decoder leaves other pixels or another stream position";
}
