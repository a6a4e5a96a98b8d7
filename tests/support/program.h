// Runs a program of the build as a user's shell runs it, natively and (in the
// Windows build) under Wine, with its output captured in files.
#pragma once

#include <string>
#include <vector>

namespace fixtures {

// A path of the build tree as this system names it (a Unix path handed
// through Wine is on drive Z:).
std::string host_path(std::string path);

struct ProgramRun {
    int status;
    std::string out, err;
};

// Runs the named program of the build's output folder (KORIN_BIN) with the
// words as arguments, each quoted; scratch holds the captured output.
ProgramRun run_program(const std::string &name, const std::vector<std::string> &words, const std::string &scratch);

#ifndef _WIN32
// The same with standard output sent where the shell redirection says
// (">/dev/full", ">&-", "| head -c1 >/dev/null"); out stays empty.
ProgramRun run_program_out(const std::string &name, const std::vector<std::string> &words, const std::string &redirection,
                           const std::string &scratch);

// One way a write to standard output can fail, and what the program must do.
struct OutputCase {
    std::vector<std::string> words;
    const char *redirection;
    int status;
    const char *err;
};

// A line for every case whose status or standard error differs; empty when
// all held.
std::string output_mismatches(const std::string &name, const std::vector<OutputCase> &cases, const std::string &scratch);
#endif

}  // namespace fixtures
