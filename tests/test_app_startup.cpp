// Start-up as a process: the exact lines it prints and the status it ends
// with, for the command line, the directory change and the early failures.
#include <allegro.h>
#include <cerrno>
#include <gtest/gtest.h>
#include <regex>

#include "app/app.h"
#include "support/app_process.h"
#include "support/gif_writer.h"

namespace {

const std::string bin_dir = HUESMITH_BIN_DIR;

std::string library_lines()
{
    return std::string("ALLEGRO_PLATFORM_STR = ") + ALLEGRO_PLATFORM_STR + "\n" +
           "allegro_id           = " + allegro_id + "\n\n";
}

// The library's words for a graphics mode that cannot be had here.
std::string no_display_error()
{
    static std::string text;
    if (text.empty()) {
        install_allegro(SYSTEM_NONE, &errno, atexit);
        set_color_depth(32);
        EXPECT_NE(set_gfx_mode(GFX_AUTODETECT_WINDOWED, 800, 600, 0, 0), 0);
        text = allegro_error;
    }
    return "error : " + text + "\n";
}

void write_gif(const std::string &path, byte_list gif)
{
    gif.push_back(0x3B);
    ASSERT_TRUE(write_file(path, std::string(gif.begin(), gif.end())));
}

// A temp dir with a copy of the program, the named build files, and GIFs:
// "two.gif" (a 4 x 3 image, then a 2 x 2 one at (1, 1)), "empty.gif" (no
// image) and "huge.gif" (no image, a 65535 x 65535 screen).
std::string make_program_dir(const std::vector<std::string> &files)
{
    std::string dir = make_temp_dir();
    EXPECT_TRUE(copy_file(bin_dir + "/huesmith", dir + "/huesmith"));
    for (const std::string &file : files)
        EXPECT_TRUE(copy_file(bin_dir + "/" + file, dir + "/" + file)) << file;
    byte_list two = make_gif_screen(4, 3, 2, 0);
    append_gif_image(two, 0, 0, 4, 3, 0, 2, {0, 1, 2, 3, 3, 2, 1, 0, 1, 1, 2, 2});
    append_gif_image(two, 1, 1, 2, 2, 0, 2, {3, 3, 3, 3});
    write_gif(dir + "/two.gif", two);
    write_gif(dir + "/empty.gif", make_gif_screen(8, 8, 1, 0));
    write_gif(dir + "/huge.gif", make_gif_screen(65535, 65535, 1, 0));
    return dir;
}

TEST(StartupProcess, CommandLineOptionsAndEarlyFailures)
{
    std::string dir = make_program_dir({"sample_bg2.gif", "pal_pst.bin"});
    const std::string head = library_lines() + "chdir(" + dir + ")\n";
    const std::string pst_then_no_display = "loading global palette <pal_pst.bin>\n" + no_display_error();
    struct run_case {
        std::vector<std::string> args;
        int status;
        std::string output;  // whole output, or its end when tail_only
        bool tail_only;
    } cases[] = {
        {{}, 0, library_lines() + "syntaxe : huesmith.exe <file.gif>\n", false},
        // Options match whole arguments in any case, anywhere.
        {{"sample_bg2.gif", "-PST", "-pcx"}, 1, pst_then_no_display, true},
        {{"sample_bg2.gif", "-Pcx", "-pSt"}, 1, pst_then_no_display, true},
        {{"sample_bg2.gif", "-pstx"}, 1, "<pal_bg2.bin>\ncan't open <pal_bg2.bin>\n", true},
        // The GIF path is the first argument, even when it is an option.
        {{"-pst", "sample_bg2.gif"}, 1, head + "can't load -pst\n", false},
        {{"empty.gif"}, 1,
         head + "num_frames   = 0\nnum_palettes = 1\ntotal size   = 24 + 0 + 768 = 792\nno frame in empty.gif\n",
         false},
        {{"huge.gif"}, 1, "can't load huge.gif\n", true},
    };
    for (const run_case &c : cases) {
        process_result run = run_process(dir + "/huesmith", dir + "/huesmith", c.args, dir);
        std::string label = c.args.empty() ? "no argument" : c.args[0] + " " + std::to_string(c.args.size());
        EXPECT_EQ(run.status, c.status) << label;
        std::string seen = run.output;
        if (c.tail_only && seen.size() > c.output.size())
            seen = seen.substr(seen.size() - c.output.size());
        EXPECT_EQ(seen, c.output) << label;
    }
}

TEST(StartupProcess, WorkingDirectoryIsTheProgramsOwn)
{
    std::string program_dir = make_program_dir({});
    std::string start_dir = make_temp_dir();
    write_gif(start_dir + "/here.gif", make_gif_screen(8, 8, 1, 0));
    const std::string program = program_dir + "/huesmith";

    // A relative GIF path is looked up beside the program, not where it started.
    process_result run = run_process(program, program, {"here.gif"}, start_dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, library_lines() + "chdir(" + program_dir + ")\ncan't load here.gif\n");

    // Without a '/' past position 0 the directory is left as it was.
    for (const std::string argv0 : {"huesmith", "/huesmith"}) {
        run = run_process(program, argv0, {"here.gif"}, start_dir);
        EXPECT_EQ(run.output.substr(0, library_lines().size() + 8), library_lines() + "chdir()\n")
            << argv0;
        EXPECT_NE(run.output.find("no frame in here.gif\n"), std::string::npos) << argv0;
    }
}

TEST(StartupProcess, ReaderTraceAndFrameTableThenNoDisplay)
{
    std::string dir = make_program_dir({"pal_bg2.bin"});
    process_result run = run_process(dir + "/huesmith", dir + "/huesmith", {"two.gif"}, dir);
    EXPECT_EQ(run.status, 1);

    const std::string image_lines = "0x2C Image Descriptor\n"
                                    "   gif_id.local_palette_flag  = 0\n"
                                    "   gif_id.interlace           = 0\n"
                                    "   gif_id.sort_flag           = 0\n"
                                    "   gif_id.palette_size        = 2\n"
                                    "   sz                         = 2\n"
                                    "   g->have_global_palette    = 1\n"
                                    "   gif_id.local_palette_flag = 0\n";
    auto frame_lines = [](int i, const char *pos, const char *size) {
        return "\nframe   " + std::to_string(i) + "\n   .pos   = " + pos + "\n   .w, h  = " + size +
               "\n   .pal   = 0\n   .trans = -1\n   .delay = 0\n   .bmp   = 0xADDRESS\n";
    };
    std::string expected = library_lines() + "chdir(" + dir + ")\n" +
                           "num_frames   = 2\nnum_palettes = 1\ntotal size   = 24 + 48 + 768 = 840\n" +
                           image_lines + "sub_bmp = (0, 0), w =4, h =3\n" + image_lines +
                           "sub_bmp = (1, 1), w =2, h =2\n" + frame_lines(0, "  0,   0", "  4,   3") +
                           frame_lines(1, "  1,   1", "  2,   2") +
                           "loading global palette <pal_bg2.bin>\n" + no_display_error();
    // Addresses: exactly one 0x, then 16 upper-case hex digits.
    EXPECT_EQ(std::regex_replace(run.output, std::regex("0x[0-9A-F]{16}\n"), "0xADDRESS\n"), expected);
}

TEST(FirstZoom, LargestMultipleOfTenStrictlyInsideThePreview)
{
    struct zoom_case {
        int w, h, zoom;
    } cases[] = {
        {1, 1, 990},     {64, 64, 460},  {100, 100, 290}, {300, 450, 90},  {299, 449, 100},
        {640, 480, 40},  {2999, 10, 10}, {3000, 10, 100}, {10, 4500, 100}, {65535, 65535, 100},
    };
    for (const zoom_case &c : cases)
        EXPECT_EQ(choose_first_zoom(c.w, c.h), c.zoom) << c.w << " x " << c.h;
}

} // namespace
