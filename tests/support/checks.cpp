#include "support/checks.h"

#include "common/trace.h"
#include "gif/gif_anim.h"
#include "gif/gif_lzw.h"
#include "palette/data_set.h"
#include "palette/global_palette.h"
#include "palette/gradients.h"

#include <algorithm>
#include <allegro.h>
#include <png.h>
#include <cerrno>
#include <csetjmp>
#include <cstring>
#include <fstream>
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

std::vector<gif_rgb> make_full_palette(int seed)
{
    std::vector<gif_rgb> palette(256);
    for (int c = 0; c < 256; c++) {
        palette[size_t(c)][0] = uint8_t(c * 7 + seed);
        palette[size_t(c)][1] = uint8_t(255 - c);
        palette[size_t(c)][2] = uint8_t(c * 3 + 1);
    }
    return palette;
}

namespace {

// An image's sub-block chain, read block by block.
struct block_reader {
    const uint8_t *file;
    size_t size;
    size_t at;   // next size byte
    size_t data; // the block's first byte
    int length;  // bytes in the block (fewer where the file ends); 0 once the chain has ended
    int byte;    // next byte of the block
    int bit;     // next bit of that byte
};

void read_next_block(block_reader *reader)
{
    reader->length = 0;
    reader->byte = 0;
    if (reader->at >= reader->size)
        return;
    reader->data = reader->at + 1;
    reader->length = int(std::min(size_t(reader->file[reader->at]), reader->size - reader->data));
    reader->at = reader->data + size_t(reader->length);
}

// A code of width bits, least significant bit first; false when the chain
// ends before it is complete.
bool read_reference_code(block_reader *reader, int width, int *code)
{
    *code = 0;
    for (int k = 0; k < width; k++) {
        if (reader->length == 0)
            return false;
        int bit = (reader->file[reader->data + size_t(reader->byte)] >> reader->bit) & 1;
        *code |= bit << k;
        reader->bit++;
        if (reader->bit == 8) {
            reader->bit = 0;
            reader->byte++;
            if (reader->byte == reader->length)
                read_next_block(reader);
        }
    }
    return true;
}

// What a decoder leaves: the first indices in stored order and their count,
// where it stopped in the file, and whether it read the end code.
struct decoded_image {
    byte_list indices;
    size_t count;
    size_t stop;
    bool ended;
};

// A textbook LZW decoder for the chain at file[at]: a table of prefix codes
// and suffix indices, zeroed for the image, and each string walked onto a
// stack. Where the data is not well formed it does what the program does:
// a first code that is no single index is index 0, a table that loops is
// walked no deeper than the stack, and codes after a full table add nothing.
// It keeps the first capacity indices.
decoded_image decode_reference(const uint8_t *file, size_t size, size_t at, int min_code_size,
                               size_t capacity)
{
    decoded_image image{};
    block_reader reader{file, size, at, 0, 0, 0, 0};
    std::vector<int> prefix(4096, 0);
    std::vector<uint8_t> suffix(4096, 0);
    std::vector<uint8_t> stack;
    const int clear = 1 << min_code_size;
    const int end = clear + 1;
    const int first_free = clear + 2;
    int width = min_code_size + 1;
    int next_free = first_free;
    int prev = 0;
    int first = 0;
    bool fresh = true;
    int code = 0;
    read_next_block(&reader);
    while (read_reference_code(&reader, width, &code)) {
        if (code == end) {
            image.ended = true;
            break;
        }
        if (code == clear) {
            width = min_code_size + 1;
            next_free = first_free;
            fresh = true;
            continue;
        }
        if (fresh) {
            if (code >= first_free)
                code = 0;
            stack.assign(1, uint8_t(code));
            prev = code;
            first = code;
            fresh = false;
        } else {
            stack.clear();
            int current = code;
            if (code >= next_free) {
                stack.push_back(uint8_t(first));
                current = prev;
            }
            while (current >= first_free && stack.size() < 4095) {
                stack.push_back(suffix[current]);
                current = prefix[current];
            }
            int root = current & 0xFF;
            stack.push_back(uint8_t(root));
            if (next_free < (1 << width)) {
                suffix[next_free] = uint8_t(root);
                prefix[next_free] = prev;
                next_free++;
                prev = code;
                first = root;
            }
            std::reverse(stack.begin(), stack.end());
        }
        for (uint8_t index : stack) {
            if (image.count < capacity) {
                image.indices.push_back(index);
                image.count++;
            }
        }
        if (next_free >= (1 << width) && width < 12)
            width++;
    }
    image.stop = reader.at;
    return image;
}

} // namespace

byte_list read_frame_pixels(const gif_anim *anim, int frame)
{
    BITMAP *bmp = anim->frames[frame].bmp;
    byte_list pixels;
    for (int y = 0; bmp && y < bmp->h; ++y)
        pixels.insert(pixels.end(), bmp->line[y], bmp->line[y] + bmp->w);
    return pixels;
}

static void start_fuzz_allegro() // the graphics library without a display, once
{
    static bool started = install_allegro(SYSTEM_NONE, &errno, atexit) == 0;
    if (!started)
        abort();
}

gif_anim *load_gif_bytes(const byte_list &bytes)
{
    start_fuzz_allegro();
    set_color_depth(8);
    glb_quiet = true;
    gif_anim *anim = load_gif_memory(bytes.data(), bytes.size());
    glb_quiet = false;
    return anim;
}

std::string check_gif_anim(const gif_anim *anim)
{
    bool no_table = anim->num_frames > 0 && !anim->frames;
    if (anim->num_frames < 0 || anim->num_palettes < 1 || !anim->palettes || no_table)
        return "counts or tables out of order";
    // The last palette byte must be readable: a short block shows up here.
    volatile uint8_t last = anim->palettes[size_t(anim->num_palettes) * GIF_PALETTE_BYTES - 1];
    (void)last;
    byte_list row;
    for (int i = 0; i < anim->num_frames; i++) {
        const gif_frame &f = anim->frames[i];
        // The bitmap keeps the part of the image inside the screen.
        int kept_w = std::max(0, std::min(int(f.w), anim->w - f.pos.x));
        int kept_h = std::max(0, std::min(int(f.h), anim->h - f.pos.y));
        if (kept_w == 0 || kept_h == 0) {
            kept_w = 0;
            kept_h = 0;
        }
        bool bad_bitmap = false;
        if (f.bmp)
            bad_bitmap = bitmap_color_depth(f.bmp) != 8 || f.bmp->w != kept_w || f.bmp->h != kept_h;
        bool bad_slot = f.pal < -1 || f.pal >= anim->num_palettes;
        if (bad_slot || f.trans < -1 || f.trans > 255 || f.disposal > 7 || bad_bitmap)
            return "frame " + std::to_string(i) + ": slot, index or bitmap out of order";
        // Every pixel read, a row per copy (a loop per pixel fuzzed slowly).
        for (int y = 0; f.bmp && y < f.bmp->h; y++)
            row.assign(f.bmp->line[y], f.bmp->line[y] + f.bmp->w);
    }
    return "";
}

std::string run_gif_body(const uint8_t *data, size_t size)
{
    gif_anim *anim = load_gif_bytes(byte_list(data, data + size));
    std::string problem = anim ? check_gif_anim(anim) : "";
    destroy_gif_anim(anim);
    return problem;
}

std::string run_palette_body(const uint8_t *data, size_t size)
{
    start_fuzz_allegro();
    std::string path = "/tmp/huesmith_fuzz_" + std::to_string(getpid()) + ".bmp";
    std::ofstream file(path, std::ios::binary);
    bool written = bool(file.write(reinterpret_cast<const char *>(data), std::streamsize(size)));
    file.close();
    // An empty file is no palette; any other is read, short or long.
    bool wrong = !written || load_glb_palette(path.c_str()) != (size > 0);
    set_color_depth(32);
    for (const data_set *set : {&bg2, &pst})
        load_cmaps(path.c_str(), set->gradient_columns, set->gradient_rows);
    set_color_depth(8);
    remove(path.c_str());
    return wrong ? "load_glb_palette refused a readable file, or took an empty one" : "";
}

namespace {

// The program's decoder on the chain at file[5], keeping capacity indices in a buffer
// exactly capacity long when tight, so that the sanitizer sees any store past it.
decoded_image decode_program(const uint8_t *file, size_t size, size_t capacity, bool tight)
{
    static gif_lzw_decoder *decoder = make_gif_lzw_decoder(); // kept, as from image to image
    byte_list buffer(tight ? capacity : capacity + GIF_LZW_COPY_SLACK);
    size_t fast_end = capacity;
    if (tight)
        fast_end = capacity > GIF_LZW_COPY_SLACK ? capacity - GIF_LZW_COPY_SLACK : 0;
    gif_lzw_output out{buffer.data(), capacity, fast_end, nullptr, nullptr, nullptr};
    gif_lzw_result result = decode_gif_lzw(file + 5, size - 5, file[0] % 12, out, decoder);
    byte_list indices(buffer.begin(), buffer.begin() + long(result.count));
    gif_cursor chain{file, size, 5};
    return decoded_image{indices, result.count, find_gif_data_end(&chain, result), result.ended};
}

} // namespace

std::string run_lzw_body(const uint8_t *data, size_t size)
{
    if (size < 5)
        return "";
    size_t capacity = size_t(data[1]) * data[2];
    bool tight = (data[3] & 1) != 0;
    decoded_image want = decode_reference(data, size, 5, data[0] % 12, capacity);
    decoded_image got = decode_program(data, size, capacity, tight);
    if (got.indices != want.indices || got.count != want.count)
        return "the decoder gives other indices, or another count";
    if (got.stop != want.stop || got.ended != want.ended)
        return "the decoder leaves the parse at another place";
    return "";
}
// Header, table and transparency, then the rows of an 8-bit indexed image
// and the file's end.
static bool read_png_into(png_structp png, png_infop info, png_read &out)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    out.w = int(png_get_image_width(png, info));
    out.h = int(png_get_image_height(png, info));
    bool indexed = png_get_color_type(png, info) == PNG_COLOR_TYPE_PALETTE;
    if (png_get_bit_depth(png, info) != 8 || !indexed)
        return false;
    png_colorp entries = nullptr;
    int count = 0;
    png_get_PLTE(png, info, &entries, &count);
    for (int c = 0; c < count; c++)
        out.palette.push_back({entries[c].red, entries[c].green, entries[c].blue});
    png_bytep alpha = nullptr;
    int alpha_count = 0;
    png_get_tRNS(png, info, &alpha, &alpha_count, nullptr);
    out.alpha.assign(alpha, alpha + alpha_count);
    out.pixels.resize(size_t(out.w) * size_t(out.h));
    for (int y = 0; y < out.h; y++)
        png_read_row(png, out.pixels.data() + size_t(y) * size_t(out.w), nullptr);
    // The rest of the stream, the chunks' checksums and IEND.
    png_read_end(png, nullptr);
    return true;
}

png_read read_png_bytes(const byte_list &bytes)
{
    png_read out{};
    FILE *file = fmemopen(const_cast<uint8_t *>(bytes.data()), bytes.size(), "rb");
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    out.ok = read_png_into(png, info, out);
    png_destroy_read_struct(&png, &info, nullptr);
    fclose(file);
    return out;
}

static int read_gif_memory(GifFileType *file, GifByteType *to, int length)
{
    return int(fread(to, 1, size_t(length), static_cast<FILE *>(file->UserData)));
}

GifFileType *slurp_gif_bytes(const byte_list &bytes)
{
    FILE *in = fmemopen(const_cast<uint8_t *>(bytes.data()), bytes.size(), "rb");
    GifFileType *file = DGifOpen(in, read_gif_memory, nullptr);
    bool read = file && DGifSlurp(file) == GIF_OK;
    fclose(in);
    if (read)
        return file;
    DGifCloseFile(file, nullptr);
    return nullptr;
}

std::vector<int> list_gif_delays(GifFileType *file)
{
    std::vector<int> delays;
    for (int i = 0; i < file->ImageCount; i++) {
        GraphicsControlBlock control = {DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR};
        DGifSavedExtensionToGCB(file, i, &control);
        delays.push_back(control.DelayTime);
    }
    return delays;
}
