// Malformed and hostile files, and memory running out: nothing crashes, no
// read leaves the stores (AddressSanitizer watches the native run), and every
// failure leaves a store that lookups can still walk.
#include <cstring>
#include <string>
#include <vector>

#include "config/store.h"
#include "config/tests/config_fixture.h"

namespace {

std::string binary(size_t count, uint32_t seed)
{
    const testpak::Bytes bytes = testpak::pattern_bytes(count, seed);
    return std::string(bytes.begin(), bytes.end());
}

std::string repeat(const std::string &part, size_t times)
{
    std::string out;
    out.reserve(part.size() * times);
    for (size_t i = 0; i < times; ++i) out += part;
    return out;
}

std::string every_byte_value()
{
    std::string out;
    for (int i = 0; i < 256; ++i) out += static_cast<char>(i);
    return out;
}

// True when the name lies inside the text store and ends there.
bool inside_text(const char *p)
{
    if (p < g_cfg.text || p >= g_cfg.text + g_cfg.text_size) return false;
    const void *end = std::memchr(p, 0, static_cast<size_t>(g_cfg.text + g_cfg.text_size - p));
    return end != nullptr;
}

// Walks every section and key and checks that each name and value lies
// inside the store; returns the number of records visited.
int walk_all()
{
    int visited = 0;
    for (int32_t s = cfg_entry_name(1) ? 1 : 0; s; s = cfg_next_section(s, nullptr)) {
        EXPECT_TRUE(inside_text(cfg_entry_name(s)));
        ++visited;
        for (int32_t k = cfg_next_key(s, nullptr, nullptr); k; k = cfg_next_key(k, nullptr, nullptr)) {
            EXPECT_TRUE(inside_text(cfg_entry_name(k)));
            EXPECT_TRUE(inside_text(cfg_entry_value(k)));
            ++visited;
        }
    }
    const char *name = nullptr;
    const char *value = nullptr;
    for (int32_t m = cfg_next_macro(0, &name, &value); m; m = cfg_next_macro(m, &name, &value)) {
        EXPECT_GE(name, g_cfg.include);
        EXPECT_LT(value, g_cfg.include + g_cfg.include_size);
    }
    return visited;
}

struct HostileCase {
    const char *behaviour;
    std::string text;
};

using HostileFiles = ConfigTest;

TEST_F(HostileFiles, LoadWithoutReadingOutsideTheStore)
{
    const std::string specials = "[]=;/#\t \r\n";
    const HostileCase cases[] = {
        {"binary data", binary(256 * 1024, 7)},
        {"every byte value", repeat(every_byte_value(), 64)},
        {"syntax bytes only, shuffled", [&] {
             std::string s;
             const std::string noise = binary(64 * 1024, 3);
             for (char c : noise) s += specials[static_cast<unsigned char>(c) % specials.size()];
             return s;
         }()},
        {"NUL bytes inside names and values", std::string("[S\0T]\r\nA\0B=x\0y\r\n\0\0\0=\0\r\n", 23)},
        {"a huge line", std::string(3 * 1024 * 1024, 'x')},
        {"a huge value", "[S]\r\nK=" + std::string(2 * 1024 * 1024, 'v') + "   "},
        {"brackets only", std::string(100000, '[')},
        {"hashes only", std::string(100000, '#')},
        {"slashes only", std::string(100000, '/')},
        {"equals only", std::string(100000, '=')},
        {"defines without line ends", repeat("#define", 10000)},
        {"defines with glued equals", repeat("#define=\r\n#define;\r\n#define \r\n", 1000)},
        {"bare CR lines", repeat("[S]\rK=V\r", 10000)},
        {"bare LF lines", repeat("[S]\nK=V\n", 10000)},
        {"ends in a bracket", "[S]\r\n["},
        {"ends in a hash", "A=1\r\n#"},
        {"ends in a slash", "A=1 /"},
        {"ends in a comment start", "A=1\r\n;"},
        {"ends in an include without line end", "#include"},
        {"high bytes with trail byte 0x5C", "[\xa5\x5c]\r\n\xa5\x5c=\xa5\x5c\r\n"},
    };
    for (const HostileCase &c : cases) {
        cfg_reset();
        EXPECT_EQ(load("hostile.ini", c.text), 1) << c.behaviour;
        walk_all();
        // The same bytes as an included file.
        write("inc.ini", c.text);
        EXPECT_EQ(load("main.ini", "[M]\r\n#include inc.ini\r\n"), 1) << c.behaviour;
        walk_all();
        int32_t out = 0;
        cfg_value_to_int("x", &out);
        EXPECT_NE(cfg_find_section("M", 1), 0) << c.behaviour;
    }
}

TEST_F(HostileFiles, ThousandsOfSectionsStayLinkedInOrder)
{
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "[S" + std::to_string(i) + "]\r\nK=" + std::to_string(i) + "\r\n";
    ASSERT_EQ(load("many.ini", text), 1);
    ASSERT_EQ(load("more.ini", "[Last]\r\nK=last\r\n"), 1);
    EXPECT_EQ(cfg_count_sections(nullptr, 1), 20001);
    const int32_t s = cfg_find_section("s19999", 1);
    ASSERT_NE(s, 0);
    int32_t k = 0;
    EXPECT_EQ(cfg_get_int("K", 1, s, &k), 1);
    EXPECT_EQ(k, 19999);
    EXPECT_STREQ(cfg_get_string("K", 1, cfg_find_section("Last", 1), nullptr), "last");
    EXPECT_EQ(walk_all(), 40002);
}

// ---- Memory running out ----------------------------------------------------------

struct FaultCase {
    const char *behaviour;
    std::string text;  // loaded after "[A] K=1" with macro MA=1
    long nth;          // allocation of this load that fails
    int32_t result;
    const char *dump;
    const char *macros;
};

std::string keys(int count)
{
    std::string out;
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        out.append("K").append(n).append("=").append(n).append("\r\n");
    }
    return out;
}

using OutOfMemory = ConfigTest;

// A load allocates in this order: the text store, then while parsing the
// entry table and the include store as lines need them, then the macro table.
TEST_F(OutOfMemory, EachGrowthFailureEmptiesWhatReferredToTheLostBlock)
{
    write("ca.ini", "MA=1\r\n");
    write("cb.ini", "MB=2\r\n");
    write("cc.ini", "MC=3\r\n");
    write("many.ini", keys(70));
    const FaultCase cases[] = {
        {"text store: all sections and keys go, macros stay", "[B]\r\nK=2\r\n", 1, 0, "", "MA=1\n"},
        {"entry table: all sections and keys go, the load still counts", "[B]\r\n" + keys(70), 2, 1, "",
         "MA=1\n"},
        {"include store: all macros go, sections stay", "[B]\r\n#include cb.ini\r\n", 2, 1, "[A]\nK=1\n[B]\n",
         ""},
        {"include store, then a later include of the same load succeeds",
         "[B]\r\n#include cb.ini\r\n#include cc.ini\r\n", 2, 1, "[A]\nK=1\n[B]\n", "MC=3\n"},
        {"macro table: all macros go", "[B]\r\n#include many.ini\r\n", 3, 1, "[A]\nK=1\n[B]\n", ""},
    };
    for (const FaultCase &c : cases) {
        cfg_reset();
        ASSERT_EQ(load("a.ini", "[A]\r\nK=1\r\n#include ca.ini\r\n"), 1);
        write("b.ini", c.text);
        fault_arm(FAULT_ALLOC, c.nth, false);
        EXPECT_EQ(cfg_load("b.ini"), c.result) << c.behaviour;
        EXPECT_EQ(fault_injected(), 1) << c.behaviour;
        fault_disarm();
        EXPECT_EQ(dump(), c.dump) << c.behaviour;
        EXPECT_EQ(macros(), c.macros) << c.behaviour;
        walk_all();

        // The store works on afterwards.
        EXPECT_EQ(load("c.ini", "[C]\r\n#include cc.ini\r\nV=MC\r\n"), 1) << c.behaviour;
        int32_t v = 0;
        EXPECT_EQ(cfg_get_int("V", 1, cfg_find_section("C", 1), &v), 1) << c.behaviour;
        EXPECT_EQ(v, 3) << c.behaviour;
    }
}

TEST_F(OutOfMemory, EveryFailingAllocationLeavesAWalkableStore)
{
    write("consts.ini", keys(130));
    const std::string first = "[A]\r\n#include consts.ini\r\n" + keys(100);
    const std::string second = "B0=1\r\n[B]\r\n" + keys(130) + "#include consts.ini\r\nX=K5\r\n";
    write("first.ini", first);
    write("second.ini", second);

    fault_arm(FAULT_ALLOC, 0, false);
    cfg_load("first.ini");
    cfg_load("second.ini");
    const long points = fault_points();
    fault_disarm();
    ASSERT_GT(points, 6);

    for (const bool sticky : {false, true}) {
        for (long nth = 1; nth <= points; ++nth) {
            cfg_reset();
            fault_arm(FAULT_ALLOC, nth, sticky);
            cfg_load("first.ini");
            cfg_load("second.ini");
            fault_disarm();
            walk_all();
            int32_t out = 0;
            cfg_get_int("X", 1, cfg_find_section("B", 1), &out);
            EXPECT_EQ(g_cfg.entry_count <= g_cfg.entry_capacity, true) << nth;
            EXPECT_EQ(g_cfg.macro_count <= g_cfg.macro_capacity, true) << nth;
            EXPECT_LE(g_cfg.include_parsed, g_cfg.include_size) << nth;
        }
    }
}

}  // namespace
