// The command line: options, their values, and the help text.
#include "app/app.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "palette/data_set.h"
#include "palette/tint_slots.h"

constexpr int32_t ZOOM_OPTION_MAX = 1000;

void print_help()
{
    std::printf(
        "usage : huesmith <file.gif> [options]\n"
        "\n"
        "Shows the animation on the data set's palette beside its tint slots;\n"
        "each slot takes its colours from the gradient row chosen for it.\n"
        "\n"
        "keys\n"
        "  Up, Down            select the tint slot\n"
        "  Left, Right         step the selected slot's gradient row\n"
        "  Page Up, Page Down  previous / next frame\n"
        "  +, -                zoom in / out by 10 %%, by 1 %% with Shift held\n"
        "  Home                snap the zoom to the nearest hundred, or step to the next\n"
        "  Space               play / stop the frames at their own delays\n"
        "  C                   whole frames on / off, as -coalesce\n"
        "  click               select a slot's line, or give the selected slot a strip row\n"
        "  wheel               zoom in / out\n"
        "  Ctrl+Z              undo the last gradient row change\n"
        "  Ctrl+Y, Ctrl+Shift+Z  redo it\n"
        "  Tab (held)          show the frames untinted, as drawn\n"
        "  H (held)            mark the selected slot's pixels in the preview\n"
        "  B                   preview background: black, grey, checkerboard\n"
        "  S                   export every frame at the current zoom, save the choices;\n"
        "                      Esc stops the export after the frame being written\n"
        "  Esc                 quit (the choices are saved only by S)\n"
        "\n"
        "options (any case, anywhere after the file)\n"
        "  -pst                the second data set: its palette, gradients and 8 slots\n"
        "  -pcx                export PCX files instead of BMP\n"
        "  -png                export indexed PNG files, index 0 transparent\n"
        "  -gif                export one animated GIF, NAME_tinted.gif, with the\n"
        "                      delays and loop of the animation NAME.gif\n"
        "  -sheet              export one sprite sheet, NAME_sheet.png, and its\n"
        "                      frames, NAME_sheet.json (one of -pcx, -png, -gif, -sheet)\n"
        "  -coalesce           show and export every frame whole, drawn over the\n"
        "                      frames before it as a GIF viewer shows it\n"
        "  -export             export every frame with no window, then end;\n"
        "                      the saved choices are read, never written\n"
        "  -zoom=N             zoom in percent, 1..1000 (default: the largest that\n"
        "                      fits the preview; 100 with -export)\n"
        "  -tint=A2:9,B3:34    these gradient rows for these slots, as the panel\n"
        "                      names and numbers them, instead of the saved ones\n"
        "  -out=DIR            where the frames go, made if missing (default: beside\n"
        "                      the program); a relative DIR is taken from here\n"
        "  -quiet              no trace lines: failures and the summary only\n"
        "  -state=FILE         read and save the choices in FILE (default: beside the\n"
        "                      program); a relative FILE is taken from here\n"
        "  -variants=FILE      with -export: one export per line NAME: A2:9,B3:34 of\n"
        "                      FILE, each into its own folder NAME\n"
        "  --version           the program's name and version\n"
        "  -help, --help, -h   this text\n");
}

std::string join_path(const std::string &dir, const std::string &path)
{
    if (dir.empty() || path.empty() || path[0] == '/')
        return path;
    return dir + (dir.back() == '/' ? "" : "/") + path;
}

// The value after "key=" when arg is that option in any case, else null.
static const char *find_option_value(const char *arg, const char *key)
{
    size_t length = std::strlen(key);
    if (strncasecmp(arg, key, length) != 0 || arg[length] != '=')
        return nullptr;
    return arg + length + 1;
}

// A whole decimal number in lo..hi, written with digits only.
static bool parse_number(const std::string &text, int32_t lo, int32_t hi, int32_t *out)
{
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    long v = std::strtol(text.c_str(), nullptr, 10);
    *out = int32_t(v);
    return v >= lo && v <= hi;
}

bool parse_tints(const std::string &value, const data_set &set,
                 std::vector<std::pair<int32_t, int32_t>> &tints, std::string &reason)
{
    std::string rest = value;
    for (bool more = true; more;) {
        size_t comma = rest.find(',');
        more = comma != std::string::npos;
        std::string item = rest.substr(0, comma);
        rest = more ? rest.substr(comma + 1) : "";
        size_t colon = item.find(':');
        int32_t row = -1;
        if (colon == std::string::npos) {
            reason = "expects slot:row pairs such as A2:9,B3:34";
            return false;
        }
        std::string name = item.substr(0, colon), row_text = item.substr(colon + 1);
        int slot = find_slot_by_name(set, name.c_str());
        if (slot < 0) {
            reason = "no slot " + name + " in this data set (A1..A" +
                     std::to_string(count_group_slots(set, 'A')) + ", B1..B" +
                     std::to_string(count_group_slots(set, 'B')) + ")";
            return false;
        }
        if (!parse_number(row_text, 0, set.gradient_rows - 1, &row)) {
            reason = "row " + row_text + " is not in the gradient table (0.." +
                     std::to_string(set.gradient_rows - 1) + ")";
            return false;
        }
        tints.emplace_back(slot, row);
    }
    return true;
}

// The file name of -state= or -variants=, which must not be empty.
static bool take_file_name(const char *arg, const char *value, std::string &name,
                           std::string &error)
{
    if (!*value) {
        error = std::string("bad option ") + arg + " : no file given";
        return false;
    }
    name = value;
    return true;
}

static bool is_help(const char *arg)
{
    return strcasecmp(arg, "-help") == 0 || strcasecmp(arg, "--help") == 0 ||
           strcasecmp(arg, "-h") == 0;
}

// The switches that choose the export's format, by export_format.
static const char *const FORMAT_SWITCHES[] = {nullptr, "-pcx", "-png", "-gif", "-sheet"};
constexpr int FORMAT_COUNT = sizeof FORMAT_SWITCHES / sizeof FORMAT_SWITCHES[0];

// The format arg chooses, or -1 when it chooses none.
static int find_format_switch(const char *arg)
{
    for (int format = 1; format < FORMAT_COUNT; format++)
        if (strcasecmp(arg, FORMAT_SWITCHES[format]) == 0)
            return format;
    return -1;
}

// An option without a value.
static bool is_switch(const char *arg)
{
    for (const char *name : {"-pst", "-export", "-quiet", "-coalesce", "--version"})
        if (strcasecmp(arg, name) == 0)
            return true;
    return is_help(arg) || find_format_switch(arg) >= 0;
}

bool parse_command_line(int argc, char **argv, command_line &cmd, std::string &error)
{
    cmd = command_line{};
    cmd.gif_path = argc > 1 ? argv[1] : "";
    // Switches first: the tint names and rows depend on the data set.
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        cmd.pst |= strcasecmp(arg, "-pst") == 0;
        cmd.coalesce |= strcasecmp(arg, "-coalesce") == 0;
        if (find_format_switch(arg) >= 0)
            cmd.format = export_format(find_format_switch(arg));
        cmd.batch |= strcasecmp(arg, "-export") == 0;
        cmd.quiet |= strcasecmp(arg, "-quiet") == 0;
        cmd.help |= is_help(arg);
        cmd.version |= strcasecmp(arg, "--version") == 0;
    }
    const data_set &set = cmd.pst ? pst : bg2;
    const char *format_arg = nullptr; // the switch that chose the format
    // The first argument is the GIF path, whatever it holds.
    for (int i = 2; i < argc; i++) {
        const char *arg = argv[i];
        const char *value;
        // A word that is no option (an -out= forgotten) is refused: taken
        // for nothing, the run would write where it was not asked to.
        if (arg[0] != '-') {
            error = std::string("unexpected argument ") + arg;
            return false;
        }
        int format = find_format_switch(arg);
        if (format >= 0 && format_arg && format != find_format_switch(format_arg)) {
            error = std::string("bad option ") + arg + " : " + format_arg +
                    " chose the format already (one of -pcx, -png, -gif, -sheet)";
            return false;
        }
        if (format >= 0)
            format_arg = arg;
        if (is_switch(arg))
            continue;
        if ((value = find_option_value(arg, "-zoom"))) {
            if (!parse_number(value, 1, ZOOM_OPTION_MAX, &cmd.zoom)) {
                error =
                    std::string("bad option ") + arg + " : the zoom is a percentage from 1 to 1000";
                return false;
            }
        } else if ((value = find_option_value(arg, "-tint"))) {
            std::string reason;
            if (!parse_tints(value, set, cmd.tints, reason)) {
                error = std::string("bad option ") + arg + " : " + reason;
                return false;
            }
        } else if ((value = find_option_value(arg, "-out"))) {
            if (!*value) {
                error = std::string("bad option ") + arg + " : no directory given";
                return false;
            }
            cmd.out_dir = value;
        } else if ((value = find_option_value(arg, "-state"))) {
            if (!take_file_name(arg, value, cmd.state_file, error))
                return false;
        } else if ((value = find_option_value(arg, "-variants"))) {
            if (!take_file_name(arg, value, cmd.variants_file, error))
                return false;
        } else {
            error = std::string("unknown option ") + arg;
            return false;
        }
    }
    if (!cmd.variants_file.empty() && !cmd.batch) {
        error = "bad option -variants=" + cmd.variants_file + " : works with -export only";
        return false;
    }
    return true;
}
