// Malformed and hostile files, and memory running out: nothing crashes, no
// read leaves the stores (AddressSanitizer watches the native run), and every
// failure leaves a store that lookups can still walk.
#include "config/tests/config_fixture.h"

namespace {

std::string repeat(const std::string &part, size_t times)
{
    std::string out;
    while (times--) out += part;
    return out;
}

std::string keys(int count)
{
    std::string out;
    for (int i = 0; i < count; ++i) out += "K" + std::to_string(i) + "=" + std::to_string(i) + "\r\n";
    return out;
}

bool inside(const char *p, const char *store, int32_t size)
{
    return p >= store && p < store + size && std::memchr(p, 0, static_cast<size_t>(store + size - p));
}

// Walks every section and key, checking that each value ends inside the
// store; the number of records visited. Macros are walked by macros().
int walk_all()
{
    int visited = 0;
    for (int32_t s = cfg_entry_name(1) ? 1 : 0; s; s = cfg_next_section(s, nullptr), ++visited)
        for (int32_t k = cfg_next_key(s, nullptr, nullptr); k; k = cfg_next_key(k, nullptr, nullptr), ++visited)
            EXPECT_TRUE(inside(cfg_entry_value(k), g_cfg.text, g_cfg.text_size));
    return visited;
}

using Hostile = ConfigTest;

TEST_F(Hostile, FilesLoadWithoutReadingOutsideTheStore)
{
    const fixtures::Bytes noise = fixtures::pattern_bytes(128 * 1024, 7);
    std::string syntax_only;
    for (uint8_t b : noise) syntax_only += "[]=;/#\t \r\n"[b % 10];
    const struct {
        const char *behaviour;
        std::string text;
    } cases[] = {
        {"binary data", std::string(noise.begin(), noise.end())},
        {"syntax bytes in random order", syntax_only},
        {"NUL bytes inside names and values", std::string("[S\0T]\r\nA\0B=x\0y\r\n\0\0\0=\0\r\n", 23)},
        {"a huge line", std::string(3 * 1024 * 1024, 'x')},
        {"a huge value", "[S]\r\nK=" + std::string(2 * 1024 * 1024, 'v') + "   "},
        {"defines without line ends", repeat("#define", 10000)},
        {"bare CR lines", repeat("[S]\rK=V\r", 10000)},
        {"last byte starts a token", "[S]\r\nA=1 /"},
    };
    for (const auto &c : cases) {
        cfg_reset();
        EXPECT_EQ(load("hostile.ini", c.text), 1) << c.behaviour;
        write("inc.ini", c.text);  // and the same bytes as an included file
        EXPECT_EQ(load("main.ini", "[M]\r\n#include inc.ini\r\n"), 1) << c.behaviour;
        walk_all();
        macros();
        EXPECT_NE(cfg_find_section("M", 1), 0) << c.behaviour;
    }
}

TEST_F(Hostile, ThousandsOfSectionsStayLinkedInOrder)
{
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "[S" + std::to_string(i) + "]\r\n" + keys(1);
    ASSERT_EQ(load("many.ini", text), 1);
    ASSERT_EQ(load("more.ini", "[Last]\r\n"), 1);
    EXPECT_EQ(cfg_count_sections(nullptr, 1), 20001);
    EXPECT_EQ(walk_all(), 40001);
    EXPECT_EQ(cfg_next_section(cfg_find_section("s19999", 1), nullptr), cfg_find_section("LAST", 1));
}

// A load allocates the text store first, then, while parsing, the entry table
// and the include store as lines need them, then the macro table.
TEST_F(Hostile, EachGrowthFailureEmptiesWhatReferredToTheLostBlock)
{
    write("ca.ini", "MA=1\r\n");
    write("cb.ini", "MB=2\r\n");
    write("cc.ini", "MC=3\r\n");
    write("many.ini", keys(70));
    const struct {
        const char *behaviour;
        std::string text;  // loaded after a.ini
        long nth;          // allocation of that load that fails
        int32_t result;
        const char *dump;
        const char *macros;
    } cases[] = {
        {"text store: every section and key goes", "[B]\r\n", 1, 0, "", "MA=1\n"},
        {"entry table: every section and key goes", "[B]\r\n" + keys(70), 2, 1, "", "MA=1\n"},
        {"include store: every macro goes", "[B]\r\n#include cb.ini\r\n", 2, 1, "[A]\n[B]\n", ""},
        {"include store, then a later include of the same load",
         "[B]\r\n#include cb.ini\r\n#include cc.ini\r\n", 2, 1, "[A]\n[B]\n", "MC=3\n"},
        {"macro table: every macro goes", "[B]\r\n#include many.ini\r\n", 3, 1, "[A]\n[B]\n", ""},
    };
    for (const auto &c : cases) {
        cfg_reset();
        ASSERT_EQ(load("a.ini", "[A]\r\n#include ca.ini\r\n"), 1);
        write("b.ini", c.text);
        fault_arm(FAULT_ALLOC, c.nth, false);
        EXPECT_EQ(cfg_load("b.ini"), c.result) << c.behaviour;
        EXPECT_EQ(fault_injected(), 1) << c.behaviour;
        fault_disarm();
        EXPECT_EQ(dump(), c.dump) << c.behaviour;
        EXPECT_EQ(macros(), c.macros) << c.behaviour;

        EXPECT_EQ(load("c.ini", "[C]\r\n#include cc.ini\r\nV=MC\r\n"), 1) << c.behaviour;  // works on
        int32_t v = 0;
        EXPECT_EQ(cfg_get_int("V", 1, cfg_find_section("C", 1), &v), 1) << c.behaviour;
    }
}

TEST_F(Hostile, EveryFailingAllocationLeavesAWalkableStore)
{
    write("consts.ini", keys(130));
    write("first.ini", "[A]\r\n#include consts.ini\r\n" + keys(100));
    // Large enough that its records are given their room in one growth.
    write("second.ini", "B0=1\r\n[B]\r\n" + keys(5000) + "#include consts.ini\r\nX=K5\r\n");
    fault_arm(FAULT_ALLOC, 0, false);
    cfg_load("first.ini");
    cfg_load("second.ini");
    const long points = fault_points();
    ASSERT_GT(points, 6);
    for (const bool sticky : {false, true}) {
        for (long nth = 1; nth <= points; ++nth) {
            cfg_reset();
            fault_arm(FAULT_ALLOC, nth, sticky);
            cfg_load("first.ini");
            cfg_load("second.ini");
            fault_disarm();
            walk_all();
            macros();
            int32_t out = 0;
            cfg_get_int("X", 1, cfg_find_section("B", 1), &out);
            EXPECT_LE(g_cfg.entry_count, g_cfg.entry_capacity) << nth;
            EXPECT_LE(g_cfg.macro_count, g_cfg.macro_capacity) << nth;
        }
    }
}

}  // namespace
