// Runs the benchmarks, then prints each case beside its peer.
#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <malloc.h>
#include <unistd.h>

// The console report, which also names the pairs each finished benchmark
// reported (the library's State does not know its own name).
struct naming_reporter : benchmark::ConsoleReporter {
    using benchmark::ConsoleReporter::ConsoleReporter;
    void ReportRuns(const std::vector<Run> &runs) override
    {
        benchmark::ConsoleReporter::ReportRuns(runs);
        if (runs.empty())
            return;
        // The name as registered with its arguments, without the run options.
        const benchmark::BenchmarkName &name = runs.front().run_name;
        name_reported_pairs(name.function_name + (name.args.empty() ? "" : "/" + name.args));
    }
};

// Keeps freed blocks for the next iteration, on every side alike. Left to
// itself, glibc unmaps a large block on free and may map the next block of
// the same size afresh, so each iteration would also time page faults
// (about 12 us per 4 KiB page on this machine) whenever its heuristics
// happen to treat one side's block sizes that way: that measures the
// allocator, not the decoders. HUESMITH_BENCH_DEFAULT_MALLOC=1 keeps the
// default policy.
static void keep_freed_memory()
{
    const char *keep_default = std::getenv("HUESMITH_BENCH_DEFAULT_MALLOC");
    if (keep_default && *keep_default == '1')
        return;
    mallopt(M_MMAP_THRESHOLD, 256 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
}

int main(int argc, char **argv)
{
    keep_freed_memory();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    // Colours only on a terminal, as the library's own report does.
    naming_reporter reporter(isatty(STDOUT_FILENO) ? naming_reporter::OO_Defaults
                                                   : naming_reporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::fflush(stdout);
    print_peer_summary(stdout);
    // HUESMITH_BENCH_LOAD_REPS sets the load table's repetitions; 0 skips it.
    const char *reps = std::getenv("HUESMITH_BENCH_LOAD_REPS");
    int repetitions = reps ? std::atoi(reps) : 15;
    if (repetitions > 0)
        print_load_table(stdout, repetitions);
    return 0;
}
