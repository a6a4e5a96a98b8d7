#include <gtest/gtest.h>

#include <optional>

#include "driver/tests/game_fixture.h"
#include "driver/update.h"

namespace {

using namespace gamefix;
using testpak::Bytes;
using testpak::get_u32;
using testpak::put_u32;

using InstallListTest = DriverTest;

// What registration must make of `list` whose names are `names`: the old
// bytes with the header pointing behind them, then the whole list again with
// "Update.PAK" at its end.
Bytes registered(Bytes list, const std::vector<std::string> &names)
{
    const uint32_t size = static_cast<uint32_t>(list.size());
    put_u32(list, 768, size);
    put_u32(list, 772, static_cast<uint32_t>(names.size() + 1));
    for (const std::string &name : names) {
        list.insert(list.end(), name.begin(), name.end());
        list.push_back(0);
    }
    for (char c : std::string("Update.PAK")) list.push_back(static_cast<uint8_t>(c));
    list.push_back(0);
    return list;
}

Bytes with_u32(Bytes list, size_t at, uint32_t value)
{
    put_u32(list, at, value);
    return list;
}

// One name of `length` characters: the old names then fill length + 1 bytes.
Bytes list_of_one_name(size_t length) { return install_list({std::string(length, 'n')}); }

TEST_F(InstallListTest, RegistrationAppendsAFreshListOrLeavesTheFileAlone)
{
    const Bytes empty = install_list({});
    const Bytes two = install_list({"A.PAK", "B.PAK"});
    Bytes spaced = install_list({"A.PAK"}, 800);
    spaced.push_back('z');  // bytes behind the list are carried over
    struct Case {
        const char *behaviour;
        Bytes list;
        std::optional<Bytes> expected;  // none: the file must stay as it was
    } cases[] = {
        {"776 bytes with an empty list become 787", empty, registered(empty, {})},
        {"an empty list's offset is not read", with_u32(empty, 768, 0xFFFFFFFFu), registered(empty, {})},
        {"788 bytes listing A.PAK and B.PAK become 811", two, registered(two, {"A.PAK", "B.PAK"})},
        {"bytes around the list are carried over", spaced, registered(spaced, {"A.PAK"})},
        {"a list holding UPDATE.PAK is not rewritten", install_list({"A.PAK", "UPDATE.PAK"}), std::nullopt},
        {"a file shorter than the header", Bytes(empty.begin(), empty.end() - 1), std::nullopt},
        {"a negative count", with_u32(two, 772, 0xFFFFFFFFu), std::nullopt},
        {"a list offset past the data", with_u32(two, 768, 788), std::nullopt},
        {"a count beyond the names present", with_u32(two, 772, 3), std::nullopt},
        {"a last name running past the data", Bytes(two.begin(), two.end() - 1), std::nullopt},
        {"old names of 511871 bytes still fit", list_of_one_name(511870),
         registered(list_of_one_name(511870), {std::string(511870, 'n')})},
        {"old names of 511872 bytes leave too little room", list_of_one_name(511871), std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.behaviour);
        testpak::TempDir dir;
        const std::string path = dir.write("INSTALL.DAT", c.list);
        register_update_pak(path.c_str());
        EXPECT_EQ(testpak::read_file(path), c.expected.value_or(c.list));
        EXPECT_EQ(snapshot(dir.path().string()).size(), 1u) << "scratch file left behind";
    }
}

TEST_F(InstallListTest, MissingListIsNotCreated)
{
    testpak::TempDir dir;
    register_update_pak(dir.file("INSTALL.DAT").c_str());
    EXPECT_TRUE(snapshot(dir.path().string()).empty());
}

TEST_F(InstallListTest, RegisteredListReadsAsTheGameWouldReadIt)
{
    testpak::TempDir dir;
    const std::string path = dir.write("INSTALL.DAT", install_list({"Korin3.PAK", "Music.PAK"}));
    register_update_pak(path.c_str());
    const Bytes list = testpak::read_file(path);
    EXPECT_EQ(listed_names(list), (std::vector<std::string>{"Korin3.PAK", "Music.PAK", "Update.PAK"}));
    EXPECT_EQ(get_u32(list, 768), 776u + 11 + 10);
}

}  // namespace
