// SPDX-License-Identifier: MIT
#include "provider/ui/mail_handler.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

#include "base/temp_dir_test_support.h"

namespace mb::provider {
namespace {

namespace fs = std::filesystem;

TEST(MailHandler, BrowsersAreKnownByCategoryOrByTakingHttpLinks) {
    EXPECT_TRUE(isWebBrowserEntry("[Desktop Entry]\nName=Web\nCategories=Network;WebBrowser;\n"));
    EXPECT_TRUE(isWebBrowserEntry(
        "[Desktop Entry]\r\nMimeType=text/html;x-scheme-handler/http;x-scheme-handler/mailto;\r\n"));
    EXPECT_FALSE(isWebBrowserEntry(
        "[Desktop Entry]\nCategories=Network;Email;\nMimeType=x-scheme-handler/mailto;\n"));
    // Only the main entry counts, and only whole items of the list.
    EXPECT_FALSE(isWebBrowserEntry("[Desktop Entry]\nCategories=Email;\n"
                                   "[Desktop Action browse]\nCategories=WebBrowser;\n"));
    EXPECT_FALSE(isWebBrowserEntry("[Desktop Entry]\nCategories=NotAWebBrowserReally;\n"
                                   "MimeType=x-scheme-handler/https;\n"));
}

class MailHandlerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"PATH", "XDG_DATA_HOME", "XDG_DATA_DIRS"}) {
            const char* value = getenv(name);
            saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
        }
        fs::create_directories(bin());
        fs::create_directories(dir_.path() + "/home/applications/vendor");
        fs::create_directories(dir_.path() + "/system/applications");
        setenv("PATH", bin().c_str(), 1);
        setenv("XDG_DATA_HOME", (dir_.path() + "/home").c_str(), 1);
        setenv("XDG_DATA_DIRS", (dir_.path() + "/system").c_str(), 1);
        script("xdg-email", "exit 0");
    }
    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
        }
    }
    std::string bin() const { return dir_.path() + "/bin"; }
    void script(const std::string& name, const std::string& body) {
        std::ofstream(bin() + "/" + name) << "#!/bin/sh\n" << body << "\n";
        fs::permissions(bin() + "/" + name, fs::perms(0755));
    }
    void desktopFile(const std::string& path, const std::string& text) {
        std::ofstream(dir_.path() + "/" + path) << text;
    }

    mb::test::TempDir dir_{"mailto"};
    std::map<std::string, std::optional<std::string>> saved_;
};

TEST_F(MailHandlerTest, DesktopFilesAreFoundWhereTheDesktopLooks) {
    desktopFile("system/applications/mail.desktop", "[Desktop Entry]\n");
    desktopFile("home/applications/vendor/web.desktop", "[Desktop Entry]\n");
    EXPECT_EQ(findDesktopFile("mail.desktop"), dir_.path() + "/system/applications/mail.desktop");
    EXPECT_EQ(findDesktopFile("vendor-web.desktop"),
              dir_.path() + "/home/applications/vendor/web.desktop");
    EXPECT_EQ(findDesktopFile("none.desktop"), "");
    EXPECT_EQ(findDesktopFile("../applications/mail.desktop"), "");
    EXPECT_EQ(findDesktopFile(""), "");
}

TEST_F(MailHandlerTest, AutoPicksTheMailerOnlyForAMailProgram) {
    desktopFile("system/applications/mail.desktop", "[Desktop Entry]\nCategories=Email;\n");
    desktopFile("system/applications/web.desktop", "[Desktop Entry]\nCategories=WebBrowser;\n");
    script("xdg-mime", "echo mail.desktop");
    EXPECT_EQ(mailtoHandler(), "mail.desktop");
    EXPECT_TRUE(autoComposesWithMailer());
    script("xdg-mime", "echo web.desktop");
    EXPECT_FALSE(autoComposesWithMailer());
    script("xdg-mime", "exit 0");  // no handler at all
    EXPECT_FALSE(autoComposesWithMailer());
    script("xdg-mime", "echo gone.desktop");
    EXPECT_FALSE(autoComposesWithMailer());
    script("xdg-mime", "echo mail.desktop");
    fs::remove(bin() + "/xdg-email");  // nothing to hand the message to
    EXPECT_FALSE(autoComposesWithMailer());
}

}  // namespace
}  // namespace mb::provider
