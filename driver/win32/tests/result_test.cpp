#include <gtest/gtest.h>

#include "driver/win32/app.h"

namespace {

EditionTexts marked_texts()
{
    EditionTexts t = {};
    t.msg_done = "done";
    t.msg_already_applied = "already applied";
    t.msg_newer_installed = "newer installed";
    t.msg_wrong_version = "wrong version";
    t.msg_game_damaged = "game damaged";
    t.msg_payload_damaged = "payload damaged";
    t.msg_failed = "failed";
    return t;
}

TEST(ResultMessage, FirstBitSetInPriorityOrderIsReportedAlone)
{
    const struct {
        UpdateFlags flags;
        const char *shown;
    } cases[] = {
        {UF_DONE, "done"},
        {UF_ALREADY_APPLIED, "already applied"},
        {UF_NEWER_INSTALLED, "newer installed"},
        {UF_WRONG_VERSION, "wrong version"},
        {UF_GAME_DAMAGED, "game damaged"},
        {UF_PAYLOAD_DAMAGED, "payload damaged"},
        {UF_FAILED, "failed"},
        {UF_NEWER_INSTALLED | UF_WRONG_VERSION, "newer installed"},
        {UF_ALREADY_APPLIED | UF_NEWER_INSTALLED, "already applied"},
        {UF_WRONG_VERSION | UF_GAME_DAMAGED, "wrong version"},
        {UF_GAME_DAMAGED | UF_PAYLOAD_DAMAGED | UF_FAILED, "game damaged"},
        {UF_PAYLOAD_DAMAGED | UF_FAILED, "payload damaged"},
        {0xFFFFFFFFu, "done"},
    };
    const EditionTexts texts = marked_texts();
    for (const auto &c : cases) {
        const char *text = result_text(c.flags, texts);
        ASSERT_NE(text, nullptr) << std::hex << c.flags;
        EXPECT_STREQ(text, c.shown) << std::hex << c.flags;
    }
}

TEST(ResultMessage, NothingIsShownWithoutAKnownBit)
{
    const EditionTexts texts = marked_texts();
    for (UpdateFlags flags : {0x0u, 0x20u, 0x80u, 0x80000000u, 0x3FFFFF00u})
        EXPECT_EQ(result_text(flags, texts), nullptr) << std::hex << flags;
}

}  // namespace
