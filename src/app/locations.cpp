// Where the program lives and where a run writes: its own directory found
// from the running executable, and the state file and frames moved out of
// it when it cannot be written (an installed copy).
#include "app/app.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "export/export.h"
#include "palette/tint_slots.h"

// The state file this run reads and the window's S writes.
static std::string state_file = PALSHIFT_FILE;

// Everything before the last '/' of path (never cut at position 0), "" when
// there is none.
static std::string cut_last_slash(const std::string &path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return "";
    return path.substr(0, slash);
}

std::string find_working_dir()
{
    char *dir = getcwd(nullptr, 0);
    std::string text = dir ? dir : "";
    std::free(dir);
    return text;
}

std::string find_program_dir(const char *program_path)
{
    // The running executable itself: the shell may have found it through
    // PATH (no directory in the path at all) or through a link elsewhere.
    char exe[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (length > 0) {
        exe[length] = '\0';
        std::string dir = cut_last_slash(exe);
        return dir.empty() ? "/" : dir;
    }
    return cut_last_slash(program_path);
}

std::string find_state_home()
{
    // The base directory's variable counts only when it holds an absolute path.
    const char *state_home = std::getenv("XDG_STATE_HOME");
    if (state_home && state_home[0] == '/')
        return join_path(state_home, "huesmith");
    const char *home = std::getenv("HOME");
    if (home && home[0] == '/')
        return join_path(home, ".local/state/huesmith");
    return "";
}

// The directory and every missing parent made, as far as they can be.
static void make_dirs(const std::string &dir)
{
    for (size_t at = dir.find('/', 1); at != std::string::npos; at = dir.find('/', at + 1))
        mkdir(dir.substr(0, at).c_str(), 0755);
    mkdir(dir.c_str(), 0755);
}

bool choose_write_places(const command_line &cmd, const std::string &start_dir,
                         const std::string &program_dir)
{
    bool own_dir_writable = faccessat(AT_FDCWD, program_dir.c_str(), W_OK, AT_EACCESS) == 0;
    bool state_moved = !own_dir_writable && cmd.state_file.empty();
    std::string state_home = find_state_home();
    if (!cmd.state_file.empty())
        state_file = join_path(start_dir, cmd.state_file);
    else if (state_moved && !state_home.empty())
        state_file = join_path(state_home, PALSHIFT_FILE);
    else
        state_file = PALSHIFT_FILE;
    if (!cmd.out_dir.empty())
        glb_export_options.dir = join_path(start_dir, cmd.out_dir);
    else if (!own_dir_writable && !start_dir.empty())
        glb_export_options.dir = start_dir;
    // Only the window saves the choices; their folder is made for it.
    if (state_moved && !cmd.batch)
        make_dirs(cut_last_slash(state_file));
    return state_moved;
}

void load_choices(bool state_moved)
{
    // A state file not yet made in the user's folder starts from the one
    // installed beside the program.
    struct stat info;
    if (!state_moved || stat(state_file.c_str(), &info) == 0) {
        load_palshift_file(state_file);
        return;
    }
    load_palshift_file(PALSHIFT_FILE);
}

void save_choices()
{
    save_palshift_file(state_file);
}

void print_write_places(bool batch, const std::string &program_dir)
{
    std::string frames = glb_export_options.dir.empty() ? program_dir : glb_export_options.dir;
    if (batch) {
        std::printf("frames go to <%s>\n", frames.c_str());
        return;
    }
    std::string state = join_path(program_dir, state_file);
    std::printf("frames go to <%s>, choices to <%s>\n", frames.c_str(), state.c_str());
}
