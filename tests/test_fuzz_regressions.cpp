// Replays every input kept in fuzz/regressions/<target>/ through the same
// body its fuzz target runs: each once crashed, leaked, hung or was crafted
// to hit a weak spot.
#include "fuzz/fuzz_bodies.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using fuzz_body = std::string (*)(const uint8_t *, size_t);

void replay_regressions(const char *target, fuzz_body body)
{
    fs::path dir = fs::path(HUESMITH_SOURCE_DIR) / "fuzz" / "regressions" / target;
    ASSERT_TRUE(fs::is_directory(dir)) << dir;
    std::vector<fs::path> inputs;
    for (const auto &entry : fs::directory_iterator(dir))
        if (entry.is_regular_file())
            inputs.push_back(entry.path());
    std::sort(inputs.begin(), inputs.end());
    int saved = silence_stdout();
    for (const fs::path &input : inputs) {
        std::ifstream in(input, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
        std::string problem = body(bytes.data(), bytes.size());
        EXPECT_EQ(problem, "") << input.filename();
    }
    restore_stdout(saved);
}

TEST(FuzzRegressions, Gif) { replay_regressions("gif", run_gif_body); }
TEST(FuzzRegressions, Palshift) { replay_regressions("palshift", run_palshift_body); }
TEST(FuzzRegressions, Palette) { replay_regressions("palette", run_palette_body); }

} // namespace
