"""Checks, as an independent reader, what merge-cases.qcs left on the machine for one client:
the events the plug-in sent (one trace file per case, AEPrint lines), the client's journal
(hidden from the fifth message of a merge, shown again at its end) and the mail in the
client's outbox, parsed with Python's standard email package and compared field by field
with the personalisation each record must get.

With "killed", checks what client-killed.qcs left instead: the message merged before the
client was killed and the one merged after it was launched again.

usage: check_merge.py CLIENT [killed]   (QUILLCAST_HOME and QUILLCAST_SOURCE_DIR in the environment)"""
import email
import email.policy
import os
import struct
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "apps"))
from mac_attachments import attachments  # noqa: E402

CLIENT = None
HOME = os.environ.get("QUILLCAST_HOME", "")
FILES = os.path.join(os.environ.get("QUILLCAST_SOURCE_DIR", ""), "examples", "attachments")
WELCOME, BADGE = os.path.join(FILES, "welcome.txt"), os.path.join(FILES, "badge.png")

# The records of merge-cases.qcs: First, Last, Email, Colleague (Cc), Secret (Bcc), Town.
RECORDS = [
    ("Ann", "Smith", "ann@example.com", "boss@example.com", "audit@example.com", "Malmö"),
    ("Bob", "Jones", "bob@example.com", "boss@example.com", "audit@example.com", "Lund"),
    ("Chloé", "Martin", "chloe@example.com", "", "audit@example.com", "Ystad"),
    ("Dan", "Brown", "dan@example.com", "boss@example.com", "", "Lund"),
    ("Eve", "White", "eve@example.com", "boss@example.com", "audit@example.com", "Malmö"),
    ("Fay", "Green", "fay@example.com", "boss@example.com", "audit@example.com", "Lund"),
]


def message(subject="", body="", to=(), cc=(), bcc=(), files=(), account="", encoding=0, stuffit=False):
    """One message as the client must receive it; addresses in round form, "addr (Name)"."""
    return dict(subject=subject, body=body, to=list(to), cc=list(cc), bcc=list(bcc), files=list(files),
                account=account, encoding=encoding, stuffit=stuffit)


def full_message(n):
    first, last, address, colleague, secret, town = RECORDS[n]
    return message(f"Invitation {n + 1} for {first}", f"Dear {first} {last},\r\rsee you in {town}.\r",
                   [f"{address} ({first} {last})"], [colleague] if colleague else [],
                   [secret] if secret else [], [WELCOME, BADGE], account="Work")


ATTACH = {1: [WELCOME], 2: [WELCOME, BADGE], 3: [WELCOME, "", BADGE]}
CASES = {
    "full": [full_message(n) for n in range(6)],
    "skipped": [],
    "lists": [message("lists")],
    "empty": [message()],
    **{f"attach-{n}": [message(f"attach-{n}", to=["ann@example.com"], files=f)] for n, f in ATTACH.items()},
    **{f"encoding-{n}": [message(f"encoding-{n}", to=["bob@example.com"], files=[BADGE], encoding=n,
                                 stuffit=True)] for n in range(7)},
}

# --- The events, in AEPrint form -----------------------------------------------------------


def text(value):
    """A 'TEXT' descriptor holding value in Mac OS Roman."""
    data = value.encode("mac_roman")
    if not data:
        return "'TEXT'()"
    out = ""
    for b in data:
        if b in (0x22, 0x5C):
            out += "\\" + chr(b)
        elif b < 0x20 or b >= 0x7F:
            out += "\\x%02X" % b
        else:
            out += chr(b)
    return f'"{out}"'


def obj(form, want, seld, container="null()"):
    tail = "" if container is None else f", 'from':{container}"
    return f"'obj '{{ 'form':'{form}', 'want':type('{want}'), 'seld':{seld}{tail} }}"


def event(suite, name, params):
    return f"'{suite}'\\'{name}'{{ " + ", ".join(f"'{k}':{v}" for k, v in params) + " }" if params \
        else f"'{suite}'\\'{name}'{{ }}"


def items(values):
    return "[ " + ", ".join(values) + " ]" if values else "[ ]"


REPLY_NONE = event("aevt", "ansr", [])
EUDORA_OPEN = [
    event("core", "getd", [("----", obj("indx", "ePrf", "169"))]),
    event("aevt", "ansr", [("----", '"y"')]),
    event("core", "setd", [("----", obj("indx", "ePrf", "169")), ("data", '"n"')]),
]
EUDORA_CLOSE = [event("core", "setd", [("----", obj("indx", "ePrf", "169")), ("data", '"y"')])]
# Stands for what the plug-in cannot know in advance: the specifier a client answers for the
# object it made.
REPLY_MADE = "<the new object>"
MADE_PREFIX = event("aevt", "ansr", [("----", "")])[:-2] + "'obj '{"


def alias(path):
    """A minimal alias of a full path: user type 0, record size, kind 1, path length, path."""
    data = path.encode("mac_roman")
    record = struct.pack(">IHHH", 0, 10 + len(data), 1, len(data)) + data
    return "'alis'($" + record.hex().upper() + "$)"


def names_query(of):
    return event("core", "getd", [("----", obj("prop", "prop", "type('pnam')", obj("indx", of, "'abso'('all ')")))])


def named_query(prop, name):
    return event("core", "getd", [("----", obj("prop", "prop", f"type('{prop}')", obj("name", "mact", text(name))))])


OUTLOOK_OPEN = [names_query("popA"), event("aevt", "ansr", [("----", '[ "Home", "Work" ]')]),
                names_query("impA"), event("aevt", "ansr", [("----", "[ ]")])]
MAIL_OPEN = [names_query("mact"), event("aevt", "ansr", [("----", '[ "Home", "Work" ]')])]
for account, full, address in (("Home", "Ann Home", "ann@home.example"), ("Work", "Ann Lee", "ann@work.example")):
    MAIL_OPEN += [named_query("flln", account), event("aevt", "ansr", [("----", text(full))]),
                  named_query("emad", account), event("aevt", "ansr", [("----", f"[ {text(address)} ]")])]
# What opening and closing the connection sends, by client.
FRAMES = {"Eudora": (EUDORA_OPEN, EUDORA_CLOSE), "Outlook Express": (OUTLOOK_OPEN, []),
          "Entourage": (OUTLOOK_OPEN, []), "Mail": (MAIL_OPEN, [])}
EUDORA_TYPE = {1: 0, 2: 2, 3: 0, 4: 3, 5: 1, 6: 0}
MAILSMITH_ENCODING = {1: "eApD", 2: "eHQX", 3: "eB64", 4: "eUUc", 5: "eApS", 6: "eApD"}
EMAILER_ENCODING = {1: 1, 2: 2, 3: 3, 4: 4, 5: 3, 6: 3}
CREATE = {
    "Eudora": event("core", "crel", [("insh", "'insl'{ 'kobj':" + obj("name", "euMB", '"out"') + ", 'kpos':'end ' }"),
                                     ("kocl", "type('euMS')")]),
    "Mailsmith": event("core", "crel", [("kocl", "type('mWnd')")]),
}


def eudora_events(m, msg):
    def field(name, value):
        return event("core", "setd", [("----", obj("name", "euFd", text(name), msg)), ("data", text(value))])
    out = [field(name, m[key]) for name, key in (("", "body"), ("subject", "subject")) if m[key]]
    out += [field(name, ",".join(m[name])) for name in ("to", "cc", "bcc") if m[name]]
    if m["files"]:
        aliases = [obj("name", "alis", text(path)) for path in m["files"]]
        out.append(event("CSOm", "eAtc", [("----", msg), ("eDcl", items(aliases))]))
        if m["encoding"]:
            kind = EUDORA_TYPE[m["encoding"]]
            out.append(event("core", "setd", [("----", obj("prop", "prop", "type('eATy')", msg)), ("data", str(kind))]))
    if m["account"]:
        personality = obj("name", "euPr", text(m["account"]))
        out.append(event("core", "setd", [("----", obj("prop", "prop", "type('euPr')", msg)), ("data", personality)]))
    return out + [event("CSOm", "eQue", [("----", msg)]), REPLY_NONE]


def mailsmith_events(m, window):
    out = [event("core", "setd", [("----", obj("prop", "prop", f"type('{code}')", window)), ("data", text(m[key]))])
           for code, key in (("pcnt", "body"), ("subj", "subject"), ("SeAc", "account")) if m[key]]
    for kind, key in (("!to ", "to"), ("!cc ", "cc"), ("!bcc", "bcc")):
        out += [event("core", "crel", [("kocl", f"type('{kind}')"), ("insh", window), ("prdt", f"{{ 'Addr':{text(a)} }}")])
                for a in m[key]]
    for path in m["files"]:
        encoding = f", 'Encd':'{MAILSMITH_ENCODING[m['encoding']]}'" if m["encoding"] else ""
        out.append(event("core", "crel", [("kocl", "type('Encl')"), ("insh", window),
                                          ("prdt", f"{{ 'file':{text(path)}{encoding} }}")]))
    return out + [event("mail", "queu", [("----", window)])]


def emailer_events(m):
    params = [(code, text(m[key])) for code, key in (("BODY", "body"), ("SUBJ", "subject")) if m[key]]
    recipients = [f"{{ 'RCTP':{kind}, 'RCAD':{text(a)} }}"
                  for kind, key in enumerate(("to", "cc", "bcc")) for a in m[key]]
    params.append(("RECP", items(recipients)))
    if m["files"]:
        params.append(("FILE", items([obj("name", "file", text(path), None) for path in m["files"]])))
        if m["encoding"]:
            params.append(("ENCD", str(EMAILER_ENCODING[m["encoding"]])))
        params.append(("COMP", "'true'()" if m["stuffit"] else "'fals'()"))
    params.append(("SAVE", "'true'()"))
    return [event("MMan", "CRML", params)]


def split_round(a):
    """Address and display name of an address in round form, "addr (Name)"."""
    if a.endswith(")") and " (" in a:
        address, name = a[:-1].split(" (", 1)
        return address, name
    return a, ""


def angled(a):
    address, name = split_round(a)
    return f"{name} <{address}>" if name else address


def record(pairs):
    return "{ " + ", ".join(f"'{k}':{v}" for k, v in pairs) + " }" if pairs else "{ }"


POWERMAIL_ENCODING = {1: "eNoE", 2: "eBnH", 3: "eB64", 4: "eUUE", 5: "eApD", 6: "eApD"}
OUTLOOK_ENCODING = {2: "eBnH", 3: "eB64", 4: "eUUE", 1: "eApD", 5: "eApD", 6: "eApD"}
KINDS = (("!to ", "to"), ("!cc ", "cc"), ("!bcc", "bcc"))


def powermail_events(m, case):
    props = [(code, text(m[key])) for code, key in (("ctnt", "body"), ("subj", "subject")) if m[key]]
    if m["files"]:
        encoding = [("Encd", f"'{POWERMAIL_ENCODING[m['encoding']]}'")] if m["encoding"] else []
        compress = [("Comp", "'eStC'" if m["stuffit"] else "'eNoC'")]
        props.append(("cAtc", items([record([("file", text(p))] + encoding + compress) for p in m["files"]])))
    props.append(("rcpt", items([record([("addr", text(angled(a))), ("rtyp", f"'{kind}'")])
                                 for kind, key in KINDS for a in m[key]])))
    if m["account"]:
        props.append(("acct", text(m["account"])))
    props.append(("stts", "'wait'"))
    return [event("core", "crel", [("kocl", "type('msg ')"), ("prdt", record(props))])]


# Address lists that are not blank but hold no address: QuickMail writes the key with an
# empty list, where the other dialects send nothing.
EMPTY_LISTS = {"lists": ["CcLs"], "empty": ["ToLs"]}


def quickmail_events(m, case):
    params = [(code, text(m[key])) for code, key in (("Body", "body"), ("----", "subject")) if m[key]]
    for code, key in (("ToLs", "to"), ("CcLs", "cc"), ("BcLs", "bcc")):
        people = [split_round(a) for a in m[key]]
        if people or code in EMPTY_LISTS.get(case, []):
            params.append((code, items([record(([("ALst", text(n))] if n else []) + [("Addr", text(a))])
                                        for a, n in people])))
    out = [event("CeLP", "NewM", []), event("CeLP", "SetD", params)]
    out += [event("CeLP", "Eadd", [("----", text(p))]) for p in m["files"]]
    return out + [event("CeLP", "Actn", [("----", "'ActN'")])]


def outlook_properties(m, entourage):
    props = [(code, text(m[key])) for code, key in (("ctnt", "body"), ("subj", "subject")) if m[key]]
    recipients = []
    for kind, key in KINDS:
        for a in m[key]:
            bare = key == "bcc" and not entourage
            recipients.append(record([("addr", text(split_round(a)[0] if bare else a)), ("rtyp", f"'{kind}'")]))
    props.append(("rcpt", items(recipients)))
    if m["files"]:
        props.append(("cAtc", items([text(p) for p in m["files"]])))
        if m["encoding"]:
            props.append(("Encd", f"'{OUTLOOK_ENCODING[m['encoding']]}'"))
        props.append(("Cmpr", "'cmSt'" if m["stuffit"] else "'cmNo'"))
    if m["account"]:
        props.append(("cAct", obj("name", "popA", text(m["account"]))))
    return record(props)


def outlook_events(m, case, entourage=False):
    create = event("core", "crel", [("kocl", "type('outm')"), ("insh", obj("prop", "prop", "type('pOtB')")),
                                    ("prdt", outlook_properties(m, entourage))])
    if not entourage:
        return [create]
    # Entourage waits for the answer: an attachment that is not there is refused (fnfErr).
    return [create, event("aevt", "ansr", [("errn", "-43")]) if "" in m["files"] else REPLY_MADE]


MAIL_SENDER = '"Ann Lee <ann@work.example>"'


def mail_events(m, msg):
    props = [(code, text(m[key])) for code, key in (("ctnt", "body"), ("subj", "subject")) if m[key]]
    if m["account"]:
        props.append(("sndr", MAIL_SENDER))
    out = [event("core", "crel", [("kocl", "type('bcke')"), ("prdt", record(props))]), REPLY_MADE]
    reply = event("aevt", "ansr", [])
    for kind, key in (("trcp", "to"), ("crcp", "cc"), ("brcp", "bcc")):
        for a in m[key]:
            address, name = split_round(a)
            where = "'insl'{ 'kobj':" + obj("indx", kind, "'abso'('all ')", msg) + ", 'kpos':'end ' }"
            person = record(([("pnam", text(name))] if name else []) + [("radd", text(address))])
            out += [event("core", "crel", [("kocl", "type('rcpt')"), ("insh", where), ("prdt", person)]), reply]
    content = obj("indx", "cha ", "-1", obj("prop", "prop", "type('ctnt')", msg))
    for path in m["files"]:
        if not path:  # no alias can be made of an empty path: nothing more is sent
            return out
        where = "'insl'{ 'kobj':" + content + ", 'kpos':'afte' }"
        made = record([("atfn", alias(path))])
        out += [event("core", "crel", [("kocl", "type('atts')"), ("insh", where), ("prdt", made)]), reply]
    out += [event("emsg", "send", [("----", msg)]), reply,
            event("core", "getd", [("----", obj("prop", "prop", "type('ID  ')", msg))]),
            event("aevt", "ansr", [("errn", "-1728")])]
    return out


def read_trace(case):
    path = os.path.join(HOME, f"trace-{case}")
    if not os.path.exists(path):
        return []
    with open(path, encoding="ascii") as f:
        return f.read().splitlines()


# --- The mail ------------------------------------------------------------------------------


def load_outbox():
    folder = os.path.join(HOME, "Data", CLIENT, "outbox", "new")
    messages = {}
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as f:
            raw = f.read()
        msg = email.message_from_bytes(raw, policy=email.policy.default)
        messages[msg["Subject"] or ""] = (name, msg, raw)
    return messages


def mailboxes(msg, field):
    return [(a.display_name, a.addr_spec) for a in msg[field].addresses] if msg[field] else []


def attachments_delivered(m):
    """The files a message carries once the client has read them: a path that does not exist
    costs Eudora the whole attachment event and Mailsmith that one enclosure; the clients that
    get the message in one event, or that answer no one, keep it as a draft (not in the
    outbox), and Mail is never told to send a message whose file it could not alias."""
    if "" not in m["files"]:
        return m["files"]
    return {"Eudora": [], "Mailsmith": [p for p in m["files"] if p]}.get(CLIENT)


FIRST_ACCOUNT = ("Ann Home", "ann@home.example")
# The encoding each client writes for each encoding code (Service Default and "No Encoding"
# give the client's own default), and whether it records asked-for compression.
E = dict(a="AppleDouble", s="AppleSingle", b="BinHex", u="UUEncode", d="Base64")
WRITTEN = {
    "Eudora": "aabausa",
    "Mailsmith": "dabdusa",
    "Emailer": "ddbdudd",
    "PowerMail": "ddbduaa",
    "Outlook Express": "aabduaa",
    "Entourage": "aabduaa",
    "QuickMail": "ddddddd",
    "Mail": "aaaaaaa",
}
COMPRESSES = {"Emailer", "PowerMail", "Outlook Express", "Entourage"}


def written_encoding(code):
    return E[WRITTEN[CLIENT][code]]


class MergeThroughClient(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.outbox = load_outbox()

    def matches(self, expected, actual):
        return actual.startswith(MADE_PREFIX) if expected == REPLY_MADE else actual == expected

    def expected_events(self, lines, m, case):
        """The events of one message; the specifier of a made object is taken from its reply."""
        if CLIENT in ("Eudora", "Mailsmith", "Mail"):
            self.assertTrue(lines[1].startswith(MADE_PREFIX), lines[1])
            made = lines[1][len(MADE_PREFIX) - len("'obj '{"):-2]
            if CLIENT == "Mail":
                return mail_events(m, made)
            rest = eudora_events(m, made) if CLIENT == "Eudora" else mailsmith_events(m, made)
            return [CREATE[CLIENT], REPLY_MADE] + rest
        return {"Emailer": lambda: emailer_events(m), "PowerMail": lambda: powermail_events(m, case),
                "QuickMail": lambda: quickmail_events(m, case),
                "Outlook Express": lambda: outlook_events(m, case),
                "Entourage": lambda: outlook_events(m, case, entourage=True)}[CLIENT]()

    def check_events(self, lines, messages, case):
        at = 0
        for m in messages:
            expected = self.expected_events(lines[at:], m, case)
            got = lines[at:at + len(expected)]
            self.assertEqual(len(got), len(expected), got)
            for want, line in zip(expected, got):
                self.assertTrue(self.matches(want, line), f"\n{want}\n{line}")
            at += len(expected)
        return at

    def test_events_of_every_case(self):
        for case, messages in CASES.items():
            with self.subTest(case=case):
                lines = read_trace(case)
                frame = FRAMES.get(CLIENT, ([], []))
                self.assertEqual(lines[:len(frame[0])], frame[0])
                end = len(frame[0]) + self.check_events(lines[len(frame[0]):], messages, case)
                self.assertEqual(lines[end:], frame[1])

    def test_hidden_from_the_fifth_message_until_the_end(self):
        creates = {"Eudora": "'kocl':type('euMS')", "Mailsmith": "'kocl':type('mWnd') }", "Emailer": "'CRML'",
                   "PowerMail": "'kocl':type('msg ')", "QuickMail": "'NewM'", "Outlook Express": "'kocl':type('outm')",
                   "Entourage": "'kocl':type('outm')", "Mail": "'kocl':type('bcke')"}
        with open(os.path.join(HOME, "Data", CLIENT, "journal.log"), encoding="ascii") as f:
            journal = f.read().splitlines()
        shown = [line for line in journal if line.startswith("# visible")]
        self.assertEqual(shown, ["# visible 0", "# visible 1"])
        count = lambda end: sum(creates[CLIENT] in line for line in journal[:journal.index(end)])
        self.assertEqual((count("# visible 0"), count("# visible 1")), (4, 6))

    def test_each_record_personalised(self):
        sender = FIRST_ACCOUNT if CLIENT in ("Emailer", "QuickMail") else ("Ann Lee", "ann@work.example")
        for n, (first, last, address, colleague, secret, town) in enumerate(RECORDS):
            with self.subTest(record=n):
                name, msg, raw = self.outbox[f"Invitation {n + 1} for {first}"]
                self.assertEqual(mailboxes(msg, "From"), [sender])
                self.assertEqual(mailboxes(msg, "To"), [(f"{first} {last}", address)])
                self.assertEqual(mailboxes(msg, "Cc"), [("", colleague)] if colleague else [])
                self.assertIsNone(msg["Bcc"])
                self.assertNotIn(b"audit@", raw)
                self.assertEqual(msg.get_body(("plain",)).get_content(), f"Dear {first} {last},\n\nsee you in {town}.\n")
                self.check_files(msg, [WELCOME, BADGE])
                envelope = os.path.join(HOME, "Data", CLIENT, "envelopes", name.split(":")[0])
                if secret:
                    with open(envelope, "rb") as f:
                        self.assertEqual(mailboxes(email.message_from_bytes(f.read(), policy=email.policy.default),
                                                   "Bcc"), [("", secret)])
                else:
                    self.assertFalse(os.path.exists(envelope))

    def test_other_cases_in_the_outbox(self):
        expected = {"Invitation"}
        for case, messages in CASES.items():
            for m in messages if case != "full" else []:
                files = attachments_delivered(m)
                if files is None:
                    continue
                expected.add(m["subject"])
                with self.subTest(case=case):
                    _, msg, _ = self.outbox[m["subject"]]
                    self.assertEqual([a for _, a in mailboxes(msg, "To")], m["to"])
                    self.assertIsNone(msg["Cc"])
                    self.check_files(msg, files, m["encoding"], m["stuffit"])
        self.assertEqual({s.split(" ")[0] if s.startswith("Invitation") else s for s in self.outbox}, expected)

    def check_files(self, msg, paths, encoding=0, stuffit=False):
        found = attachments(msg)
        self.assertEqual([a.name for a in found], [os.path.basename(p) for p in paths])
        for a, path in zip(found, paths):
            self.assertEqual(a.encoding, written_encoding(encoding))
            with open(path, "rb") as f:
                self.assertEqual(a.data, f.read())
        compressed = stuffit and bool(paths) and CLIENT in COMPRESSES
        self.assertEqual(msg["X-Attachment-Compression"], "StuffIt" if compressed else None)


class ClientKilled(unittest.TestCase):
    def test_message_after_the_relaunch(self):
        outbox = load_outbox()
        # The first message was reported sent, so the client had it before it died; the
        # second was never sent.
        self.assertEqual(set(outbox), {"Message 1 for Ann", "Message 3 for Chloé"})
        _, msg, _ = outbox["Message 3 for Chloé"]
        self.assertEqual(mailboxes(msg, "To"), [("Chloé", "chloe@example.com")])


if __name__ == "__main__":
    CLIENT = sys.argv.pop(1)
    killed = len(sys.argv) > 1 and sys.argv.pop(1) == "killed"
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(ClientKilled if killed else MergeThroughClient)
    sys.exit(0 if unittest.TextTestRunner(verbosity=1).run(suite).wasSuccessful() else 1)
