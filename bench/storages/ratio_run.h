#pragma once
// The frame of the storage benchmarks: they build their storages in one
// folder, run, and end with ratios of the measured times.

#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

// Prints the runs as usual and keeps their times for the ratios at the end:
// the median when runs are repeated, else the one run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal, as the library's own console reporter.
    RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            const std::string& name = run.run_name.function_name;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                medians_[name] = run.GetAdjustedRealTime();
            else if (run.run_type == Run::RT_Iteration && !medians_.count(name))
                seconds_[name] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintRatio(const char* what, const std::string& name, const std::string& base) const {
        const double a = Time(name);
        const double b = Time(base);
        if (a > 0 && b > 0)
            std::printf("%-62s %6.2f\n", what, a / b);
    }

private:
    double Time(const std::string& name) const {
        if (const auto median = medians_.find(name); median != medians_.end())
            return median->second;
        const auto single = seconds_.find(name);
        return single == seconds_.end() ? 0 : single->second;
    }

    std::map<std::string, double> seconds_;
    std::map<std::string, double> medians_;
};

// Runs the registered benchmarks with `dir` set to ULMORA_BENCH_DIR (kept)
// or to a new temporary folder (removed at the end); then `ratios` prints
// its ratios from the reporter. Answers main's exit code.
template <class Ratios>
int RunWithRatios(int argc, char** argv, std::string& dir, Ratios ratios) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    bool temporary = false;
    if (const char* given = std::getenv("ULMORA_BENCH_DIR"); given && *given) {
        dir = given;
        std::filesystem::create_directories(dir);
    } else {
        std::string pattern = (std::filesystem::temp_directory_path() / "ulmora-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            return 1;
        dir = pattern;
        temporary = true;
    }
    std::printf("Storages in %s\n", dir.c_str());
    std::fflush(stdout);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    ratios(reporter);
    benchmark::Shutdown();
    if (temporary)
        std::filesystem::remove_all(dir);
    return 0;
}
