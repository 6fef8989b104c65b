// Start-up in its fixed order, the main loop and the orderly quit.
#include <allegro.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "app/app.h"
#include "common/checked_bitmap.h"
#include "common/end_signals.h"
#include "common/trace.h"
#include "display/panel.h"
#include "display/screen.h"
#include "export/export.h"
#include "gif/gif_anim.h"
#include "palette/data_set.h"
#include "palette/global_palette.h"
#include "palette/gradients.h"
#include "palette/tint_slots.h"
#include "palette/used_slots.h"

// Tries of the library's start and of the graphics mode, and the rest between.
constexpr int INIT_TRIES = 5;
constexpr useconds_t INIT_REST_US = 100 * 1000;

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
// A batch export asks for the driver-less system alone: it needs no display.
// A display that is set but refuses the connection for a moment (EAGAIN
// while the server's queue of new clients is full, a few starts in a
// hundred under a busy virtual server) is tried again after short rests.
static void init_library(bool batch)
{
    const char *display = getenv("DISPLAY");
    int tries = batch ? 0 : display && *display ? INIT_TRIES : 1;
    bool started = false;
    for (int t = 0; t < tries && !started; t++) {
        if (t > 0)
            usleep(INIT_REST_US);
        started = allegro_init() == 0;
    }
    if (!started)
        install_allegro(SYSTEM_NONE, &errno, atexit);
    watch_display_connection();
    // Past a file-size limit a write fails (and the file is not saved)
    // instead of the signal ending the run.
    signal(SIGXFSZ, SIG_IGN);
}

// Makes the program's own directory the working directory; an empty one
// leaves it unchanged.
static void change_to_program_dir(const std::string &dir)
{
    if (!glb_quiet)
        std::printf("chdir(%s)\n", dir.c_str());
    if (chdir(dir.c_str()) != 0) {
        // An empty or vanished directory leaves the working directory as it is.
    }
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

// A mode the X driver cannot set at once gets a few more tries with short
// rests before the failure is reported; without any display there is
// nothing to wait for.
static bool open_window()
{
    const int tries = system_driver && system_driver->id == SYSTEM_NONE ? 1 : INIT_TRIES;
    for (int t = 0; t < tries; t++) {
        if (t > 0)
            usleep(INIT_REST_US);
        set_color_depth(32);
        if (set_gfx_mode(GFX_AUTODETECT_WINDOWED, BUFFER_W, BUFFER_H, 0, 0) == 0)
            return true;
        set_color_depth(24);
        if (set_gfx_mode(GFX_AUTODETECT_WINDOWED, BUFFER_W, BUFFER_H, 0, 0) == 0)
            return true;
    }
    return false;
}

// The two logical-size canvases are drawn on only where the preview or the
// export cannot work from the frame's rows, so their pages are left to be
// mapped when first drawn, not all at once: a large screen would otherwise
// take gigabytes that no picture needs.
static BITMAP *create_untouched_bitmap(int depth, int w, int h)
{
    return bitmap_size_fits(depth, w, h) ? create_bitmap_ex(depth, w, h) : nullptr;
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
    draw_gradient_strip(set);
    glb_sprite = create_untouched_bitmap(get_color_depth(), anim->w, anim->h);
    if (!glb_sprite)
        fail_bitmap(anim, "glb_sprite");
    glb_sprite_8bpp = create_untouched_bitmap(8, anim->w, anim->h);
    if (!glb_sprite_8bpp)
        fail_bitmap(anim, "glb_sprite_8bpp");
}

static void quit_in_order(gif_anim *anim)
{
    destroy_bitmap(glb_sub_preview);
    destroy_whole_frames();
    destroy_gif_anim(anim);
    destroy_bitmap(glb_buffer);
    destroy_bitmap(glb_cmap);
    destroy_bitmap(glb_sprite);
    destroy_bitmap(glb_sprite_8bpp);
    glb_sub_preview = glb_buffer = glb_cmap = glb_sprite = glb_sprite_8bpp = nullptr;
}

// A relative GIF path names a file in the start directory when there is
// one there, else one beside the program.
static std::string find_gif_file(const std::string &start_dir, const char *gif_path)
{
    std::string from_start = join_path(start_dir, gif_path);
    struct stat info;
    if (gif_path[0] != '/' && !start_dir.empty() && stat(from_start.c_str(), &info) == 0)
        return from_start;
    return gif_path;
}

// The animation's base name: its file name without the directory and the
// last extension ("walk" for "sprites/walk.gif").
static std::string name_animation(const char *gif_path)
{
    std::string name = gif_path;
    size_t slash = name.rfind('/');
    if (slash != std::string::npos)
        name = name.substr(slash + 1);
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        name.resize(dot);
    return name;
}

// -export: every frame written as the window's S would write it, with the
// palettes composed from the choices; the state file is left alone. The
// status is 0 only when every frame was written.
static int export_without_window(gif_anim *anim, const data_set &set, int32_t zoom,
                                 const std::vector<variant> &variants)
{
    glb_sprite_8bpp = create_checked_bitmap(8, anim->w, anim->h);
    if (!glb_sprite_8bpp)
        fail_bitmap(anim, "glb_sprite_8bpp");
    build_tint_palettes(set);
    int scale = zoom ? zoom : 100;
    gif_anim *shown = choose_shown_anim(anim);
    bool whole;
    if (variants.empty())
        whole = save_all_frames(shown, scale, glb_export_options) == anim->num_frames;
    else
        whole = export_variants(shown, set, scale, variants) == 0;
    destroy_whole_frames();
    destroy_gif_anim(anim);
    destroy_bitmap(glb_sprite_8bpp);
    glb_sprite_8bpp = nullptr;
    return whole ? 0 : 1;
}

int run_huesmith(int argc, char **argv)
{
    // The library's threads are started with the end signals held, so that
    // the main thread alone takes them.
    hold_end_signals();
    command_line cmd;
    std::string error;
    bool parsed = parse_command_line(argc, argv, cmd, error);
    if (cmd.help) {
        print_help();
        std::exit(0);
    }
    if (cmd.version) {
        std::printf("huesmith %s\n", HUESMITH_VERSION);
        std::exit(0);
    }
    glb_quiet = cmd.quiet;
    init_library(cmd.batch);
    if (!glb_quiet) {
        std::printf("ALLEGRO_PLATFORM_STR = %s\n", ALLEGRO_PLATFORM_STR);
        std::printf("allegro_id           = %s\n\n", allegro_id);
    }

    if (argc < 2) {
        std::printf("syntaxe : huesmith.exe <file.gif>\n");
        std::exit(0);
    }
    if (!parsed) {
        std::printf("%s\n", error.c_str());
        std::exit(1);
    }
    std::string start_dir = find_working_dir();
    // Paths taken from a start directory that is gone cannot be found.
    const std::pair<const char *, const std::string *> from_start[] = {
        {"-out", &cmd.out_dir}, {"-state", &cmd.state_file}, {"-variants", &cmd.variants_file}};
    for (const auto &option : from_start)
        if (start_dir.empty() && !option.second->empty() && (*option.second)[0] != '/') {
            std::printf("bad option %s=%s : can't find the directory it is taken from\n",
                        option.first, option.second->c_str());
            std::exit(1);
        }
    const data_set &set = cmd.pst ? pst : bg2;
    // Every variant is checked before anything is written.
    std::vector<variant> variants;
    if (!cmd.variants_file.empty() &&
        !read_variants_file(join_path(start_dir, cmd.variants_file), set, variants, error)) {
        std::printf("%s\n", error.c_str());
        std::exit(1);
    }
    // Until the window opens, a signal ends the run at once: nothing is
    // written before then.
    catch_end_signals(true);
    std::string program_dir = find_program_dir(argv[0]);
    change_to_program_dir(program_dir);

    glb_export_options.format = cmd.format;
    const char *save_extension = name_export_extension(glb_export_options.format);
    bool state_moved = choose_write_places(cmd, start_dir, program_dir);
    const char *gif_path = cmd.gif_path;
    std::string gif_file = find_gif_file(start_dir, gif_path);
    glb_export_options.name = name_animation(gif_path);
    glb_export_options.input = gif_file;
    std::string refusal;
    if (find_input_clash(glb_export_options, refusal)) {
        std::printf("%s\n", refusal.c_str());
        std::exit(1);
    }

    load_choices(state_moved);
    for (const auto &tint : cmd.tints)
        active_palshift(set)[tint.first] = tint.second;

    set_color_depth(8);
    gif_anim *anim = load_gif_anim(gif_file.c_str());
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

    if (!glb_quiet) {
        std::printf("loading global palette <%s>\n", set.palette_file);
        std::fflush(stdout);
    }
    if (!load_glb_palette(set.palette_file)) {
        destroy_gif_anim(anim);
        std::printf("can't open <%s>\n", set.palette_file);
        std::exit(1);
    }

    // The window's threads start with the signals held, as the library's first ones did.
    if (!cmd.batch)
        hold_end_signals();
    // Without a window the gradients are read at 32 bits, which keeps
    // their colours whole as the window's 32 or 24 bits do.
    if (cmd.batch)
        set_color_depth(32);
    else if (!open_window()) {
        destroy_gif_anim(anim);
        std::printf("error : %s\n", allegro_error);
        std::exit(1);
    }

    if (!glb_quiet) {
        std::printf("loading colormaps gradients <%s>\n", set.gradient_file);
        std::fflush(stdout);
    }
    if (!load_cmaps(set.gradient_file, set.gradient_columns, set.gradient_rows)) {
        destroy_gif_anim(anim);
        std::printf("can't read <%s>\n", set.gradient_file);
        std::exit(1);
    }

    if (!glb_quiet) {
        std::printf("remaping pixels\n");
        std::fflush(stdout);
    }
    remap_pixels(anim, set.palette_file);
    if (!glb_quiet)
        print_write_places(cmd.batch, program_dir);
    // Whole screens are made from the remapped frames, whose index 0 is
    // the cleared one.
    if (cmd.coalesce && !set_coalesce(anim, true)) {
        destroy_gif_anim(anim);
        std::printf("can't make whole frames of %s\n", gif_path);
        std::exit(1);
    }
    hint_coalesce(anim);
    if (cmd.batch)
        return export_without_window(anim, set, cmd.zoom, variants);

    create_surfaces(anim, set);
    glb_frame = 0;
    glb_zoom = cmd.zoom ? cmd.zoom : choose_first_zoom(anim->w, anim->h);

    glb_view.used_slots = find_used_slots(*anim, set);

    install_keyboard();
    install_timer();
    start_clock();
    // Without a mouse the keys still do everything; the system's own
    // pointer needs no redrawing around the blits.
    if (install_mouse() >= 0)
        show_os_cursor(MOUSE_CURSOR_ARROW);
    // The loop ends on a signal as on Esc, and the run then ends by it.
    catch_end_signals(false);
    log_input_events();

    while (!take_quit_press() && !read_end_signal()) {
        gif_anim *shown = choose_shown_anim(anim);
        compose_screen(shown, set, save_extension);
        show_screen();
        handle_keys(shown, set);
    }
    quit_in_order(anim);
    if (read_end_signal()) {
        allegro_exit();
        end_by_signal(read_end_signal());
    }
    return 0;
}
