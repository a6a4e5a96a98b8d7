// The built Windows programs as a Windows system reads them before running
// one: the manifest that decides elevation, compatibility, common controls
// and DPI; the version information that Explorer shows; the header flags;
// and the DLLs the loader must find, all from the files' own bytes.
//
// KORIN_DELIVERABLE_<EDITION> names each deliverable (in dist or dist-demo,
// by its payload), KORIN_BIN the folder of pak.exe and cfgtool.exe,
// KORIN_TABLES that of the editions' UTF-8 tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "tests/pe/pe_file.h"

namespace {

std::string env(const char *name)
{
    const char *v = std::getenv(name);
    return v ? v : "";
}

// The values of one attribute of every element of that name, in order.
std::vector<std::string> attributes(const std::string &xml, const std::string &element, const std::string &attribute)
{
    std::vector<std::string> found;
    for (size_t at = xml.find("<" + element); at != std::string::npos; at = xml.find("<" + element, at + 1)) {
        const size_t end = xml.find('>', at);
        const std::string tag = xml.substr(at, end - at);
        const size_t a = tag.find(" " + attribute + "=\"");
        if (a == std::string::npos) {
            found.push_back("(none)");
            continue;
        }
        const size_t v = a + attribute.size() + 3;
        found.push_back(tag.substr(v, tag.find('"', v) - v));
    }
    return found;
}

std::string element_text(const std::string &xml, const std::string &element)
{
    const size_t open = xml.find("<" + element);
    if (open == std::string::npos) return "(none)";
    const size_t start = xml.find('>', open) + 1;
    return xml.substr(start, xml.find('<', start) - start);
}

struct Program {
    std::string path;
    bool updater;  // a deliverable, rather than a command-line tool
    std::string file_name, description, version_text;
    uint32_t version_ms, version_ls;  // the numeric file version
    uint16_t language, code_page;
};

// An edition's keys from its UTF-8 table (key, a tab, the value).
std::map<std::string, std::string> table(const std::filesystem::path &path)
{
    std::map<std::string, std::string> keys;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        if (const size_t tab = line.find('\t'); tab != std::string::npos && tab > 0 && line[0] != '#')
            keys[line.substr(0, tab)] = line.substr(tab + 1);
    return keys;
}

// Every edition's table in KORIN_TABLES is a deliverable, named by
// KORIN_DELIVERABLE_<ID>. Its numeric version is the game version's (V1.06C:
// 1.6.0.3, the letter counting from A = 1), its language that of its code page.
std::vector<Program> programs()
{
    std::vector<Program> list;
    std::vector<std::filesystem::path> tables;
    for (const auto &entry : std::filesystem::directory_iterator(env("KORIN_TABLES")))
        if (entry.path().extension() == ".txt") tables.push_back(entry.path());
    std::sort(tables.begin(), tables.end());
    for (const auto &path : tables) {
        auto t = table(path);
        if (t["code_page"].empty()) continue;  // CMakeLists.txt
        std::string id = path.stem().string();
        for (char &c : id) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const std::string deliverable = env(("KORIN_DELIVERABLE_" + id).c_str());
        unsigned major = 0, minor = 0;
        char letter = 0;
        std::sscanf(t["name"].c_str(), "V%u.%u%c", &major, &minor, &letter);
        const uint16_t code_page = static_cast<uint16_t>(std::atoi(t["code_page"].c_str()));
        const std::string file = deliverable.empty() ? "no_KORIN_DELIVERABLE_" + id : std::filesystem::path(deliverable).filename().string();
        list.push_back({deliverable, true, file, t["title"],
                        t["name"].empty() ? "" : t["name"].substr(1), major << 16 | minor,
                        letter ? static_cast<uint32_t>(letter - 'A' + 1) : 0u,
                        static_cast<uint16_t>(code_page == 936 ? 0x0804 : 0x0404), code_page});
    }
    for (const auto &[file, what] : {std::pair{"pak.exe", "PAK archive tool"}, {"cfgtool.exe", "Configuration file viewer"}})
        list.push_back({env("KORIN_BIN") + "/" + file, false, file, "Korin III " + std::string(what), "1.0", 0x00010000, 0, 0x0409, 1252});
    return list;
}

void PrintTo(const Program &p, std::ostream *out) { *out << p.file_name; }

class BuiltProgram : public testing::TestWithParam<Program> {};

TEST_P(BuiltProgram, ManifestAsksForWhatTheProgramNeeds)
{
    const Program &p = GetParam();
    const pe::File file(p.path);
    ASSERT_TRUE(file.valid) << p.path;
    const auto manifest = file.resource(24, 1);
    ASSERT_TRUE(manifest) << "no manifest";
    const std::string &xml = manifest->bytes;

    EXPECT_EQ(attributes(xml, "requestedExecutionLevel", "level"),
              std::vector<std::string>{p.updater ? "requireAdministrator" : "asInvoker"});
    EXPECT_EQ(attributes(xml, "requestedExecutionLevel", "uiAccess"), std::vector<std::string>{"false"});
    const auto os = attributes(xml, "supportedOS", "Id");
    EXPECT_EQ(std::set<std::string>(os.begin(), os.end()), (std::set<std::string>{
                  "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  // Vista
                  "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // 7
                  "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // 8
                  "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // 8.1
                  "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // 10 and 11
              }));
    const auto names = attributes(xml, "assemblyIdentity", "name");
    const auto at = std::find(names.begin(), names.end(), "Microsoft.Windows.Common-Controls");
    EXPECT_EQ(at != names.end(), p.updater) << "Common Controls 6 dependency";
    if (at != names.end()) {
        const size_t i = static_cast<size_t>(at - names.begin());
        EXPECT_EQ(attributes(xml, "assemblyIdentity", "version")[i], "6.0.0.0");
        EXPECT_EQ(attributes(xml, "assemblyIdentity", "publicKeyToken")[i], "6595b64144ccf1df");
        EXPECT_NE(xml.find("<dependentAssembly>"), std::string::npos);
    }
    EXPECT_EQ(element_text(xml, "dpiAware"), p.updater ? "true" : "(none)") << "system DPI awareness";
}

TEST_P(BuiltProgram, VersionInformationNamesTheProgramInItsLanguage)
{
    const Program &p = GetParam();
    const pe::File file(p.path);
    ASSERT_TRUE(file.valid) << p.path;
    const auto resource = file.resource(16, 1);
    ASSERT_TRUE(resource) << "no version information";
    EXPECT_EQ(resource->language, p.language);
    const auto root = pe::parse_version(resource->bytes);
    ASSERT_TRUE(root && root->key == u"VS_VERSION_INFO");

    // VS_FIXEDFILEINFO: signature, structure version, file MS/LS, product MS/LS.
    ASSERT_GE(root->value.size(), 24u);
    uint32_t fixed[6];
    std::memcpy(fixed, root->value.data(), sizeof fixed);
    EXPECT_EQ(fixed[0], 0xFEEF04BDu);
    EXPECT_EQ(fixed[2], p.version_ms);
    EXPECT_EQ(fixed[3], p.version_ls);
    EXPECT_EQ(fixed[4], p.version_ms);
    EXPECT_EQ(fixed[5], p.version_ls);

    char block[9];
    std::snprintf(block, sizeof block, "%04X%04X", p.language, p.code_page);
    const pe::VersionNode *strings = root->child(u"StringFileInfo");
    ASSERT_TRUE(strings);
    ASSERT_EQ(strings->children.size(), 1u);
    const pe::VersionNode *table = strings->child(pe::utf16(block));
    ASSERT_TRUE(table) << "no string table " << block;
    const std::pair<const char16_t *, std::string> expected[] = {
        {u"FileDescription", p.description}, {u"ProductName", "Korin III"},
        {u"FileVersion", p.version_text},    {u"ProductVersion", p.version_text},
        {u"OriginalFilename", p.file_name},  {u"InternalName", p.file_name},
    };
    for (const auto &[key, value] : expected) {
        const pe::VersionNode *s = table->child(key);
        ASSERT_TRUE(s && s->text) << "no text " << std::string(key, key + std::char_traits<char16_t>::length(key));
        EXPECT_TRUE(s->string == pe::utf16(value)) << value;
    }

    const pe::VersionNode *vars = root->child(u"VarFileInfo");
    const pe::VersionNode *translation = vars ? vars->child(u"Translation") : nullptr;
    ASSERT_TRUE(translation);
    const std::string want{static_cast<char>(p.language & 0xFF), static_cast<char>(p.language >> 8),
                           static_cast<char>(p.code_page & 0xFF), static_cast<char>(p.code_page >> 8)};
    EXPECT_EQ(translation->value, want);
}

TEST_P(BuiltProgram, ImportsOnlyDllsTheSystemLoadsFromItsOwnFolder)
{
    const Program &p = GetParam();
    const pe::File file(p.path);
    ASSERT_TRUE(file.valid) << p.path;
    // Known DLLs of Windows 7 to 11: the loader takes them from the system
    // folder whatever lies beside the program, before WinMain can say so.
    const std::set<std::string> known = {
        "advapi32.dll", "comdlg32.dll", "gdi32.dll",  "imagehlp.dll", "imm32.dll",   "kernel32.dll",
        "msctf.dll",    "msvcrt.dll",   "normaliz.dll", "nsi.dll",    "ole32.dll",   "oleaut32.dll",
        "psapi.dll",    "rpcrt4.dll",   "sechost.dll", "setupapi.dll", "shell32.dll", "shlwapi.dll",
        "user32.dll",   "wldap32.dll",  "ws2_32.dll",
    };
    ASSERT_FALSE(file.imports.empty());
    for (const std::string &dll : file.imports) EXPECT_TRUE(known.count(dll)) << dll << " is searched for beside the program";
    EXPECT_FALSE(file.delay_imports) << "delay-loaded DLLs are searched for when first called";
    // What only unused code would need stays out: the file dialogs.
    if (p.updater) {
        EXPECT_EQ(std::count(file.imports.begin(), file.imports.end(), "comdlg32.dll"), 0);
    }
}

TEST_P(BuiltProgram, HeaderFlags)
{
    const Program &p = GetParam();
    const pe::File file(p.path);
    ASSERT_TRUE(file.valid) << p.path;
    constexpr uint16_t DYNAMIC_BASE = 0x0040, NX_COMPAT = 0x0100, TERMINAL_SERVER_AWARE = 0x8000;
    EXPECT_EQ(file.dll_characteristics & (DYNAMIC_BASE | NX_COMPAT), DYNAMIC_BASE | NX_COMPAT);
    // A Remote Desktop host gives an aware program the real Windows folder,
    // where KORIN3.INI lies, instead of one of the user's own.
    EXPECT_EQ((file.dll_characteristics & TERMINAL_SERVER_AWARE) != 0, p.updater);
}

INSTANTIATE_TEST_SUITE_P(Programs, BuiltProgram, testing::ValuesIn(programs()), [](const testing::TestParamInfo<Program> &info) {
    std::string name = info.param.file_name.substr(0, info.param.file_name.find('.'));
    return name;
});

}  // namespace
