#include <gtest/gtest.h>

#include "driver/win32/app.h"

namespace {

TEST(ResultMessage, OnlyTheFirstBitSetInPriorityOrderIsReported)
{
    EditionTexts texts = {};
    texts.msg_done = "done", texts.msg_already_applied = "already applied";
    texts.msg_newer_installed = "newer installed", texts.msg_wrong_version = "wrong version";
    texts.msg_game_damaged = "game damaged", texts.msg_payload_damaged = "payload damaged", texts.msg_failed = "failed";
    const struct {
        UpdateFlags flags;
        const char *shown;  // null: no message at all
    } cases[] = {
        {UF_DONE, "done"},
        {UF_ALREADY_APPLIED | UF_NEWER_INSTALLED, "already applied"},
        {UF_NEWER_INSTALLED | UF_WRONG_VERSION, "newer installed"},
        {UF_WRONG_VERSION | UF_GAME_DAMAGED, "wrong version"},
        {UF_GAME_DAMAGED | UF_PAYLOAD_DAMAGED | UF_FAILED, "game damaged"},
        {UF_PAYLOAD_DAMAGED | UF_FAILED, "payload damaged"},
        {UF_FAILED, "failed"},
        {0xFFFFFFFFu, "done"},
        {0, nullptr},                            // cancelled
        {0x20 | 0x80 | 0x80000000u, nullptr},    // bits no message belongs to
    };
    for (const auto &c : cases) {
        const char *text = result_text(c.flags, texts);
        EXPECT_STREQ(text ? text : "(none)", c.shown ? c.shown : "(none)") << std::hex << c.flags;
    }
}

}  // namespace
