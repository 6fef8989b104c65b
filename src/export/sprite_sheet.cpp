// Sprite sheet layout and its JSON description.
#include "export/sprite_sheet.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "gif/gif_compose.h"

bool plan_sprite_sheet(int frame_w, int frame_h, int count, sheet_layout &layout)
{
    layout = sheet_layout{};
    if (count < 1 || frame_w < 1 || frame_h < 1)
        return false;
    if (frame_w > SHEET_MAX_SIDE || frame_h > SHEET_MAX_SIDE)
        return false;
    int columns = SHEET_MAX_SIDE / frame_w;
    if (columns > count)
        columns = count;
    int rows = (count + columns - 1) / columns;
    if (rows > SHEET_MAX_SIDE / frame_h)
        return false;
    layout.frame_w = frame_w;
    layout.frame_h = frame_h;
    layout.count = count;
    layout.columns = columns;
    layout.rows = rows;
    layout.w = columns * frame_w;
    layout.h = rows * frame_h;
    return true;
}

int find_sheet_x(const sheet_layout &layout, int i)
{
    return i % layout.columns * layout.frame_w;
}

int find_sheet_y(const sheet_layout &layout, int i)
{
    return i / layout.columns * layout.frame_h;
}

// The zoom as a factor: 100 gives "1", 150 "1.5", 33 "0.33".
static std::string format_scale(int zoom)
{
    char text[32];
    snprintf(text, sizeof text, "%d", zoom / 100);
    std::string scale = text;
    if (zoom % 100 == 0)
        return scale;
    snprintf(text, sizeof text, ".%02d", zoom % 100);
    std::string fraction = text;
    if (fraction.back() == '0')
        fraction.pop_back();
    return scale + fraction;
}

std::string format_sheet_json(const sheet_layout &layout, const std::vector<int> &delays,
                              const std::string &base, const std::string &image, int zoom)
{
    nlohmann::ordered_json frames = nlohmann::ordered_json::array();
    for (int i = 0; i < layout.count; i++) {
        char number[16];
        snprintf(number, sizeof number, "_%03d", i);
        int x = find_sheet_x(layout, i);
        int y = find_sheet_y(layout, i);
        int delay = i < int(delays.size()) ? delays[size_t(i)] : 0;
        nlohmann::ordered_json rect = {
            {"x", x}, {"y", y}, {"w", layout.frame_w}, {"h", layout.frame_h}};
        nlohmann::ordered_json whole = {
            {"x", 0}, {"y", 0}, {"w", layout.frame_w}, {"h", layout.frame_h}};
        nlohmann::ordered_json size = {{"w", layout.frame_w}, {"h", layout.frame_h}};
        nlohmann::ordered_json frame;
        frame["filename"] = base + number;
        frame["frame"] = rect;
        frame["rotated"] = false;
        frame["trimmed"] = false;
        frame["spriteSourceSize"] = whole;
        frame["sourceSize"] = size;
        frame["duration"] = compute_gif_delay_ms(delay);
        frames.push_back(frame);
    }
    nlohmann::ordered_json meta;
    meta["image"] = image;
    meta["size"] = {{"w", layout.w}, {"h", layout.h}};
    meta["scale"] = format_scale(zoom);
    nlohmann::ordered_json sheet;
    sheet["frames"] = frames;
    sheet["meta"] = meta;
    return sheet.dump(1, '\t') + "\n";
}

bool begin_sheet_encoding(sheet_encoding &sheet, const sheet_layout &layout,
                          const uint8_t (*palette)[3], std::vector<uint8_t> &bytes)
{
    sheet.layout = layout;
    sheet.added = 0;
    sheet.band.assign(size_t(layout.w) * size_t(layout.frame_h), 0);
    return begin_png_encoding(sheet.png, layout.w, layout.h, palette, bytes);
}

// Codes the band's rows and clears it for the next row of frames.
static bool put_sheet_band(sheet_encoding &sheet)
{
    bool ok = true;
    size_t w = size_t(sheet.layout.w);
    for (int y = 0; y < sheet.layout.frame_h && ok; y++)
        ok = add_png_row(sheet.png, sheet.band.data() + size_t(y) * w);
    std::fill(sheet.band.begin(), sheet.band.end(), 0);
    return ok;
}

bool add_sheet_frame(sheet_encoding &sheet, const uint8_t *const *rows)
{
    const sheet_layout &layout = sheet.layout;
    if (sheet.added >= layout.count)
        return false;
    size_t x = size_t(find_sheet_x(layout, sheet.added));
    for (int y = 0; y < layout.frame_h; y++)
        std::memcpy(sheet.band.data() + size_t(y) * size_t(layout.w) + x, rows[y],
                    size_t(layout.frame_w));
    sheet.added++;
    bool band_full = sheet.added % layout.columns == 0 || sheet.added == layout.count;
    return !band_full || put_sheet_band(sheet);
}

bool finish_sheet_encoding(sheet_encoding &sheet)
{
    bool whole = sheet.added == sheet.layout.count;
    std::vector<uint8_t>().swap(sheet.band);
    return finish_png_encoding(sheet.png) && whole;
}
