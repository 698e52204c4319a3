// Batch mode on several threads: the input in blocks of whole lines, the output in input order.
#pragma once

#include <cstdio>

#include "cli/EachLine.h"

/// The default count of threads for --each-line: the machine's cores, at least 1.
[[nodiscard]] unsigned DefaultJobs();

/// As RunEachLine, with up to jobs threads converting blocks of lines at once; the output is the
/// same, line for line and in order. Input and output held at a time are bounded by the jobs.
[[nodiscard]] int RunEachLineJobs(std::FILE* in, std::FILE* out, const EachLineOptions& options,
                                  unsigned jobs);
