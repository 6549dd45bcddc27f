#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Messages written by libmbmime, read back by mail readers that share no
code with it; each must show exactly the text the caller gave.

  readers_test.py fixed    --render R --gmime G   odd subjects, names and file
                                                  names, read by Python's email
                                                  package, GMime, Perl's Encode
                                                  and munpack/ripmime
  readers_test.py property --render R --gmime G [--seed N --cases N]
                                                  random subjects and display
                                                  names, read by Python and GMime

R renders cases (render_cases.cpp), G reads with GMime (gmime_read.cpp).
Prints what each reader got wrong and a table of cases passed per reader;
exit status 1 when any reader got any case wrong.
"""
import argparse
import collections
import email
import email.policy
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
import unicodedata

PERL_DECODE = r'''
use strict; use warnings; use Encode qw(decode); use JSON::PP;
my $json = JSON::PP->new->canonical->utf8;
for my $path (@ARGV) {
    open(my $fh, '<:raw', $path) or die "$path: $!";
    my $head = '';
    while (my $line = <$fh>) { last if $line =~ /^\r?\n$/; $head .= $line; }
    close $fh;
    $head =~ s/\r?\n(?=[ \t])//g;
    my %out = (path => $path);
    for my $line (split /\r?\n/, $head) {
        if ($line =~ /^(Subject|From|To):[ \t]*(.*)$/i) { $out{lc $1} = decode('MIME-Header', $2); }
    }
    print $json->encode(\%out), "\n";
}
'''

SCRIPTS = {
    "latin": "Grüße aus Köln, café crème, señor Müller, Ærø, œuvre",
    "greek": "Ελληνικά γράμματα και λέξεις για δοκιμή",
    "cjk": "日本語のテスト 中文测试 한국어 시험",
    "emoji": "🎉 emoji ✉ 👍🏽 🇩🇪 👨‍👩‍👧 ☕",
    "rtl": "שלום עולם مرحبا بالعالم",
    "mixed": "Grüße – Ελληνικά – 日本語のテスト – 🎉 emoji ✉",
}
LENGTHS = [1, 2, 3, 5, 15, 16, 17, 44, 45, 46, 60, 75, 76, 77, 100, 250, 997, 998, 999, 2000]

ODD_SUBJECTS = [
    "two  blanks and   three",
    "https://example.org/" + "a" * 120 + "?q=1&r=2",
    "Re: [list] Grüße",
    "tab\tand\nnewline",
]

SPOOFS = [
    "=?utf-8?b?SGkNCkJjYzogZXZpbEB4Lm9yZw==?=",
    "=?utf-8?q?evil9=40x.org?=",
    "=?iso-8859-1?q?caf=E9?= and more",
    "plain=?utf-8?q?mid?=word",
    "=?utf-8?q?x?=.txt",
]

NAMES = [
    "=?utf-8?q?evil9=40x.org?=",
    "Grüße – Ελληνικά – 日本語のテスト – 🎉 emoji ✉",
    "Sales, East",
    'Quote "me" \\ please',
    "Ann Example",
    "Müller, Hans",
    "ann@example.org",
    " ANN@Example.org ",
    "The Quite Long Name Of A Department, Office Of Things And Stuff",
    "Averyveryverylongsingleatomthatgoesonandonandonandonuntilitnearlyfillsaline",
]

FILES = [
    ("=?utf-8?q?x?=.txt", b"just text\n", "text/plain"),
    ("back\\slash.txt", b"just text\n", "text/plain"),
    ('say "hi", ok.txt', b"just text\n", "text/plain"),
    ("résumé.pdf", b"%PDF-1.7\n%\xe2\xe3\xcf\xd3\n", "application/pdf"),
    ("Ελληνικά.png", b"\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x01", "image/png"),
    ("日本語のテスト.txt", "テキスト\n".encode(), "text/plain"),
    ("emoji 🎉.html", b"<!DOCTYPE html><html><body>x</body></html>", "text/html"),
    ("report.pdf", b"%PDF-1.4\n", "application/pdf"),
    ("blob.zq9", b"\x01\x02\xff\x00\x7f", "application/octet-stream"),
    ("a" * 70 + "-ü-" + "b" * 70 + ".txt", b"long name\n", "text/plain"),
]


def sample(script, length):
    """length characters cycled from a script's sample, no blank at either end."""
    base = SCRIPTS[script]
    text = (base * (length // len(base) + 1))[:length]
    if text.strip() != text or "  " in text:
        text = text.replace(" ", "x")
    return text


def shown(text):
    """What a header can show of text: line breaks and tabs become blanks
    (a header holds no line break), and blanks at either end go."""
    return text.replace("\t", " ").replace("\r", " ").replace("\n", " ").strip(" ")


def expected_name(name, address):
    shown_name = shown(name)
    return "" if shown_name.lower() == address.lower() else shown_name


class Run:
    def __init__(self, args):
        self.args = args
        self.dir = tempfile.mkdtemp(prefix="mb-readers-")
        self.cases = []
        self.results = collections.defaultdict(lambda: [0, 0])  # reader -> [passed, cases]
        self.failures = []
        self.notes = []

    def add(self, subject, from_name, to, files=()):
        out = os.path.join(self.dir, "m%04d.eml" % len(self.cases))
        self.cases.append({
            "out": out, "subject": subject, "from": [from_name, "sender@example.org"],
            "to": [list(r) for r in to],
            "attachments": [{"name": n, "data": d.hex()} for n, d, _ in files],
            "files": [(n, t) for n, _, t in files],
        })

    def check(self, reader, case, what, got, want):
        counts = self.results[reader]
        counts[1] += 1
        if got == want:
            counts[0] += 1
            return
        self.failures.append("%s, %s of %s:\n  want %.300r\n  got  %.300r"
                             % (reader, what, os.path.basename(case["out"]), want, got))

    def render(self):
        cases_file = os.path.join(self.dir, "cases.json")
        with open(cases_file, "w", encoding="utf-8") as f:
            json.dump([{k: v for k, v in c.items() if k != "files"} for c in self.cases], f)
        subprocess.run([self.args.render, cases_file], check=True)

    def python_reader(self):
        for case in self.cases:
            try:
                self.python_case(case)
            except Exception as e:  # a reader that cannot read it shows nothing right
                self.check("python", case, "the message", "%s: %s" % (type(e).__name__, e), "read")

    def python_case(self, case):
        with open(case["out"], "rb") as f:
            message = email.message_from_binary_file(f, policy=email.policy.default)
        self.check("python", case, "subject", str(message["subject"] or ""),
                   shown(case["subject"]))
        sender = message["from"].addresses[0]
        self.check("python", case, "from", [sender.display_name, sender.addr_spec],
                   [expected_name(*case["from"]), case["from"][1]])
        to = [[a.display_name, a.addr_spec] for a in message["to"].addresses]
        self.check("python", case, "to", to,
                   [[expected_name(n, a), a] for n, a in case["to"]])
        parts = [p for p in message.iter_attachments()]
        got = [[p.get_filename(), p.get_content_type()] for p in parts]
        self.check("python", case, "attachments", got, [list(f) for f in case["files"]])

    def gmime_reader(self):
        output = subprocess.run([self.args.gmime] + [c["out"] for c in self.cases], check=True,
                                capture_output=True, text=True).stdout
        for case, line in zip(self.cases, output.splitlines()):
            read = json.loads(line)
            self.check("gmime", case, "subject", read.get("subject"), shown(case["subject"]))
            self.check("gmime", case, "from", read.get("from"),
                       [[expected_name(*case["from"]), case["from"][1]]])
            self.check("gmime", case, "to", read.get("to"),
                       [[expected_name(n, a), a] for n, a in case["to"]])
            self.check("gmime", case, "attachments", read.get("attachments"),
                       [{"name": n, "type": t} for n, t in case["files"]])

    def perl_reader(self):
        output = subprocess.run(["perl", "-e", PERL_DECODE] + [c["out"] for c in self.cases],
                                check=True, capture_output=True, text=True).stdout
        for case, line in zip(self.cases, output.splitlines()):
            read = json.loads(line)
            self.check("perl", case, "subject", read.get("subject", ""), shown(case["subject"]))
            # Perl decodes the words of a header, not its syntax: a quoted
            # display name keeps its quotes.
            forms = []
            for name, address in case["to"]:
                name = expected_name(name, address)
                quoted = '"' + name.replace("\\", "\\\\").replace('"', '\\"') + '"'
                forms.append([address] if not name else
                             [name + " <" + address + ">", quoted + " <" + address + ">",
                              '"' + name + '" <' + address + ">"])
            got = read.get("to", "")
            self.check("perl", case, "to", all(any(s in got for s in alts) for alts in forms)
                       and got.count("<") == sum(len(a) > 1 for a in forms), True)

    def unpacker(self, reader, command, limit):
        """Each message with one attachment, unpacked: the file it saves.
        Names beyond what the program saves by its own design (limit says
        why) are shown, not counted."""
        for case in self.cases:
            if len(case["files"]) != 1:
                continue
            out = tempfile.mkdtemp(dir=self.dir)
            subprocess.run(command(case["out"], out), check=False, capture_output=True)
            # What both write besides the attachment: ripmime the body as
            # textfileN, munpack the body's description as NAME.desc.
            got = sorted(n for n in os.listdir(out) if not n.startswith("textfile")
                         and not n.endswith(".desc"))
            name = case["files"][0][0]
            why = limit(name)
            if why:
                self.notes.append("%s saves %r as %r (%s)" % (reader, name, got, why))
                continue
            self.check(reader, case, "file name", got, [name])

    def report(self):
        for note in self.notes:
            print("note:", note)
        for failure in self.failures[:40]:
            print(failure)
        if len(self.failures) > 40:
            print("... and %d more" % (len(self.failures) - 40))
        print("reader   checks passed")
        for reader, (passed, total) in sorted(self.results.items()):
            print("%-8s %d/%d" % (reader, passed, total))
        shutil.rmtree(self.dir, ignore_errors=True)
        return 1 if self.failures else 0


def fixed(run):
    for script in SCRIPTS:
        for length in LENGTHS:
            run.add(sample(script, length), "Ann", [("Bob", "bob@example.org")])
    for subject in ODD_SUBJECTS:
        run.add(subject, "Ann", [("Bob", "bob@example.org")])
    for spoof in SPOOFS:
        run.add(spoof, spoof, [(spoof, "a@b.org")])
    run.add("Names", NAMES[0], [(n, "ann@example.org" if "ann@" in n.lower() else "a@b.org")
                                for n in NAMES])
    for script in SCRIPTS:
        for length in (1, 40, 200, 2000):
            run.add("n", sample(script, length), [(sample(script, length), "c@example.org")])
    run.add("Files", "Ann", [("Bob", "bob@example.org")], FILES)
    for file in FILES:
        run.add("File", "Ann", [("Bob", "bob@example.org")], [file])
    run.render()
    run.python_reader()
    run.gmime_reader()
    run.perl_reader()
    # ripmime keeps what follows the last '\\' (a path on another system) and
    # at most 128 bytes; munpack decodes neither RFC 2231 nor RFC 2047, so it
    # only saves names written plain (ASCII without '"', '\\' or "=?") as they
    # are.
    run.unpacker("ripmime", lambda path, out: ["ripmime", "-i", path, "-d", out, "--no-nameless"],
                 lambda name: "it cuts at '\\'" if "\\" in name else
                 "it keeps 128 bytes" if len(name.encode()) > 128 else None)
    run.unpacker("munpack", lambda path, out: ["munpack", "-q", "-C", out, path],
                 lambda name: None if name.isascii() and "=?" not in name and "\\" not in name
                 and '"' not in name else "it decodes no encoded name")


# Blocks the random text draws from, so that every script shows up often.
BLOCKS = [(0x21, 0x7E), (0xA1, 0x24F), (0x370, 0x3FF), (0x400, 0x4FF), (0x590, 0x6FF),
          (0x900, 0x97F), (0xE00, 0xE7F), (0x3040, 0x30FF), (0x4E00, 0x9FFF), (0xAC00, 0xD7A3),
          (0x1F300, 0x1FAFF), (0x20000, 0x2A6DF), (0xA0, 0x2FFFF)]


def random_text(rng, length):
    """Printable characters and single blanks, none at either end."""
    chars = []
    while len(chars) < length:
        roll = rng.random()
        if roll < 0.12 and chars and chars[-1] != " " and len(chars) < length - 1:
            chars.append(" ")
            continue
        if roll < 0.14:
            chars.extend(rng.choice(["=?", "?=", "=?utf-8?q?", "=?utf-8?b?", "?q?", "_", "="]))
            continue
        low, high = rng.choice(BLOCKS)
        c = chr(rng.randint(low, high))
        if c.isprintable() and not c.isspace() and unicodedata.category(c) != "Cn":
            chars.append(c)
    return "".join(chars)[:length].strip(" ")


def prop(run):
    rng = random.Random(run.args.seed)
    for _ in range(run.args.cases):
        length = rng.choice([rng.randint(1, 20), rng.randint(1, 120), rng.randint(1, 2000)])
        subject = random_text(rng, length) or "x"
        sender = random_text(rng, rng.randint(1, 200)) or "y"
        to = random_text(rng, rng.randint(1, 200)) or "z"
        run.add(subject, sender, [(to, "to@example.org")])
    run.render()
    run.python_reader()
    run.gmime_reader()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=["fixed", "property"])
    parser.add_argument("--render", required=True)
    parser.add_argument("--gmime", required=True)
    parser.add_argument("--seed", type=int, default=20261209)
    parser.add_argument("--cases", type=int, default=300)
    run = Run(parser.parse_args())
    (fixed if run.args.mode == "fixed" else prop)(run)
    return run.report()


if __name__ == "__main__":
    sys.exit(main())
