// Start-up in its fixed order, the main loop and the orderly quit.
#include <allegro.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <unistd.h>

#include "app/app.h"
#include "common/checked_bitmap.h"
#include "display/screen.h"
#include "gif/gif_anim.h"
#include "palette/data_set.h"
#include "palette/global_palette.h"
#include "palette/gradients.h"
#include "palette/tint_slots.h"

int pcx_flag;

int32_t choose_first_zoom(int w, int h)
{
    int32_t zoom = 100;
    for (int z = 10; z < 1000; z += 10) {
        // 64-bit products: a 65535-pixel side times 990 must not wrap.
        long long scaled_w = static_cast<long long>(w) * z / 100;
        long long scaled_h = static_cast<long long>(h) * z / 100;
        if (scaled_w < PREVIEW_W && scaled_h < PREVIEW_H)
            zoom = z;
    }
    return zoom;
}

// The library's automatic system selection fails outright when no X display
// can be opened, leaving no system driver behind; every later library call
// would then crash. The driver-less system keeps memory bitmaps working, so
// the run reaches the graphics mode and reports that failure in its own words.
static void init_library()
{
    if (allegro_init() != 0)
        install_allegro(SYSTEM_NONE, &errno, atexit);
}

// Makes the directory part of the program path (cut at its last '/', never
// at position 0) the working directory. An empty part leaves it unchanged.
static void change_to_program_dir(const char *program_path)
{
    size_t length = std::strlen(program_path);
    char *dir = static_cast<char *>(std::malloc(length + 1));
    if (!dir) {
        std::printf("can't allocate %i bytes for tmp\n", static_cast<int>(length));
        std::exit(1);
    }
    std::memcpy(dir, program_path, length + 1);
    size_t cut = 0;
    for (size_t i = length > 0 ? length - 1 : 0; i >= 1; --i) {
        if (dir[i] == '/') {
            cut = i;
            break;
        }
    }
    dir[cut] = '\0';
    std::printf("chdir(%s)\n", dir);
    if (chdir(dir) != 0) {
        // An empty or vanished directory leaves the working directory as it is.
    }
    std::free(dir);
}

static bool has_option(int argc, char **argv, const char *option)
{
    bool found = false;
    for (int i = 1; i < argc; ++i)
        if (strcasecmp(argv[i], option) == 0)
            found = true;
    return found;
}

// Ends start-up after a bitmap creation failed: the animation first, then the
// bitmaps made so far, a sub-bitmap before its parent.
[[noreturn]] static void fail_bitmap(gif_anim *anim, const char *name)
{
    destroy_gif_anim(anim);
    if (glb_sub_preview)
        destroy_bitmap(glb_sub_preview);
    if (glb_buffer)
        destroy_bitmap(glb_buffer);
    if (glb_cmap)
        destroy_bitmap(glb_cmap);
    if (glb_sprite)
        destroy_bitmap(glb_sprite);
    glb_sub_preview = glb_buffer = glb_cmap = glb_sprite = nullptr;
    std::printf("can't allocate %s\n", name);
    std::exit(1);
}

static bool open_window()
{
    set_color_depth(32);
    if (set_gfx_mode(GFX_AUTODETECT_WINDOWED, BUFFER_W, BUFFER_H, 0, 0) == 0)
        return true;
    set_color_depth(24);
    return set_gfx_mode(GFX_AUTODETECT_WINDOWED, BUFFER_W, BUFFER_H, 0, 0) == 0;
}

static void create_surfaces(gif_anim *anim, const data_set &set)
{
    glb_buffer = create_checked_bitmap(0, BUFFER_W, BUFFER_H);
    if (!glb_buffer)
        fail_bitmap(anim, "glb_buffer");
    glb_sub_preview = create_sub_bitmap(glb_buffer, 0, 0, PREVIEW_W, PREVIEW_H);
    if (!glb_sub_preview)
        fail_bitmap(anim, "glb_sub_preview");
    glb_cmap = create_checked_bitmap(0, CMAP_W, CMAP_H);
    if (!glb_cmap)
        fail_bitmap(anim, "glb_cmap");
    draw_cmaps(set.gradient_columns, set.gradient_rows, set.swatch_step);
    glb_sprite = create_checked_bitmap(0, anim->w, anim->h);
    if (!glb_sprite)
        fail_bitmap(anim, "glb_sprite");
    glb_sprite_8bpp = create_checked_bitmap(8, anim->w, anim->h);
    if (!glb_sprite_8bpp)
        fail_bitmap(anim, "glb_sprite_8bpp");
}

static void quit_in_order(gif_anim *anim)
{
    destroy_bitmap(glb_sub_preview);
    destroy_gif_anim(anim);
    destroy_bitmap(glb_buffer);
    destroy_bitmap(glb_cmap);
    destroy_bitmap(glb_sprite);
    destroy_bitmap(glb_sprite_8bpp);
    glb_sub_preview = glb_buffer = glb_cmap = glb_sprite = glb_sprite_8bpp = nullptr;
}

int run_huesmith(int argc, char **argv)
{
    init_library();
    std::printf("ALLEGRO_PLATFORM_STR = %s\n", ALLEGRO_PLATFORM_STR);
    std::printf("allegro_id           = %s\n\n", allegro_id);

    if (argc < 2) {
        std::printf("syntaxe : huesmith.exe <file.gif>\n");
        std::exit(0);
    }
    change_to_program_dir(argv[0]);

    pcx_flag = has_option(argc, argv, "-pcx") ? 1 : 0;
    const data_set &set = has_option(argc, argv, "-pst") ? pst : bg2;

    load_palshift_file();

    set_color_depth(8);
    const char *gif_path = argv[1];
    gif_anim *anim = load_gif_anim(gif_path);
    if (!anim) {
        std::printf("can't load %s\n", gif_path);
        std::exit(1);
    }
    // The loop shows frame 0 at once: an animation without frames has
    // nothing to show or export.
    if (anim->num_frames < 1) {
        destroy_gif_anim(anim);
        std::printf("no frame in %s\n", gif_path);
        std::exit(1);
    }

    std::printf("loading global palette <%s>\n", set.palette_file);
    std::fflush(stdout);
    if (!load_glb_palette(set.palette_file)) {
        destroy_gif_anim(anim);
        std::printf("can't open <%s>\n", set.palette_file);
        std::exit(1);
    }

    if (!open_window()) {
        destroy_gif_anim(anim);
        std::printf("error : %s\n", allegro_error);
        std::exit(1);
    }

    std::printf("loading colormaps gradients <%s>\n", set.gradient_file);
    std::fflush(stdout);
    if (!load_cmaps(set.gradient_file, set.gradient_columns, set.gradient_rows)) {
        destroy_gif_anim(anim);
        std::printf("can't read <%s>\n", set.gradient_file);
        std::exit(1);
    }

    std::printf("remaping pixels\n");
    std::fflush(stdout);
    remap_pixels(anim);

    create_surfaces(anim, set);
    glb_frame = 0;
    glb_zoom = choose_first_zoom(anim->w, anim->h);

    install_keyboard();
    install_timer();

    while (!key[KEY_ESC]) {
        compose_screen(anim, set);
        vsync();
        blit(glb_buffer, screen, 0, 0, 0, 0, BUFFER_W, BUFFER_H);
        handle_keys(anim, set);
    }
    quit_in_order(anim);
    return 0;
}
