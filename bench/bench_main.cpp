// Runs the benchmarks, then prints each case beside its peer.
#include "bench_support.h"

#include <benchmark/benchmark.h>

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

int main(int argc, char **argv)
{
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
    return 0;
}
