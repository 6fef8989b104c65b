#include "support/app_process.h"

#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

process_result run_process(const std::string &program, const std::string &argv0,
                           const std::vector<std::string> &args, const std::string &workdir,
                           bool keep_display)
{
    process_result result{-1, ""};
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0)
        return result;
    pid_t pid = fork();
    if (pid < 0)
        return result;
    if (pid == 0) {
        dup2(pipe_fds[1], STDOUT_FILENO);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        int null_fd = open("/dev/null", O_RDWR);
        dup2(null_fd, STDIN_FILENO);
        dup2(null_fd, STDERR_FILENO);
        if (!keep_display)
            unsetenv("DISPLAY");
        if (chdir(workdir.c_str()) != 0)
            _exit(126);
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(argv0.c_str()));
        for (const std::string &arg : args)
            argv.push_back(const_cast<char *>(arg.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    char buffer[4096];
    ssize_t got;
    while ((got = read(pipe_fds[0], buffer, sizeof buffer)) > 0)
        result.output.append(buffer, static_cast<size_t>(got));
    close(pipe_fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

static std::vector<std::string> made_dirs;

static void remove_made_dirs()
{
    for (const std::string &dir : made_dirs)
        std::filesystem::remove_all(dir);
}

std::string make_temp_dir()
{
    char pattern[] = "/tmp/huesmith-test-XXXXXX";
    const char *dir = mkdtemp(pattern);
    if (!dir)
        return "";
    if (made_dirs.empty())
        std::atexit(remove_made_dirs);
    made_dirs.push_back(dir);
    return dir;
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool write_file(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bool(out);
}

bool copy_file(const std::string &from, const std::string &to)
{
    std::ifstream in(from, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (!write_file(to, bytes.str()))
        return false;
    struct stat info;
    if (stat(from.c_str(), &info) == 0)
        chmod(to.c_str(), info.st_mode & 07777);
    return true;
}
