#include <gtest/gtest.h>

#include <string>

#include "tools/pak/json.h"

namespace {

TEST(Json, Utf8IsCheckedStrictly)
{
    const std::pair<std::string, bool> cases[] = {
        {"plain", true}, {"\xE6\x9B\xB4\xE6\x96\xB0.txt", true}, {"\xF0\x9F\x98\x80", true},
        {"\xA7\xF3\xB7\x73", false},   // Big5
        {"\xC0\xAF", false},           // overlong '/'
        {"\xED\xA0\x80", false},       // surrogate
        {"\xF4\x90\x80\x80", false},   // above U+10FFFF
        {"\xE6\x9B", false}, {"\x80", false},
    };
    for (const auto &[bytes, valid] : cases) EXPECT_EQ(utf8_valid(bytes.data(), static_cast<int>(bytes.size())), valid) << bytes;
}

TEST(Json, NamesAreEscapedOrGivenInHexAndLongTextKeepsItsCharactersWhole)
{
    std::string out, long_text;
    for (int i = 0; i < 50; ++i) long_text += "\xE6\x9B\xB4";  // 150 bytes, written in pieces of at most 64
    JsonWriter w;
    json_init(&w, [](const char *t, int n, void *out) { static_cast<std::string *>(out)->append(t, n); }, &out);
    json_open(&w, nullptr, '{');
    json_bytes(&w, "name", "\xA7\xF3", 2);
    json_bytes(&w, "other", "q\"\\\n\x01", 5);
    json_bytes(&w, "long", long_text.data(), static_cast<int>(long_text.size()));
    json_open(&w, "list", '[');
    json_number(&w, nullptr, 1);
    json_bool(&w, nullptr, false);
    json_close(&w, ']');
    json_close(&w, '}');
    EXPECT_EQ(out, "{\"name_hex\":\"a7f3\",\"other\":\"q\\\"\\\\\\n\\u0001\",\"long\":\"" + long_text + "\",\"list\":[1,false]}");
}

}  // namespace
