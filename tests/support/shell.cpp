#include "support/shell.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

std::vector<std::string> read_frames(const std::string &dir)
{
    std::map<std::string, std::string> named;
    for (const auto &entry : fs::directory_iterator(dir))
        if (entry.path().filename().string().rfind("frame", 0) == 0)
            named[entry.path().filename().string()] = read_file(entry.path().string());
    std::vector<std::string> frames;
    for (const auto &frame : named)
        frames.push_back(frame.second);
    return frames;
}

shell_run run_shell(const std::string &dir, const std::string &command)
{
    std::string output_file = "/tmp/huesmith_shell_XXXXXX";
    close(mkstemp(output_file.data()));
    std::string line = "cd '" + dir + "' && env -u DISPLAY " + command;
    line += " >'" + output_file + "' 2>/dev/null";
    int status = std::system(line.c_str());
    shell_run run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.output = read_file(output_file);
    std::remove(output_file.c_str());
    return run;
}
