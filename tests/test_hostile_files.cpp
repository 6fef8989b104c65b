// Hostile state, palette and gradient files, and saves that meet obstacles:
// loads end in range or refuse, and the user's previous file survives.
#include "palette/data_set.h"
#include "palette/global_palette.h"
#include "palette/gradients.h"
#include "palette/tint_slots.h"
#include "fuzz/fuzz_bodies.h"
#include "support/fuzz_gif_builder.h"

#include <allegro.h>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

byte_list state_bytes(const std::vector<int32_t> &values)
{
    byte_list bytes;
    for (int32_t v : values)
        for (int k = 0; k < 4; k++)
            bytes.push_back(uint8_t(uint32_t(v) >> (8 * k)));
    return bytes;
}

byte_list read_whole(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return byte_list(std::istreambuf_iterator<char>(in), {});
}

TEST(HostileStateFile, EverySizeAndValueEndsInRange)
{
    const std::vector<int32_t> hostile = {-1, 116, INT_MIN, INT_MAX, 79, 115, 0, 78, -116};
    std::vector<int32_t> values;
    for (int i = 0; i < 50; i++)
        values.push_back(hostile[size_t(i) % hostile.size()]);
    byte_list all = state_bytes(values);
    for (size_t size : {0, 1, 30, 143, 144, 200}) {
        byte_list file(all.begin(), all.begin() + long(size));
        EXPECT_EQ(run_palshift_body(file.data(), file.size()), "") << size << " bytes";
    }
    byte_list ones(200, 0xFF);
    EXPECT_EQ(run_palshift_body(ones.data(), 143), "") << "all bits set";
}

TEST(HostileStateFile, ShortFileKeepsWhatItHas)
{
    // 30 bytes: slots 0-6 whole, the two low bytes of slot 7.
    byte_list file = state_bytes({1, 2, 3, 4, 5, 6, 7, 0x00050008});
    file.resize(30);
    ASSERT_EQ(run_palshift_body(file.data(), file.size()), "");
    for (int s = 0; s < 7; s++)
        EXPECT_EQ(palshift_bg2[s], s + 1);
    EXPECT_EQ(palshift_bg2[7], 8);
    for (int s = 8; s < BG2_SLOTS; s++)
        EXPECT_EQ(palshift_bg2[s], 0);
    for (int s = 0; s < PST_SLOTS; s++)
        EXPECT_EQ(palshift_pst[s], 0);
}

// A directory of its own with a previous state file in it; cwd moves there.
struct save_scene {
    std::string dir;
    char old_dir[4096];
    byte_list previous;
};

void enter_save_scene(save_scene &scene, const std::string &name)
{
    scene.dir = get_fuzz_work_dir() + "/" + name;
    fs::remove_all(scene.dir);
    fs::create_directory(scene.dir);
    scene.previous = state_bytes({7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
                                  7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 3, 3, 3, 3, 3, 3, 3, 3});
    write_fuzz_file(scene.dir + "/last_palshift.bin", scene.previous.data(),
                    scene.previous.size());
    ASSERT_NE(getcwd(scene.old_dir, sizeof scene.old_dir), nullptr);
    ASSERT_EQ(chdir(scene.dir.c_str()), 0);
    for (int s = 0; s < BG2_SLOTS; s++)
        palshift_bg2[s] = 40;
    for (int s = 0; s < PST_SLOTS; s++)
        palshift_pst[s] = 50;
}

void leave_save_scene(save_scene &scene)
{
    ASSERT_EQ(chdir(scene.old_dir), 0);
}

void save_quietly()
{
    int saved = silence_stdout();
    save_palshift_file();
    restore_stdout(saved);
}

TEST(HostileStateFile, SaveThatCannotWriteKeepsThePreviousFile)
{
    // Whatever name the save writes through first, a directory holds it.
    for (const char *obstacle : {"last_palshift.bin.tmp", "last_palshift.tmp",
                                 "last_palshift.bin~", ".last_palshift.bin.tmp"}) {
        save_scene scene;
        enter_save_scene(scene, "blocked");
        fs::create_directory(scene.dir + "/" + obstacle);
        fs::create_directory(scene.dir + "/" + obstacle + "/inside");
        save_quietly();
        byte_list now = read_whole(scene.dir + "/last_palshift.bin");
        leave_save_scene(scene);
        if (now != scene.previous) {
            // The save went through another name: then it must be whole.
            EXPECT_EQ(now.size(), 144u) << obstacle;
            EXPECT_EQ(now[0], 40) << obstacle;
        }
        EXPECT_TRUE(fs::is_directory(scene.dir + "/" + obstacle + "/inside")) << obstacle;
    }
}

TEST(HostileStateFile, SaveOverADirectoryLeavesItAlone)
{
    save_scene scene;
    enter_save_scene(scene, "dir_in_the_way");
    fs::remove(scene.dir + "/last_palshift.bin");
    fs::create_directories(scene.dir + "/last_palshift.bin/keep");
    save_quietly();
    leave_save_scene(scene);
    EXPECT_TRUE(fs::is_directory(scene.dir + "/last_palshift.bin/keep"));
}

TEST(HostileStateFile, SaveInAReadOnlyDirectoryKeepsThePreviousFile)
{
    save_scene scene;
    enter_save_scene(scene, "read_only");
    chmod(scene.dir.c_str(), 0555);
    // Root writes through any mode: the save runs as an unprivileged child.
    pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(2);
        save_quietly();
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    chmod(scene.dir.c_str(), 0755);
    leave_save_scene(scene);
    ASSERT_TRUE(WIFEXITED(status)) << "the save crashed";
    ASSERT_EQ(WEXITSTATUS(status), 0) << "could not drop privileges";
    EXPECT_EQ(read_whole(scene.dir + "/last_palshift.bin"), scene.previous);
}

TEST(HostileStateFile, SaveDoesNotWriteThroughALinkedTemporaryName)
{
    // A stale link at the temporary name must not carry the write into
    // another file.
    save_scene scene;
    enter_save_scene(scene, "linked");
    std::string victim = get_fuzz_work_dir() + "/someone_elses_file";
    byte_list text = {'k', 'e', 'e', 'p', '\n'};
    write_fuzz_file(victim, text.data(), text.size());
    fs::create_symlink(victim, scene.dir + "/last_palshift.bin.tmp");
    save_quietly();
    leave_save_scene(scene);
    EXPECT_EQ(read_whole(victim), text);
}

TEST(HostilePaletteFile, ShortAndLongFiles)
{
    byte_list bytes;
    for (int i = 0; i < 800; i++)
        bytes.push_back(uint8_t(i * 7 + 1));
    for (size_t size : {0, 1, 700, 767, 768, 800})
        EXPECT_EQ(run_palette_body(bytes.data(), size), "") << size << " bytes";

    // 700 bytes: entry 233 has its red from byte 699, the rest is white.
    ASSERT_EQ(run_palette_body(bytes.data(), 700), "");
    EXPECT_EQ(glb_palette[232][2], bytes[698]);
    EXPECT_EQ(glb_palette[233][0], bytes[699]);
    EXPECT_EQ(glb_palette[233][1], 255);
    EXPECT_EQ(glb_palette[255][2], 255);
    EXPECT_FALSE(load_glb_palette((get_fuzz_work_dir() + "/no_such.pal").c_str()));
}

// A 24-bit BMP header with the given size and no pixel data after it.
byte_list bmp_header(int32_t w, int32_t h, int bits)
{
    byte_list b = {'B', 'M'};
    auto put32 = [&b](uint32_t v) {
        for (int k = 0; k < 4; k++)
            b.push_back(uint8_t(v >> (8 * k)));
    };
    put32(54 + 64);
    put32(0);
    put32(54);
    put32(40);
    put32(uint32_t(w));
    put32(uint32_t(h));
    append_u16(b, 1);
    append_u16(b, unsigned(bits));
    for (int i = 0; i < 6; i++)
        put32(0);
    for (int i = 0; i < 64; i++)
        b.push_back(uint8_t(i));
    return b;
}

TEST(HostileGradientFile, NotAnImageOrTooSmallOrLying)
{
    const std::vector<std::pair<std::string, byte_list>> files = {
        {"empty", {}},
        {"text", {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e', '\n'}},
        {"header only", bmp_header(12, 116, 24)},
        {"1 x 1", bmp_header(1, 1, 24)},
        {"negative height", bmp_header(12, -116, 24)},
        {"zero size", bmp_header(0, 0, 24)},
        {"width past the 32-bit size", bmp_header(0x7FFFFFFF, 1, 24)},
        {"size product wraps", bmp_header(65536, 65537, 24)},
        {"height wraps at 32 bits", bmp_header(12, 0x74000024, 24)},
    };
    for (const auto &[label, bytes] : files)
        EXPECT_EQ(run_palette_body(bytes.data(), bytes.size()), "") << label;
}

TEST(HostileGradientFile, OneByOneBitmapGivesItsPixelAndBlack)
{
    start_fuzz_allegro();
    set_color_depth(24);
    BITMAP *one = create_bitmap(1, 1);
    ASSERT_NE(one, nullptr);
    putpixel(one, 0, 0, makecol(10, 20, 30));
    std::string path = get_fuzz_work_dir() + "/one.bmp";
    ASSERT_EQ(save_bitmap(path.c_str(), one, nullptr), 0);
    destroy_bitmap(one);
    set_color_depth(32);
    ASSERT_TRUE(load_cmaps(path.c_str(), bg2.gradient_columns, bg2.gradient_rows));
    set_color_depth(8);
    EXPECT_EQ(gradient_table[0][0][0], 10);
    EXPECT_EQ(gradient_table[0][0][1], 20);
    EXPECT_EQ(gradient_table[0][0][2], 30);
    EXPECT_EQ(gradient_table[115][11][0], 0);
    EXPECT_EQ(gradient_table[0][1][2], 0);
}

} // namespace
