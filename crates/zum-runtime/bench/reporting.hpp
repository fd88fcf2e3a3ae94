#pragma once

#include <benchmark/benchmark.h>

#include <unistd.h>

// What the benchmarks' own summary reports share with each other.
namespace zum_bench {

using Run = benchmark::BenchmarkReporter::Run;

// Colour only on a terminal, as the library's own console report does.
inline benchmark::ConsoleReporter::OutputOptions console_options() {
  return isatty(STDOUT_FILENO) != 0 ? benchmark::ConsoleReporter::OO_Defaults
                                    : benchmark::ConsoleReporter::OO_Tabular;
}

// The run a summary quotes: with repetitions the median stands for the benchmark; without, its
// one run does. Failed runs stand for nothing.
inline bool stands_for_benchmark(const Run& run) {
  if (run.error_occurred) return false;
  return run.run_type == Run::RT_Iteration ? run.repetitions <= 1 : run.aggregate_name == "median";
}

}  // namespace zum_bench
