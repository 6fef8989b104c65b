// Variants: one animation, loaded and remapped once, exported in many
// colourings, each into a folder of its own.
#include "app/app.h"

#include <algorithm>

#include "common/safe_file.h"
#include "export/export.h"
#include "gif/gif_anim.h"
#include "palette/data_set.h"
#include "palette/tint_slots.h"

// A variants file larger than this is no list of colourings.
constexpr size_t VARIANTS_FILE_MAX = 1 << 20;

static std::string trim_blanks(const std::string &text)
{
    size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return "";
    size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// A name that makes one folder inside the export directory: letters,
// digits, '.', '_' and '-', not starting with '.'.
static bool is_folder_name(const std::string &name)
{
    const char *allowed = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-";
    return !name.empty() && name[0] != '.' && name.find_first_not_of(allowed) == std::string::npos;
}

// One non-blank, non-comment line; false with the reason.
static bool parse_variant_line(const std::string &line, const data_set &set, variant &out,
                               std::string &reason)
{
    // A blank inside the name is a missing colon after it.
    size_t colon = line.find(':');
    std::string name = colon == std::string::npos ? line : trim_blanks(line.substr(0, colon));
    if (colon == std::string::npos || name.find_first_of(" \t") != std::string::npos) {
        reason = "expects NAME: A2:9,B3:34";
        return false;
    }
    out.name = name;
    if (!is_folder_name(out.name)) {
        reason = "the name \"" + out.name + "\" is no folder name (letters, digits, . _ -)";
        return false;
    }
    // Blanks between the pairs are allowed here, unlike on the command line.
    std::string tints = line.substr(colon + 1);
    auto is_blank = [](char c) { return c == ' ' || c == '\t'; };
    tints.erase(std::remove_if(tints.begin(), tints.end(), is_blank), tints.end());
    if (tints.empty())
        return true; // the rows the run starts from, unchanged
    // The tints read as -tint reads them.
    return parse_tints(tints, set, out.tints, reason);
}

bool parse_variants(const std::string &text, const data_set &set, std::vector<variant> &variants,
                    std::string &error)
{
    variants.clear();
    std::vector<int> lines; // the line of each variant
    size_t start = 0;
    for (int number = 1; start < text.size(); number++) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = trim_blanks(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == '#')
            continue;
        variant v;
        std::string reason;
        if (!parse_variant_line(line, set, v, reason)) {
            error = "bad variant line " + std::to_string(number) + " : " + reason;
            return false;
        }
        for (size_t i = 0; i < variants.size(); i++)
            if (variants[i].name == v.name) {
                error = "bad variant line " + std::to_string(number) + " : " + v.name +
                        " is already the name of line " + std::to_string(lines[i]);
                return false;
            }
        variants.push_back(v);
        lines.push_back(number);
    }
    return true;
}

bool read_variants_file(const std::string &path, const data_set &set,
                        std::vector<variant> &variants, std::string &error)
{
    std::vector<uint8_t> bytes;
    if (!read_regular_file(path.c_str(), VARIANTS_FILE_MAX, bytes)) {
        error = "can't read <" + path + ">";
        return false;
    }
    std::string text(bytes.begin(), bytes.end());
    if (!parse_variants(text, set, variants, error))
        return false;
    if (variants.empty()) {
        error = "no variant in <" + path + ">";
        return false;
    }
    return true;
}

int export_variants(const gif_anim *anim, const data_set &set, int32_t zoom,
                    const std::vector<variant> &variants)
{
    int32_t *rows = active_palshift(set);
    std::vector<int32_t> start_rows(rows, rows + set.last_slot + 1);
    // The working directory by its whole path, so each summary names it.
    export_options options = glb_export_options;
    std::string base = options.dir.empty() ? find_working_dir() : options.dir;
    int status = 0;
    for (const variant &v : variants) {
        std::copy(start_rows.begin(), start_rows.end(), rows);
        for (const auto &tint : v.tints)
            rows[tint.first] = tint.second;
        build_tint_palettes(set);
        options.dir = join_path(base, v.name);
        if (save_all_frames(anim, zoom, options) != anim->num_frames)
            status = 1;
    }
    std::copy(start_rows.begin(), start_rows.end(), rows);
    return status;
}
