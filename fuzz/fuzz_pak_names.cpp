// The names "pak add" gives what it walks: operands, -C, --prefix, --as,
// --exclude and --codepage from the input, over one small folder tree made
// once. Every name that add's own checks accept must also pass extract's
// checks with either host's separator (what one release engineer stores,
// another extracts), and a file keeps its own name as the last part.
//
// Input: a flag byte (bit 0 --codepage, bit 1 936 rather than 950, bit 2
// --prefix, bit 3 --as), then lines: the prefix, the --as name (each when
// flagged), then operands, or --exclude patterns when they start with '!'.
// Operands that would leave the tree are not run: the walk must stay in the
// scratch folder.
#include <cstring>
#include <system_error>
#include <string>
#include <vector>

#include "archive/format.h"
#include "fuzz/fuzz_support.h"
#include "platform/platform.h"
#include "tools/pak/cli.h"
#include "tools/pak/codepage.h"
#include "tools/pak/inputs.h"
#include "tools/pak/names.h"
#include "tools/common/output.h"

namespace {

namespace fs = std::filesystem;

// The tree's files, below tree/; -C names tree/l1/l2.
const char *const TREE[] = {
    "top.txt", "l1/mid.txt", "l1/l2/a.txt", "l1/l2/B.TXT", "l1/l2/sp ace ", "l1/l2/dots.", "l1/l2/CON",
    "l1/l2/x\\..\\y", "l1/l2/\xe6\xb7\xb1.txt", "l1/l2/\xb2\x5c", "l1/l2/a-name-that-runs-past-the-stored-limit.txt",
    "l1/l2/*star", "l1/l2/-", "l1/l2/sub/c.txt", "l1/l2/sub/...", "l1/l2/sub/deep/d", "l1/l2/\xe6\xb7/e",
};

const fs::path &tree()
{
    static const fs::path root = [] {
        const fs::path r = fuzz::scratch() / "tree";
        // Windows holds no "CON" or "*star": the tree there is what it takes.
        for (const char *name : TREE) {
            std::error_code failed;
            fs::create_directories((r / name).parent_path(), failed);
            fuzz::put_file("x", reinterpret_cast<const uint8_t *>("x"), 1);
            fs::rename(fuzz::scratch() / "x", r / name, failed);
            if (failed) fs::remove(fuzz::scratch() / "x", failed);
        }
        return r;
    }();
    return root;
}

// Whether an operand read under tree/l1/l2 stays inside tree/.
bool stays_inside(const std::string &operand)
{
    if (operand.empty() || operand[0] == '/' || operand[0] == '\\' || operand == "-") return false;
#ifdef _WIN32
    // Any byte before a ':' makes a drive-qualified name there ("#:\data"),
    // which add takes as it stands instead of below -C.
    if (operand.size() >= 2 && operand[1] == ':') return false;
#endif
    int depth = 2;
    size_t start = 0;
    for (size_t i = 0; i <= operand.size(); ++i) {
        if (i < operand.size() && operand[i] != '/' && operand[i] != '\\') continue;
        const std::string part = operand.substr(start, i - start);
        if (part == "..") --depth;
        else if (!part.empty() && part != ".") ++depth;
        if (depth < 0) return false;
        start = i + 1;
    }
    return true;
}

// What add itself takes: 1 to 39 bytes, no wildcard, extract-safe.
bool add_accepts(const char *stored)
{
    char out[PAK_NAME_SIZE * 2];
    return stored_name_ok(stored) && !std::strpbrk(stored, "*?") &&
           extract_name_check(stored, PAK_NAME_SIZE, '/', out, static_cast<int>(sizeof out)) == XN_OK;
}

void silent(int, const void *, int, void *) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 2048) return 0;
    const uint8_t flags = data[0];
    std::vector<std::string> lines;
    for (size_t at = 1; at <= size;) {
        const uint8_t *nl = static_cast<const uint8_t *>(std::memchr(data + at, '\n', size - at));
        const size_t end = nl ? static_cast<size_t>(nl - data) : size;
        lines.emplace_back(reinterpret_cast<const char *>(data + at), end - at);
        at = end + 1;
    }
    for (const std::string &line : lines)
        if (line.find('\0') != std::string::npos) return 0;  // no argument holds one

    PakArgs args{};
    args.command = CMD_ADD;
    const std::string dir = (tree() / "l1" / "l2").string();
    args.present[OPT_DIR] = true;
    args.value[OPT_DIR] = dir.c_str();
    size_t next = 0;
    if (flags & 1) {
        args.present[OPT_CODEPAGE] = true;
        args.value[OPT_CODEPAGE] = flags & 2 ? "936" : "950";
    }
    if (flags & 4) {
        if (next == lines.size()) return 0;
        args.present[OPT_PREFIX] = true;
        args.value[OPT_PREFIX] = lines[next++].c_str();
    }
    if (flags & 8) {
        if (next == lines.size()) return 0;
        args.present[OPT_AS] = true;
        args.value[OPT_AS] = lines[next++].c_str();
    }
    std::vector<const char *> positional{"archive.pak"}, excludes;
    for (; next < lines.size(); ++next) {
        const std::string &line = lines[next];
        if (!line.empty() && line[0] == '!') {
            if (excludes.size() < 4) excludes.push_back(line.c_str() + 1);
        } else if (positional.size() < 9) {
            if (!stays_inside(line)) return 0;
            positional.push_back(line.c_str());
        }
    }
    args.positional = positional.data();
    args.positional_count = static_cast<int>(positional.size());
    args.excludes = excludes.data();
    args.exclude_count = static_cast<int>(excludes.size());
    const int code_page = flags & 1 ? (flags & 2 ? 936 : 950) : 0;

    out_set_sink(silent, nullptr);
    InputList list;
    const int status = inputs_collect(args, &list);
    for (int i = 0; status == 0 && i < list.count; ++i) {
        const AddInput &item = list.items[i];
        FUZZ_CHECK(item.path && item.name);
        if (item.refusal) continue;  // add names it and stores nothing
        // Host files come from the tree only.
        FUZZ_CHECK(std::strncmp(item.path, tree().string().c_str(), tree().string().size()) == 0);
        char stored[PATH_BUFFER_SIZE];
        if (typed_name(item.name, code_page, stored, static_cast<int>(sizeof stored)) != 0 || !add_accepts(stored))
            continue;  // add refuses the input
        char out[PAK_NAME_SIZE * 2];
        FUZZ_CHECK(extract_name_check(stored, PAK_NAME_SIZE, '\\', out, static_cast<int>(sizeof out)) == XN_OK);
        FUZZ_CHECK(extract_name_check(stored, PAK_NAME_SIZE, '/', out, static_cast<int>(sizeof out)) == XN_OK);
        // A file keeps its own name, unless --as renames it.
#ifdef _WIN32
        const char *host_base = host_base_name(item.path);
#else
        const char *host_base = std::strrchr(item.path, '/') + 1;  // no trail byte is a '/'
#endif
        if (!args.present[OPT_AS] && host_base[0]) {
            const char *last = item.name;
            for (const char *p = item.name; *p; p += code_page ? 1 : path_char_len(p))
                if (*p == '\\' || *p == '/' || *p == ':') last = p + 1;  // "#:" prefixes end in ':'
            FUZZ_CHECK(std::strcmp(last, host_base) == 0 || std::strpbrk(host_base, "\\:"));
        }
    }
    if (status == 0) inputs_free(&list);
    out_set_sink(nullptr, nullptr);
    return 0;
}
