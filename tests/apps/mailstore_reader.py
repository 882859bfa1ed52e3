"""Reads back, with Python's standard email package, the messages that mailstore_sample
writes, and checks every field against what the client was given."""
import email
import email.policy
import email.utils
import os
import subprocess
import sys
import tempfile
import unittest

SAMPLE = None


def read_message(path):
    """The parsed message and its bytes. Headers may hold raw UTF-8 addresses (RFC 6532),
    which the email package reads only from text."""
    with open(path, "rb") as f:
        raw = f.read()
    return email.message_from_string(raw.decode("utf-8"), policy=email.policy.default), raw


class MailStoreReader(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        out = subprocess.run([SAMPLE, cls.folder.name], check=True, capture_output=True, text=True).stdout
        cls.files = {}
        for line in out.splitlines():
            case, maildir, name = line.split(" ", 2)
            cls.files[case] = (maildir, name)

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def message(self, case):
        maildir, name = self.files[case]
        return read_message(os.path.join(self.folder.name, maildir, "new", name))

    def test_headers_are_decoded_back_to_the_given_text(self):
        msg, raw = self.message("full")
        self.assertIn(b"Subject: =?UTF-8?", raw, "non-ASCII headers are encoded words")
        self.assertEqual(msg["From"].addresses[0].display_name, "Zoë Demo")
        self.assertEqual(msg["From"].addresses[0].addr_spec, "demo@quillcast.example")
        to = [(a.display_name, a.addr_spec) for a in msg["To"].addresses]
        self.assertEqual(to, [("Ann Lee", "ann@example.com"), ("Börje © Müller", "börje@example.com")])
        self.assertEqual([a.addr_spec for a in msg["Cc"].addresses], ["carl@example.com"])
        self.assertEqual(msg["Subject"], "Café “news” for you")
        self.assertEqual(msg["MIME-Version"], "1.0")
        self.assertIsNotNone(email.utils.parsedate_to_datetime(msg["Date"]))
        self.assertRegex(msg["Message-ID"], r"^<[^<>@\s]+@quillcast\.example>$")

    def test_bcc_is_only_in_the_envelope(self):
        msg, raw = self.message("full")
        self.assertIsNone(msg["Bcc"])
        self.assertNotIn(b"dora@", raw)
        self.assertNotIn(b"eve@", raw)
        with open(os.path.join(self.folder.name, "envelopes", self.files["full"][1]), "rb") as f:
            envelope = email.message_from_bytes(f.read(), policy=email.policy.default)
        bcc = [(a.display_name, a.addr_spec) for a in envelope["Bcc"].addresses]
        self.assertEqual(bcc, [("Dora", "dora@example.com"), ("", "eve@example.com")])
        self.assertFalse(os.path.exists(os.path.join(self.folder.name, "envelopes", self.files["plain"][1])))

    def test_body_and_attachments(self):
        msg, _ = self.message("full")
        self.assertEqual(msg.get_content_type(), "multipart/mixed")
        body = msg.get_body(("plain",))
        self.assertEqual(body.get_content_charset(), "utf-8")
        self.assertIn(body["Content-Transfer-Encoding"], ("quoted-printable", "base64"))
        self.assertEqual(body.get_content(), "Dear Ann,\n\nnaïve résumé attached.\n" + "x" * 1200 + "\n")
        attachments = list(msg.iter_attachments())
        self.assertEqual([a.get_filename() for a in attachments], ["Résumé.txt", "data.bin"])
        self.assertEqual([a.get_content_type() for a in attachments], ["text/plain", "application/octet-stream"])
        for part in attachments:
            self.assertEqual(part["Content-Transfer-Encoding"], "base64")
            with open(os.path.join(self.folder.name, part.get_filename()), "rb") as f:
                self.assertEqual(part.get_payload(decode=True), f.read())

    def test_plain_empty_and_draft_messages(self):
        msg, raw = self.message("plain")
        self.assertTrue(raw.isascii())
        self.assertEqual(msg.get_content_type(), "text/plain")
        self.assertEqual(msg["Content-Transfer-Encoding"] or "7bit", "7bit")
        self.assertEqual(msg.get_content(), "Just ASCII.\n")
        empty, _ = self.message("empty")
        self.assertIsNone(empty["To"])
        self.assertEqual(empty["Subject"] or "", "")
        self.assertEqual(empty.get_content(), "")
        draft, _ = self.message("draft")
        self.assertEqual(self.files["draft"][0], "drafts")
        self.assertEqual(draft["Subject"], "Draft •")
        ids = {self.message(case)[0]["Message-ID"] for case in self.files}
        self.assertEqual(len(ids), len(self.files))
        for maildir in ("outbox", "drafts"):
            self.assertEqual(os.listdir(os.path.join(self.folder.name, maildir, "tmp")), [])


if __name__ == "__main__":
    SAMPLE = sys.argv.pop(1)
    unittest.main()
