#include <optional>

#include "driver/tests/game_fixture.h"
#include "driver/update.h"

namespace {

using namespace gamefix;
using testpak::put_u32;

using InstallListTest = DriverTest;

// The old bytes with the header pointing behind them, then the whole list
// again with "Update.PAK" at its end.
Bytes registered(Bytes list, std::vector<std::string> names)
{
    names.push_back("Update.PAK");
    put_u32(list, 768, static_cast<uint32_t>(list.size()));
    put_u32(list, 772, static_cast<uint32_t>(names.size()));
    for (const std::string &name : names) list.insert(list.end(), name.c_str(), name.c_str() + name.size() + 1);
    return list;
}

Bytes with_u32(Bytes list, size_t at, uint32_t value) { return put_u32(list, at, value), list; }

TEST_F(InstallListTest, RegistrationAppendsAFreshListOrLeavesTheFileAlone)
{
    const Bytes empty = install_list({}), two = install_list({"A.PAK", "B.PAK"});
    Bytes spaced = install_list({"A.PAK"}, 800);
    spaced.push_back('z');
    const std::string long_name(511870, 'n');  // with its terminator the most the slack keeps
    struct Case {
        const char *behaviour;
        Bytes list;
        std::optional<Bytes> expected;  // none: left as it was
    } cases[] = {
        {"776 bytes with an empty list become 787", empty, registered(empty, {})},
        {"an empty list's offset is not read", with_u32(empty, 768, 0xFFFFFFFFu), registered(empty, {})},
        {"788 bytes listing A.PAK and B.PAK become 811", two, registered(two, {"A.PAK", "B.PAK"})},
        {"bytes around the list are carried over", spaced, registered(spaced, {"A.PAK"})},
        {"old names of 511871 bytes still fit", install_list({long_name}),
         registered(install_list({long_name}), {long_name})},
        {"one byte more leaves too little room", install_list({long_name + "n"}), std::nullopt},
        {"a list holding UPDATE.PAK", install_list({"A.PAK", "UPDATE.PAK"}), std::nullopt},
        {"a file shorter than the header", Bytes(empty.begin(), empty.end() - 1), std::nullopt},
        {"a negative count", with_u32(two, 772, 0xFFFFFFFFu), std::nullopt},
        {"a list offset past the data", with_u32(two, 768, 788), std::nullopt},
        {"a count beyond the names present", with_u32(two, 772, 3), std::nullopt},
        {"a last name running past the data", Bytes(two.begin(), two.end() - 1), std::nullopt},
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

}  // namespace
