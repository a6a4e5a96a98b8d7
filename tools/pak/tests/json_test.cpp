#include <gtest/gtest.h>

#include <string>

#include "tools/pak/json.h"

namespace {

TEST(Json, Utf8IsCheckedStrictly)
{
    const struct {
        std::string bytes;
        bool valid;
    } cases[] = {
        {"plain", true},
        {"\xE6\x9B\xB4\xE6\x96\xB0.txt", true},  // CJK in UTF-8
        {"\xF0\x9F\x98\x80", true},              // U+1F600
        {"\xA7\xF3\xB7\x73", false},             // Big5
        {"\xC0\xAF", false},                     // overlong '/'
        {"\xED\xA0\x80", false},                 // surrogate
        {"\xF4\x90\x80\x80", false},             // above U+10FFFF
        {"\xE6\x9B", false},                     // cut short
        {"\x80", false},                         // stray continuation
    };
    for (const auto &c : cases)
        EXPECT_EQ(utf8_valid(c.bytes.data(), static_cast<int>(c.bytes.size())), c.valid) << c.bytes;
}

void collect(const char *text, int length, void *context) { static_cast<std::string *>(context)->append(text, length); }

TEST(Json, NonUtf8NamesAreGivenInHex)
{
    std::string out;
    JsonWriter w;
    json_init(&w, collect, &out);
    json_open(&w, nullptr, '{');
    json_bytes(&w, "name", "\xA7\xF3", 2);
    json_bytes(&w, "other", "q\"\\\n\x01", 5);
    json_open(&w, "list", '[');
    json_number(&w, nullptr, 1);
    json_bool(&w, nullptr, false);
    json_close(&w, ']');
    json_close(&w, '}');
    EXPECT_EQ(out, "{\"name_hex\":\"a7f3\",\"other\":\"q\\\"\\\\\\n\\u0001\",\"list\":[1,false]}");
}

TEST(Json, LongUtf8TextKeepsItsCharactersWhole)
{
    std::string text;
    for (int i = 0; i < 50; ++i) text += "\xE6\x9B\xB4";  // 150 bytes, pieces of at most 64
    std::string out;
    JsonWriter w;
    json_init(&w, collect, &out);
    json_bytes(&w, "name", text.data(), static_cast<int>(text.size()));
    EXPECT_EQ(out, "\"name\":\"" + text + "\"");
}

}  // namespace
