// Hostile state, palette and gradient files, and saves that meet obstacles:
// loads end in range or refuse, and the user's previous file survives.
#include "fuzz/fuzz_bodies.h"
#include "palette/tint_slots.h"

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using byte_list = std::vector<uint8_t>;

byte_list encode_le32(const std::vector<int32_t> &values)
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

// The state body checks every entry ends in range and valid ones are kept.
TEST(HostileFiles, StateFilesOfAnySizeAndValueEndInRange)
{
    byte_list hostile = encode_le32({-1, 116, INT_MIN, INT_MAX, 79, 115, 0, 78, -116}), all;
    while (all.size() < 200)
        all.insert(all.end(), hostile.begin(), hostile.end());
    byte_list ones(200, 0xFF);
    for (size_t size : {0, 1, 30, 143, 144, 200}) {
        EXPECT_EQ(run_palshift_body(all.data(), size), "") << size << " bytes";
        EXPECT_EQ(run_palshift_body(ones.data(), size), "") << size << " bytes of 0xFF";
    }
}

// Each input is both a palette file (short ones read 255s, long ones stop at
// 768 bytes) and a gradient bitmap (refused untouched, or black outside).
TEST(HostileFiles, PaletteAndGradientFilesThatAreShortLongOrLying)
{
    byte_list counting(800);
    for (size_t i = 0; i < counting.size(); i++)
        counting[i] = uint8_t(i * 7 + 1);
    // A BMP header for 12 x 116 at 24 bits, then 12 bytes of pixels.
    byte_list lying = {'B', 'M'};
    for (uint32_t v : {54u + 12, 0u, 54u, 40u, 12u, 116u, 0x180001u, 0u, 0u, 0u, 0u, 0u, 0u, 0u, 0u, 0u})
        for (int k = 0; k < 4; k++)
            lying.push_back(uint8_t(v >> (8 * k)));
    const std::vector<std::pair<std::string, byte_list>> files = {
        {"empty", {}},
        {"700 bytes", byte_list(counting.begin(), counting.begin() + 700)},
        {"800 bytes", counting},
        {"text", {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e', '\n'}},
        {"header lies about its size", lying}};
    for (const auto &[label, bytes] : files)
        EXPECT_EQ(run_palette_body(bytes.data(), bytes.size()), "") << label;
}

// In a fresh directory holding a previous state file, an obstacle, then a
// save from a child process (dropping to nobody when asked, since root writes
// through any mode bits). Returns the state file afterwards.
byte_list save_past(const std::string &name, void (*place_obstacle)(const std::string &dir),
                    bool as_nobody)
{
    std::string dir = get_fuzz_work_dir() + "/" + name;
    fs::remove_all(dir);
    fs::create_directory(dir);
    byte_list previous = encode_le32(std::vector<int32_t>(36, 7));
    write_fuzz_file(dir + "/last_palshift.bin", previous.data(), previous.size());
    place_obstacle(dir);
    pid_t child = fork();
    if (child == 0) {
        if (chdir(dir.c_str()) != 0 || (as_nobody && (setgid(65534) != 0 || setuid(65534) != 0)))
            _exit(2);
        std::fill(std::begin(palshift_bg2), std::end(palshift_bg2), 40);
        std::fill(std::begin(palshift_pst), std::end(palshift_pst), 50);
        save_palshift_file();
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    chmod(dir.c_str(), 0755);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << name << ": the save did not finish";
    return read_whole(dir + "/last_palshift.bin");
}

TEST(HostileFiles, BlockedSavesKeepThePreviousStateFile)
{
    const byte_list previous = encode_le32(std::vector<int32_t>(36, 7));
    EXPECT_EQ(save_past("dir_at_temporary_name", [](const std::string &dir) {
                  fs::create_directories(dir + "/last_palshift.bin.tmp/inside");
              }, false), previous);
    EXPECT_EQ(save_past("read_only", [](const std::string &dir) { chmod(dir.c_str(), 0555); }, true),
              previous);

    // A stale link at the temporary name never carries the write elsewhere;
    // the save then goes through whole or not at all.
    std::string victim = get_fuzz_work_dir() + "/someone_elses_file";
    byte_list text = {'k', 'e', 'e', 'p', '\n'};
    write_fuzz_file(victim, text.data(), text.size());
    byte_list after = save_past("linked", [](const std::string &dir) {
        fs::create_symlink(get_fuzz_work_dir() + "/someone_elses_file", dir + "/last_palshift.bin.tmp");
    }, false);
    std::vector<int32_t> rows(28, 40);
    rows.resize(36, 50);
    EXPECT_TRUE(after == previous || after == encode_le32(rows));
    EXPECT_EQ(read_whole(victim), text);
}

} // namespace
