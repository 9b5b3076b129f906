// The about box and the help menu's documents.
#include <gtest/gtest.h>

#include <QLabel>

#include "about/WebLinks.h"
#include "about/verform.h"
#include "dialog_test_support.h"

using namespace tessarine;

TEST(AboutBox, VersionTextAndLinks) {
    testsupport::EnsureApplication();
    testsupport::ScriptedPrompts prompts;
    TVerInfoForm form(prompts);
    EXPECT_EQ(form.Label2->text(), "ver 1.01  (2007.10.14)");
    OpenHelpDocument(prompts, "/opt/tessarine/");
    EXPECT_EQ(prompts.opened, (std::vector<std::string>{"/opt/tessarine/help.html"}));
}
