// The about box and the help menu's documents.
#include <gtest/gtest.h>

#include <QLabel>

#include "about/WebLinks.h"
#include "about/verform.h"
#include "dialog_test_support.h"
#include "test_support.h"

using namespace tessarine;

TEST(AboutBox, VersionTextAndLinks) {
    testsupport::EnsureApplication();
    testsupport::ScriptedPrompts prompts;
    TVerInfoForm form(prompts);
    EXPECT_EQ(form.Label2->text(), "ver 1.01  (2007.10.14)");
    OpenHelpDocument(prompts, "/opt/tessarine/");
    EXPECT_EQ(prompts.opened, (std::vector<std::string>{"/opt/tessarine/help.html"}));
}

// The addresses come from the program folder's data/links.ini; the shipped
// file points the home page and the LHA link at pages in the program folder.
TEST(WebLinks, ShippedAddressesOpenPagesOfTheProgramFolder) {
    const char* bin = std::getenv("TESSARINE_BIN_DIR");
    if (!bin) bin = TESSARINE_BIN_DIR_DEFAULT;
    const std::string prog = std::string(bin) + "/";
    const WebLinks links = LoadWebLinks(prog);
    EXPECT_EQ(links.HomePage, prog + "help.html");
    EXPECT_EQ(links.LhaDownload, prog + "help/dllinstall.html");
    for (const std::string& target : {links.HomePage, links.SevenZipDownload, links.LhaDownload}) {
        EXPECT_EQ(target.find("example"), std::string::npos) << target;
        if (target.find("://") == std::string::npos) {
            EXPECT_TRUE(std::filesystem::exists(target)) << target;
        }
    }
}

TEST(WebLinks, AboutBoxOpensTheConfiguredHomePage) {
    testsupport::EnsureApplication();
    testsupport::TempDir dir;
    testsupport::MakeDir(dir.path() + "/data");
    testsupport::WriteFile(dir.path() + "/data/links.ini", "[links]\r\nHomePage=https://home.test/\r\n");
    testsupport::ScriptedPrompts prompts;
    TVerInfoForm form(prompts);
    form.ProgramFolder = dir.folder();
    form.Label3Click();
    OpenHomePage(prompts, dir.folder());
    EXPECT_EQ(prompts.opened, (std::vector<std::string>{"https://home.test/", "https://home.test/"}));
}
