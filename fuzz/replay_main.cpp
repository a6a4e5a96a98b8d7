// Replays fuzz inputs without libFuzzer: every file of every folder (or file)
// named on the command line is run once through the target. Used by the test
// suite so that seed corpora and past crash inputs stay regression tests in
// the ordinary (gcc, sanitizer and Wine) builds.
#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

// A failed check aborts; the replay then names the input that failed it.
std::string g_current;

void name_the_input(int)
{
    std::fprintf(stderr, "while replaying %s\n", g_current.c_str());
    std::fflush(stderr);
    std::signal(SIGABRT, SIG_DFL);
    std::abort();
}

}  // namespace

int main(int argc, char **argv)
{
    std::vector<std::filesystem::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path p(argv[i]);
        if (std::filesystem::is_directory(p)) {
            for (const auto &e : std::filesystem::directory_iterator(p))
                if (e.is_regular_file() && e.path().filename() != ".keep") inputs.push_back(e.path());
        } else if (std::filesystem::exists(p)) {
            inputs.push_back(p);
        }
    }
    std::sort(inputs.begin(), inputs.end());
    std::signal(SIGABRT, name_the_input);
    for (const auto &p : inputs) {
        g_current = p.string();
        std::ifstream in(p, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // libFuzzer never passes a null pointer, not even for empty input.
        static const uint8_t none = 0;
        LLVMFuzzerTestOneInput(bytes.empty() ? &none : bytes.data(), bytes.size());
    }
    std::printf("replayed %zu inputs\n", inputs.size());
    return 0;
}
