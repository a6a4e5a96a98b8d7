#include "tests/support/program.h"

#include <cstdlib>
#include <filesystem>

#include "tests/support/archive_builder.h"

namespace fixtures {

std::string host_path(std::string path)
{
#ifdef _WIN32
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char &c : path) c = c == '/' ? '\\' : c;
#endif
    return path;
}

ProgramRun run_program(const std::string &name, const std::vector<std::string> &words, const std::string &scratch)
{
    const char *bin = std::getenv("KORIN_BIN");
#ifdef _WIN32
    const std::string program = host_path(bin ? bin : ".") + "\\" + name + ".exe";
#else
    const std::string program = std::string(bin ? bin : ".") + "/" + name;
#endif
    const std::string out = (std::filesystem::path(scratch) / "stdout").string(), err = (std::filesystem::path(scratch) / "stderr").string();
    std::string command = "\"" + program + "\"";
    for (const auto &w : words) command += " \"" + w + "\"";
    command += " >\"" + out + "\" 2>\"" + err + "\"";
#ifdef _WIN32
    const int status = std::system(("\"" + command + "\"").c_str());  // cmd /c strips one outer pair of quotes
#else
    const int status = (std::system(command.c_str()) >> 8) & 0xFF;
#endif
    const Bytes o = read_file(out), e = read_file(err);
    return {status, std::string(o.begin(), o.end()), std::string(e.begin(), e.end())};
}

#ifndef _WIN32
ProgramRun run_program_out(const std::string &name, const std::vector<std::string> &words, const std::string &redirection,
                           const std::string &scratch)
{
    const char *bin = std::getenv("KORIN_BIN");
    const std::string err = (std::filesystem::path(scratch) / "stderr").string(),
                      status = (std::filesystem::path(scratch) / "status").string();
    // The status of the program, not of the pipeline's last command.
    std::string command = "{ \"" + std::string(bin ? bin : ".") + "/" + name + "\"";
    for (const auto &w : words) command += " \"" + w + "\"";
    command += " 2>\"" + err + "\"; echo $? >\"" + status + "\"; } " + redirection;
    std::system(command.c_str());
    const Bytes e = read_file(err), s = read_file(status);
    return {std::atoi(std::string(s.begin(), s.end()).c_str()), "", std::string(e.begin(), e.end())};
}

std::string output_mismatches(const std::string &name, const std::vector<OutputCase> &cases, const std::string &scratch)
{
    std::string report;
    for (const auto &c : cases) {
        const ProgramRun r = run_program_out(name, c.words, c.redirection, scratch);
        if (r.status != c.status || r.err != c.err)
            report += c.words[0] + " " + c.redirection + ": status " + std::to_string(r.status) + ", stderr \"" + r.err + "\"\n";
    }
    return report;
}
#endif

}  // namespace fixtures
