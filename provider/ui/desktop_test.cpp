// SPDX-License-Identifier: MIT
#include "provider/ui/desktop.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

namespace mb::provider {
namespace {

namespace fs = std::filesystem;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text, fs::perms mode = fs::perms(0644)) {
    std::ofstream(path, std::ios::binary) << text;
    fs::permissions(path, mode);
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);) {
        parts.push_back(part);
    }
    return parts;
}

// A store with one draft and its attachment files, a fake xdg-email first on
// PATH recording its arguments NUL-separated, and a desktop session.
class DesktopUiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"PATH", "DISPLAY", "WAYLAND_DISPLAY", "MAILBROKER_UI_SCRIPT",
                                 "MAILBROKER_PROVIDER_LOG", "MAILER"}) {
            const char* value = getenv(name);
            saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
        }
        char pattern[] = "/tmp/mb_desktop_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        bin_ = root_ + "/bin";
        store_ = root_ + "/store";
        forms_ = store_ + "/forms/1.draft";
        fs::create_directories(bin_);
        fs::create_directories(forms_);
        fs::create_directories(store_ + "/Drafts/new");
        form_.draftPath = store_ + "/Drafts/new/1.draft";
        writeFile(form_.draftPath, "Subject: kept\r\n\r\n");
        setenv("PATH", (bin_ + ":/usr/bin:/bin").c_str(), 1);
        setenv("DISPLAY", ":99", 1);
        unsetenv("WAYLAND_DISPLAY");
        unsetenv("MAILBROKER_UI_SCRIPT");
        unsetenv("MAILER");
        setenv("MAILBROKER_PROVIDER_LOG", (root_ + "/log").c_str(), 1);
    }

    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
        }
        fs::remove_all(root_);
    }

    void fakeXdgEmail(int exitCode, const std::string& before = "") {
        writeFile(bin_ + "/xdg-email",
                  "#!/bin/sh\n" + before + "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > '" +
                      record() + "'\nexit " + std::to_string(exitCode) + "\n",
                  fs::perms(0755));
    }

    std::string attach(const std::string& name, const std::string& bytes) {
        const std::string path = forms_ + "/" + name;
        writeFile(path, bytes);
        form_.attachmentPaths.push_back(path);
        return path;
    }

    std::string record() const { return root_ + "/argv"; }
    std::vector<std::string> recorded() const { return split(readFile(record()), '\0'); }
    std::unique_ptr<Ui> ui(std::chrono::milliseconds wait = kFormWait) {
        Profile profile;
        profile.storePath = store_;
        profile.compose = ComposeWindow::Mailer;
        return makeDesktopUi(profile, wait);
    }

    std::map<std::string, std::optional<std::string>> saved_;
    std::string root_, bin_, store_, forms_;
    ComposeForm form_;
};

TEST_F(DesktopUiTest, HandsTheWholeFormToXdgEmail) {
    fakeXdgEmail(0);
    form_.recipients = {{MAPI_TO, "Ann", "ann@example.org"},
                        {MAPI_CC, "Cy", "cy@example.org"},
                        {MAPI_TO, "Bob", "Bob"},  // unresolved: no '@'
                        {MAPI_BCC, "Di", "di@example.org"},
                        {MAPI_TO, "Eve", "-eve@example.org"},
                        {MAPI_TO, "Nobody", ""},
                        {MAPI_TO, "Fay", "fay@example.org"}};
    form_.subject = "Grüße, \"quotes\" & more";
    form_.body = "line one\nline two";
    const std::map<std::string, std::string> files = {
        {"plain.txt", "plain"},
        {"Grüße report (2).pdf", std::string("%PDF\n\x00\x01", 7)},
        {"a,b & 'c'.txt", "unsafe"},
        {"two  blanks.txt", "blanks"}};
    for (const auto& [name, bytes] : files) {
        attach(name, bytes);
    }
    ASSERT_EQ(ui()->showForm(form_), S_OK);

    const std::string real = fs::canonical(forms_).string();
    const std::vector<std::string> expected = {
        "--utf8", "--cc", "cy@example.org", "--to", "Bob", "--bcc", "di@example.org", "--to",
        "-eve@example.org", "--subject", form_.subject, "--body", form_.body,
        // files is sorted: the unsafe names get links in numbered folders
        "--attach", real + "/Grüße report (2).pdf", "--attach", real + "/mailer/2/a_b____c_.txt",
        "--attach", real + "/plain.txt", "--attach", real + "/mailer/4/two__blanks.txt",
        "ann@example.org", "fay@example.org"};
    const std::vector<std::string> argv = recorded();
    EXPECT_EQ(argv, expected);
    // Every file the mail program was given, and every original, is still there.
    for (size_t i = 0; i < files.size(); ++i) {
        const auto& [name, bytes] = *std::next(files.begin(), static_cast<long>(i));
        EXPECT_EQ(readFile(forms_ + "/" + name), bytes) << name;
        ASSERT_LT(14 + 2 * i, argv.size());
        EXPECT_EQ(readFile(argv[14 + 2 * i]), bytes) << name;
    }
    EXPECT_EQ(readFile(form_.draftPath), "Subject: kept\r\n\r\n");
}

TEST_F(DesktopUiTest, ArgumentsAreWhatXdgEmailTakesIntact) {
    EXPECT_EQ(xdgEmailArguments(ComposeForm{}, {}), std::vector<std::string>{"--utf8"});
    ComposeForm form;
    form.recipients = {{MAPI_TO, "", "mailto:x@example.org"}, {MAPI_TO, "", "ann@example.org"}};
    form.subject = "C:\\new & more";  // echoed by xdg-email: goes in a URI of ours
    form.body = "a\\b\r\nc\nd";
    EXPECT_EQ(xdgEmailArguments(form, {}),
              std::vector<std::string>(
                  {"--utf8", "mailto:?subject=C%3A%5Cnew%20%26%20more&body=a%5Cb%0D%0Ac%0D%0Ad",
                   "--to", "mailto:x@example.org", "ann@example.org"}));
    fakeXdgEmail(0);
    form_.body = std::string(24 * 1024 - 1, 'x') + "\xC3\xA9 tail";
    EXPECT_EQ(ui()->showForm(form_), S_OK);
    EXPECT_EQ(recorded().at(2), std::string(24 * 1024 - 1, 'x'));  // cut before the 'é'
    EXPECT_NE(readFile(root_ + "/log").find("shows the body's first 24575 bytes"),
              std::string::npos);
}

TEST_F(DesktopUiTest, AFailingXdgEmailIsAnErrorAndTheDraftStays) {
    fakeXdgEmail(4);
    attach("file.txt", "data");
    EXPECT_EQ(ui()->showForm(form_), MAPI_E_CALL_FAILED);
    EXPECT_TRUE(fs::exists(form_.draftPath));
    EXPECT_EQ(readFile(form_.attachmentPaths[0]), "data");
    const std::string log = readFile(root_ + "/log");
    EXPECT_NE(log.find("exited with 4 (the mail program failed)"), std::string::npos) << log;
    EXPECT_NE(log.find(form_.draftPath), std::string::npos) << log;
}

TEST_F(DesktopUiTest, AMissingOrUnrunnableXdgEmailIsAnError) {
    setenv("PATH", bin_.c_str(), 1);
    EXPECT_EQ(ui()->showForm(form_), MAPI_E_CALL_FAILED);
    EXPECT_NE(readFile(root_ + "/log").find("xdg-email is not on PATH"), std::string::npos);
    writeFile(bin_ + "/xdg-email", "#!/bin/sh\nexit 0\n", fs::perms(0644));
    EXPECT_EQ(findOnPath("xdg-email"), "");
    writeFile(bin_ + "/xdg-email", "#!/nonexistent/interpreter\n", fs::perms(0755));
    EXPECT_EQ(ui()->showForm(form_), MAPI_E_CALL_FAILED);
    EXPECT_NE(readFile(root_ + "/log").find("No such file or directory"), std::string::npos);
    EXPECT_TRUE(fs::exists(form_.draftPath));
}

TEST_F(DesktopUiTest, AProgramStillRunningIsLeftDetachedAndNoZombie) {
    fakeXdgEmail(0, "echo $$ > '" + root_ + "/pid'; sleep 5\n");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ui(std::chrono::milliseconds(300))->showForm(form_), S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    int status = 0;
    EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1);  // no child of ours left, live or dead
    EXPECT_EQ(errno, ECHILD);
    const pid_t sleeper = std::atoi(readFile(root_ + "/pid").c_str());
    ASSERT_GT(sleeper, 1);
    EXPECT_EQ(kill(sleeper, 0), 0);  // still running, on its own
    kill(-sleeper, SIGTERM);         // its own session and process group
}

TEST_F(DesktopUiTest, TheProfileChoosesTheDriver) {
    fakeXdgEmail(0);
    Profile profile;
    profile.storePath = store_;
    profile.compose = ComposeWindow::Mailer;
    const auto opensWindow = [&](UiDriver driver) {
        fs::remove(record());
        profile.ui = driver;
        EXPECT_EQ(makeUi(profile)->showForm(form_), S_OK);
        return fs::exists(record());
    };
    EXPECT_TRUE(opensWindow(UiDriver::Auto));
    EXPECT_FALSE(opensWindow(UiDriver::Headless));
    unsetenv("DISPLAY");
    EXPECT_FALSE(opensWindow(UiDriver::Auto));
    EXPECT_TRUE(opensWindow(UiDriver::Desktop));
    setenv("WAYLAND_DISPLAY", "", 1);
    EXPECT_FALSE(autoChoosesDesktop());
    setenv("WAYLAND_DISPLAY", "wayland-0", 1);
    EXPECT_TRUE(autoChoosesDesktop());
    setenv("MAILBROKER_UI_SCRIPT", "", 1);  // a scripted run stays headless
    EXPECT_FALSE(autoChoosesDesktop());
    unsetenv("MAILBROKER_UI_SCRIPT");
    setenv("PATH", "/nonexistent", 1);
    EXPECT_TRUE(autoChoosesDesktop());  // our own dialogs need no xdg-email
}

TEST_F(DesktopUiTest, OldFormsArePrunedRecentOnesKept) {
    const std::string old = store_ + "/forms/0.old";
    fs::create_directories(old + "/mailer/1");
    fs::last_write_time(old,
                        fs::file_time_type::clock::now() - kFormLifetime - std::chrono::hours(1));
    attach("recent.txt", "recent");
    fakeXdgEmail(0);
    EXPECT_EQ(ui()->showForm(form_), S_OK);
    EXPECT_FALSE(fs::exists(old));
    EXPECT_EQ(readFile(forms_ + "/recent.txt"), "recent");
}

std::string percentDecode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The real xdg-email, with a fake mail program named by MAILER, which it
// hands the mailto: URI it built: the fields of that URI, decoded, the
// address before '?' as field "".
std::multimap<std::string, std::string> mailtoFields(const std::string& uri) {
    std::multimap<std::string, std::string> fields;
    const size_t question = uri.find('?');
    EXPECT_TRUE(uri.starts_with("mailto:") && question != std::string::npos) << uri;
    fields.emplace("", percentDecode(uri.substr(7, question - 7)));
    for (const std::string& field : split(uri.substr(question + 1), '&')) {
        const size_t equals = field.find('=');
        fields.emplace(field.substr(0, equals), percentDecode(field.substr(equals + 1)));
    }
    return fields;
}

TEST_F(DesktopUiTest, TheRealXdgEmailDeliversEveryTextIntact) {
    if (!fs::exists("/usr/bin/xdg-email")) {
        GTEST_SKIP() << "xdg-utils is not installed";
    }
    const std::string mailer = root_ + "/mailer";
    writeFile(mailer, "#!/bin/sh\nprintf '%s' \"$1\" > '" + record() + "'\n", fs::perms(0755));
    setenv("MAILER", mailer.c_str(), 1);
    setenv("PATH", "/usr/bin:/bin", 1);
    form_.recipients = {{MAPI_TO, "Ann", "ann@example.org"}, {MAPI_CC, "Cy", "cy@example.org"}};
    form_.subject = "Grüße, \"quotes\" & more";
    form_.body = "line one\nline two";
    const std::map<std::string, std::string> files = {
        {"Grüße (2).pdf", "pdf"}, {"a,b & 'c'.txt", "unsafe"}, {"with blank.txt", "blank"}};
    for (const auto& [name, bytes] : files) {
        attach(name, bytes);
    }
    ASSERT_EQ(ui()->showForm(form_), S_OK) << readFile(root_ + "/log");
    auto fields = mailtoFields(readFile(record()));
    EXPECT_EQ(fields.find("")->second, "ann@example.org");
    EXPECT_EQ(fields.find("cc")->second, "cy@example.org");
    EXPECT_EQ(fields.find("subject")->second, form_.subject);
    EXPECT_EQ(fields.find("body")->second, "line one\r\nline two");
    const std::string real = fs::canonical(forms_).string();
    std::vector<std::string> attached;
    for (auto [it, end] = fields.equal_range("attach"); it != end; ++it) {
        attached.push_back(it->second);
    }
    EXPECT_EQ(attached,
              std::vector<std::string>({real + "/Grüße (2).pdf", real + "/mailer/2/a_b____c_.txt",
                                        real + "/with blank.txt"}));

    form_.subject = "C:\\temp\\new";
    form_.body = "\\\\server\\share\n\\c end";
    ASSERT_EQ(ui()->showForm(form_), S_OK) << readFile(root_ + "/log");
    fields = mailtoFields(readFile(record()));
    EXPECT_EQ(fields.find("to")->second, "ann@example.org");
    EXPECT_EQ(fields.find("subject")->second, form_.subject);
    EXPECT_EQ(fields.find("body")->second, "\\\\server\\share\r\n\\c end");
    EXPECT_EQ(fields.count("attach"), 3u);
}

}  // namespace
}  // namespace mb::provider
