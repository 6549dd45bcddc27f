#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""mailbroker-dialogs under a private X server, driven by the keyboard alone.

    dialogs_test.py --list        the test names (ctest registers dialogs.NAME)
    dialogs_test.py NAME...       run those, e.g. check_names.pick_second
    dialogs_test.py               run them all

MB_DIALOGS_PROGRAM names the program (default: build/default/bin/...);
MB_SCREENSHOT_DIR, when set, receives a PNG of each dialog.
"""
import os
import pathlib
import sys
import tempfile
import time
import unittest

# Nothing of ours is written into the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from xsession import XSession  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parents[2]
PROGRAM = os.environ.get("MB_DIALOGS_PROGRAM", str(ROOT / "build/default/bin/mailbroker-dialogs"))
SCREENSHOTS = os.environ.get("MB_SCREENSHOT_DIR")

# Exit codes (dialogs/dialog_session.h).
EXIT_ANSWERED, EXIT_FAILED, EXIT_BAD_REQUEST, EXIT_HOST_GONE = 0, 1, 2, 3


def entry(name, address, id_, type_="SMTP", members=None):
    e = {"name": name, "type": type_, "address": address, "id": id_}
    if members is not None:
        e["members"] = members
    return e


ANN = entry("Ann Example", "ann@example.org", "00a1")
ANNE = entry("Anne Other", "anne.other@corp.example", "00a2", "EX")
ANNUAL = entry("Annual Report Team", "", "00a3", "MAPIPDL",
               [entry("Zed Writer", "zed@example.org", "00b1"),
                entry("Yan Editor", "yan@example.org", "00b2")])
BOB = entry("Bob Builder", "bob@example.org", "00a4")
CAROL = entry("Carol Directory", "carol@corp.example", "00a5", "EX")
JOSE = entry("José Núñez", "jose@example.org", "00a6")
DAVE = entry("dave@example.net", "dave@example.net", "")  # a one-off already in To

BOOK = [ANN, ANNE, ANNUAL, BOB, CAROL, JOSE]


def check_names(candidates, text="Ann", parent=0):
    return {"v": 1, "dialog": "check-names", "parent": parent, "text": text,
            "candidates": candidates}


def select_names(wells, book=BOOK, caption="Choose the recipients of “Quarterly report”"):
    return {"v": 1, "dialog": "select-names", "parent": 0, "caption": caption,
            "wells": wells, "book": book}


def choose_profile(profiles, parent=0):
    return {"v": 1, "dialog": "choose-profile", "parent": parent, "profiles": profiles}


PROFILES = [{"name": "Default", "displayName": "Default"},
            {"name": "work", "displayName": "Work (example.org)"},
            {"name": "home", "displayName": "Home"}]


class DialogTest(unittest.TestCase):
    prefix = ""

    def setUp(self):
        self.x = XSession()
        self.x.start()
        self.addCleanup(self.x.stop)

    def show(self, request, title):
        """Starts the program, waits for "shown", focuses the window."""
        run = self.x.start_dialog(PROGRAM, request)
        run.wait_shown()
        window = self.x.find_window(title)
        self.x.focus(window)
        return run, window

    def screenshot(self, window, name):
        if SCREENSHOTS:
            self.x.screenshot(window, os.path.join(SCREENSHOTS, name))

    def finish(self, run, expected_exit=EXIT_ANSWERED):
        """The answer, after which the program must end, saying nothing more."""
        answer = run.answer()
        self.assertEqual(run.remaining_lines(), [])
        self.assertEqual(run.wait(), expected_exit)
        return answer


class CheckNames(DialogTest):
    prefix = "check_names"

    def test_pick_second(self):
        run, window = self.show(check_names([ANN, ANNE, ANNUAL]), "Check Names")
        self.screenshot(window, "check-names.png")
        self.x.key("Down", "Return")
        self.assertEqual(self.finish(run), {"result": "ok", "pick": 1})

    def test_first_candidate_is_preselected(self):
        run, _ = self.show(check_names([ANN, ANNE]), "Check Names")
        self.x.key("alt+o")
        self.assertEqual(self.finish(run), {"result": "ok", "pick": 0})

    def test_typed_address_is_a_one_off_and_a_malformed_one_is_refused(self):
        run, _ = self.show(check_names([ANN, ANNE]), "Check Names")
        self.x.key("alt+u")
        self.x.type("not an address")
        # Neither Return nor the OK button's mnemonic may answer now; the
        # first result line would be this address if either did.
        self.x.key("Return", "alt+o")
        self.x.key("ctrl+a")
        self.x.type("guest@example.org")
        self.x.key("Return")
        self.assertEqual(self.finish(run), {
            "result": "ok", "oneOff": {"name": "guest@example.org", "address": "guest@example.org"}})

    def test_unknown_name_takes_an_address_and_nothing_else(self):
        run, window = self.show(check_names([], text="Xavier"), "Check Names")
        # Nothing to pick and nothing typed: OK does nothing.
        self.x.key("Return")
        # The field has the focus from the start.
        self.x.type("  x@example.org ")
        self.x.key("Return")
        self.assertEqual(self.finish(run), {
            "result": "ok", "oneOff": {"name": "x@example.org", "address": "x@example.org"}})

    def test_escape_cancels(self):
        run, _ = self.show(check_names([ANN, ANNE]), "Check Names")
        self.x.key("Down", "Escape")
        self.assertEqual(self.finish(run), {"result": "cancel"})

    def test_closing_the_window_cancels(self):
        run, window = self.show(check_names([ANN, ANNE]), "Check Names")
        self.x.client().request_close(window)
        self.assertEqual(self.finish(run), {"result": "cancel"})


class SelectNames(DialogTest):
    prefix = "select_names"

    WELLS = [{"type": "to", "entries": [DAVE]}, {"type": "cc", "entries": []},
             {"type": "bcc", "entries": []}]

    def test_add_to_to_and_bcc(self):
        run, window = self.show(select_names(self.WELLS), "Select Names")
        self.x.type("bob")
        self.x.key("Return")            # the match goes to the first well, To
        self.x.type("DIRECTORY")
        self.x.key("alt+b")             # the match goes to Bcc
        self.x.type("ann ex")
        self.x.key("alt+c")             # Ann Example goes to Cc
        if SCREENSHOTS:
            time.sleep(0.4)  # cosmetic: the Cc button's pressed look fades
        self.screenshot(window, "select-names.png")
        self.x.key("ctrl+Return")
        self.assertEqual(self.finish(run), {"result": "ok", "wells": [
            {"type": "to", "entries": [DAVE, BOB]},
            {"type": "cc", "entries": [ANN]},
            {"type": "bcc", "entries": [CAROL]}]})

    def test_search_ignores_case_and_accents(self):
        run, _ = self.show(select_names(self.WELLS[:1]), "Select Names")
        self.x.type("NUNEZ")
        self.x.key("Return")
        self.x.key("ctrl+Return")
        self.assertEqual(self.finish(run)["wells"][0]["entries"], [DAVE, JOSE])

    def test_an_entry_is_in_a_well_once(self):
        run, _ = self.show(select_names(self.WELLS[:2]), "Select Names")
        for _ in range(2):
            self.x.type("bob")
            self.x.key("Return")
        for _ in range(2):
            self.x.type("bob")
            self.x.key("alt+c")
        self.x.key("ctrl+Return")
        self.assertEqual(self.finish(run)["wells"], [
            {"type": "to", "entries": [DAVE, BOB]}, {"type": "cc", "entries": [BOB]}])

    def test_list_members_on_demand(self):
        run, _ = self.show(select_names(self.WELLS[:1]), "Select Names")
        self.x.type("annual")
        # Into the book at the match; Right opens the list; Down to its first
        # member; Return (row activation) adds that member to To.
        self.x.key("Down", "Right", "Down", "Return")
        # Left on a member closes its list and selects it; Return adds the list.
        self.x.key("Down", "Left", "Return")
        self.x.key("ctrl+Return")
        self.assertEqual(self.finish(run)["wells"][0]["entries"],
                         [DAVE, ANNUAL["members"][0], ANNUAL])

    def test_delete_removes_from_a_well(self):
        wells = [{"type": "to", "entries": [DAVE, ANN, BOB]},
                 {"type": "cc", "entries": [CAROL, JOSE]}]
        run, _ = self.show(select_names(wells), "Select Names")
        # Search, book, the To button, then the To list at its first entry;
        # the second entry goes, and then the one after it, now second.
        self.x.key("Tab", "Tab", "Tab", "Down", "Delete", "Delete")
        # The Cc button, then the Cc list at its first entry, which goes.
        self.x.key("Tab", "Tab", "Delete")
        self.x.key("ctrl+Return")
        self.assertEqual(self.finish(run)["wells"], [{"type": "to", "entries": [DAVE]},
                                                     {"type": "cc", "entries": [JOSE]}])

    def test_several_entries_at_once(self):
        run, _ = self.show(select_names(self.WELLS), "Select Names")
        # Into the book at Ann; Shift+Down twice takes Anne and the list too.
        self.x.key("Down", "shift+Down", "shift+Down", "alt+b")
        self.x.key("ctrl+Return")
        self.assertEqual(self.finish(run)["wells"][2]["entries"], [ANN, ANNE, ANNUAL])

    def test_double_click_adds_to_the_first_well(self):
        run, window = self.show(select_names(self.WELLS), "Select Names")
        self.x.type("carol")
        # The one match is the book's first row, below the caption and search.
        self.x.double_click(window, 200, 105)
        self.x.key("ctrl+Return")
        self.assertEqual(self.finish(run)["wells"][0]["entries"], [DAVE, CAROL])

    def test_without_wells_it_only_browses(self):
        run, _ = self.show(select_names([]), "Select Names")
        self.x.type("bob")
        self.x.key("Return", "ctrl+Return")
        answer = self.finish(run)
        # No wells to return: the protocol's encoder leaves the empty list out.
        self.assertEqual(answer.pop("wells", []), [])
        self.assertEqual(answer, {"result": "ok"})

    def test_escape_cancels_even_from_the_search(self):
        run, _ = self.show(select_names(self.WELLS), "Select Names")
        self.x.type("bob")
        self.x.key("Return", "Escape")
        self.assertEqual(self.finish(run), {"result": "cancel"})


class ChooseProfile(DialogTest):
    prefix = "choose_profile"

    def test_pick_second(self):
        run, window = self.show(choose_profile(PROFILES), "Choose Profile")
        self.screenshot(window, "choose-profile.png")
        self.x.key("Down", "Return")
        self.assertEqual(self.finish(run), {"result": "ok", "pick": 1})

    def test_nothing_to_choose_from_only_cancels(self):
        run, _ = self.show(choose_profile([]), "Choose Profile")
        self.x.key("Return", "alt+o", "Escape")
        self.assertEqual(self.finish(run), {"result": "cancel"})

    def test_escape_cancels(self):
        run, _ = self.show(choose_profile(PROFILES), "Choose Profile")
        self.x.key("Escape")
        self.assertEqual(self.finish(run), {"result": "cancel"})


class Program(DialogTest):
    prefix = "program"

    def test_end_of_stdin_closes_the_dialog_without_an_answer(self):
        run, window = self.show(choose_profile(PROFILES), "Choose Profile")
        run.close_stdin()
        self.assertEqual(run.remaining_lines(), [])
        self.assertEqual(run.wait(), EXIT_HOST_GONE)
        self.assertEqual(self.x.windows("Choose Profile", visible=False), [])

    def test_a_request_whose_stdin_ends_at_once_gets_no_answer(self):
        # Whether the program sees the end before its window is up or after,
        # it must end without a result.
        run = self.x.start_dialog(PROGRAM, choose_profile(PROFILES))
        run.close_stdin()
        lines = run.remaining_lines()
        self.assertEqual([line for line in lines if line != {"event": "shown"}], [])
        self.assertEqual(run.wait(), EXIT_HOST_GONE)

    def test_a_request_that_is_not_json_is_an_error(self):
        run = self.x.start_dialog(PROGRAM, "this is not JSON\n")
        answer = self.finish(run, EXIT_BAD_REQUEST)
        self.assertEqual(answer["result"], "error")
        self.assertTrue(answer["message"].startswith("the request cannot be read: "), answer)

    def test_an_unknown_dialog_is_an_error(self):
        run = self.x.start_dialog(PROGRAM, {"v": 1, "dialog": "format-disk", "parent": 0})
        answer = self.finish(run, EXIT_BAD_REQUEST)
        self.assertEqual(answer["result"], "error")

    def test_an_empty_stdin_is_an_error(self):
        run = self.x.start_dialog(PROGRAM, b"")
        run.close_stdin()
        answer = self.finish(run, EXIT_BAD_REQUEST)
        self.assertEqual(answer, {"result": "error", "message": "no request on standard input"})

    def test_no_display_is_an_error(self):
        # Started against a display that does not exist.
        bad = {"DISPLAY": ":%d" % (int(self.x.display[1:]) + 500)}
        run = self.x.start_dialog(PROGRAM, choose_profile(PROFILES), env=bad)
        answer = self.finish(run, EXIT_FAILED)
        self.assertEqual(answer["result"], "error")
        self.assertIn("display", answer["message"])

    def test_parent_window_owns_the_dialog(self):
        host = self.x.client().create_window("Host application")
        run, window = self.show(check_names([ANN, ANNE], parent=host), "Check Names")
        self.assertEqual(self.x.transient_for(window), host)
        self.x.key("Escape")
        self.assertEqual(self.finish(run), {"result": "cancel"})

    def test_parent_window_of_another_dialog(self):
        # Another program's window, found by title, as the parent.
        first, parent = self.show(choose_profile(PROFILES), "Choose Profile")
        run, window = self.show(check_names([ANN, ANNE], parent=parent), "Check Names")
        self.assertEqual(self.x.transient_for(window), parent)
        self.x.key("Down", "Return")
        self.assertEqual(self.finish(run), {"result": "ok", "pick": 1})
        first.close_stdin()
        self.assertEqual(first.wait(), EXIT_HOST_GONE)

    def test_a_parent_that_is_no_window_is_ignored(self):
        for parent in (0x1FFFFFF0, 2 ** 40, 1):
            run, window = self.show(check_names([ANN, ANNE], parent=parent), "Check Names")
            self.assertIsNone(self.x.transient_for(window))
            self.x.key("Return")
            self.assertEqual(self.finish(run), {"result": "ok", "pick": 0})

    def test_compose_detaches_from_its_driver(self):
        with tempfile.TemporaryDirectory() as home:
            draft = os.path.join(home, "draft.eml")
            with open(draft, "w") as f:
                f.write("Subject: x\n\n")
            request = {"v": 1, "dialog": "compose", "parent": 0, "profile": "Default",
                       "recipients": [], "subject": "Hello", "body": "", "attachments": [],
                       "draft": draft, "book": []}
            run = self.x.start_dialog(PROGRAM, request, env={"HOME": home})
            first = run.read_line()
            if first == {"result": "error", "message": "the compose window is not part of this build"}:
                self.assertEqual(run.wait(), EXIT_FAILED)
                self.skipTest("this build has no compose window")
            self.assertEqual(first, {"event": "shown"})
            # The program the driver started ends at once, its stdout closed,
            # while the window runs on in a session of its own.
            self.assertEqual(run.remaining_lines(), [])
            self.assertEqual(run.wait(), EXIT_ANSWERED)
            window = self.x.find_window("New Message")
            pid = int(self.x.property(window, "_NET_WM_PID").rsplit("=", 1)[1])
            self.assertNotEqual(pid, run.process.pid)
            with open("/proc/%d/stat" % pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            self.assertEqual(int(fields[3]), pid, "the window leads its own session")
            os.kill(pid, 9)


def all_tests():
    for case in (CheckNames, SelectNames, ChooseProfile, Program):
        for name in unittest.TestLoader().getTestCaseNames(case):
            yield "%s.%s" % (case.prefix, name[len("test_"):]), case(name)


def main(argv):
    tests = dict(all_tests())
    if argv[1:] == ["--list"]:
        print("\n".join(tests))
        return 0
    chosen = argv[1:] or list(tests)
    unknown = [n for n in chosen if n not in tests]
    if unknown:
        print("unknown test: " + ", ".join(unknown), file=sys.stderr)
        return 2
    suite = unittest.TestSuite(tests[n] for n in chosen)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
