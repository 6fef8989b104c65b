#include "support/shell.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>

namespace fs = std::filesystem;

std::string make_test_dir(bool shared)
{
    std::string pattern = "/tmp/huesmith_test_XXXXXX";
    std::string dir = mkdtemp(pattern.data());
    chmod(dir.c_str(), shared ? 0777 : 0755);
    return dir;
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void write_file(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

std::vector<std::string> read_frames(const std::string &dir)
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir)) {
        std::string name = entry.path().filename().string();
        if (name.rfind("frame", 0) == 0)
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> frames;
    for (const std::string &name : names)
        frames.push_back(read_file(dir + "/" + name));
    return frames;
}

shell_run run_shell(const std::string &dir, const std::string &command)
{
    std::string output_file = dir + "/.shell_output";
    std::string line = "cd '" + dir + "' && env -u DISPLAY " + command;
    line += " >'" + output_file + "' 2>/dev/null";
    int status = std::system(line.c_str());
    shell_run run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.output = read_file(output_file);
    std::remove(output_file.c_str());
    return run;
}

std::string make_state(const std::vector<int> &bg2_rows)
{
    std::string bytes(144, '\0');
    for (size_t i = 0; i < bg2_rows.size(); i++)
        bytes[4 * i] = char(bg2_rows[i]);
    return bytes;
}
