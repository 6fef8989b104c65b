// Replays every input kept in fuzz/regressions/<target>/ through the body its
// fuzz target runs: each once crashed, leaked, hung or was crafted to hit a
// weak spot.
#include "fuzz/fuzz_bodies.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <vector>

TEST(FuzzRegressions, EveryKeptInputPassesItsTargetsChecks)
{
    const struct { const char *target; std::string (*body)(const uint8_t *, size_t); } targets[] = {
        {"gif", run_gif_body}, {"palshift", run_palshift_body}, {"palette", run_palette_body},
        {"lzw", run_lzw_body}};
    // The reader traces every load; keep that out of the test log.
    testing::internal::CaptureStdout();
    for (const auto &t : targets) {
        std::string dir = std::string(HUESMITH_SOURCE_DIR) + "/fuzz/regressions/" + t.target;
        int replayed = 0;
        for (const auto &entry : std::filesystem::directory_iterator(dir)) {
            std::ifstream in(entry.path(), std::ios::binary);
            std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
            EXPECT_EQ(t.body(bytes.data(), bytes.size()), "") << entry.path();
            replayed++;
        }
        EXPECT_GT(replayed, 0) << dir;
    }
    testing::internal::GetCapturedStdout();
}
