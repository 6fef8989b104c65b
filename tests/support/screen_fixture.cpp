#include "support/screen_fixture.h"

#include <allegro.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "display/screen.h"
#include "gif/checked_bitmap.h"
#include "gif/gif_anim.h"
#include "palette/tint_slots.h"

static std::string scratch_dir;
static std::string previous_dir;

void start_screen_allegro()
{
    static bool started = false;
    if (!started) {
        install_allegro(SYSTEM_NONE, &errno, atexit);
        started = true;
    }
    set_color_depth(32);
    set_color_conversion(COLORCONV_NONE);
}

gif_anim *make_screen_anim(int w, int h, int num_frames)
{
    gif_anim *anim = static_cast<gif_anim *>(calloc(1, sizeof(gif_anim)));
    anim->w = w;
    anim->h = h;
    anim->num_frames = num_frames;
    anim->num_palettes = 1;
    if (num_frames > 0)
        anim->frames = static_cast<gif_frame *>(calloc(num_frames, sizeof(gif_frame)));
    anim->palettes = static_cast<uint8_t *>(calloc(1, GIF_PALETTE_BYTES));
    return anim;
}

BITMAP *add_screen_frame(gif_anim *anim, int i, int x, int y, int fw, int fh, int fill)
{
    gif_frame &frame = anim->frames[i];
    frame.pos.x = static_cast<uint16_t>(x);
    frame.pos.y = static_cast<uint16_t>(y);
    frame.w = static_cast<uint16_t>(fw);
    frame.h = static_cast<uint16_t>(fh);
    frame.trans = -1;
    frame.bmp = create_checked_bitmap(8, fw, fh);
    clear_to_color(frame.bmp, fill);
    return frame.bmp;
}

void free_screen_anim(gif_anim *anim)
{
    for (int i = 0; i < anim->num_frames; i++)
        if (anim->frames[i].bmp)
            destroy_bitmap(anim->frames[i].bmp);
    free(anim->frames);
    free(anim->palettes);
    free(anim);
}

void create_screen_bitmaps(int w, int h)
{
    glb_buffer = create_checked_bitmap(32, BUFFER_W, BUFFER_H);
    glb_sub_preview = create_sub_bitmap(glb_buffer, 0, 0, PREVIEW_W, PREVIEW_H);
    glb_cmap = create_checked_bitmap(32, CMAP_W, CMAP_H);
    clear_to_color(glb_cmap, 0);
    glb_sprite = create_checked_bitmap(32, w, h);
    glb_sprite_8bpp = create_checked_bitmap(8, w, h);
}

void destroy_screen_bitmaps()
{
    BITMAP **all[] = {&glb_sub_preview, &glb_buffer, &glb_cmap, &glb_sprite, &glb_sprite_8bpp};
    for (BITMAP **bmp : all) {
        if (*bmp)
            destroy_bitmap(*bmp);
        *bmp = nullptr;
    }
}

void release_screen_keys()
{
    for (int k = 0; k < KEY_MAX; k++)
        key[k] = 0;
}

void enter_screen_scratch_dir()
{
    previous_dir = std::filesystem::current_path().string();
    std::string pattern = (std::filesystem::temp_directory_path() / "huesmith_XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) && chdir(buf.data()) == 0)
        scratch_dir = buf.data();
}

void leave_screen_scratch_dir()
{
    if (scratch_dir.empty())
        return;
    if (chdir(previous_dir.c_str()) == 0) {
        std::error_code ignored;
        std::filesystem::permissions(scratch_dir, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(scratch_dir, ignored);
    }
    scratch_dir.clear();
}

std::vector<uint8_t> read_screen_file(const std::string &name)
{
    std::ifstream in(name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool write_screen_file(const std::string &name, const std::vector<uint8_t> &bytes)
{
    std::ofstream out(name, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), bytes.size());
    return static_cast<bool>(out);
}

void fill_screen_palettes(int seed)
{
    for (int k = 0; k < 256; k++) {
        for (int c = 0; c < 3; c++) {
            // Odd multipliers give distinct bytes with both low bits in use.
            uint8_t v = static_cast<uint8_t>(k * (3 + 2 * c) + seed * 7 + c * 85 + 1);
            working_palette[k][c] = v;
        }
        display_palette[k].r = working_palette[k][0] >> 2;
        display_palette[k].g = working_palette[k][1] >> 2;
        display_palette[k].b = working_palette[k][2] >> 2;
        display_palette[k].filler = 0;
    }
}
