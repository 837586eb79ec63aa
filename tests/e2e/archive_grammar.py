#!/usr/bin/env python3
"""Strict checker of the archive files that jol writes.

Usage: archive_grammar.py [--dump REV] FILE,v...
       archive_grammar.py --tree DIR      (every ,v file below DIR)

It reads each archive byte for byte against the layout the writer produces
(phrase order, tabs, blank lines, "@" doubling), then checks the model:
one delta and one text per revision, a consistent revision tree, texts
ordered so that each follows the revision its edit script applies to, and
every edit script applying cleanly.  With --dump REV it prints the stored
text of revision REV of the one FILE (keywords unexpanded).
Exit status 0 when every archive passes; otherwise each fault is printed
as "FILE: offset N: message" and the status is 1.
"""
import os
import re
import sys

REV = rb"[0-9]+(?:\.[0-9]+)*"
DATE_RE = re.compile(rb"([0-9]{4})\.([0-9]{2})\.([0-9]{2})\.([0-9]{2})\.([0-9]{2})\.([0-9]{2})\Z")
ID_RE = re.compile(rb"[^\x00-\x20$,.:;@]+\Z")   # a key, user or tag name
REV_RE = re.compile(REV + rb"\Z")
KEY_RE = re.compile(rb"[^\x08-\x0d ;]+\Z")


class Fault(Exception):
    pass


class Reader:
    def __init__(self, data):
        self.d = data
        self.i = 0

    def fail(self, msg):
        raise Fault("offset %d: %s" % (self.i, msg))

    def lit(self, s):
        if not self.d.startswith(s, self.i):
            got = self.d[self.i:self.i + len(s) + 10]
            self.fail("expected %r, found %r" % (s, got))
        self.i += len(s)

    def peek(self, s):
        return self.d.startswith(s, self.i)

    def until(self, stops, what):
        """Bytes up to (not including) the first byte of STOPS."""
        j = self.i
        while j < len(self.d) and self.d[j] not in stops:
            j += 1
        if j == len(self.d):
            self.fail("end of file inside %s" % what)
        s = self.d[self.i:j]
        self.i = j
        return s

    def rev(self, what, allow_empty=False):
        m = re.compile(REV).match(self.d, self.i)
        if not m:
            if allow_empty:
                return b""
            self.fail("expected a revision number for %s" % what)
        self.i = m.end()
        return m.group(0)

    def string(self):
        """An "@" string with every "@" doubled inside; returns it undoubled."""
        self.lit(b"@")
        out = bytearray()
        while True:
            j = self.d.find(b"@", self.i)
            if j < 0:
                self.fail("end of file inside an @ string")
            out += self.d[self.i:j]
            if self.d.startswith(b"@@", j):
                out += b"@"
                self.i = j + 2
            else:
                self.i = j + 1
                return bytes(out)

    def newphrases(self):
        """Extra phrases: LF key TAB value ";"."""
        out = []
        while self.peek(b"\n") and not self.peek(b"\n\n") and not self.peek(b"\ntext\n"):
            save = self.i
            self.i += 1
            key = self.until(b"\t\n", "a phrase key")
            if not KEY_RE.match(key) or REV_RE.match(key):
                self.i = save
                break
            self.lit(b"\t")
            if self.peek(b"@"):
                val = self.string()
            else:
                val = self.until(b";", "a phrase value")
                if b"@" in val:
                    self.fail("an unquoted value holds '@'")
                if re.search(rb"[$,.:;@]", val):
                    self.fail("value %r should have been written as an @ string" % val)
            self.lit(b";")
            out.append((key, val))
        return out


def parse_writer_head(r, a):
    """Administrative section, deltas and description as the writer lays
    them out."""
    r.lit(b"head\t")
    a["head"] = r.rev("head", allow_empty=True)
    r.lit(b";\n")
    if r.peek(b"branch\t"):
        r.lit(b"branch\t")
        a["branch"] = r.rev("branch")
        r.lit(b";\n")
    r.lit(b"access")
    while r.peek(b"\n\t"):
        r.lit(b"\n\t")
        name = r.until(b";\n", "access list")
        if not ID_RE.match(name):
            r.fail("bad access name %r" % name)
        a["access"].append(name)
    r.lit(b";\nsymbols")
    while r.peek(b"\n\t"):
        r.lit(b"\n\t")
        item = r.until(b";\n", "symbols")
        name, colon, num = item.partition(b":")
        if not colon or not ID_RE.match(name) or not REV_RE.match(num):
            r.fail("bad symbol %r" % item)
        a["symbols"].append((name, num))
    r.lit(b";\nlocks")
    sep = b"\n\t"
    if r.peek(b"\t"):          # a lock list copied raw: first item after a tab
        sep = b"\t"
    while r.peek(sep):
        r.lit(sep)
        item = r.until(b";\n", "locks")
        user, colon, num = item.partition(b":")
        if not colon or not ID_RE.match(user) or not REV_RE.match(num):
            r.fail("bad lock %r" % item)
        a["locks"].append((user, num))
        sep = b"\n\t"
    if r.peek(b"; strict"):
        r.lit(b"; strict")
        a["strict"] = True
    r.lit(b";\n")
    if r.peek(b"comment\t"):
        r.lit(b"comment\t")
        a["comment"] = r.string()
        r.lit(b";\n")
    if r.peek(b"expand\t"):
        r.lit(b"expand\t")
        mode = r.string()
        if mode not in (b"kvl", b"k", b"v", b"o", b"b"):
            r.fail("expand mode %r is not one the writer keeps" % mode)
        a["expand"] = mode
        r.lit(b";\n")
    a["other"] = r.newphrases()
    r.lit(b"\n")
    while r.peek(b"\n") and not r.peek(b"\n\ndesc\n"):
        r.lit(b"\n")
        num = r.rev("a delta")
        r.lit(b"\ndate\t")
        date = r.until(b";", "a date")
        r.lit(b";\tauthor ")
        author = r.until(b";", "an author")
        r.lit(b";\tstate ")
        state = r.until(b";", "a state")
        r.lit(b";\nbranches")
        branches = []
        while r.peek(b"\n\t"):
            r.lit(b"\n\t")
            branches.append(r.rev("a branch"))
        r.lit(b";\nnext\t")
        nxt = r.rev("next", allow_empty=True)
        r.lit(b";")
        other = r.newphrases()
        r.lit(b"\n")
        add_delta(r, a, num, date, author, state, branches, nxt, other)
    r.lit(b"\n\ndesc\n")
    a["desc"] = r.string()
    if a["desc"] and not a["desc"].endswith(b"\n"):
        r.fail("description does not end with a line feed")
    r.lit(b"\n")


def parse_creation_head(r, a):
    """The same sections as a new archive is first written (one revision,
    perhaps with a vendor branch)."""
    r.lit(b"head     ")
    a["head"] = r.rev("head", allow_empty=True)
    r.lit(b";\n")
    if r.peek(b"branch   "):
        r.lit(b"branch   ")
        a["branch"] = r.rev("branch")
        r.lit(b";\n")
    r.lit(b"access   ;\nsymbols  ")
    items = r.until(b";", "symbols").split(b" ")
    for item in items:
        if not item:
            continue
        name, colon, num = item.partition(b":")
        if not colon or not ID_RE.match(name) or not REV_RE.match(num):
            r.fail("bad symbol %r" % item)
        a["symbols"].append((name, num))
    r.lit(b";\nlocks    ; strict;\ncomment  ")
    a["strict"] = True
    a["comment"] = r.string()
    r.lit(b";\n")
    if r.peek(b"expand   "):
        r.lit(b"expand   ")
        mode = r.string()
        if mode not in (b"kv", b"kvl", b"k", b"v", b"o", b"b"):
            r.fail("bad expand mode %r" % mode)
        a["expand"] = mode
        r.lit(b";\n")
    r.lit(b"\n")
    if a["head"]:
        vendor = a["branch"]
        for num in ([a["head"]] + ([vendor + b".1"] if vendor else [])):
            r.lit(b"\n")
            if r.rev("a delta") != num:
                r.fail("delta %s out of place" % num.decode())
            r.lit(b"\ndate     ")
            date = r.until(b";", "a date")
            r.lit(b";  author ")
            author = r.until(b";", "an author")
            r.lit(b";  state Exp;\nbranches")
            branches = []
            if num == a["head"] and vendor:
                r.lit(b" " + vendor + b".1")
                branches = [vendor + b".1"]
            elif num != a["head"]:
                r.lit(b" ")
            r.lit(b";\nnext     ;\n")
            if num != a["head"]:
                r.lit(b"\n")
            add_delta(r, a, num, date, author, b"Exp", branches, b"", [])
    r.lit(b"\ndesc\n")
    a["desc"] = r.string()
    r.lit(b"\n")


def add_delta(r, a, num, date, author, state, branches, nxt, other):
    m = DATE_RE.match(date)
    if not m:
        r.fail("bad date %r" % date)
    y, mo, d, h, mi, s = (int(x) for x in m.groups())
    if y < 2000 or not (1 <= mo <= 12 and 1 <= d <= 31 and h < 24 and mi < 60 and s < 61):
        r.fail("impossible date %r" % date)
    if not ID_RE.match(author):
        r.fail("bad author %r" % author)
    if not ID_RE.match(state):
        r.fail("bad state %r" % state)
    if num in a["deltas"]:
        r.fail("revision %s has two deltas" % num.decode())
    a["deltas"][num] = {"date": date, "author": author, "state": state,
                        "branches": branches, "next": nxt, "other": other}
    a["order"].append(num)


def parse(data):
    r = Reader(data)
    a = {"deltas": {}, "order": [], "texts": [], "symbols": [], "locks": [], "access": [],
         "branch": None, "strict": False, "expand": None}
    if data.startswith(b"head     "):
        parse_creation_head(r, a)
    else:
        parse_writer_head(r, a)
    # Revision texts.  The writer puts two line feeds before each; a text
    # copied unchanged from a newly created archive may bring one more, and
    # such a text's log need not end with a line feed.
    while r.i < len(data):
        lfs = len(data) - r.i - len(data[r.i:].lstrip(b"\n"))
        if r.i + lfs == len(data):
            if lfs > 2 or not a["texts"]:
                r.fail("%d line feeds at the end" % lfs)
            break
        if lfs not in (2, 3):
            r.fail("%d line feeds before a revision text" % lfs)
        r.i += lfs
        num = r.rev("a revision text")
        r.lit(b"\nlog\n")
        log = r.string()
        other = r.newphrases()
        r.lit(b"\ntext\n")
        text = r.string()
        r.lit(b"\n")
        if not log.endswith(b"\n") and not r.peek(b"\n"):
            r.fail("log of %s does not end with a line feed" % num.decode())
        a["texts"].append((num, log, text, other))
    return a


def dots(rev):
    return rev.count(b".")


def branch_of(rev):
    return rev.rsplit(b".", 1)[0]


def split_lines(text):
    """Lines split at line feeds only, each keeping its line feed."""
    parts = text.split(b"\n")
    out = [x + b"\n" for x in parts[:-1]]
    if parts[-1]:
        out.append(parts[-1])
    return out


def apply_script(base, script, name):
    """Applies an edit script ("dN M", "aN M" + lines) to BASE's lines."""
    src = split_lines(base)
    lines = split_lines(script)
    out = []
    pos = 0            # lines of src consumed
    i = 0
    last = 0
    while i < len(lines):
        m = re.match(rb"([ad])([0-9]+) ([0-9]+)\n\Z", lines[i])
        if not m:
            raise Fault("%s: bad edit command %r" % (name, lines[i][:40]))
        op, n, count = m.group(1), int(m.group(2)), int(m.group(3))
        i += 1
        if op == b"d":
            if n < 1 or count < 1 or n - 1 < pos or n - 1 + count > len(src) or n < last:
                raise Fault("%s: delete %d %d out of order or range" % (name, n, count))
            out += src[pos:n - 1]
            pos = n - 1 + count
            last = n + count
        else:
            if n < pos or n > len(src) or count < 1 or i + count > len(lines):
                raise Fault("%s: append %d %d out of order or range" % (name, n, count))
            out += src[pos:n]
            pos = n
            last = n + 1
            added = lines[i:i + count]
            if any(not l.endswith(b"\n") for l in added[:-1]):
                raise Fault("%s: broken appended lines" % name)
            out += added
            i += count
    out += src[pos:]
    return b"".join(out)


def check_model(a):
    d = a["deltas"]
    head = a["head"]
    if not d:
        if head:
            raise Fault("head %s has no delta" % head.decode())
        return {}
    if head not in d:
        raise Fault("head %s has no delta" % head.decode())
    # The writer's delta order: a revision, its whole next chain, then its
    # branches, each written the same way.
    expect = []
    seen = set()

    def walk(rev):
        stack = [rev]
        while stack:
            x = stack.pop()
            if x in seen:
                raise Fault("revision %s reached twice" % x.decode())
            if x not in d:
                raise Fault("revision %s is named but has no delta" % x.decode())
            seen.add(x)
            expect.append(x)
            for b in reversed(d[x]["branches"]):
                stack.append(b)
            if d[x]["next"]:
                stack.append(d[x]["next"])
    walk(head)
    if expect != a["order"]:
        raise Fault("deltas are not in tree order: %s, expected %s" % (
            b" ".join(a["order"]).decode(), b" ".join(expect).decode()))
    # Numbering: trunk next goes down, branch next goes up on one branch,
    # branches sprout with the branch point's number.
    parent = {}
    for num, x in d.items():
        for b in x["branches"]:
            if dots(b) != dots(num) + 2 or branch_of(branch_of(b)) != num or not b.endswith(b".1"):
                raise Fault("branch %s does not belong to %s" % (b.decode(), num.decode()))
            parent[b] = num
        n = x["next"]
        if n:
            if dots(n) != dots(num):
                raise Fault("next of %s is %s" % (num.decode(), n.decode()))
            if dots(num) == 1:
                if [int(p) for p in n.split(b".")] >= [int(p) for p in num.split(b".")]:
                    raise Fault("trunk next %s is not older than %s" % (n.decode(), num.decode()))
                parent[n] = num
            else:
                if branch_of(n) != branch_of(num) or int(n.rsplit(b".", 1)[1]) <= int(num.rsplit(b".", 1)[1]):
                    raise Fault("branch next %s does not follow %s" % (n.decode(), num.decode()))
                parent[n] = num
        if x["state"] not in (b"Exp", b"dead"):
            raise Fault("revision %s has state %s" % (num.decode(), x["state"].decode()))
    for name, num in a["symbols"]:
        parts = num.split(b".")
        if len(parts) >= 4 and parts[-2] == b"0":      # a branch tag
            if b".".join(parts[:-2]) not in d:
                raise Fault("branch tag %s sprouts from a missing revision" % name.decode())
        elif dots(num) % 2 == 1 and num not in d:
            raise Fault("tag %s names missing revision %s" % (name.decode(), num.decode()))
    for user, num in a["locks"]:
        if num not in d:
            raise Fault("lock on missing revision %s" % num.decode())
    # Texts: one per delta, each after the text its script applies to.
    texts = {}
    for num, log, text, other in a["texts"]:
        if num in texts:
            raise Fault("revision %s has two texts" % num.decode())
        if num not in d:
            raise Fault("text of %s has no delta" % num.decode())
        p = parent.get(num)
        if num != head and (p is None or p not in texts):
            raise Fault("text of %s comes before the text it is built from" % num.decode())
        texts[num] = (log, text)
    if set(texts) != set(d):
        missing = sorted(set(d) - set(texts))
        raise Fault("revisions without text: %s" % b" ".join(missing).decode())
    # Rebuild every revision.
    full = {head: texts[head][1]}
    for num, _, _, _ in a["texts"]:
        if num != head:
            full[num] = apply_script(full[parent[num]], texts[num][1], num.decode())
    return full


def check_file(path):
    with open(path, "rb") as f:
        data = f.read()
    a = parse(data)
    return a, check_model(a)


def main(argv):
    dump = None
    files = []
    args = argv[1:]
    while args:
        x = args.pop(0)
        if x == "--dump":
            dump = args.pop(0).encode()
        elif x == "--tree":
            top = args.pop(0)
            for dirpath, _, names in os.walk(top):
                files += [os.path.join(dirpath, n) for n in sorted(names) if n.endswith(",v")]
        else:
            files.append(x)
    if not files:
        print("archive_grammar: no archives to check", file=sys.stderr)
        return 1
    bad = 0
    for path in files:
        try:
            a, full = check_file(path)
        except Fault as e:
            print("%s: %s" % (path, e), file=sys.stderr)
            bad += 1
            continue
        if dump is not None:
            if dump not in full:
                print("%s: no revision %s" % (path, dump.decode()), file=sys.stderr)
                return 1
            sys.stdout.buffer.write(full[dump])
    if dump is None:
        print("archive_grammar: %d archives checked, %d bad" % (len(files), bad))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
