// Twenty colourings of the sample: one -variants run against twenty -export
// runs of the same tints, each the whole process (start, load, remap,
// export), timed as the CPU time of the finished children. The two take
// turns in one loop; the one run should take at most 0.3 of the twenty.
#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char **environ;

constexpr int VARIANT_COUNT = 20;

// CPU seconds (user and system) of every child waited for so far.
static double read_children_cpu_seconds()
{
    rusage usage;
    getrusage(RUSAGE_CHILDREN, &usage);
    double user = double(usage.ru_utime.tv_sec) + double(usage.ru_utime.tv_usec) * 1e-6;
    double system = double(usage.ru_stime.tv_sec) + double(usage.ru_stime.tv_usec) * 1e-6;
    return user + system;
}

// Runs the program with these arguments after the sample's path, quietly;
// true when it ends with status 0.
static bool run_program(const std::vector<std::string> &args)
{
    std::vector<std::string> words = {HUESMITH_BIN_DIR "/huesmith",
                                      HUESMITH_BIN_DIR "/sample_bg2.gif", "-export", "-quiet"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    return !failed && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// Variant i: hair, shirt and shoes each on a row of their own.
static std::string list_variant_tints(int i)
{
    return "A2:" + std::to_string(3 * i) + ",A3:" + std::to_string(40 + i) + ",B1:" +
           std::to_string(60 + i);
}

static void time_variants(benchmark::State &state)
{
    std::string pattern = find_export_parent() + "/huesmith_bench_variants_XXXXXX";
    if (!mkdtemp(pattern.data())) {
        state.SkipWithError("can't make the directory for the frames");
        return;
    }
    std::string dir = pattern;
    std::string list;
    for (int i = 0; i < VARIANT_COUNT; i++)
        list += "v" + std::to_string(i) + ": " + list_variant_tints(i) + "\n";
    std::FILE *file = std::fopen((dir + "/variants.txt").c_str(), "w");
    if (file) {
        std::fputs(list.c_str(), file);
        std::fclose(file);
    }
    double one_run = 0;
    double separate_runs = 0;
    bool ok = true;
    for (auto _ : state) {
        double start = read_children_cpu_seconds();
        ok &= run_program({"-variants=" + dir + "/variants.txt", "-out=" + dir + "/one"});
        double middle = read_children_cpu_seconds();
        for (int i = 0; i < VARIANT_COUNT; i++) {
            std::string out = "-out=" + dir + "/each/v" + std::to_string(i);
            ok &= run_program({"-tint=" + list_variant_tints(i), out});
        }
        one_run += middle - start;
        separate_runs += read_children_cpu_seconds() - middle;
    }
    std::filesystem::remove_all(dir);
    if (!ok) {
        state.SkipWithError("a run of the program failed");
        return;
    }
    double iterations = double(state.iterations());
    report_paired_times(state, "twenty_export_runs", one_run / iterations,
                        separate_runs / iterations);
}
BENCHMARK(time_variants)->Name("one_variants_run")->Unit(benchmark::kMillisecond)->MinTime(2.0);
