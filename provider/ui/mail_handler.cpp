// SPDX-License-Identifier: MIT
#include "provider/ui/mail_handler.h"

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <vector>

#include "base/launcher.h"
#include "base/regular_file.h"
#include "provider/contacts/directory.h"
#include "provider/ui/desktop.h"

namespace mb::provider {
namespace {

// xdg-mime is a shell script that may ask a desktop's own tools; a desktop
// that hangs must not hold the request for long.
constexpr std::chrono::seconds kQueryTimeout{5};
constexpr std::size_t kMaxDesktopFile = 1024 * 1024;

std::string environment(const char* name, const std::string& fallback) {
    const char* value = getenv(name);
    return value != nullptr && *value == '/' ? std::string(value) : fallback;
}

std::vector<std::string> applicationFolders() {
    const char* home = getenv("HOME");
    std::vector<std::string> folders{
        environment("XDG_DATA_HOME", std::string(home != nullptr ? home : "") + "/.local/share") +
        "/applications"};
    std::string dirs = environment("XDG_DATA_DIRS", "/usr/local/share:/usr/share");
    std::stringstream list(dirs);
    for (std::string dir; std::getline(list, dir, ':');) {
        if (!dir.empty() && dir.front() == '/') {
            folders.push_back(dir + "/applications");
        }
    }
    return folders;
}

// Whether a ';'-separated value list holds `item`.
bool listHas(std::string_view list, std::string_view item) {
    while (!list.empty()) {
        const std::size_t semi = list.find(';');
        if (list.substr(0, semi) == item) {
            return true;
        }
        list = semi == std::string_view::npos ? std::string_view() : list.substr(semi + 1);
    }
    return false;
}

}  // namespace

std::string mailtoHandler() {
    mb::Command command;
    command.argv = {"xdg-mime", "query", "default", "x-scheme-handler/mailto"};
    command.searchPath = true;
    command.stdinMode = mb::Stdio::null();
    command.stderrMode = mb::Stdio::null();
    const mb::LineCapture answer = mb::captureFirstLine(command, 4096, kQueryTimeout);
    return answer.ok() ? std::string(trimBlanks(answer.line)) : std::string();
}

std::string findDesktopFile(std::string_view id) {
    if (id.empty() || id.find('/') != std::string_view::npos || id.starts_with(".")) {
        return "";
    }
    for (const std::string& folder : applicationFolders()) {
        std::string relative(id);
        // "vendor-app.desktop" may live as vendor/app.desktop; try the
        // plain name first, then each '-' as a folder.
        for (std::size_t dash = 0;;) {
            std::error_code error;
            const std::string path = folder + "/" + relative;
            if (std::filesystem::is_regular_file(path, error)) {
                return path;
            }
            dash = relative.find('-', dash);
            if (dash == std::string::npos) {
                break;
            }
            relative[dash] = '/';
        }
    }
    return "";
}

bool isWebBrowserEntry(std::string_view text) {
    bool inEntry = false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.starts_with("[")) {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        const std::size_t eq = line.find('=');
        if (!inEntry || eq == std::string_view::npos) {
            continue;
        }
        const std::string_view key = trimBlanks(line.substr(0, eq));
        const std::string_view value = trimBlanks(line.substr(eq + 1));
        if ((key == "Categories" && listHas(value, "WebBrowser")) ||
            (key == "MimeType" && listHas(value, "x-scheme-handler/http"))) {
            return true;
        }
    }
    return false;
}

bool autoComposesWithMailer() {
    if (findOnPath("xdg-email").empty()) {
        return false;
    }
    const std::string path = findDesktopFile(mailtoHandler());
    if (path.empty()) {
        return false;
    }
    std::string text;
    if (readRegularFile(path, kMaxDesktopFile, text) != 0) {
        return false;  // a handler we cannot read about: our window keeps the attachments
    }
    return !isWebBrowserEntry(text);
}

}  // namespace mb::provider
