"""Reads back, with Python's standard email package, the mail that a stand-in client wrote
in StandInClientsTest, and checks it field by field. Every client's test plays the same
cases: "One attachment" (texts sent as UTF-8) and "Missing file" (queued after an attachment
was refused); and "Draft", left unqueued. Full and empty messages are read back by the
merges through each client.

usage: standin_reader.py CLIENT DATA_FOLDER FILES_FOLDER"""
import email
import email.policy
import email.utils
import os
import sys
import unittest

from mac_attachments import attachments

CLIENT, DATA, FILES = None, None, None
# What each client does with a message that names no encoding.
DEFAULT_ENCODING = {"Eudora": "AppleDouble", "Outlook Express": "AppleDouble", "Mail": "AppleDouble"}
# Where each case lands: Outlook Express keeps even the unqueued message in its Out Box, and
# QuickMail, which answers no one, keeps the message whose file it could not read as a draft.
QUEUED = ["Missing file", "One attachment ✓"]
FOLDERS = {
    "Outlook Express": (QUEUED + ["Draft"], []),
    "QuickMail": (["One attachment ✓"], ["Draft", "Missing file"]),
}


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
        for _, msg, _ in list(self.outbox.values()) + list(self.drafts.values()):
            self.assertIsNone(msg["Bcc"])
            self.assertEqual(msg["MIME-Version"], "1.0")
            self.assertIsNotNone(email.utils.parsedate_to_datetime(msg["Date"]))
            self.assertRegex(msg["Message-ID"], r"^<[^<>@\s]+@[a-z.]+\.example>$")

    def test_one_attachment_missing_file_and_draft(self):
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

    def check_attachments(self, msg, names):
        found = attachments(msg)
        self.assertEqual([a.name for a in found], names)
        for a in found:
            self.assertEqual(a.encoding, DEFAULT_ENCODING.get(CLIENT, "Base64"))
            with open(os.path.join(FILES, a.name), "rb") as f:
                self.assertEqual(a.data, f.read())


if __name__ == "__main__":
    CLIENT, DATA, FILES = sys.argv[1:4]
    del sys.argv[1:4]
    unittest.main()
