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

// A temp dir holding a copy of the program and the named files of the build.
std::string make_program_dir(const std::vector<std::string> &files)
{
    std::string dir = make_temp_dir();
    EXPECT_TRUE(copy_file(bin_dir + "/huesmith", dir + "/huesmith"));
    for (const std::string &file : files)
        EXPECT_TRUE(copy_file(bin_dir + "/" + file, dir + "/" + file)) << file;
    return dir;
}

void write_gif(const std::string &path, const byte_list &gif)
{
    ASSERT_TRUE(write_file(path, std::string(gif.begin(), gif.end())));
}

// Four colours, two frames: a full 4 x 3 image and a 2 x 2 one at (1, 1).
void write_two_frame_gif(const std::string &path)
{
    byte_list gif = make_gif_screen(4, 3, 2, 0);
    append_gif_image(gif, 0, 0, 4, 3, 0, 2, {0, 1, 2, 3, 3, 2, 1, 0, 1, 1, 2, 2});
    append_gif_image(gif, 1, 1, 2, 2, 0, 2, {3, 3, 3, 3});
    gif.push_back(0x3B);
    write_gif(path, gif);
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
    return text;
}

std::string mask_addresses(const std::string &text)
{
    return std::regex_replace(text, std::regex("0x[0-9A-F]{16}\n"), "0xADDRESS\n");
}

TEST(StartupProcess, NoArgumentPrintsUsageAndSucceeds)
{
    std::string dir = make_program_dir({});
    process_result run = run_process(dir + "/huesmith", dir + "/huesmith", {}, dir);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, library_lines() + "syntaxe : huesmith.exe <file.gif>\n");
}

TEST(StartupProcess, GifPathIsTakenRelativeToTheProgramDirectory)
{
    std::string program_dir = make_program_dir({});
    std::string start_dir = make_temp_dir();
    write_two_frame_gif(start_dir + "/only_here.gif");

    process_result run = run_process(program_dir + "/huesmith", program_dir + "/huesmith",
                                     {"only_here.gif"}, start_dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output,
              library_lines() + "chdir(" + program_dir + ")\ncan't load only_here.gif\n");
}

TEST(StartupProcess, ProgramPathWithoutUsableSlashLeavesTheDirectory)
{
    std::string program_dir = make_program_dir({});
    std::string start_dir = make_temp_dir();
    write_two_frame_gif(start_dir + "/here.gif");
    for (const std::string argv0 : {"huesmith", "/huesmith"}) {
        process_result run = run_process(program_dir + "/huesmith", argv0, {"missing.gif"}, start_dir);
        EXPECT_EQ(run.status, 1) << argv0;
        EXPECT_EQ(run.output, library_lines() + "chdir()\ncan't load missing.gif\n") << argv0;

        // The unchanged directory is the start directory: its GIF is found.
        run = run_process(program_dir + "/huesmith", argv0, {"here.gif"}, start_dir);
        EXPECT_NE(run.output.find("num_frames   = 2\n"), std::string::npos) << argv0;
    }
}

TEST(StartupProcess, OptionsMatchWholeArgumentsIgnoringCase)
{
    std::string dir = make_program_dir({"sample_bg2.gif", "pal_bg2.bin", "pal_pst.bin"});
    struct option_case {
        std::vector<std::string> args;
        std::string palette_line;
    } cases[] = {
        {{"sample_bg2.gif", "-PST", "-pcx"}, "loading global palette <pal_pst.bin>\n"},
        {{"sample_bg2.gif", "-Pcx", "-pSt"}, "loading global palette <pal_pst.bin>\n"},
        {{"sample_bg2.gif", "-pstx", "-pst2"}, "loading global palette <pal_bg2.bin>\n"},
        {{"sample_bg2.gif"}, "loading global palette <pal_bg2.bin>\n"},
    };
    for (const option_case &c : cases) {
        process_result run = run_process(dir + "/huesmith", dir + "/huesmith", c.args, dir);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.output.find(c.palette_line), std::string::npos) << c.args[1];
        std::string last_line = "error : " + no_display_error() + "\n";
        ASSERT_GE(run.output.size(), last_line.size());
        EXPECT_EQ(run.output.substr(run.output.size() - last_line.size()), last_line);
    }

    // The GIF path is always the first argument, even when it is an option.
    process_result run =
        run_process(dir + "/huesmith", dir + "/huesmith", {"-pst", "sample_bg2.gif"}, dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, library_lines() + "chdir(" + dir + ")\ncan't load -pst\n");
}

TEST(StartupProcess, ReaderTraceAndFrameTableThenNoDisplay)
{
    std::string dir = make_program_dir({"pal_bg2.bin"});
    write_two_frame_gif(dir + "/two.gif");
    process_result run = run_process(dir + "/huesmith", dir + "/huesmith", {"two.gif"}, dir);
    EXPECT_EQ(run.status, 1);

    std::string image_lines =
        "   gif_id.local_palette_flag  = 0\n"
        "   gif_id.interlace           = 0\n"
        "   gif_id.sort_flag           = 0\n"
        "   gif_id.palette_size        = 2\n"
        "   sz                         = 2\n"
        "   g->have_global_palette    = 1\n"
        "   gif_id.local_palette_flag = 0\n";
    std::string expected = library_lines() + "chdir(" + dir + ")\n" +
                           "num_frames   = 2\n"
                           "num_palettes = 1\n"
                           "total size   = 24 + 48 + 768 = 840\n"
                           "0x2C Image Descriptor\n" +
                           image_lines + "sub_bmp = (0, 0), w =4, h =3\n" +
                           "0x2C Image Descriptor\n" + image_lines +
                           "sub_bmp = (1, 1), w =2, h =2\n"
                           "\nframe   0\n"
                           "   .pos   =   0,   0\n"
                           "   .w, h  =   4,   3\n"
                           "   .pal   = 0\n"
                           "   .trans = -1\n"
                           "   .delay = 0\n"
                           "   .bmp   = 0xADDRESS\n"
                           "\nframe   1\n"
                           "   .pos   =   1,   1\n"
                           "   .w, h  =   2,   2\n"
                           "   .pal   = 0\n"
                           "   .trans = -1\n"
                           "   .delay = 0\n"
                           "   .bmp   = 0xADDRESS\n"
                           "loading global palette <pal_bg2.bin>\n"
                           "error : " +
                           no_display_error() + "\n";
    EXPECT_EQ(mask_addresses(run.output), expected);
}

TEST(StartupProcess, EarlyFailuresEndWithTheirLineAndStatusOne)
{
    // No palette file beside the program.
    std::string dir = make_program_dir({"sample_bg2.gif"});
    process_result run = run_process(dir + "/huesmith", dir + "/huesmith", {"sample_bg2.gif"}, dir);
    EXPECT_EQ(run.status, 1);
    std::string tail = "loading global palette <pal_bg2.bin>\ncan't open <pal_bg2.bin>\n";
    ASSERT_GE(run.output.size(), tail.size());
    EXPECT_EQ(run.output.substr(run.output.size() - tail.size()), tail);

    // A GIF without any image.
    byte_list empty = make_gif_screen(8, 8, 1, 0);
    empty.push_back(0x3B);
    write_gif(dir + "/empty.gif", empty);
    run = run_process(dir + "/huesmith", dir + "/huesmith", {"empty.gif"}, dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, library_lines() + "chdir(" + dir + ")\n" +
                              "num_frames   = 0\n"
                              "num_palettes = 1\n"
                              "total size   = 24 + 0 + 768 = 792\n"
                              "no frame in empty.gif\n");

    // A logical screen too large for any bitmap.
    std::string huge = read_file(dir + "/empty.gif");
    ASSERT_GT(huge.size(), 10u);
    huge[6] = huge[7] = huge[8] = huge[9] = '\xff';
    write_file(dir + "/huge.gif", huge);
    run = run_process(dir + "/huesmith", dir + "/huesmith", {"huge.gif"}, dir);
    EXPECT_EQ(run.status, 1);
    tail = "can't load huge.gif\n";
    EXPECT_EQ(run.output.substr(run.output.size() - tail.size()), tail);
}

TEST(FirstZoom, LargestMultipleOfTenStrictlyInsideThePreview)
{
    struct zoom_case {
        int w, h, zoom;
    } cases[] = {
        {1, 1, 990},     {64, 64, 460},   {100, 100, 290}, {300, 450, 90},
        {299, 449, 100}, {640, 480, 40},  {2999, 10, 10},  {3000, 10, 100},
        {10, 4500, 100}, {65535, 65535, 100}, {0, 0, 990},
    };
    for (const zoom_case &c : cases)
        EXPECT_EQ(choose_first_zoom(c.w, c.h), c.zoom) << c.w << " x " << c.h;
}

} // namespace
