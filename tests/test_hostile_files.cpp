#include "palette/tint_slots.h"
#include "support/checks.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

// A stale link at the state file's temporary name is replaced, never
// written through.
TEST(HostileFiles, SaveReplacesALinkAtItsTemporaryName)
{
    std::string dir = get_fuzz_work_dir() + "/linked", victim = get_fuzz_work_dir() + "/someone_elses_file";
    std::filesystem::create_directory(dir);
    std::filesystem::create_symlink(victim, dir + "/last_palshift.bin.tmp");
    ASSERT_TRUE(write_fuzz_file(victim, reinterpret_cast<const uint8_t *>("keep"), 4));
    std::fill(std::begin(palshift_bg2), std::end(palshift_bg2), 40);
    std::fill(std::begin(palshift_pst), std::end(palshift_pst), 50);
    std::filesystem::path home = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    save_palshift_file();
    std::filesystem::current_path(home);
    std::ifstream in(dir + "/last_palshift.bin", std::ios::binary);
    std::vector<uint8_t> after((std::istreambuf_iterator<char>(in)), {}), saved(144, 0);
    for (int s = 0; s < BG2_SLOTS + PST_SLOTS; s++)
        saved[size_t(4 * s)] = s < BG2_SLOTS ? 40 : 50;
    EXPECT_EQ(after, saved);
    EXPECT_EQ(std::filesystem::file_size(victim), 4u);
}
