// Start-up as a process without a display, the first zoom, the data files.
#include <allegro.h>
#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>

#include "app/app.h"
#include "support/shell.h"
#include "common/trace.h"
#include "gif/gif_anim.h"

const std::string bin = std::string(HUESMITH_BIN_DIR) + "/";

// A run: argv[0], the arguments, the status and the end of the output (a
// cut last line: somewhere in it). A long argv[0] runs from the start
// directory, a short one from the program's.
struct startup_case {
    std::string argv0, args;
    int status;
    std::string end;
};

TEST(StartupProcess, CommandLineWorkingDirectoryAndEarlyFailures)
{
    // The program, its files and an 8 x 8 GIF screen without images; an
    // empty directory to start in.
    std::string dir = make_test_dir();
    std::string start = make_test_dir();
    for (std::string file : {"huesmith", "sample_bg2.gif", "pal_pst.bin"})
        std::filesystem::copy_file(bin + file, dir + "/" + file);
    std::ofstream(dir + "/empty.gif") << std::string("GIF89a\x08\0\x08\0\0\0\0;", 14);
    // What is not a regular file is never waited on: the state file counts as absent.
    mkfifo((dir + "/fifo.gif").c_str(), 0644);
    mkdir((dir + "/adir.gif").c_str(), 0755);
    mkfifo((dir + "/last_palshift.bin").c_str(), 0644);
    const std::string no_frame = "num_frames   = 0\nnum_palettes = 1\n"
                                 "total size   = 24 + 0 + 768 = 792\nno frame in empty.gif\n";
    const std::string in_dir = "\nchdir(" + dir + ")\n";
    const std::string prog = dir + "/huesmith";
    const startup_case cases[] = {
        {prog, "", 0, "\n\nsyntaxe : huesmith.exe <file.gif>\n"},
        // Options match whole arguments in any case, anywhere; the GIF path
        // is the first argument.
        {prog, "sample_bg2.gif -Pcx -pSt", 1, "<pal_pst.bin>\nerror : "},
        {prog, "sample_bg2.gif -pstx", 1, "\n\nunknown option -pstx\n"},
        {prog, "-pst", 1, in_dir + "can't load -pst\n"},
        {prog, "-pst sample_bg2.gif", 1, "\n\nunexpected argument sample_bg2.gif\n"},
        // Files are looked up beside the program, found as it runs,
        // whatever path it was started by.
        {prog, "empty.gif", 1, in_dir + no_frame},
        {"huesmith", "empty.gif", 1, in_dir + no_frame},
        {"/huesmith", "empty.gif", 1, in_dir + no_frame},
        {prog, "fifo.gif", 1, in_dir + "can't load fifo.gif\n"},
        {prog, "adir.gif", 1, in_dir + "can't load adir.gif\n"},
        {prog, "/dev/zero", 1, in_dir + "can't load /dev/zero\n"}};
    for (const startup_case &c : cases) {
        SCOPED_TRACE(c.argv0 + " " + c.args);
        std::string from = c.argv0.size() > 10 ? start : dir;
        std::string run = "exec -a " + c.argv0 + " " + prog + " " + c.args;
        std::string command = "cd " + from + " && env -u DISPLAY timeout 60 bash -c '" + run +
                              "' >" + start + ".out 2>/dev/null";
        int raw = std::system(command.c_str());
        std::string out = read_file(start + ".out");
        ASSERT_TRUE(WIFEXITED(raw));
        EXPECT_EQ(WEXITSTATUS(raw), c.status);
        bool whole_line = c.end.back() == '\n';
        size_t at = whole_line ? out.size() - std::min(out.size(), c.end.size()) : out.rfind(c.end);
        at = std::min(at, out.size());
        EXPECT_EQ(out.substr(at, c.end.size()), c.end) << out;
    }
    std::filesystem::remove_all(dir);
    std::filesystem::remove_all(start);
    std::filesystem::remove(start + ".out");
}

TEST(FirstZoom, LargestMultipleOfTenStrictlyInsideThePreview)
{
    const struct { int w, h, zoom; } cases[] = {
        {1, 1, 990},    {64, 64, 460},  {100, 100, 290}, {300, 450, 90},  {299, 449, 100},
        {640, 480, 40}, {2999, 10, 10}, {3000, 10, 100}, {10, 4500, 100}, {65535, 65535, 100}};
    for (const auto &c : cases)
        EXPECT_EQ(choose_first_zoom(c.w, c.h), c.zoom) << c.w << " x " << c.h;
}

// A sample, the palette it is drawn in, and its data set's gradients.
struct data_files {
    const char *sample, *palette, *gradients;
    int w, h;
};

// Palettes of 256 distinct colours (a repeat is an entry no pixel
// reaches), gradients of their set's size (the session checks their
// colours), samples of eight frames in palette colours only (the remap
// stops on a stranger). No pixel has entry 0's colour (entry 1 is the
// background); black, the outlines', has its own entry.
TEST(DataFiles, PalettesGradientsAndSamplesFitTogether)
{
    install_allegro(SYSTEM_NONE, &errno, atexit);
    const data_files sets[] = {
        {"sample_bg2.gif", "pal_bg2.bin", "cmaps_bg2_12.bmp", 12, 116},
        {"sample_pst.gif", "pal_pst.bin", "cmaps_pst_32.bmp", 32, 79},
        {"sample_pst_interlaced.gif", "pal_pst.bin", "cmaps_pst_32.bmp", 32, 79}};
    for (const data_files &files : sets) {
        SCOPED_TRACE(files.sample);
        set_color_depth(24);
        BITMAP *gradients = load_bitmap((bin + files.gradients).c_str(), nullptr);
        ASSERT_TRUE(gradients);
        EXPECT_EQ(gradients->w, files.w);
        EXPECT_EQ(gradients->h, files.h);
        destroy_bitmap(gradients);
        std::string bytes = read_file(bin + files.palette);
        std::string black(3, '\0');
        std::set<std::string> colours;
        for (size_t i = 0; i + 2 < bytes.size(); i += 3)
            colours.insert(bytes.substr(i, 3));
        EXPECT_EQ(bytes.size(), 768u);
        EXPECT_EQ(colours.size(), 256u);
        glb_quiet = true;
        set_color_depth(8);
        gif_anim *anim = load_gif_anim((bin + files.sample).c_str());
        ASSERT_TRUE(anim);
        ASSERT_EQ(anim->num_frames, 8);
        std::set<std::string> used;
        for (int i = 0; i < 8; i++) {
            const gif_frame &f = anim->frames[i];
            const char *table = reinterpret_cast<const char *>(anim->palettes) + 768 * f.pal;
            for (int y = 0; y < f.h; y++)
                for (int x = 0; x < f.w; x++)
                    used.insert(std::string(table + 3 * f.bmp->line[y][x], 3));
        }
        destroy_gif_anim(anim);
        EXPECT_TRUE(std::includes(colours.begin(), colours.end(), used.begin(), used.end()));
        EXPECT_EQ(used.count(bytes.substr(0, 3)), 0u);
        EXPECT_EQ(used.count(black), 1u);
        EXPECT_NE(bytes.substr(3, 3), black);
    }
}
