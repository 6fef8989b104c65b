// What the user keeps when files, disks, memory and the gradient bitmap work
// against the program: nothing written outside its directory, no good file
// lost, no hang. Each run that could hang or abort goes in a child process.
#include "support/checks.h"
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

#if defined(__SANITIZE_ADDRESS__)
constexpr bool ADDRESS_SPACE_LIMITS = false; // the sanitizer's shadow needs terabytes of it
#else
constexpr bool ADDRESS_SPACE_LIMITS = true;
#endif

bool write_file(const std::string &path, const std::string &bytes)
{
    return bool(std::ofstream(path, std::ios::binary) << bytes);
}

// The body in a forked child that a hang ends after 20 s: its exit status
// (-1 when it did not exit) and what it printed, through a pipe (no
// file-size limit applies there).
std::pair<int, std::string> run_bounded(const std::function<void()> &body)
{
    int fds[2];
    std::fflush(stdout);
    if (pipe(fds) == 0 && fork() == 0) {
        alarm(20), dup2(fds[1], 1), close(fds[0]), body(), std::fflush(stdout);
        _exit(0);
    }
    close(fds[1]);
    std::string printed = read_file("/proc/self/fd/" + std::to_string(fds[0])); // to its end: the child's exit
    int raw = 0;
    wait(&raw), close(fds[0]);
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, printed};
}

// Bytes of the process's address space now, which an address-space limit
// must leave room for.
rlim_t measure_address_space()
{
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    return rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE));
}

TEST_F(NothingLost, LinksAndFifosAtFrameAndStateNamesAreReplacedNotWrittenOrWaitedOn)
{
    make_anim(6, 4, 4);
    for (int i = 0; i < 4; i++)
        add_frame(i, 0, 0, 6, 4, i + 1);
    const std::string outside = "../outside_" + std::string(dir + 5) + "/";
    fs::create_directory(outside);
    ASSERT_TRUE(write_file(outside + "victim", "keep") && write_file(outside + "hard", "keep"));
    fs::create_symlink(fs::absolute(outside + "victim"), "frame000.bmp");
    fs::create_symlink(fs::absolute(outside + "dangling"), "frame001.bmp");
    fs::create_hard_link(outside + "hard", "frame002.bmp");
    fs::create_symlink(fs::absolute(outside + "victim"), "frame002.bmp.tmp"); // left by a killed run
    ASSERT_EQ(mkfifo("frame003.bmp", 0644) | mkfifo("last_palshift.bin", 0644), 0);
    auto [status, output] = run_bounded([&] {
        load_palshift_file(); // the FIFO counts as no state file
        save_all_frames(&anim, 100, export_options{});
        save_palshift_file();
    });
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output, format_export_summary(4, "") + "\n");
    EXPECT_TRUE(read_file(outside + "victim") + read_file(outside + "hard") == "keepkeep");
    EXPECT_FALSE(fs::exists(outside + "dangling"));
    fs::remove_all(outside);
    for (const char *name : {"frame000.bmp", "frame001.bmp", "frame002.bmp", "frame003.bmp", "last_palshift.bin"})
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(name)) && fs::hard_link_count(name) == 1) << name;
    EXPECT_TRUE(fs::is_symlink("frame002.bmp.tmp")) << "another run's temporary file was removed";
    EXPECT_EQ(std::distance(fs::directory_iterator("."), {}), 6) << "a temporary file was left";
}

// A dead run of this process number left files at the first temporary
// names this run would take (counting from 0): they stay as they were, and
// the save takes the next name.
TEST_F(NothingLost, TakenTemporaryNamesAreSkippedNotRemoved)
{
    const std::string taken = "frame000.bmp." + std::to_string(getpid()) + "-";
    for (int count = 0; count < 3; count++)
        ASSERT_TRUE(write_file(taken + std::to_string(count) + ".tmp", "left"));
    const uint8_t bytes[] = {'n', 'e', 'w'};
    EXPECT_TRUE(replace_file("frame000.bmp", bytes, sizeof bytes));
    EXPECT_EQ(read_file("frame000.bmp"), "new");
    for (int count = 0; count < 3; count++)
        EXPECT_EQ(read_file(taken + std::to_string(count) + ".tmp"), "left") << count;
    EXPECT_EQ(std::distance(fs::directory_iterator("."), {}), 4) << "a temporary file was left";
}

// A full disk (a file-size limit), no memory for the export's buffers, and a
// PCX too wide for its header: each frame is reported, the files of an
// earlier export stay byte for byte, no temporary file is left, and the
// state file is still saved when it fits.
TEST_F(NothingLost, FailedSavesKeepTheOldFilesAndGoOn)
{
    const struct { const char *label; int w, h, zoom, pcx; rlim_t file_limit, memory; std::string state_line; } cases[] = {
        {"full disk", 6, 4, 100, 0, 100, 0, "can't write <last_palshift.bin>\n"},
        {"full disk for frames", 6, 4, 100, 1, 800, 0, ""},
        {"no memory for the file's bytes", 800, 800, 1000, 0, RLIM_INFINITY, 90 << 20, ""},
        {"pcx over 65535 pixels wide", 6554, 4, 1000, 1, RLIM_INFINITY, 0, ""}};
    for (const auto &c : cases) {
        if (c.memory && !ADDRESS_SPACE_LIMITS)
            continue;
        make_anim(c.w, c.h, 2);
        add_frame(0, 0, 0, c.w, c.h, 5), add_frame(1, 1, 1, 2, 2, 6);
        const std::string ext = c.pcx ? ".pcx" : ".bmp", names[] = {"frame000" + ext, "frame001" + ext, "last_palshift.bin"};
        for (const std::string &name : names)
            ASSERT_TRUE(write_file(name, "earlier " + name));
        auto [status, output] = run_bounded([&] {
            signal(SIGXFSZ, SIG_IGN);
            rlimit file = {c.file_limit, c.file_limit}, memory = {measure_address_space() + c.memory, RLIM_INFINITY};
            setrlimit(RLIMIT_FSIZE, &file);
            if (c.memory)
                setrlimit(RLIMIT_AS, &memory);
            glb_zoom = c.zoom;
            glb_export_options.format = c.pcx ? EXPORT_PCX : EXPORT_BMP;
            set_key(KEY_S, true);
            handle_keys(&anim, bg2);
        });
        EXPECT_EQ(status, 0) << c.label;
        EXPECT_EQ(output, "can't save <frame000" + ext + ">\ncan't save <frame001" + ext + ">\n" + format_export_summary(0, "") + "\n" +
                              c.state_line) << c.label;
        for (const std::string &name : names)
            EXPECT_EQ(read_file(name).size() == 144 ? "saved" : read_file(name),
                      name == names[2] && c.state_line.empty() ? "saved" : "earlier " + name) << c.label;
        EXPECT_EQ(std::distance(fs::directory_iterator("."), {}), 3) << c.label << ": a temporary file was left";
        for (const std::string &name : names)
            fs::remove(name);
    }
}

// An 816-byte GIF can ask for a canvas of 2 GiB: refused before it is made
// (a lower address-space limit would hide a canvas made anyway; this one
// lets it be made and touched).
TEST_F(NothingLost, HugeScreenIsRefusedBeforeItsPagesAreTouched)
{
    if (!ADDRESS_SPACE_LIMITS)
        GTEST_SKIP() << "the sanitizer's shadow memory needs an unlimited address space";
    for (unsigned h : {32767u, 24000u}) {
        byte_list gif = make_gif_screen(65535, h, test_colours(1), 0);
        for (int i = 0; i < 2; i++)
            append_gif_image(gif, i, 0, 1, 1, {}, 2, {1});
        gif.push_back(0x3B);
        ASSERT_TRUE(write_file("huge.gif", std::string(gif.begin(), gif.end())));
        auto [status, output] = run_bounded([&] {
            rlimit limit = {measure_address_space() + (rlim_t(7) << 28), RLIM_INFINITY};
            setrlimit(RLIMIT_AS, &limit);
            gif_anim *anim = load_gif_anim("huge.gif");
            rusage usage{};
            getrusage(RUSAGE_SELF, &usage);
            _exit((anim ? 1 : 0) | (usage.ru_maxrss > (256 << 10) ? 2 : 0));
        });
        EXPECT_EQ(status, 0) << "65535 x " << h << ": 1 loaded, 2 touched 256 MiB";
    }
}

// An 8-bit BMP of 12 x 20 pixels, index (x / 2 + y) % 16, with 16 colours
// whose low bits are in use: raw rows, or RLE8 as an image editor writes it
// (rows from the bottom, odd ones given pixel by pixel, even ones as runs
// of two, an end mark after each row and after the last), or the RLE8 data
// given.
std::string make_paletted_bmp(bool rle, std::vector<uint8_t> data = {})
{
    std::string out = "BM";
    bool made = data.empty();
    for (int y = 19; y >= 0 && made; y--) {
        if (rle && y % 2)
            data.insert(data.end(), {0, 12});
        for (int x = 0; x < 12; x += (rle && y % 2 == 0) ? 2 : 1)
            rle && y % 2 == 0 ? data.insert(data.end(), {2, uint8_t((x / 2 + y) % 16)})
                              : data.insert(data.end(), uint8_t((x / 2 + y) % 16));
        if (rle)
            data.insert(data.end(), {0, 0});
    }
    if (rle && made)
        data.insert(data.end(), {0, 1});
    // File and info headers; one planes, eight bits a pixel.
    for (uint32_t v : {uint32_t(54 + 64 + data.size()), 0u, 54u + 64, 40u, 12u, 20u, 0x80001u, uint32_t(rle),
                       uint32_t(data.size()), 0u, 0u, 16u, 0u})
        for (int k = 0; k < 4; k++)
            out.push_back(char(v >> (8 * k)));
    for (int i = 0; i < 16; i++)
        out += {char(i * 5 + 2), char(255 - i * 8), char(i * 16 + 3), 0};
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

TEST_F(NothingLost, PalettedAndRunCodedGradientsLoadExactlyMalformedRunsFifosAndDirectoriesDoNot)
{
    for (bool rle : {false, true}) {
        ASSERT_TRUE(write_file("g.bmp", make_paletted_bmp(rle)) && load_cmaps("g.bmp", 12, 20)) << rle;
        for (int r = 0; r < 20; r++)
            for (int c = 0, i = r % 16; c < 12; c++, i = (c / 2 + r) % 16)
                ASSERT_EQ(gradient_table[r][c][0] << 16 | gradient_table[r][c][1] << 8 | gradient_table[r][c][2],
                          (i * 16 + 3) << 16 | (255 - i * 8) << 8 | (i * 5 + 2)) << rle << " " << r << "," << c;
    }
    std::vector<uint8_t> past_image(2 * 21, 0); // 21 row ends
    past_image.insert(past_image.end(), {0, 1});
    const struct { const char *label; std::vector<uint8_t> data; } malformed[] = {
        {"run past the row", {12, 1, 1, 1, 0, 1}}, {"move past the row", {0, 2, 13, 0, 0, 1}},
        {"pixel-by-pixel run past the row", {0, 13, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 1}},
        {"row ends past the image", past_image}, {"no end mark", {12, 1, 0, 0}}};
    for (const auto &m : malformed)
        EXPECT_FALSE(write_file("g.bmp", make_paletted_bmp(true, m.data)) && load_cmaps("g.bmp", 12, 20)) << m.label;
    std::string cut = make_paletted_bmp(true).substr(0, 47); // the info header cut, the data offset 0
    cut[10] = 0;
    EXPECT_FALSE(write_file("g.bmp", cut) && load_cmaps("g.bmp", 12, 20)) << "cut header";
    std::string far = make_paletted_bmp(false);
    far[13] = 0x3D; // a data offset of a gigabyte: that much colour table to read
    ASSERT_TRUE(mkfifo("fifo.bmp", 0644) == 0 && write_file("far.bmp", far));
    EXPECT_EQ(run_bounded([] {
        _exit(load_cmaps("fifo.bmp", 12, 20) || load_cmaps("far.bmp", 12, 20) || load_glb_palette("fifo.bmp") ||
              load_glb_palette(".") ? 1 : 0);
    }).first, 0);
    remove("fifo.bmp"), remove("g.bmp"), remove("far.bmp");
}

} // namespace
