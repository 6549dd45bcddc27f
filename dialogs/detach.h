// SPDX-License-Identifier: MIT
// Running the compose window apart from whoever asked for it.
//
// The driver waits for the program to end after the window is up; the window
// itself must outlive the request, the Broker and the host, in a session of
// its own. So the program forks before GTK starts: the child becomes the
// window, and the parent only relays how far the child got and ends at once,
// so the driver reaps it and the window is never a zombie of the Broker.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace mb::dialogs {

// The child's side of the hand-over.
class DetachedChild {
  public:
    explicit DetachedChild(int toParent) : toParent_(toParent) {}

    // The window is up: writes shownLine on stdout, then points stdin and
    // stdout at /dev/null (nobody reads them any more) and lets the parent
    // end with 0. Only the first call counts.
    void shown(std::string_view shownLine);

    // The child has written its own result line (an error, say), so the
    // parent need not write one.
    void answered();

  private:
    void tell(char what);
    int toParent_;
    bool shown_ = false;
};

// Forks. The child starts a session of its own (setsid), runs body and exits
// with what body returns. The parent returns, for main to return:
//   0  once the child called shown();
//   1  when the child ended before that. If it had not called answered()
//      either (it crashed, say), the parent writes lostLine on stdout, so the
//      driver gets a result line all the same.
// -1 with errno set when the fork itself failed.
int runDetached(const std::function<int(DetachedChild&)>& body, const std::string& lostLine);

}  // namespace mb::dialogs
