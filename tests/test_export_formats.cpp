// The program run with -export into a folder: what each format holds, read
// back by giflib, libpng and the program's own reader, against the BMP export.
#include "gif/gif_anim.h"
#include "support/checks.h"
#include "support/shell.h"

#include <gif_lib.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

byte_list read_file_bytes(const std::string &path)
{
    std::string text = read_file(path);
    return byte_list(text.begin(), text.end());
}

// The built program run from scratch with args: its status and standard
// error (standard output dropped).
shell_run run_program(const std::string &scratch, const std::string &args)
{
    std::string program = "'" HUESMITH_BIN_DIR "/huesmith' ";
    return run_shell(scratch, "sh -c '\"$0\" \"$@\" 2>&1 >/dev/null' " + program + args);
}

// An 8-bit BMP as the export writes it: width, indices top-down, table.
struct bmp_frame {
    int w;
    byte_list pixels;
    std::vector<gif_rgb> palette;
};

bmp_frame read_bmp(const std::string &path)
{
    byte_list bytes = read_file_bytes(path);
    bmp_frame frame{};
    frame.w = bytes.at(18) | bytes.at(19) << 8;
    int h = bytes.at(22) | bytes.at(23) << 8;
    for (int c = 0; c < 256; c++) {
        size_t at = 54 + 4 * size_t(c);
        frame.palette.push_back({bytes.at(at + 2), bytes.at(at + 1), bytes.at(at)});
    }
    size_t stride = (size_t(frame.w) + 3) / 4 * 4;
    for (int y = 0; y < h; y++) {
        auto row = bytes.begin() + long(1078 + size_t(h - 1 - y) * stride);
        frame.pixels.insert(frame.pixels.end(), row, row + frame.w);
    }
    return frame;
}

struct ExportFormats : ::testing::Test {
    std::string scratch = make_test_dir();
    void TearDown() override
    {
        fs::remove_all(scratch);
    }
};

// Both data sets' samples at zoom 100 and 250, exported as BMP, GIF, PNG and
// sheet: giflib and the program's reader give the BMP frames' indices with
// the source's delays and loop; every PNG frame, and every rectangle of the
// sheet its JSON names, holds them on the exact palette, index 0 transparent.
TEST_F(ExportFormats, EveryFormatHoldsTheBmpExportsFrames)
{
    const char *const samples[][2] = {{"sample_bg2.gif", "-quiet"}, {"sample_pst.gif", "-pst"}};
    for (const auto &sample : samples)
        for (std::string zoom : {"100", "250"}) {
            SCOPED_TRACE(testing::Message() << sample[0] << " at " << zoom);
            std::string out = scratch + "/" + sample[1] + zoom;
            std::string args = std::string(sample[0]) + " -export -quiet " + sample[1];
            args += " -zoom=" + zoom + " -out=" + out;
            for (const char *format : {"", " -gif", " -png", " -sheet"})
                ASSERT_EQ(run_program(scratch, args + format).status, 0) << format;
            std::vector<bmp_frame> bmps;
            for (int i = 0; fs::exists(out + "/frame00" + std::to_string(i) + ".bmp"); i++)
                bmps.push_back(read_bmp(out + "/frame00" + std::to_string(i) + ".bmp"));
            std::string base = out + "/" + fs::path(sample[0]).stem().string();
            byte_list source_bytes = read_file_bytes(HUESMITH_BIN_DIR "/" + std::string(sample[0]));
            GifFileType *source = slurp_gif_bytes(source_bytes);
            GifFileType *file = slurp_gif_bytes(read_file_bytes(base + "_tinted.gif"));
            ASSERT_TRUE(source && file);
            std::vector<int> delays = list_gif_delays(source);
            EXPECT_EQ(list_gif_delays(file), delays);
            ASSERT_EQ(file->ImageCount, int(bmps.size()));
            for (int c = 0; c < file->SColorMap->ColorCount; c++) {
                const GifColorType &colour = file->SColorMap->Colors[c];
                gif_rgb entry = {colour.Red, colour.Green, colour.Blue};
                EXPECT_EQ(entry, bmps.at(0).palette.at(size_t(c))) << "GIF entry " << c;
            }
            gif_anim *anim = load_gif_bytes(read_file_bytes(base + "_tinted.gif"));
            ASSERT_NE(anim, nullptr);
            ASSERT_EQ(anim->num_frames, int(bmps.size()));
            EXPECT_EQ(anim->loop_count, 0); // as the samples, for ever
            for (size_t i = 0; i < bmps.size(); i++) {
                const uint8_t *bits = file->SavedImages[i].RasterBits;
                byte_list giflib_pixels(bits, bits + bmps[i].pixels.size());
                EXPECT_EQ(giflib_pixels, bmps[i].pixels) << "giflib, frame " << i;
                EXPECT_EQ(read_frame_pixels(anim, int(i)), bmps[i].pixels) << "reader, " << i;
                EXPECT_EQ(anim->frames[i].delay, delays[i]);
                std::string png_path = out + "/frame00" + std::to_string(i) + ".png";
                png_read png = read_png_bytes(read_file_bytes(png_path));
                EXPECT_TRUE(png.ok) << "PNG frame " << i;
                EXPECT_EQ(png.palette, bmps[i].palette);
                EXPECT_EQ(png.alpha, byte_list{0});
                EXPECT_EQ(png.pixels, bmps[i].pixels) << "PNG frame " << i;
            }
            destroy_gif_anim(anim);
            DGifCloseFile(source, nullptr);
            DGifCloseFile(file, nullptr);
            png_read sheet = read_png_bytes(read_file_bytes(base + "_sheet.png"));
            ASSERT_TRUE(sheet.ok);
            EXPECT_EQ(sheet.palette, bmps[0].palette);
            EXPECT_EQ(sheet.alpha, byte_list{0});
            nlohmann::json json = nlohmann::json::parse(read_file(base + "_sheet.json"));
            ASSERT_EQ(json["frames"].size(), bmps.size());
            for (size_t i = 0; i < bmps.size(); i++) {
                const nlohmann::json &rect = json["frames"][i]["frame"];
                ASSERT_EQ(rect["w"], bmps[i].w);
                byte_list cut;
                for (int r = 0; r < rect["h"]; r++) {
                    int y = rect["y"].get<int>() + r;
                    auto at = sheet.pixels.begin() + long(y * sheet.w + rect["x"].get<int>());
                    cut.insert(cut.end(), at, at + bmps[i].w);
                }
                EXPECT_EQ(cut, bmps[i].pixels) << "sheet frame " << i;
            }
        }
}

// Frames drawn over earlier ones: the hint goes to standard error alone, and
// not with -coalesce nor for frames that stand alone.
TEST_F(ExportFormats, HintOnStandardErrorAlone)
{
    std::string make = "/usr/bin/python3 " HUESMITH_SOURCE_DIR "/tests/support/";
    ASSERT_EQ(run_shell(scratch, make + "make_optimised_gif.py optimised.gif").status, 0);
    std::string args = "optimised.gif -export -quiet -out=" + scratch + "/frames";
    EXPECT_EQ(run_program(scratch, args).output,
              "hint : some frames are drawn over earlier ones and show alone; "
              "-coalesce (or C in the window) shows them whole\n");
    EXPECT_EQ(run_program(scratch, args + " -coalesce").output, "");
    EXPECT_EQ(run_program(scratch, "sample_bg2.gif -export -quiet -out=frames").output, "");
}

// A GIF export whose file would be the animation itself, here through a
// link, is refused, and the file stays as it was.
TEST_F(ExportFormats, GifNeverWritesOverTheAnimation)
{
    std::string out = scratch + "/out";
    fs::create_directories(out);
    std::string target = out + "/walk_tinted.gif";
    fs::copy_file(HUESMITH_BIN_DIR "/sample_bg2.gif", target);
    fs::create_symlink(target, scratch + "/walk.gif");
    byte_list before = read_file_bytes(target);
    EXPECT_EQ(run_program(scratch, "walk.gif -export -quiet -gif -out=" + out).status, 1);
    EXPECT_EQ(read_file_bytes(target), before);
}

} // namespace
