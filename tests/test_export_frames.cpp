// Frame export: the library's files with the exact palette patched in, and files left alone.
#include "support/screen_fixture.h"

using ExportTest = screen_test;

// working_palette as a PCX colour table (red, green, blue) or a BMP one (blue, green, red, 0).
static std::vector<uint8_t> palette_bytes(bool pcx)
{
    std::vector<uint8_t> out;
    for (const uint8_t *rgb : working_palette)
        pcx ? out.insert(out.end(), rgb, rgb + 3) : out.insert(out.end(), {rgb[2], rgb[1], rgb[0], 0});
    return out;
}

// Frames past the screen, outside it or without a bitmap. S after Right and Shift-plus: the
// zoom steps first, the palette is the last pass's, the state file has the new row.
TEST_F(ExportTest, SaveKeyWritesTheLibrarysFilesWithTheExactPalette)
{
    std::mt19937 rng(4);
    for (auto [w, h] : {std::pair(37, 23), {64, 48}, {5, 300}})
        for (int zoom : {1, 33, 100, 150, 200, 250, -1, -33, -100, -150, -200, -250}) {
            int pcx = zoom < 0, fw = std::max(1, w * std::abs(zoom) / 100), fh = std::max(1, h * std::abs(zoom) / 100);
            SCOPED_TRACE(testing::Message() << w << " x " << h << " at " << zoom);
            make_anim(w, h, 4);
            for (auto [i, x, y, bw, bh] : {std::array{0, 0, 0, w, h}, {1, w / 2, h / 3, w, h}, {2, w + 1, 0, 4, 4}})
                for (int r = 0, made = add_frame(i, x, y, bw, bh, 0) != nullptr; made && r < bh; r++)
                    std::generate_n(frames[i].bmp->line[r], bw, [&] { return rng() % 4 ? rng() : 0; });
            std::tie(glb_zoom, glb_slot, palshift_bg2[2], pcx_flag) = std::make_tuple(std::abs(zoom) - 1, 2, 40, pcx);
            compose_screen(&anim, bg2, ".bmp");
            std::vector<uint8_t> table = palette_bytes(pcx);
            key[KEY_S] = key[KEY_RIGHT] = key[KEY_LSHIFT] = key[KEY_EQUALS] = 1;
            clear_to_color(glb_sprite_8bpp, 9);
            handle_keys(&anim, bg2);
            ASSERT_EQ(9, getpixel(glb_sprite_8bpp, w - 1, h - 1));
            ASSERT_EQ(read_bytes("last_palshift.bin").at(8), 41);
            BITMAP *lib = create_checked_bitmap(8, fw, fh);
            for (std::string i : {"0", "1", "2", "3"}) {
                std::string ours = "frame00" + i + (pcx ? ".pcx" : ".bmp"), theirs = "lib" + ours.substr(8);
                const gif_frame &frame = frames[std::stoi(i)];
                if (clear_to_color(glb_sprite_8bpp, 0), frame.bmp)
                    draw_sprite(glb_sprite_8bpp, frame.bmp, frame.pos.x, frame.pos.y);
                stretch_blit(glb_sprite_8bpp, lib, 0, 0, w, h, 0, 0, fw, fh);
                ASSERT_EQ(0, save_bitmap(theirs.c_str(), lib, display_palette));
                std::vector<uint8_t> expected = read_bytes(theirs);
                std::copy(table.begin(), table.end(), expected.end() - (pcx ? 768 : expected.size() - 54));
                ASSERT_EQ(read_bytes(ours), expected) << ours;
            }
            destroy_bitmap(lib);
        }
}

TEST_F(ExportTest, PatchesWriteAtTheTableOrLeaveOddFilesAlone)
{
    // The BMP info header size, where byte 12 goes, the table's offset (-1: leave the file alone).
    const struct { const char *name; size_t length; uint32_t header; int marker, patched; } cases[] = {
        {"v5.bmp", 14 + 124 + 1024, 124, -1, 138}, {"wide.bmp", 1078, 2000, -1, -1}, {"short.bmp", 1077, 40, -1, -1},
        {"core.bmp", 2000, 12, -1, -1}, {"wrap.bmp", 4096, 0xFFFFFFF0u, -1, -1}, {"tiny.bmp", 16, 0, -1, -1},
        {"ok.pcx", 1000, 0, 231, 232}, {"nomark.pcx", 1000, 0, -1, -1}, {"short.pcx", 768, 0, 0, -1}};
    for (const auto &c : cases) {
        bool pcx = std::string(c.name).back() == 'x';
        std::vector<uint8_t> bytes(c.length, 0xAB);
        for (int i = 0; i < 4 && c.length >= 18 && !pcx; i++)
            bytes[14 + i] = uint8_t(c.header >> (8 * i));
        if (c.marker >= 0)
            bytes[c.marker] = 12;
        std::ofstream(c.name).write(reinterpret_cast<const char *>(bytes.data()), c.length);
        testing::internal::CaptureStdout();
        pcx ? modify_pcx_palette(c.name) : modify_bmp_palette(c.name);
        std::string warning = std::string(pcx ? "modify_pcx" : "modify_bmp") + "_palette() warning : bad header in <";
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.patched >= 0 ? "" : warning + c.name + ">\n");
        if (c.patched >= 0)
            std::copy_n(palette_bytes(pcx).begin(), pcx ? 768 : 1024, bytes.begin() + c.patched);
        EXPECT_EQ(read_bytes(c.name), bytes) << c.name;
    }
}

// An unwritable file is not patched and stops nothing; S with too big a canvas still saves and waits.
TEST_F(ExportTest, UnwritableFrameIsSkippedAndTooBigACanvasWritesNothing)
{
    make_anim(6, 4, 2);
    ASSERT_EQ(mkdir("frame000.bmp", 0755), 0);
    testing::internal::CaptureStdout();
    save_all_frames(&anim, 100, 0);
    const std::string summary = " frames to <" + std::filesystem::current_path().string() + ">\n";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "can't save <frame000.bmp>\nexported 1" + summary);
    EXPECT_EQ(read_bytes("frame001.bmp").size(), 1078u + 8 * 4);
    std::tie(anim.w, anim.h, glb_zoom, key[KEY_S], key[KEY_RIGHT]) = std::make_tuple(30000, 30000, 1000, 1, 1);
    testing::internal::CaptureStdout();
    handle_keys(&anim, bg2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "can't create save_bmp 300000 * 300000\nexported 0" + summary);
    EXPECT_EQ(glb_status.note + "\n", "exported 0" + summary);
    for (bool shown : {true, false}) { // the same words below the zoom line, gone two seconds on
        compose_screen(&anim, bg2, ".bmp");
        int lit = 0;
        for (int y = 470; y < 490; y++)
            lit += std::count(glb_buffer->line[y], glb_buffer->line[y] + 4 * PREVIEW_W, 0) < 4 * PREVIEW_W;
        EXPECT_EQ(lit > 0, shown);
        glb_status.clock = glb_status.note_end;
    }
    EXPECT_EQ(std::make_pair(glb_test_releases, read_bytes("last_palshift.bin").at(0)), std::make_pair(std::vector<int>{KEY_S}, uint8_t(1)));
}
