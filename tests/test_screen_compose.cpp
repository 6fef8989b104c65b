// Screen composition: the current frame alone, zoomed, centred and clipped in
// the preview, index 0 black, and the status and help lines below it.
#include "support/screen_fixture.h"

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

using ComposeTest = screen_test;

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
