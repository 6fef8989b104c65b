// Start-up as a process without a display, the first zoom, the data files.
#include <allegro.h>
#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>

#include "app/app.h"
#include "common/trace.h"
#include "gif/gif_anim.h"
#include "palette/gradients.h"

const std::string bin = std::string(HUESMITH_BIN_DIR) + "/";

TEST(StartupProcess, CommandLineWorkingDirectoryAndEarlyFailures)
{
    // The program, its files and an 8 x 8 GIF screen without images; an empty directory to start in.
    char pattern[] = "/tmp/huesmith_start_XXXXXX", start_pattern[] = "/tmp/huesmith_start_XXXXXX";
    std::string dir = mkdtemp(pattern), start = mkdtemp(start_pattern);
    for (std::string file : {"huesmith", "sample_bg2.gif", "pal_pst.bin"})
        std::filesystem::copy_file(bin + file, dir + "/" + file);
    std::ofstream(dir + "/empty.gif") << std::string("GIF89a\x08\0\x08\0\0\0\0;", 14);
    // What is not a regular file is never waited on: the state file counts as absent.
    mkfifo((dir + "/fifo.gif").c_str(), 0644), mkdir((dir + "/adir.gif").c_str(), 0755), mkfifo((dir + "/last_palshift.bin").c_str(), 0644);
    const std::string no_frame = "num_frames   = 0\nnum_palettes = 1\ntotal size   = 24 + 0 + 768 = 792\nno frame in empty.gif\n";
    // argv[0], the arguments, the status and the end of the output (a cut last line: somewhere in it).
    const struct { std::string argv0, args; int status; std::string end; } cases[] = {
        {dir + "/huesmith", "", 0, "\n\nsyntaxe : huesmith.exe <file.gif>\n"},
        // Options match whole arguments in any case, anywhere; the GIF path is the first argument.
        {dir + "/huesmith", "sample_bg2.gif -Pcx -pSt", 1, "<pal_pst.bin>\nerror : "},
        {dir + "/huesmith", "sample_bg2.gif -pstx", 1, "\n\nunknown option -pstx\n"},
        {dir + "/huesmith", "-pst sample_bg2.gif", 1, "\nchdir(" + dir + ")\ncan't load -pst\n"},
        // Files are looked up beside the program; without a '/' past position 0 the directory stays.
        {dir + "/huesmith", "empty.gif", 1, "\nchdir(" + dir + ")\n" + no_frame},
        {"huesmith", "empty.gif", 1, "\nchdir()\n" + no_frame},
        {"/huesmith", "empty.gif", 1, "\nchdir()\n" + no_frame},
        {dir + "/huesmith", "fifo.gif", 1, "\nchdir(" + dir + ")\ncan't load fifo.gif\n"},
        {dir + "/huesmith", "adir.gif", 1, "\nchdir(" + dir + ")\ncan't load adir.gif\n"},
        {dir + "/huesmith", "/dev/zero", 1, "\nchdir(" + dir + ")\ncan't load /dev/zero\n"}};
    for (const auto &c : cases) {
        int raw = std::system(("cd " + (c.argv0.size() > 10 ? start : dir) + " && env -u DISPLAY timeout 60 bash -c 'exec -a " +
                               c.argv0 + " " + dir + "/huesmith " + c.args + "' >" + start + ".out 2>/dev/null").c_str());
        std::ifstream in(start + ".out");
        std::string out(std::istreambuf_iterator<char>(in), {});
        EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, c.status) << c.argv0 << " " << c.args;
        size_t at = c.end.back() == '\n' ? out.size() - std::min(out.size(), c.end.size()) : out.rfind(c.end);
        EXPECT_EQ(out.substr(std::min(at, out.size()), c.end.size()), c.end) << c.argv0 << " " << c.args << ":\n" << out;
    }
    std::filesystem::remove_all(dir), std::filesystem::remove_all(start), std::filesystem::remove(start + ".out");
}

TEST(FirstZoom, LargestMultipleOfTenStrictlyInsideThePreview)
{
    const int cases[][3] = {{1, 1, 990},    {64, 64, 460},  {100, 100, 290}, {300, 450, 90},  {299, 449, 100},
                            {640, 480, 40}, {2999, 10, 10}, {3000, 10, 100}, {10, 4500, 100}, {65535, 65535, 100}};
    for (auto [w, h, zoom] : cases)
        EXPECT_EQ(choose_first_zoom(w, h), zoom) << w << " x " << h;
}

// Palettes of 256 distinct colours (a repeat is an entry no pixel reaches), gradients of their
// set's size, samples of eight frames in palette colours only (the remap stops on a stranger).
// No pixel has entry 0's colour (entry 1 is the background); black, the outlines', has its own.
TEST(DataFiles, PalettesGradientsAndSamplesFitTogether)
{
    install_allegro(SYSTEM_NONE, &errno, atexit);
    for (auto [sample, palette, gradients, w, h] : {std::tuple("sample_bg2.gif", "pal_bg2.bin", "cmaps_bg2_12.bmp", 12, 116),
                                                   {"sample_pst.gif", "pal_pst.bin", "cmaps_pst_32.bmp", 32, 79},
                                                   {"sample_pst_interlaced.gif", "pal_pst.bin", "cmaps_pst_32.bmp", 32, 79}}) {
        // The whole table read from it: cells past the bitmap, in columns (bg2) or rows (pst), are black.
        set_color_depth(24);
        BITMAP *bmp = load_bitmap((bin + gradients).c_str(), nullptr);
        ASSERT_TRUE(bmp && bmp->w == w && bmp->h == h && load_cmaps((bin + gradients).c_str(), 32, 116)) << gradients;
        for (int p = 0; p < 32 * 116; p++) {
            int x = p % 32, y = p / 32, pixel = x < w && y < h ? getpixel(bmp, x, y) : 0;
            ASSERT_EQ(makecol24(gradient_table[y][x][0], gradient_table[y][x][1], gradient_table[y][x][2]), pixel) << x << "," << y;
        }
        destroy_bitmap(bmp);
        std::ifstream in(bin + palette, std::ios::binary);
        std::string bytes(std::istreambuf_iterator<char>(in), {}), black(3, '\0');
        std::set<std::string> colours, used;
        for (size_t i = 0; i + 2 < bytes.size(); i += 3)
            colours.insert(bytes.substr(i, 3));
        EXPECT_EQ(std::make_pair(bytes.size(), colours.size()), std::make_pair(size_t(768), size_t(256))) << palette;
        glb_quiet = true, set_color_depth(8);
        gif_anim *anim = load_gif_anim((bin + sample).c_str());
        ASSERT_TRUE(anim && anim->num_frames == 8) << sample;
        for (const gif_frame &f : std::vector<gif_frame>(anim->frames, anim->frames + 8))
            for (int p = 0; p < f.w * f.h; p++)
                used.insert(std::string(reinterpret_cast<char *>(anim->palettes) + 768 * f.pal + 3 * f.bmp->line[p / f.w][p % f.w], 3));
        destroy_gif_anim(anim);
        EXPECT_TRUE(std::includes(colours.begin(), colours.end(), used.begin(), used.end())) << sample;
        EXPECT_EQ(std::make_tuple(used.count(bytes.substr(0, 3)), used.count(black), bytes.substr(3, 3) == black),
                  std::make_tuple(size_t(0), size_t(1), false)) << sample;
    }
}
