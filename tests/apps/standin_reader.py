"""Reads back, with Python's standard email package, the mail that a stand-in client wrote
in StandInClientsTest, and checks it field by field. Every client's test plays the same
cases: "full" (all fields, two attachments, a personality or account), an empty message,
"One attachment" (texts sent as UTF-8), "Missing file" (queued after an attachment was
refused), all queued; and "Draft", left unqueued.

usage: standin_reader.py CLIENT DATA_FOLDER FILES_FOLDER"""
import email
import email.policy
import email.utils
import os
import sys
import unittest

from mac_attachments import attachments

CLIENT, DATA, FILES = None, None, None
# Emailer and QuickMail have no choice of account: they send from the first one of the
# accounts file.
SENDER = {"Emailer": ("Ann Home", "ann@home.example"), "QuickMail": ("Ann Home", "ann@home.example")}
# What each client does with a message that names no encoding, and the encoding the full
# case asks for where it asks for one.
DEFAULT_ENCODING = {"Eudora": "AppleDouble", "Outlook Express": "AppleDouble", "Mail": "AppleDouble"}
FULL_ENCODING = {"Eudora": "BinHex", "Outlook Express": "UUEncode", "PowerMail": "BinHex"}
# Where each case lands: Outlook Express keeps even the unqueued message in its Out Box, and
# QuickMail, which answers no one, keeps the message whose file it could not read as a draft.
QUEUED = ["", "Café “news” \u2206\u20ac", "Missing file", "One attachment ✓"]
FOLDERS = {
    "Outlook Express": (QUEUED + ["Draft"], []),
    "QuickMail": (["", "Café “news” \u2206\u20ac", "One attachment ✓"], ["Draft", "Missing file"]),
}
# The full case's subject: U+2206 is the increment sign (Mac OS Roman 0xC6), not Greek delta.
FULL = "Café “news” \u2206\u20ac"


def load(maildir):
    messages = {}
    folder = os.path.join(DATA, maildir, "new")
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as f:
            raw = f.read()
        msg = email.message_from_string(raw.decode("utf-8"), policy=email.policy.default)
        messages[msg["Subject"] or ""] = (name, msg, raw)
    return messages


def mailboxes(msg, field):
    return [(a.display_name, a.addr_spec) for a in msg[field].addresses] if msg[field] else []


class StandInMail(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.outbox = load("outbox")
        cls.drafts = load("drafts")

    def test_each_case_lands_in_its_folder(self):
        outbox, drafts = FOLDERS.get(CLIENT, (QUEUED, ["Draft"]))
        self.assertEqual(sorted(self.outbox), sorted(outbox))
        self.assertEqual(sorted(self.drafts), sorted(drafts))
        for _, msg, raw in list(self.outbox.values()) + list(self.drafts.values()):
            self.assertIsNone(msg["Bcc"])
            self.assertNotIn(b"dora@", raw)
            self.assertEqual(msg["MIME-Version"], "1.0")
            self.assertIsNotNone(email.utils.parsedate_to_datetime(msg["Date"]))
            self.assertRegex(msg["Message-ID"], r"^<[^<>@\s]+@[a-z.]+\.example>$")

    def test_full_message(self):
        name, msg, _ = self.outbox[FULL]
        self.assertEqual(mailboxes(msg, "From"), [SENDER.get(CLIENT, ("Ann Work", "ann@work.example"))])
        self.assertEqual(mailboxes(msg, "To"), [("Ann Lee", "ann@example.com"), ("Börje", "borje@example.com")])
        self.assertEqual(mailboxes(msg, "Cc"), [("", "carl@example.com")])
        body = msg.get_body(("plain",))
        self.assertEqual(body.get_content_charset(), "utf-8")
        self.assertIn(body["Content-Transfer-Encoding"], ("quoted-printable", "base64"))
        self.assertEqual(body.get_content(), "Dear Ann,\n\nnaïve résumé, \u2206 5 \u20ac.\n")
        with open(os.path.join(DATA, "envelopes", name), "rb") as f:
            envelope = email.message_from_bytes(f.read(), policy=email.policy.default)
        self.assertEqual(mailboxes(envelope, "Bcc"), [("Dora", "dora@example.com")])
        self.check_attachments(msg, ["notes.txt", "data.bin"], FULL_ENCODING.get(CLIENT))
        compressed = "StuffIt" if CLIENT == "Outlook Express" else None
        self.assertEqual(msg["X-Attachment-Compression"], compressed)

    def test_empty_one_attachment_and_missing_file(self):
        _, empty, _ = self.outbox[""]
        self.assertIsNone(empty["To"])
        self.assertEqual(empty.get_content(), "")
        _, one, _ = self.outbox["One attachment ✓"]
        self.assertEqual(mailboxes(one, "To"), [("", "ann@example.com")])
        self.check_attachments(one, ["notes.txt"])
        _, missing, _ = {**self.drafts, **self.outbox}["Missing file"]
        self.check_attachments(missing, [])
        _, draft, _ = {**self.drafts, **self.outbox}["Draft"]
        self.assertEqual(mailboxes(draft, "To"), [("", "ann@example.com")])
        if CLIENT == "Outlook Express":  # an HTML message from the IMAP account
            self.assertEqual(mailboxes(draft, "From"), [("Ann Lab", "ann@lab.example")])
            self.assertEqual(draft.get_body(("html",)).get_content().rstrip(), "<p>Hello</p>")

    def check_attachments(self, msg, names, encoding=None):
        found = attachments(msg)
        self.assertEqual([a.name for a in found], names)
        for a in found:
            self.assertEqual(a.encoding, encoding or DEFAULT_ENCODING.get(CLIENT, "Base64"))
            with open(os.path.join(FILES, a.name), "rb") as f:
                self.assertEqual(a.data, f.read())


if __name__ == "__main__":
    CLIENT, DATA, FILES = sys.argv[1:4]
    del sys.argv[1:4]
    unittest.main()
