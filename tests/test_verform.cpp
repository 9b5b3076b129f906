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
    EXPECT_EQ(form.windowTitle(), "バージョン情報");
    EXPECT_EQ(form.Label2->text(), "ver 1.01  (2007.10.14)");
    form.Label3Click();
    OpenHomePage(prompts);
    OpenHelpDocument(prompts, "/opt/tessarine/");
    EXPECT_EQ(prompts.opened, (std::vector<std::string>{std::string(kHomePageUrl), std::string(kHomePageUrl),
                                                        "/opt/tessarine/help.html"}));
}
