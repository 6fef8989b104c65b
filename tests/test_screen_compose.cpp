// Screen composition: the current frame alone, zoomed, centred and clipped in
// the preview, index 0 black, and the status and help lines below it.
#include "palette/gradients.h"
#include "support/library_reference.h"
#include "support/screen_fixture.h"

#include <random>

// Frame 1 (the one shown) sits at (fx, fy) on a w x h screen; a patterned
// frame holds (x + 2y) % 3, zeros included, a plain one index 2 only. Frame 0,
// all index 3, must never show. The preview should land at (dx, dy), dw x dh.
struct compose_case { int w, h, zoom, fx, fy, fw, fh, pattern, dx, dy, dw, dh; };

const compose_case compose_cases[] = {
    {300, 450, 100, 0, 0, 300, 450, 1, 0, 0, 300, 450}, // exact fit
    {303, 10, 100, 0, 0, 303, 10, 1, -1, 220, 303, 10}, // one column cut left, two right
    {51, 10, 100, 0, 0, 51, 10, 1, 124, 220, 51, 10},   // 124 black columns left, 125 right
    {10, 10, 100, 5, 5, 5, 5, 1, 145, 220, 10, 10},     // black outside the frame
    {5, 500, 10, 0, 0, 5, 500, 0, 150, 200, 0, 50},     // zero width: nothing drawn
    {5, 5, 10, 0, 0, 5, 5, 0, 150, 225, 0, 0},
    {300, 450, 1000, 0, 0, 300, 450, 0, -1350, -2025, 3000, 4500}, // clipped to the preview
};

using ComposeTest = screen_test;

// Screen colour at (px, py) of the preview: the frame's index through the
// library's 6-bit form of glb_palette, or black.
static int expected_preview(const compose_case &c, int px, int py)
{
    if (px < c.dx || px >= c.dx + c.dw || py < c.dy || py >= c.dy + c.dh)
        return 0;
    int x = (px - c.dx) * c.w / c.dw - c.fx, y = (py - c.dy) * c.h / c.dh - c.fy;
    int i = x < 0 || y < 0 || x >= c.fw || y >= c.fh ? 0 : c.pattern ? (x + 2 * y) % 3 : 2;
    const uint8_t *rgb = glb_palette[i];
    return i ? makecol32(_rgb_scale_6[rgb[0] >> 2], _rgb_scale_6[rgb[1] >> 2], _rgb_scale_6[rgb[2] >> 2]) : 0;
}

TEST_F(ComposeTest, PreviewShowsOnlyTheZoomedFrameAndTheTextStaysPut)
{
    // The text lines drawn by hand; the zoom line is redrawn for each case.
    BITMAP *text = create_bitmap_ex(32, PREVIEW_W, BUFFER_H);
    clear_to_color(text, 0);
    const struct { int x, y; const char *line; } lines[] = {
        {10, 490, "Up, Down           : Tint selection"}, {10, 500, "Left, Right        : Colormap on Tint"},
        {10, 510, "Page Up, Page Down : Frame"},          {10, 520, "+, -               : Zoom in, out"},
        {10, 540, "S                  : Save into .bmp"}, {10, 560, "Esc                : Quit"},
        {50, 450, "Frame : 1"}};
    for (const auto &l : lines)
        textout_ex(text, font, l.line, l.x, l.y, makecol32(255, 255, 255), -1);
    for (const compose_case &c : compose_cases) {
        SCOPED_TRACE(testing::Message() << c.w << " x " << c.h << " at " << c.zoom);
        make_anim(c.w, c.h, 2);
        add_frame(0, 0, 0, c.w, c.h, 3);
        BITMAP *shown = add_frame(1, c.fx, c.fy, c.fw, c.fh, 2);
        for (int y = 0; c.pattern && y < c.fh; y++)
            for (int x = 0; x < c.fw; x++)
                putpixel(shown, x, y, (x + 2 * y) % 3);
        std::tie(glb_frame, glb_zoom) = std::make_tuple(1, c.zoom);
        compose_screen(&anim, bg2);
        rectfill(text, 0, 460, PREVIEW_W - 1, 469, 0);
        textout_ex(text, font, ("Zoom  : " + std::to_string(c.zoom) + "%").c_str(), 50, 460, makecol32(255, 255, 255), -1);
        // Right of the preview only the rows above the panel and the strip are checked: black.
        for (int y = 0; y < BUFFER_H; y++)
            for (int x = 0; x < (y < 7 ? BUFFER_W : PREVIEW_W); x++)
                ASSERT_EQ(getpixel(glb_buffer, x, y),
                          x >= PREVIEW_W ? 0 : y < PREVIEW_H ? expected_preview(c, x, y) : getpixel(text, x, y))
                    << x << "," << y;
    }
    destroy_bitmap(text);
}

// Recreates the five bitmaps for a w x h animation at the colour depth,
// which becomes the current one, with a gradient strip of noise.
static void use_depth(int depth, int w, int h, std::mt19937 &rng)
{
    for (BITMAP **bmp : {&glb_sub_preview, &glb_buffer, &glb_cmap, &glb_sprite, &glb_sprite_8bpp})
        destroy_bitmap(*bmp), *bmp = nullptr;
    set_color_depth(depth);
    glb_buffer = create_checked_bitmap(depth, BUFFER_W, BUFFER_H);
    glb_sub_preview = create_sub_bitmap(glb_buffer, 0, 0, PREVIEW_W, PREVIEW_H);
    glb_cmap = create_checked_bitmap(depth, CMAP_W, CMAP_H);
    glb_sprite = create_checked_bitmap(depth, w, h);
    glb_sprite_8bpp = create_checked_bitmap(8, w, h);
    for (int y = 0; y < CMAP_H; y++)
        std::generate_n(glb_cmap->line[y], CMAP_W * ((depth + 7) / 8), std::ref(rng));
}

// Fills every row of the screen image with a byte that changes per row and pass.
static void fill_screen_noise(int pass)
{
    int bytes = (bitmap_color_depth(glb_buffer) + 7) / 8;
    for (int y = 0; y < BUFFER_H; y++)
        memset(glb_buffer->line[y], (pass * 37 + y) | 1, size_t(BUFFER_W * bytes));
}

// The rows compose_screen writes directly against the library's own drawing
// (support/library_reference) at every depth they handle: sprites smaller
// and larger than the preview, frames reaching past the logical screen,
// lying wholly outside it, without a bitmap, or out of range (zoom 999),
// over zooms 1 .. 1000. The screen image is noise before each pass, so
// whatever the clear leaves out must be drawn over; frame and zoom change
// every pass, so stale status lines show.
TEST_F(ComposeTest, RowDrawingMatchesTheLibraryAtEveryDepthAndZoom)
{
    // A w x h screen with its frame at (fx, fy), fw x fh; fw 0: no bitmap.
    const struct { int w, h, fx, fy, fw, fh; } cases[] = {
        {640, 480, 0, 0, 640, 480}, {300, 450, 0, 0, 300, 450}, {37, 23, 5, 3, 40, 30},
        {13, 61, 20, 70, 5, 5},     {1, 1, 0, 0, 1, 1},         {301, 7, 100, 2, 150, 3},
        {90, 200, 0, 0, 0, 0}};
    const int zooms[] = {1, 9, 33, 50, 99, 100, 101, 149, 250, 333, 999, 1000};
    std::mt19937 rng(3);
    for (auto &row : gradient_table)
        for (auto &cell : row)
            std::generate_n(cell, 3, std::ref(rng));
    BITMAP *fast = nullptr;
    int pass = 0;
    for (int depth : {32, 16, 15, 24, 8})
        for (const auto &c : cases) {
            make_anim(c.w, c.h, 1);
            use_depth(depth, c.w, c.h, rng);
            destroy_bitmap(fast);
            fast = create_checked_bitmap(depth, BUFFER_W, BUFFER_H);
            if (c.fw) {
                BITMAP *shown = add_frame(0, c.fx, c.fy, c.fw, c.fh, 0);
                for (int y = 0; y < c.fh; y++)
                    for (int x = 0; x < c.fw; x++)
                        shown->line[y][x] = rng() % 5 ? uint8_t(rng()) : 0;
            }
            for (int zoom : zooms) {
                SCOPED_TRACE(testing::Message() << "depth " << depth << ", " << c.w << " x " << c.h << " at " << zoom);
                std::tie(glb_frame, glb_zoom, glb_slot) = std::make_tuple(zoom == 999, zoom, zoom % 28);
                // The library's pass first: at 8 bits the panel's colours
                // come from the palette the pass before set.
                fill_screen_noise(pass++);
                compose_screen_by_library(&anim, bg2);
                fill_screen_noise(pass++);
                // The rows never touch glb_sprite: its mark shows they were taken.
                clear_to_color(glb_sprite, 5);
                glb_screen_dirty = true;
                compose_screen(&anim, bg2);
                ASSERT_EQ(5, getpixel(glb_sprite, glb_sprite->w - 1, glb_sprite->h - 1));
                blit(glb_buffer, fast, 0, 0, 0, 0, BUFFER_W, BUFFER_H);
                fill_screen_noise(pass++);
                compose_screen_by_library(&anim, bg2);
                int bytes = (depth + 7) / 8;
                for (int y = 0; y < BUFFER_H; y++)
                    for (int x = 0; x < BUFFER_W; x++)
                        ASSERT_EQ(0, memcmp(fast->line[y] + x * bytes, glb_buffer->line[y] + x * bytes, bytes))
                            << x << "," << y;
            }
        }
    destroy_bitmap(fast);
    set_color_depth(32);
}

// Each key marks what it changes, and the pass after it shows the whole
// state as the library would draw it afresh; a pass after no change draws
// nothing.
TEST_F(ComposeTest, KeysMarkWhatThePassRedraws)
{
    std::mt19937 rng(8);
    for (auto &row : gradient_table)
        for (auto &cell : row)
            std::generate_n(cell, 3, std::ref(rng));
    BITMAP *fast = nullptr;
    for (int depth : {32, 16})
        for (const data_set *set : {&bg2, &pst}) {
            make_anim(40, 30, 2);
            add_frame(1, 3, 4, 30, 20, 7);
            use_depth(depth, 40, 30, rng);
            destroy_bitmap(fast);
            fast = create_checked_bitmap(depth, BUFFER_W, BUFFER_H);
            std::tie(glb_frame, glb_zoom, glb_slot) = std::make_tuple(0, 250, 1);
            compose_screen(&anim, *set);
            for (int k : {0, +KEY_DOWN, +KEY_RIGHT, +KEY_PGDN, +KEY_MINUS, +KEY_LEFT, +KEY_UP, +KEY_PGUP, +KEY_EQUALS, 0}) {
                SCOPED_TRACE(testing::Message() << "depth " << depth << ", set " << set->id << ", key " << k);
                key[k] = 1;
                handle_keys(&anim, *set);
                key[k] = 0;
                // A pixel nothing draws on: a pass after no change keeps its mark.
                putpixel(glb_buffer, 799, 0, k == 0);
                compose_screen(&anim, *set);
                if (k == 0) {
                    ASSERT_EQ(1, getpixel(glb_buffer, 799, 0));
                    putpixel(glb_buffer, 799, 0, 0);
                    continue;
                }
                blit(glb_buffer, fast, 0, 0, 0, 0, BUFFER_W, BUFFER_H);
                compose_screen_by_library(&anim, *set);
                int bytes = (depth + 7) / 8;
                for (int y = 0; y < BUFFER_H; y++)
                    ASSERT_EQ(0, memcmp(fast->line[y], glb_buffer->line[y], size_t(BUFFER_W * bytes))) << "row " << y;
            }
        }
    destroy_bitmap(fast);
    set_color_depth(32);
}
