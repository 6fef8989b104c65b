// What the user keeps when files and disks work against the program: nothing written outside
// its directory, no good file lost, no hang; each run that could hang goes in a child process.
#include "support/screen_fixture.h"
#include "support/shell.h"
#include "common/safe_file.h"

#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

using NothingLost = screen_test;

bool write_file(const std::string &path, const std::string &bytes)
{
    return bool(std::ofstream(path, std::ios::binary) << bytes);
}

// The body in a forked child that a hang ends after 20 s: its exit status
// (-1 when it did not exit) and what it printed, through a pipe (no
// file-size limit applies there).
struct bounded_run {
    int status;
    std::string output;
};
bounded_run run_bounded(const std::function<void()> &body)
{
    int fds[2];
    std::fflush(stdout);
    if (pipe(fds) == 0 && fork() == 0) {
        alarm(20);
        dup2(fds[1], 1);
        close(fds[0]);
        body();
        std::fflush(stdout);
        _exit(0);
    }
    close(fds[1]);
    // Read to its end: the child's exit.
    std::string printed = read_file("/proc/self/fd/" + std::to_string(fds[0]));
    int raw = 0;
    wait(&raw);
    close(fds[0]);
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, printed};
}

TEST_F(NothingLost, LinksAndFifosAtFrameAndStateNamesAreReplacedNotWrittenOrWaitedOn)
{
    make_anim(6, 4, 4);
    for (int i = 0; i < 4; i++)
        add_frame(i, 0, 0, 6, 4, i + 1);
    const std::string outside = "../outside_" + std::string(dir + 5) + "/";
    fs::create_directory(outside);
    ASSERT_TRUE(write_file(outside + "victim", "keep"));
    ASSERT_TRUE(write_file(outside + "hard", "keep"));
    fs::create_symlink(fs::absolute(outside + "victim"), "frame000.bmp");
    fs::create_symlink(fs::absolute(outside + "dangling"), "frame001.bmp");
    fs::create_hard_link(outside + "hard", "frame002.bmp");
    // Left by a killed run.
    fs::create_symlink(fs::absolute(outside + "victim"), "frame002.bmp.tmp");
    ASSERT_EQ(mkfifo("frame003.bmp", 0644), 0);
    ASSERT_EQ(mkfifo("last_palshift.bin", 0644), 0);
    bounded_run run = run_bounded([&] {
        load_palshift_file(); // the FIFO counts as no state file
        save_all_frames(&anim, 100, export_options{});
        save_palshift_file();
    });
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output, format_export_summary(4, "") + "\n");
    EXPECT_EQ(read_file(outside + "victim"), "keep");
    EXPECT_EQ(read_file(outside + "hard"), "keep");
    EXPECT_FALSE(fs::exists(outside + "dangling"));
    fs::remove_all(outside);
    const char *replaced[] = {"frame000.bmp", "frame001.bmp", "frame002.bmp", "frame003.bmp",
                              "last_palshift.bin"};
    for (const char *name : replaced) {
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(name))) << name;
        EXPECT_EQ(fs::hard_link_count(name), 1u) << name;
    }
    EXPECT_TRUE(fs::is_symlink("frame002.bmp.tmp")) << "another run's temporary file was removed";
    EXPECT_EQ(std::distance(fs::directory_iterator("."), {}), 6) << "a temporary file was left";
}

// A full disk (a file-size limit): each frame is reported, the files of an
// earlier export stay byte for byte, no temporary file is left, and the
// state file is still saved (and fails too).
TEST_F(NothingLost, FailedSavesKeepTheOldFilesAndGoOn)
{
    make_anim(6, 4, 2);
    add_frame(0, 0, 0, 6, 4, 5);
    add_frame(1, 1, 1, 2, 2, 6);
    const std::string frame_names[] = {"frame000.bmp", "frame001.bmp"};
    for (const std::string &name : frame_names)
        ASSERT_TRUE(write_file(name, "earlier " + name));
    ASSERT_TRUE(write_file("last_palshift.bin", "earlier state"));
    bounded_run run = run_bounded([&] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit file = {100, 100};
        setrlimit(RLIMIT_FSIZE, &file);
        set_key(KEY_S, true);
        handle_keys(&anim, bg2);
    });
    EXPECT_EQ(run.status, 0);
    std::string expected;
    for (const std::string &name : frame_names)
        expected += "can't save <" + name + ">\n";
    expected += format_export_summary(0, "") + "\ncan't write <last_palshift.bin>\n";
    EXPECT_EQ(run.output, expected);
    for (const std::string &name : frame_names)
        EXPECT_EQ(read_file(name), "earlier " + name);
    EXPECT_EQ(read_file("last_palshift.bin"), "earlier state");
    EXPECT_EQ(std::distance(fs::directory_iterator("."), {}), 3) << "a temporary file was left";
}

// Palette index (x / 2 + y) % 16 of the gradient bitmap's pixel x, y.
uint8_t make_index(int x, int y)
{
    return uint8_t((x / 2 + y) % 16);
}

// The 12 x 20 gradient bitmap's rows in RLE8 as an image editor writes it:
// from the bottom, odd rows given pixel by pixel, even ones as runs of two,
// an end mark after each row and after the last.
std::vector<uint8_t> make_rle_rows()
{
    std::vector<uint8_t> data;
    for (int y = 19; y >= 0; y--) {
        if (y % 2 == 1) {
            data.insert(data.end(), {0, 12});
            for (int x = 0; x < 12; x++)
                data.push_back(make_index(x, y));
        } else {
            for (int x = 0; x < 12; x += 2)
                data.insert(data.end(), {2, make_index(x, y)});
        }
        data.insert(data.end(), {0, 0});
    }
    data.insert(data.end(), {0, 1});
    return data;
}

// An 8-bit RLE8 BMP of 12 x 20 pixels around the data, with 16 colours
// whose low bits are in use: blue i * 5 + 2, green 255 - i * 8, red
// i * 16 + 3.
std::string make_paletted_bmp(const std::vector<uint8_t> &data)
{
    const uint32_t size = uint32_t(data.size());
    // The file header's size, reserved and data offset; the info header's
    // size, width, height, one plane and eight bits, compression, data size,
    // resolutions, colours used and important.
    const uint32_t fields[] = {54 + 64 + size, 0, 54 + 64, 40, 12, 20, 0x80001, 1, size,
                               0, 0, 16, 0};
    std::string out = "BM";
    for (uint32_t field : fields) {
        for (int k = 0; k < 4; k++)
            out.push_back(char(field >> (8 * k)));
    }
    for (int i = 0; i < 16; i++)
        out += {char(i * 5 + 2), char(255 - i * 8), char(i * 16 + 3), 0};
    out.append(data.begin(), data.end());
    return out;
}

// A run-coded gradient bitmap loads exactly; a FIFO and a directory do not
// load, nor hang.
TEST_F(NothingLost, RunCodedGradientsLoadExactlyFifosAndDirectoriesDoNot)
{
    ASSERT_TRUE(write_file("g.bmp", make_paletted_bmp(make_rle_rows())));
    ASSERT_TRUE(load_cmaps("g.bmp", 12, 20));
    for (int r = 0; r < 20; r++) {
        for (int c = 0; c < 12; c++) {
            int i = make_index(c, r);
            SCOPED_TRACE(testing::Message() << r << "," << c);
            ASSERT_EQ(gradient_table[r][c][0], i * 16 + 3);
            ASSERT_EQ(gradient_table[r][c][1], 255 - i * 8);
            ASSERT_EQ(gradient_table[r][c][2], i * 5 + 2);
        }
    }
    ASSERT_EQ(mkfifo("fifo.bmp", 0644), 0);
    bounded_run run = run_bounded([] {
        bool loaded = load_cmaps("fifo.bmp", 12, 20);
        loaded = loaded || load_cmaps(".", 12, 20);
        _exit(loaded ? 1 : 0);
    });
    EXPECT_EQ(run.status, 0);
}

} // namespace
