// Data generator: writes the two palettes, the two gradient bitmaps and the
// sample animations into the directory given on the command line. Every
// colour is computed here, deterministically, so a build always ships the
// same bytes.
#include "common/checked_bitmap.h"
#include "gif_write.h"

#include <allegro.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using rgb = gif_rgb;

// ---------------------------------------------------------------- colours

// A dark-to-light ramp of one hue family: hue in degrees, HSL saturation and
// the lightness of the darkest and lightest entry.
struct ramp_style {
    double hue, sat, light_lo, light_hi;
};

rgb convert_hsl(double hue, double sat, double light)
{
    hue = std::fmod(std::fmod(hue, 360.0) + 360.0, 360.0);
    double c = (1.0 - std::fabs(2.0 * light - 1.0)) * sat;
    double x = c * (1.0 - std::fabs(std::fmod(hue / 60.0, 2.0) - 1.0));
    double m = light - c / 2.0;
    // In each 60-degree sector of hue, the channel that takes c and the one
    // that takes x (red 0, green 1, blue 2); the third stays 0.
    static const int c_channel[6] = {0, 1, 1, 2, 2, 0};
    static const int x_channel[6] = {1, 0, 2, 1, 0, 2};
    int sector = std::min(static_cast<int>(hue / 60.0), 5);
    double channels[3] = {0, 0, 0};
    channels[c_channel[sector]] = c;
    channels[x_channel[sector]] = x;
    double r = channels[0];
    double g = channels[1];
    double b = channels[2];
    auto to_byte = [m](double v) {
        return static_cast<uint8_t>(std::clamp(std::lround((v + m) * 255.0), 0L, 255L));
    };
    return {to_byte(r), to_byte(g), to_byte(b)};
}

// Entry i of an n-entry ramp. Lights drift towards yellow and lose a little
// saturation, darks drift away from it, as painted shading does.
rgb compute_ramp_colour(const ramp_style &style, int i, int n)
{
    double t = n > 1 ? static_cast<double>(i) / (n - 1) : 0.5;
    double to_yellow = std::fmod(60.0 - style.hue + 540.0, 360.0) - 180.0;
    double drift = std::clamp(to_yellow, -12.0, 12.0) * (t - 0.5) * 2.0;
    double sat = style.sat * (1.0 - 0.25 * t);
    double light = style.light_lo + (style.light_hi - style.light_lo) * t;
    return convert_hsl(style.hue + drift, sat, light);
}

void fill_ramp(std::vector<rgb> &pal, int first, int n, const ramp_style &style)
{
    for (int i = 0; i < n; i++)
        pal[first + i] = compute_ramp_colour(style, i, n);
}

// The tool maps each colour to its first match, so every entry must differ:
// an entry equal to an earlier one is nudged in blue until it is unique.
void make_colours_distinct(std::vector<rgb> &pal)
{
    for (size_t i = 1; i < pal.size(); i++) {
        int step = pal[i][2] < 128 ? 1 : -1;
        while (std::find(pal.begin(), pal.begin() + i, pal[i]) != pal.begin() + i)
            pal[i][2] = static_cast<uint8_t>(pal[i][2] + step);
    }
}

// The tool turns a colour found at entry 0 or 1 into index 0, the
// transparent background of the preview and of every exported frame. So
// both entries hold key colours that no sprite draws with: entry 1 is the
// background the samples are drawn on, entry 0 a second key that nothing
// uses. Black, which outlines need, has an entry of its own.
const rgb SPARE_KEY = {0, 255, 0};
const rgb BACKGROUND = {255, 0, 255};
const rgb BLACK = {0, 0, 0};
const rgb HIGHLIGHT = {246, 244, 232};

// Entries 0 .. 3, the same in both palettes.
void fill_fixed_entries(std::vector<rgb> &pal)
{
    pal[0] = SPARE_KEY;
    pal[1] = BACKGROUND;
    pal[2] = BLACK;
    pal[3] = HIGHLIGHT;
}

// ---------------------------------------------------------------- gradients

// Gradient rows: skin tones, hair colours, neutrals, metals and leathers,
// then the hue wheel at three strengths and, with room to spare, pastels.
std::vector<ramp_style> list_gradient_styles(int hues, int pastels, int per_family)
{
    const ramp_style skins[10] = {
        {28, 0.60, 0.30, 0.95}, {24, 0.55, 0.22, 0.90}, {22, 0.50, 0.18, 0.84},
        {26, 0.45, 0.14, 0.76}, {20, 0.45, 0.08, 0.62}, {18, 0.40, 0.05, 0.50},
        {34, 0.55, 0.22, 0.88}, {14, 0.50, 0.20, 0.86}, {30, 0.35, 0.12, 0.70},
        {10, 0.45, 0.10, 0.66}};
    const ramp_style hairs[10] = {
        {28, 0.45, 0.08, 0.62}, {24, 0.35, 0.04, 0.45}, {40, 0.60, 0.25, 0.85},
        {16, 0.70, 0.12, 0.62}, {30, 0.25, 0.06, 0.52}, {48, 0.55, 0.35, 0.92},
        {8, 0.55, 0.10, 0.58}, {220, 0.12, 0.04, 0.40}, {36, 0.15, 0.30, 0.92},
        {20, 0.50, 0.14, 0.70}};
    std::vector<ramp_style> styles(skins, skins + per_family);
    styles.insert(styles.end(), hairs, hairs + per_family);
    const ramp_style others[] = {
        {0, 0.0, 0.04, 0.98},   {0, 0.0, 0.18, 0.75},   {30, 0.10, 0.08, 0.90},
        {220, 0.10, 0.08, 0.90}, {90, 0.08, 0.10, 0.85}, {280, 0.08, 0.08, 0.85},
        {210, 0.12, 0.16, 0.95}, {0, 0.0, 0.25, 1.00},   {44, 0.78, 0.16, 0.84},
        {30, 0.60, 0.12, 0.78}, {18, 0.68, 0.14, 0.76}, {200, 0.20, 0.06, 0.60},
        {20, 0.40, 0.06, 0.50}, {32, 0.45, 0.20, 0.76}, {36, 0.30, 0.10, 0.66}};
    styles.insert(styles.end(), std::begin(others), std::end(others));
    for (int strength = 0; strength < 3; strength++)
        for (int h = 0; h < hues; h++) {
            double hue = h * 360.0 / hues;
            if (strength == 0)
                styles.push_back({hue, 0.85, 0.10, 0.86});
            else if (strength == 1)
                styles.push_back({hue, 0.40, 0.10, 0.84});
            else
                styles.push_back({hue, 0.70, 0.04, 0.50});
        }
    for (int p = 0; p < pastels; p++)
        styles.push_back({p * 360.0 / pastels, 0.65, 0.50, 0.97});
    return styles;
}

// ---------------------------------------------------------------- palettes

// Each tint slot's entries are drawn with one gradient row, taken at the
// columns the tool's palette composition takes for that slot: choosing
// that row for the slot shows the sprite exactly as drawn.
struct slot_range {
    int first, colours; // palette entries
    int row;            // the gradient row they are drawn with
};

constexpr int BG2_COLUMNS = 12;
constexpr int PST_COLUMNS = 32;

// bg2: A1 skin, A2 hair, A3 red, A4 blue, A5 green cloth, A6 steel,
// A7 gold; B1 dark and B2 tan leather; B3 .. B21 the vivid hues.
std::vector<slot_range> list_bg2_slots()
{
    const int a_rows[7] = {1, 10, 35, 74, 67, 26, 28};
    std::vector<slot_range> slots;
    for (int i = 0; i < 7; i++)
        slots.push_back({4 + 12 * i, 12, a_rows[i]});
    slots.push_back({88, 8, 32});
    slots.push_back({96, 8, 33});
    for (int j = 0; j < 19; j++)
        slots.push_back({104 + 8 * j, 8, 36 + j});
    return slots;
}

// pst: A1 skin, A2 hair, A3 red, A4 blue cloth; B1 dark and B2 tan
// leather, B3 steel, B4 gold.
std::vector<slot_range> list_pst_slots()
{
    return {{16, 16, 1},   {32, 16, 8},   {64, 16, 31},  {80, 16, 57},
            {128, 32, 28}, {160, 32, 29}, {192, 32, 22}, {224, 32, 24}};
}

std::vector<ramp_style> list_bg2_gradients()
{
    return list_gradient_styles(24, 9, 10);
}

std::vector<ramp_style> list_pst_gradients()
{
    return list_gradient_styles(16, 0, 8);
}

// Each slot's entries from its row, column c * columns / colours for entry c.
void fill_slots(std::vector<rgb> &pal, const std::vector<slot_range> &slots,
                const std::vector<ramp_style> &rows, int columns)
{
    for (const slot_range &slot : slots)
        for (int c = 0; c < slot.colours; c++)
            pal[slot.first + c] =
                compute_ramp_colour(rows[slot.row], c * columns / slot.colours, columns);
}

// True when every slot still holds its row's colours (no entry had to be
// nudged away from an earlier equal one).
bool check_slots_drawn(const std::vector<rgb> &pal, const std::vector<slot_range> &slots,
                       const std::vector<ramp_style> &rows, int columns)
{
    std::vector<rgb> expected = pal;
    fill_slots(expected, slots, rows, columns);
    return expected == pal;
}

std::vector<rgb> build_bg2_palette()
{
    std::vector<rgb> pal(256);
    fill_fixed_entries(pal);
    fill_slots(pal, list_bg2_slots(), list_bg2_gradients(), BG2_COLUMNS);
    make_colours_distinct(pal);
    return pal;
}

std::vector<rgb> build_pst_palette()
{
    std::vector<rgb> pal(256);
    fill_fixed_entries(pal);
    fill_ramp(pal, 4, 12, {0, 0.0, 0.10, 0.92});     // fixed greys
    fill_ramp(pal, 48, 16, {30, 0.32, 0.10, 0.70});  // fixed wood
    fill_ramp(pal, 96, 16, {130, 0.42, 0.10, 0.75}); // fixed foliage
    fill_ramp(pal, 112, 16, {40, 0.08, 0.14, 0.86}); // fixed stone
    fill_slots(pal, list_pst_slots(), list_pst_gradients(), PST_COLUMNS);
    make_colours_distinct(pal);
    return pal;
}

// The selection state file with every slot on the row it is drawn with:
// bg2's 28 rows, then pst's 8, 32-bit little-endian.
bool write_drawn_state(const std::string &path)
{
    std::vector<uint8_t> bytes;
    for (const std::vector<slot_range> &slots : {list_bg2_slots(), list_pst_slots()})
        for (const slot_range &slot : slots)
            for (int k = 0; k < 4; k++)
                bytes.push_back(static_cast<uint8_t>(static_cast<uint32_t>(slot.row) >> (8 * k)));
    FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

// One gradient per pixel row, one colour per column, as a 24-bit BMP.
bool write_gradient_bitmap(const std::string &path, const std::vector<ramp_style> &styles,
                           int columns)
{
    int rows = static_cast<int>(styles.size());
    BITMAP *bmp = create_checked_bitmap(24, columns, rows);
    if (!bmp)
        return false;
    for (int r = 0; r < rows; r++)
        for (int c = 0; c < columns; c++) {
            rgb col = compute_ramp_colour(styles[r], c, columns);
            putpixel(bmp, c, r, makecol_depth(24, col[0], col[1], col[2]));
        }
    bool ok = save_bitmap(path.c_str(), bmp, nullptr) == 0;
    destroy_bitmap(bmp);
    return ok;
}

// ---------------------------------------------------------------- figure

constexpr int FIGURE_W = 80;
constexpr int FIGURE_H = 112;
constexpr int FIGURE_FRAMES = 8;
constexpr int FRAME_DELAY = 10;
constexpr double PI = 3.14159265358979323846;

using shade4 = std::array<uint8_t, 4>; // palette entries, dark to light

// Palette entries of each body region, and the fixed ones.
struct figure_colours {
    uint8_t background, outline, eye;
    shade4 skin, hair, shirt, trousers, shoes, belt, blade, hilt;
};

struct canvas {
    int w, h;
    std::vector<uint8_t> px; // palette entries
};

struct vec2 {
    double x, y;
};

// Four shades spread over a slot of n entries starting at first; lift moves
// them towards the light end.
shade4 pick_shades(int first, int n, double lift = 0.0)
{
    shade4 s;
    const double at[4] = {0.22, 0.45, 0.66, 0.86};
    for (int i = 0; i < 4; i++) {
        double pos = std::min(at[i] + lift * (1.0 - at[i]), 0.999);
        s[i] = static_cast<uint8_t>(first + static_cast<int>(pos * n));
    }
    return s;
}

// Light falls from the upper left; lit is in -1 (away) .. 1 (towards it).
uint8_t choose_shade(const shade4 *shades, double lit, int depth)
{
    int level = static_cast<int>(std::floor((lit + 1.0) * 2.0 + 0.25)) - depth;
    return (*shades)[std::clamp(level, 0, 3)];
}

double light_facing(double ox, double oy)
{
    return ox * -0.6 + oy * -0.8;
}

void plot(canvas &c, int x, int y, uint8_t v)
{
    if (x >= 0 && y >= 0 && x < c.w && y < c.h)
        c.px[static_cast<size_t>(y) * c.w + x] = v;
}

// Pixels within r of segment a-b; shaded across the segment when shades is
// given, else filled with flat.
void fill_capsule(canvas &c, vec2 a, vec2 b, double r, const shade4 *shades, uint8_t flat,
                  int depth = 0)
{
    double dx = b.x - a.x, dy = b.y - a.y;
    double len2 = dx * dx + dy * dy;
    int x0 = static_cast<int>(std::floor(std::min(a.x, b.x) - r));
    int x1 = static_cast<int>(std::ceil(std::max(a.x, b.x) + r));
    int y0 = static_cast<int>(std::floor(std::min(a.y, b.y) - r));
    int y1 = static_cast<int>(std::ceil(std::max(a.y, b.y) + r));
    for (int y = y0; y <= y1; y++)
        for (int x = x0; x <= x1; x++) {
            double px = x + 0.5, py = y + 0.5;
            double t = len2 > 0 ? ((px - a.x) * dx + (py - a.y) * dy) / len2 : 0;
            t = std::clamp(t, 0.0, 1.0);
            double ox = px - (a.x + t * dx), oy = py - (a.y + t * dy);
            if (ox * ox + oy * oy > r * r)
                continue;
            plot(c, x, y, shades ? choose_shade(shades, light_facing(ox, oy) / r, depth) : flat);
        }
}

void fill_ellipse(canvas &c, vec2 o, double rx, double ry, const shade4 *shades, uint8_t flat,
                  int depth = 0)
{
    for (int y = static_cast<int>(o.y - ry) - 1; y <= static_cast<int>(o.y + ry) + 1; y++)
        for (int x = static_cast<int>(o.x - rx) - 1; x <= static_cast<int>(o.x + rx) + 1; x++) {
            double nx = (x + 0.5 - o.x) / rx, ny = (y + 0.5 - o.y) / ry;
            if (nx * nx + ny * ny > 1.0)
                continue;
            plot(c, x, y, shades ? choose_shade(shades, light_facing(nx, ny), depth) : flat);
        }
}

vec2 step_from(vec2 p, double angle_deg, double len)
{
    // Angles are measured from straight down, positive towards the front (+x).
    double a = angle_deg * PI / 180.0;
    return {p.x + len * std::sin(a), p.y + len * std::cos(a)};
}

void draw_leg(canvas &c, const figure_colours &fc, vec2 hip, double thigh, double bend, int depth)
{
    vec2 knee = step_from(hip, thigh, 14);
    vec2 ankle = step_from(knee, thigh - bend, 14);
    vec2 toe = {ankle.x + 4, ankle.y + 2};
    fill_capsule(c, hip, knee, 5.5, nullptr, fc.outline);
    fill_capsule(c, knee, ankle, 5.0, nullptr, fc.outline);
    fill_ellipse(c, toe, 7, 4.5, nullptr, fc.outline);
    fill_capsule(c, hip, knee, 4.5, &fc.trousers, 0, depth);
    fill_capsule(c, knee, ankle, 4.0, &fc.trousers, 0, depth);
    fill_ellipse(c, toe, 6, 3.5, &fc.shoes, 0, depth);
}

// Returns the hand position and the forearm angle, for a held object.
vec2 draw_arm(canvas &c, const figure_colours &fc, vec2 shoulder, double upper, double bend,
              int depth)
{
    vec2 elbow = step_from(shoulder, upper, 11);
    vec2 hand = step_from(elbow, upper + bend, 10);
    fill_capsule(c, shoulder, elbow, 4.5, nullptr, fc.outline);
    fill_capsule(c, elbow, hand, 3.5, nullptr, fc.outline);
    fill_ellipse(c, hand, 4.5, 4.5, nullptr, fc.outline);
    fill_capsule(c, shoulder, elbow, 3.5, &fc.shirt, 0, depth);
    fill_capsule(c, elbow, hand, 2.5, &fc.skin, 0, depth);
    fill_ellipse(c, hand, 3.5, 3.5, &fc.skin, 0, depth);
    return hand;
}

// A short sword held in the hand, blade angled forward and down.
void draw_sword(canvas &c, const figure_colours &fc, vec2 hand, double angle)
{
    vec2 tip = step_from(hand, angle, 26);
    vec2 pommel = step_from(hand, angle, -5);
    vec2 guard_a = step_from(hand, angle + 90, 5), guard_b = step_from(hand, angle - 90, 5);
    vec2 guard_mid = step_from(hand, angle, 3.5);
    guard_a = step_from(guard_a, angle, 3.5);
    guard_b = step_from(guard_b, angle, 3.5);
    fill_capsule(c, guard_mid, tip, 2.6, nullptr, fc.outline);
    fill_capsule(c, guard_a, guard_b, 2.4, nullptr, fc.outline);
    fill_ellipse(c, pommel, 3, 3, nullptr, fc.outline);
    fill_capsule(c, guard_mid, tip, 1.6, &fc.blade, 0);
    fill_capsule(c, guard_a, guard_b, 1.4, &fc.hilt, 0);
    fill_ellipse(c, pommel, 2, 2, &fc.hilt, 0);
    fill_ellipse(c, hand, 3.2, 3.2, &fc.skin, 0);
}

void draw_head(canvas &c, const figure_colours &fc, vec2 o)
{
    const double r = 13;
    fill_ellipse(c, {o.x - 1, o.y - 2}, r + 2.5, r + 1.5, nullptr, fc.outline);
    fill_ellipse(c, o, r, r, &fc.skin, 0);
    // Hair: a cap over the crown and the back of the head, a fringe in front.
    for (int y = static_cast<int>(o.y - r - 3); y <= static_cast<int>(o.y + r); y++)
        for (int x = static_cast<int>(o.x - r - 3); x <= static_cast<int>(o.x + r + 1); x++) {
            double nx = (x + 0.5 - (o.x - 1)) / (r + 1.5), ny = (y + 0.5 - (o.y - 2)) / (r + 0.5);
            if (nx * nx + ny * ny > 1.0)
                continue;
            double rel_x = x + 0.5 - o.x, rel_y = y + 0.5 - o.y;
            bool crown = rel_y < -3 - 0.25 * rel_x;
            bool back = rel_x < -7 && rel_y < 7;
            if (crown || back)
                plot(c, x, y, choose_shade(&fc.hair, light_facing(nx, ny), 0));
        }
    // Ear, eye and mouth.
    fill_ellipse(c, {o.x - 5, o.y + 3}, 3.0, 4.0, nullptr, fc.outline);
    fill_ellipse(c, {o.x - 5, o.y + 3}, 2.0, 3.0, &fc.skin, 0);
    int ex = static_cast<int>(o.x + 6), ey = static_cast<int>(o.y);
    for (int dy = -2; dy <= 2; dy++)
        for (int dx = -1; dx <= 1; dx++)
            plot(c, ex + dx, ey + dy, fc.outline);
    plot(c, ex, ey - 1, fc.eye);
    plot(c, ex, ey, fc.eye);
    for (int dx = 2; dx <= 5; dx++)
        plot(c, static_cast<int>(o.x) + dx, ey + 7, fc.outline);
}

// One frame of the walk cycle at phase 0 .. 1.
canvas draw_figure(const figure_colours &fc, double phase)
{
    canvas c{FIGURE_W, FIGURE_H, std::vector<uint8_t>(FIGURE_W * FIGURE_H, fc.background)};
    double p = 2 * PI * phase;
    double swing = 26 * std::sin(p);
    int bob = static_cast<int>(std::lround(2 * std::sin(p) * std::sin(p)));
    vec2 hip = {38, 72.0 + bob};
    vec2 neck = {39, 50.0 + bob};
    vec2 shoulder = {39, 53.0 + bob};

    // Far side first, one shade darker, then the body, then the near side.
    draw_arm(c, fc, {shoulder.x + 1, shoulder.y}, swing * 0.9, 25, 1);
    draw_leg(c, fc, {hip.x + 1, hip.y}, -swing, 40 * std::max(0.0, -std::cos(p)), 1);

    fill_capsule(c, {neck.x, neck.y + 6}, {hip.x, hip.y - 6}, 11, nullptr, fc.outline);
    fill_capsule(c, {neck.x, neck.y + 6}, {hip.x, hip.y - 6}, 10, &fc.shirt, 0);
    fill_capsule(c, {hip.x - 9.5, hip.y - 4}, {hip.x + 9.5, hip.y - 4}, 3.2, nullptr, fc.outline);
    fill_capsule(c, {hip.x - 9.5, hip.y - 4}, {hip.x + 9.5, hip.y - 4}, 2.2, &fc.belt, 0);
    fill_capsule(c, {hip.x + 2, hip.y - 5}, {hip.x + 4, hip.y - 5}, 2.0, &fc.hilt, 0);

    draw_leg(c, fc, hip, swing, 40 * std::max(0.0, std::cos(p)), 0);
    draw_head(c, fc, {41, 33.0 + bob});
    vec2 hand = draw_arm(c, fc, shoulder, -swing * 0.9, 25, 0);
    draw_sword(c, fc, hand, -swing * 0.9 + 25 + 45);
    return c;
}

// ---------------------------------------------------------------- samples

// The GIF's own colour table: the colours the figure uses, highest palette
// entry first after the background, then other palette colours up to a
// power-of-two size. Every entry is some colour of the palette.
std::vector<int> choose_table_entries(const std::vector<canvas> &frames, int size, int rotate)
{
    std::vector<bool> used(256, false);
    for (const canvas &c : frames)
        for (uint8_t v : c.px)
            used[v] = true;
    std::vector<int> entries = {1};
    for (int e = 255; e >= 2; e--)
        if (used[e])
            entries.push_back(e);
    std::rotate(entries.begin() + 1, entries.begin() + 1 + rotate % (entries.size() - 1),
                entries.end());
    for (int e = 4; e < 256 && static_cast<int>(entries.size()) < size; e++)
        if (!used[e])
            entries.push_back(e);
    return entries;
}

std::vector<rgb> list_table_colours(const std::vector<int> &entries, const std::vector<rgb> &pal)
{
    std::vector<rgb> table;
    for (int e : entries)
        table.push_back(pal[e]);
    return table;
}

// Palette entries of a canvas rewritten as indices of a colour table.
std::vector<uint8_t> index_canvas(const canvas &c, const std::vector<int> &entries)
{
    std::vector<uint8_t> to_index(256, 0);
    for (size_t i = 0; i < entries.size(); i++)
        to_index[entries[i]] = static_cast<uint8_t>(i);
    std::vector<uint8_t> out(c.px.size());
    for (size_t i = 0; i < c.px.size(); i++)
        out[i] = to_index[c.px[i]];
    return out;
}

std::vector<canvas> draw_walk_cycle(const figure_colours &fc)
{
    std::vector<canvas> frames;
    for (int f = 0; f < FIGURE_FRAMES; f++)
        frames.push_back(draw_figure(fc, static_cast<double>(f) / FIGURE_FRAMES));
    return frames;
}

figure_colours choose_bg2_colours()
{
    figure_colours fc;
    fc.background = 1;
    fc.outline = 2;
    fc.eye = 3;
    fc.skin = pick_shades(4, 12, 0.3);      // A1
    fc.hair = pick_shades(16, 12);     // A2
    fc.shirt = pick_shades(28, 12);    // A3
    fc.trousers = pick_shades(40, 12); // A4
    fc.blade = pick_shades(64, 12);    // A6
    fc.hilt = pick_shades(76, 12);     // A7
    fc.shoes = pick_shades(88, 8);     // B1
    fc.belt = pick_shades(96, 8);      // B2
    return fc;
}

figure_colours choose_pst_colours()
{
    figure_colours fc;
    fc.background = 1;
    fc.outline = 2;
    fc.eye = 3;
    fc.skin = pick_shades(16, 16, 0.3);     // A1
    fc.hair = pick_shades(32, 16);     // A2
    fc.shirt = pick_shades(64, 16);    // A3
    fc.trousers = pick_shades(80, 16); // A4
    fc.shoes = pick_shades(128, 32);   // B1
    fc.belt = pick_shades(160, 32);    // B2
    fc.blade = pick_shades(192, 32);   // B3
    fc.hilt = pick_shades(224, 32);    // B4
    return fc;
}

// The walk cycle with one global table and sub-rectangle frames.
bool write_sample(const std::string &path, const figure_colours &fc, const std::vector<rgb> &pal)
{
    std::vector<canvas> cycle = draw_walk_cycle(fc);
    std::vector<int> entries = choose_table_entries(cycle, 64, 5);
    std::vector<std::vector<uint8_t>> canvases;
    for (const canvas &c : cycle)
        canvases.push_back(index_canvas(c, entries));
    std::vector<gif_out_frame> frames = crop_gif_frames(canvases, FIGURE_W, FIGURE_H, FRAME_DELAY);
    return write_gif_file(path.c_str(), FIGURE_W, FIGURE_H, list_table_colours(entries, pal),
                          frames);
}

// The same walk with every frame interlaced and every odd frame carrying a
// local table of its own order (and size), for the reader's other paths.
bool write_interlaced_sample(const std::string &path, const figure_colours &fc,
                             const std::vector<rgb> &pal)
{
    std::vector<canvas> cycle = draw_walk_cycle(fc);
    std::vector<int> global_entries = choose_table_entries(cycle, 64, 0);
    std::vector<int> local_entries = choose_table_entries(cycle, 128, 11);
    std::vector<gif_out_frame> frames;
    for (size_t f = 0; f < cycle.size(); f++) {
        bool local = f % 2 == 1;
        gif_out_frame frame{0, 0, FIGURE_W, FIGURE_H, {}, FRAME_DELAY, true, {}};
        frame.pixels = index_canvas(cycle[f], local ? local_entries : global_entries);
        if (local)
            frame.local_table = list_table_colours(local_entries, pal);
        frames.push_back(frame);
    }
    return write_gif_file(path.c_str(), FIGURE_W, FIGURE_H,
                          list_table_colours(global_entries, pal), frames);
}

// The palette as a 16 x 16 image for bringing other animations onto it
// (ImageMagick's -remap): every entry a sprite may use, entry 1 (the
// background) standing in for entry 0 so that no colour is mapped to the
// spare key.
bool write_remap_image(const std::string &path, const std::vector<rgb> &pal)
{
    std::vector<rgb> table = pal;
    table[0] = pal[1];
    gif_out_frame frame{0, 0, 16, 16, std::vector<uint8_t>(256), 0, false, {}};
    for (int i = 0; i < 256; i++)
        frame.pixels[i] = static_cast<uint8_t>(i);
    return write_gif_file(path.c_str(), 16, 16, table, {frame});
}

bool write_palette_file(const std::string &path, const std::vector<rgb> &pal)
{
    FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool ok = true;
    for (const rgb &c : pal)
        ok = ok && std::fwrite(c.data(), 1, 3, file) == 3;
    return std::fclose(file) == 0 && ok;
}

bool report(bool ok, const std::string &path)
{
    if (!ok)
        std::printf("make_data: can't write %s\n", path.c_str());
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::printf("usage: make_data <output directory>\n");
        return 2;
    }
    std::string dir = std::string(argv[1]) + "/";
    if (install_allegro(SYSTEM_NONE, &errno, atexit) != 0) {
        std::printf("make_data: can't initialise the library\n");
        return 1;
    }
    std::vector<rgb> bg2 = build_bg2_palette();
    std::vector<rgb> pst = build_pst_palette();
    bool ok = report(write_palette_file(dir + "pal_bg2.bin", bg2), dir + "pal_bg2.bin");
    ok &= report(write_palette_file(dir + "pal_pst.bin", pst), dir + "pal_pst.bin");
    ok &= report(write_remap_image(dir + "remap_bg2.gif", bg2), dir + "remap_bg2.gif");
    ok &= report(write_remap_image(dir + "remap_pst.gif", pst), dir + "remap_pst.gif");
    if (!check_slots_drawn(bg2, list_bg2_slots(), list_bg2_gradients(), BG2_COLUMNS) ||
        !check_slots_drawn(pst, list_pst_slots(), list_pst_gradients(), PST_COLUMNS)) {
        std::printf("make_data: a slot's entries are not its gradient row's colours\n");
        ok = false;
    }
    ok &= report(write_gradient_bitmap(dir + "cmaps_bg2_12.bmp", list_bg2_gradients(), BG2_COLUMNS),
                 dir + "cmaps_bg2_12.bmp");
    ok &= report(write_gradient_bitmap(dir + "cmaps_pst_32.bmp", list_pst_gradients(), PST_COLUMNS),
                 dir + "cmaps_pst_32.bmp");
    ok &= report(write_drawn_state(dir + "drawn_palshift.bin"), dir + "drawn_palshift.bin");
    ok &= report(write_sample(dir + "sample_bg2.gif", choose_bg2_colours(), bg2),
                 dir + "sample_bg2.gif");
    ok &= report(write_sample(dir + "sample_pst.gif", choose_pst_colours(), pst),
                 dir + "sample_pst.gif");
    ok &= report(
        write_interlaced_sample(dir + "sample_pst_interlaced.gif", choose_pst_colours(), pst),
        dir + "sample_pst_interlaced.gif");
    return ok ? 0 : 1;
}
