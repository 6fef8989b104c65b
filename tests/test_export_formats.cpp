// The program run as a user runs it, -export into a folder: the animated
// GIF, the indexed PNG frames and the sprite sheet hold exactly the BMP
// export's indices and palette, read back by giflib, libpng and the
// program's own reader.
#include "gif/gif_anim.h"
#include "support/checks.h"
#include "support/shell.h"

#include <gif_lib.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <functional>

namespace fs = std::filesystem;

namespace {

// What one run of the program left.
struct run_result {
    int status;
    std::string out, err;
};

byte_list read_file_bytes(const std::string &path)
{
    std::string text = read_file(path);
    return byte_list(text.begin(), text.end());
}

// The built program with these arguments, run from scratch, its standard
// error caught in a file there.
run_result run_program(const std::string &scratch, const std::vector<std::string> &args)
{
    std::string command = "sh -c '\"$0\" \"$@\" 2>stderr.txt' '";
    command += std::string(HUESMITH_BIN_DIR) + "/huesmith'";
    for (const std::string &arg : args)
        command += " '" + arg + "'";
    shell_run run = run_shell(scratch, command);
    return {run.status, run.output, read_file(scratch + "/stderr.txt")};
}

// An 8-bit BMP as the export writes it: indices top-down and the table.
struct bmp_frame {
    int w, h;
    byte_list pixels;
    std::vector<gif_rgb> palette;
};

uint32_t read_le32(const byte_list &bytes, size_t at)
{
    uint32_t value = 0;
    for (int k = 3; k >= 0; k--)
        value = value << 8 | bytes.at(at + size_t(k));
    return value;
}

bmp_frame read_bmp(const std::string &path)
{
    byte_list bytes = read_file_bytes(path);
    bmp_frame frame{};
    EXPECT_GT(bytes.size(), 1078u) << path;
    if (bytes.size() <= 1078)
        return frame;
    size_t data = read_le32(bytes, 10);
    size_t table = 14 + read_le32(bytes, 14);
    frame.w = int(read_le32(bytes, 18));
    frame.h = int(read_le32(bytes, 22));
    for (int c = 0; c < 256; c++) {
        size_t at = table + 4 * size_t(c);
        frame.palette.push_back({bytes.at(at + 2), bytes.at(at + 1), bytes.at(at)});
    }
    size_t stride = (size_t(frame.w) + 3) / 4 * 4;
    for (int y = 0; y < frame.h; y++) {
        size_t row = data + size_t(frame.h - 1 - y) * stride;
        frame.pixels.insert(frame.pixels.end(), bytes.begin() + long(row),
                            bytes.begin() + long(row) + frame.w);
    }
    return frame;
}

struct ExportFormats : ::testing::Test {
    std::string scratch = make_test_dir();
    void TearDown() override
    {
        fs::remove_all(scratch);
    }
    // The sample (its file and the option that picks its data set)
    // exported at zoom, in format ("" for BMP), into out.
    run_result run_export(const char *const *sample, const std::string &zoom,
                          const std::string &format, const std::string &out)
    {
        std::vector<std::string> args = {sample[0],       "-export",     "-quiet",
                                         "-zoom=" + zoom, "-out=" + out, sample[1]};
        if (!format.empty())
            args.push_back(format);
        return run_program(scratch, args);
    }
    // For both data sets' samples at zoom 100 and 250: the BMP export read
    // back, given to check with the sample and the zoom.
    void check_each_export(const std::function<void(const char *const *, const std::string &,
                                                    const std::vector<bmp_frame> &)> &check)
    {
        const char *const samples[][2] = {{"sample_bg2.gif", "-quiet"}, {"sample_pst.gif", "-pst"}};
        for (const auto &sample : samples)
            for (std::string zoom : {"100", "250"}) {
                SCOPED_TRACE(testing::Message() << sample[0] << " at " << zoom);
                std::string out = scratch + "/bmp" + sample[1] + zoom;
                run_result run = run_export(sample, zoom, "", out);
                EXPECT_EQ(run.status, 0) << run.out << run.err;
                std::vector<bmp_frame> bmps;
                for (int i = 0; fs::exists(out + "/frame00" + std::to_string(i) + ".bmp"); i++)
                    bmps.push_back(read_bmp(out + "/frame00" + std::to_string(i) + ".bmp"));
                ASSERT_FALSE(bmps.empty());
                check(sample, zoom, bmps);
            }
    }
};

// giflib and the program's reader both give the BMP export's indices, frame
// by frame, on its exact palette, with the source's delays and loop.
TEST_F(ExportFormats, AnimatedGifHoldsTheBmpExportsFrames)
{
    check_each_export([&](const char *const *sample, const std::string &zoom,
                          const std::vector<bmp_frame> &bmps) {
        std::string out = scratch + "/gif";
        run_result run = run_export(sample, zoom, "-gif", out);
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        std::string base = fs::path(sample[0]).stem().string();
        std::string gif_path = out + "/" + base + "_tinted.gif";
        EXPECT_EQ(run.out,
                  "exported " + std::to_string(bmps.size()) + " frames to <" + gif_path + ">\n");
        GifFileType *source =
            slurp_gif_bytes(read_file_bytes(std::string(HUESMITH_BIN_DIR) + "/" + sample[0]));
        GifFileType *file = slurp_gif_bytes(read_file_bytes(gif_path));
        ASSERT_TRUE(source && file);
        std::vector<int> delays = list_gif_delays(source);
        int loop_count = find_gif_loop_count(source);
        EXPECT_EQ(list_gif_delays(file), delays);
        EXPECT_EQ(find_gif_loop_count(file), loop_count);
        ASSERT_EQ(file->ImageCount, int(bmps.size()));
        std::vector<gif_rgb> table;
        for (int c = 0; c < file->SColorMap->ColorCount; c++) {
            const GifColorType &colour = file->SColorMap->Colors[c];
            table.push_back({colour.Red, colour.Green, colour.Blue});
        }
        EXPECT_EQ(table, bmps[0].palette);
        for (int i = 0; i < file->ImageCount; i++) {
            const SavedImage &image = file->SavedImages[i];
            byte_list pixels(image.RasterBits,
                             image.RasterBits + size_t(bmps[size_t(i)].pixels.size()));
            EXPECT_EQ(image.ImageDesc.Width, bmps[size_t(i)].w);
            EXPECT_EQ(pixels, bmps[size_t(i)].pixels) << "giflib, frame " << i;
        }
        int error = 0;
        DGifCloseFile(source, &error);
        DGifCloseFile(file, &error);
        gif_anim *anim = load_gif_bytes(read_file_bytes(gif_path));
        ASSERT_NE(anim, nullptr);
        ASSERT_EQ(anim->num_frames, int(bmps.size()));
        EXPECT_EQ(anim->loop_count, loop_count);
        for (int i = 0; i < anim->num_frames; i++) {
            EXPECT_EQ(read_frame_pixels(anim, i), bmps[size_t(i)].pixels) << "reader, frame " << i;
            EXPECT_EQ(anim->frames[i].delay, delays[size_t(i)]);
        }
        destroy_gif_anim(anim);
    });
}

// libpng gives the BMP export's indices in every PNG frame and in every
// rectangle of the sheet that its JSON names, on the exact palette with
// index 0 transparent.
TEST_F(ExportFormats, PngFramesAndSheetHoldTheBmpExportsFrames)
{
    check_each_export([&](const char *const *sample, const std::string &zoom,
                          const std::vector<bmp_frame> &bmps) {
        std::string out = scratch + "/png";
        for (const char *format : {"-png", "-sheet"}) {
            run_result run = run_export(sample, zoom, format, out);
            ASSERT_EQ(run.status, 0) << run.out << run.err;
        }
        for (size_t i = 0; i < bmps.size(); i++) {
            png_read png =
                read_png_bytes(read_file_bytes(out + "/frame00" + std::to_string(i) + ".png"));
            ASSERT_TRUE(png.ok) << i;
            EXPECT_EQ(png.palette, bmps[i].palette);
            EXPECT_EQ(png.alpha, byte_list{0});
            EXPECT_EQ(png.pixels, bmps[i].pixels) << "frame " << i;
        }
        std::string base = out + "/" + fs::path(sample[0]).stem().string() + "_sheet";
        png_read sheet = read_png_bytes(read_file_bytes(base + ".png"));
        ASSERT_TRUE(sheet.ok);
        EXPECT_EQ(sheet.palette, bmps[0].palette);
        EXPECT_EQ(sheet.alpha, byte_list{0});
        nlohmann::json json = nlohmann::json::parse(read_file(base + ".json"));
        EXPECT_EQ(json["meta"]["image"], fs::path(base).filename().string() + ".png");
        ASSERT_EQ(json["frames"].size(), bmps.size());
        for (size_t i = 0; i < bmps.size(); i++) {
            const nlohmann::json &rect = json["frames"][i]["frame"];
            int x = rect["x"];
            int y = rect["y"];
            ASSERT_EQ(rect["w"], bmps[i].w);
            ASSERT_EQ(rect["h"], bmps[i].h);
            byte_list cut;
            for (int r = 0; r < bmps[i].h; r++) {
                size_t at = size_t(y + r) * size_t(sheet.w) + size_t(x);
                cut.insert(cut.end(), sheet.pixels.begin() + long(at),
                           sheet.pixels.begin() + long(at) + bmps[i].w);
            }
            EXPECT_EQ(cut, bmps[i].pixels) << "sheet frame " << i;
        }
    });
}

} // namespace

namespace {

const std::string HINT = "hint : some frames are drawn over earlier ones and show alone; "
                         "-coalesce (or C in the window) shows them whole\n";

// A blinking sprite as an optimising encoder stores it, on colours of the
// first data set's palette: a whole first frame, then the eyes alone.
void write_blink_gif(const std::string &path)
{
    byte_list palette = read_file_bytes(std::string(HUESMITH_BIN_DIR) + "/pal_bg2.bin");
    std::vector<gif_rgb> table;
    for (int entry : {1, 2, 40, 41})
        table.push_back({palette[size_t(3 * entry)], palette[size_t(3 * entry + 1)],
                         palette[size_t(3 * entry + 2)]});
    byte_list gif = make_gif_screen(4, 3, table, 0);
    append_gce(gif, 1, -1, 20);
    append_gif_image(gif, 0, 0, 4, 3, {}, 2, {0, 2, 2, 0, 2, 1, 1, 2, 0, 2, 2, 0});
    append_gce(gif, 1, -1, 20);
    append_gif_image(gif, 1, 1, 2, 1, {}, 2, {3, 3});
    gif.push_back(0x3B);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(gif.data()), long(gif.size()));
}

// The hint goes to standard error alone, once, and not with -coalesce nor
// for frames that stand alone. Frame files numbered past the export's last
// are counted, and left alone.
TEST_F(ExportFormats, HintOnStandardErrorAndFramesLeftFromBefore)
{
    std::string blink = scratch + "/blink.gif";
    write_blink_gif(blink);
    std::string out = scratch + "/frames";
    fs::create_directories(out);
    for (const char *name :
         {"frame002.bmp", "frame010.bmp", "frame1000.bmp", "frame0009.bmp", "frame009.png"})
        std::ofstream(out + "/" + name) << name;
    run_result plain = run_program(scratch, {blink, "-export", "-quiet", "-out=" + out});
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.out, "exported 2 frames to <" + out +
                             ">\n"
                             "3 older frame files past frame001.bmp left as they were\n");
    EXPECT_EQ(plain.err, HINT);
    EXPECT_EQ(read_file(out + "/frame1000.bmp"), "frame1000.bmp");
    run_result whole =
        run_program(scratch, {blink, "-export", "-quiet", "-coalesce", "-png", "-out=" + out});
    EXPECT_EQ(whole.out, "exported 2 frames to <" + out +
                             ">\n"
                             "1 older frame file past frame001.png left as they were\n");
    EXPECT_EQ(whole.err, "");
    // The second frame whole: the body's entry 40 beside the eyes.
    EXPECT_EQ(read_png_bytes(read_file_bytes(out + "/frame001.png")).pixels.at(1), 40);
    run_result alone = run_program(scratch, {"sample_bg2.gif", "-export", "-quiet", "-out=" + out});
    EXPECT_EQ(alone.err, "");
}

// A GIF export whose file would be the animation itself, here through a
// link, is refused with one line, and the file stays as it was.
TEST_F(ExportFormats, GifNeverWritesOverTheAnimation)
{
    std::string out = scratch + "/out";
    fs::create_directories(out);
    std::string target = out + "/walk_tinted.gif";
    fs::copy_file(std::string(HUESMITH_BIN_DIR) + "/sample_bg2.gif", target);
    fs::create_symlink(target, scratch + "/walk.gif");
    byte_list before = read_file_bytes(target);
    run_result run =
        run_program(scratch, {scratch + "/walk.gif", "-export", "-quiet", "-gif", "-out=" + out});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "can't write <" + target + "> : it is the animation being read\n");
    EXPECT_EQ(read_file_bytes(target), before);
}

} // namespace
