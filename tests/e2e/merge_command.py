"""`quillcast merge` end to end, each case on a fresh machine (QUILLCAST_HOME) with the real
host, bundle and stand-in clients: the mail in the client's outbox (read back with Python's
email package), the journal, the exit statuses, the dry run's files, and a merge killed
with SIGKILL and resumed, which must leave every record in the outbox exactly once.

usage: merge_command.py QUILLCAST   (QUILLCAST_BUNDLE in the environment)"""
import email
import email.policy
import os
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from machine_processes import registered_applications

QUILLCAST = None
WAIT_SECONDS = 120  # for what another process must do; generous, the machine may be loaded


def wait_for(condition, what):
    deadline = time.monotonic() + WAIT_SECONDS
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("gave up waiting for " + what)
        time.sleep(0.005)


class MergeCommandTest(unittest.TestCase):
    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="merge-home-")
        self.work = tempfile.mkdtemp(prefix="merge-work-")
        # The dry run's machine is made in TMPDIR: here, to see that it is removed.
        self.temporary = os.path.join(self.work, "tmp")
        os.makedirs(self.temporary)
        self.env = dict(os.environ, QUILLCAST_HOME=self.home, TMPDIR=self.temporary)
        self.data = os.path.join(self.work, "people.csv")
        self.letter = os.path.join(self.work, "letter.txt")
        self.journal = self.data + ".journal"
        os.makedirs(os.path.join(self.work, "files"))
        with open(os.path.join(self.work, "files", "note.txt"), "w") as f:
            f.write("a note\n")

    def tearDown(self):
        self.stop_clients()
        shutil.rmtree(self.home, ignore_errors=True)
        shutil.rmtree(self.work, ignore_errors=True)

    # --- Helpers --------------------------------------------------------------------------

    def write(self, path, text):
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)

    def people(self, count):
        rows = ["First,Email,File"] + [f"P{n},p{n}@example.com,files/note.txt" for n in range(1, count + 1)]
        self.write(self.data, "\n".join(rows) + "\n")
        self.write(self.letter, "To: {{First}} <{{Email}}>\nSubject: Record «§∆» for {{First}}\n"
                                "Attach: {{File}}\n\nDear {{First}},\nhello.\n")

    def merge(self, *args, data=None):
        command = [QUILLCAST, "merge", "--data", data or self.data, "--template", self.letter, *args]
        return subprocess.run(command, env=self.env, capture_output=True, text=True, timeout=WAIT_SECONDS * 3)

    def clients(self):
        """pid -> name of the applications registered on this machine."""
        return registered_applications(self.home)

    def stop_clients(self):
        pids = list(self.clients())
        for pid in pids:
            os.kill(pid, signal.SIGCONT)
            os.kill(pid, signal.SIGTERM)

        def gone():
            for pid in pids:
                try:
                    with open(f"/proc/{pid}/stat") as f:
                        if f.read().rsplit(")", 1)[1].split()[0] not in "ZX":
                            return False
                except OSError:
                    pass
            return True
        wait_for(gone, "the clients to quit")

    def outbox(self, client):
        """The messages the client queued, by the record number in their subject."""
        self.stop_clients()
        folder = os.path.join(self.home, "Data", client, "outbox", "new")
        by_record = {}
        for name in os.listdir(folder) if os.path.isdir(folder) else []:
            with open(os.path.join(folder, name), "rb") as f:
                message = email.message_from_binary_file(f, policy=email.policy.default)
            number = int(re.search(r"Record (\d+)", message["subject"]).group(1))
            by_record.setdefault(number, []).append(message)
        return by_record

    def journal_lines(self):
        with open(self.journal) as f:
            return [line for line in f.read().splitlines() if not line.startswith("#")]

    # --- Cases ----------------------------------------------------------------------------

    def test_merge_sends_every_record_once(self):
        self.people(3)
        result = self.merge("--client", "Eudora")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("Eudora: 3 sent, 0 skipped (no recipients), 0 failed", result.stdout)
        self.assertEqual(self.journal_lines()[-2:], ["start 3 " + self.journal_lines()[-2].split()[2] + " line 4",
                                                      "sent 3"])
        mail = self.outbox("Eudora")
        self.assertEqual(sorted(mail), [1, 2, 3])
        message = mail[2][0]
        self.assertEqual(message["subject"], "Record 2 for P2")
        self.assertIn("p2@example.com", message["to"])
        self.assertEqual(message.get_body().get_content(), "Dear P2,\nhello.\n")
        attached = [part.get_payload(decode=True) for part in message.walk()
                    if part.get_filename() == "note.txt" and part.get_content_type() == "text/plain"]
        self.assertEqual(attached, [b"a note\n"])  # its data fork, whatever wraps it

        # The journal stands in the way of a second merge of the same data, and a resume
        # has nothing left to send.
        again = self.merge("--client", "Eudora")
        self.assertEqual(again.returncode, 2)
        self.assertIn("--resume", again.stderr)
        resumed = self.merge("--client", "Eudora", "--resume")
        self.assertEqual(resumed.returncode, 0, resumed.stderr)
        self.assertIn("0 sent, 0 skipped (no recipients), 0 failed, 3 sent earlier", resumed.stdout)
        self.assertEqual(sorted(self.outbox("Eudora")), [1, 2, 3])

    def test_check_names_the_line_and_nothing_is_sent(self):
        self.write(self.data, "First,Email,File\n"
                              "Ann,ann@example.com,files/note.txt\n"
                              "\"Bob\nJones\",bob.example.com,files/note.txt\n"
                              "Łukasz,ann@example.com,/etc/passwd\n")
        self.write(self.letter, "To: {{Email}}\nSubject: Record «§∆» for {{Frist}}\nAttach: {{File}}\n"
                                "Account: Nowhere\n\nHi\n")
        for args in (["--check"], [], ["--dry-run", os.path.join(self.work, "out")]):
            result = self.merge("--client", "Eudora", *args)
            self.assertEqual(result.returncode, 2, args)
            for finding in ("letter.txt:2: placeholder «Frist» names no field",
                            "people.csv:3: To holds \"bob.example.com\", which is not an address",
                            "people.csv:5: field \"First\" holds U+0141 'Ł' cannot be written in Mac OS Roman",
                            "people.csv:5: ann@example.com is already a recipient on line 2",
                            "people.csv:5: attachment /etc/passwd comes from the record's data and lies outside "
                            "the template's folder",
                            "letter.txt:4: Eudora has no account \"Nowhere\""):
                self.assertIn(finding, result.stderr, args)
        self.assertIn("6 findings; nothing was sent", result.stdout)
        self.assertFalse(os.path.exists(self.journal))
        self.assertFalse(os.path.exists(os.path.join(self.work, "out")))
        self.assertEqual(self.outbox("Eudora"), {})

        unknown = self.merge("--client", "Nobody", "--check")
        self.assertEqual(unknown.returncode, 2)
        self.assertRegex(unknown.stderr, r'client: "Nobody" is not installed \(installed: .*Eudora, Emailer.*\)')

    def test_bad_input_is_refused_before_anything_starts(self):
        self.people(1)
        missing = self.merge(data=os.path.join(self.work, "nowhere.csv"))
        self.assertEqual((missing.returncode, missing.stderr.strip()),
                         (2, "quillcast merge: no data file " + os.path.join(self.work, "nowhere.csv")))
        self.write(self.letter, "To: {{Email}}\nSubject: no blank line\n")
        self.assertIn(self.letter + ": no blank line", self.merge().stderr)
        self.write(self.data, "First,Email\nAnn,\"ann@example.com\n")
        self.write(self.letter, "To: {{Email}}\n\nHi\n")
        broken = self.merge()
        self.assertEqual(broken.returncode, 2)
        self.assertIn(self.data + ":2: a quotation mark that never closes", broken.stderr)
        usage = self.merge("--limit", "0")
        self.assertEqual(usage.returncode, 2)
        self.assertEqual(subprocess.run([QUILLCAST, "merge", "--help"], capture_output=True).returncode, 0)

    def test_journal_that_cannot_grow_stops_the_merge_and_loses_nothing(self):
        count = 30
        self.people(count)
        first = self.merge("--client", "Eudora", "--limit", "1")  # also leaves the client running
        self.assertEqual(first.returncode, 0, first.stderr)
        # The journal may grow by a few records only: a disk that fills up in mid-merge.
        limit = os.path.getsize(self.journal) + 300
        full = subprocess.run([QUILLCAST, "merge", "--data", self.data, "--template", self.letter, "--client",
                               "Eudora", "--resume"], env=self.env, capture_output=True, text=True,
                              preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit)))
        self.assertEqual(full.returncode, 1)
        self.assertIn("cannot write the journal " + self.journal + ": File too large; stopped", full.stderr)
        self.assertLess(len(self.outbox("Eudora")), count)

        resumed = self.merge("--client", "Eudora", "--resume")
        lacks_outcome = "whose outcome the journal lacks" in full.stderr
        self.assertEqual((resumed.returncode, "uncertain" in resumed.stdout), (int(lacks_outcome), lacks_outcome))
        mail = self.outbox("Eudora")
        self.assertEqual(sorted(mail), list(range(1, count + 1)))
        self.assertTrue(all(len(messages) == 1 for messages in mail.values()))

        os.remove(self.journal)
        os.symlink("/dev/full", self.journal)
        result = self.merge("--client", "Eudora")
        self.assertEqual(result.returncode, 2)
        self.assertIn(self.journal + " is not a journal", result.stderr)

    def test_dry_run_keeps_the_messages_as_files(self):
        self.write(self.data, "First,Email,Secret\nAnn,ann@example.com,audit@example.com\nBob,,\n"
                              "Cleo,cleo@example.com,\n")
        self.write(self.letter, "To: {{Email}}\nBcc: {{Secret}}\nSubject: Record «§∆» for {{First}}\n\nHi\n")
        out = os.path.join(self.work, "out")
        result = self.merge("--client", "Emailer", "--dry-run", out, "--force")  # Bob has no To
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertRegex(result.stdout, r"dry run into Emailer: 3 records, 2 messages, \d+ bytes in ")
        self.assertEqual(sorted(os.listdir(out)), ["1.eml", "3.eml"])
        with open(os.path.join(out, "1.eml"), "rb") as f:
            first = email.message_from_binary_file(f, policy=email.policy.default)
        self.assertEqual((first["subject"], first["to"], first["bcc"]),
                         ("Record 1 for Ann", "ann@example.com", "audit@example.com"))
        with open(os.path.join(out, "3.eml"), "rb") as f:
            self.assertIn(b"Subject: Record 3 for Cleo", f.read())
        # Nothing reached the user's own machine, and a dry run keeps no journal.
        self.assertEqual(self.clients(), {})
        self.assertFalse(os.path.exists(os.path.join(self.home, "Data", "Emailer", "outbox")))
        self.assertFalse(os.path.exists(self.journal))
        self.assertEqual(os.listdir(self.temporary), [])

    def stop_client_in_a_record(self, merge):
        """Stops the client once ten records are sent, so that the merge waits inside a
        record's "Merg" (the one in flight may still complete); returns the client's pid. The
        merge must have many more records than the ten, so that it is still running then."""
        def sent():
            return sum(1 for line in self.journal_lines() if line.startswith("sent")) \
                if os.path.exists(self.journal) else 0
        wait_for(lambda: sent() >= 10 or merge.poll() is not None, "ten records sent")
        self.assertIsNone(merge.poll(), "the merge ended before its client could be stopped")
        (client,) = [pid for pid, name in self.clients().items() if name == "Eudora"]
        os.kill(client, signal.SIGSTOP)
        return client

    def hang_in_a_record(self, merge):
        client = self.stop_client_in_a_record(merge)
        wait_for(lambda: self.journal_lines()[-1].startswith("start"), "a record to start")
        return client

    def start_merge(self):
        return subprocess.Popen([QUILLCAST, "merge", "--data", self.data, "--template", self.letter, "--client",
                                 "Eudora"], env=self.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def assert_outbox_once(self, count, uncertain=None):
        """Every record is in the outbox exactly once; the uncertain one, which the client may
        or may not have queued before it stopped, at most once. True when that one is there."""
        mail = self.outbox("Eudora")
        self.assertEqual(sorted(n for n in mail if n != uncertain), [n for n in range(1, count + 1) if n != uncertain])
        self.assertTrue(all(len(messages) == 1 for messages in mail.values()))
        return uncertain in mail

    def test_killed_merge_resumes_without_sending_twice(self):
        count = 2000
        self.people(count)
        merge = self.start_merge()
        try:
            client = self.hang_in_a_record(merge)
            merge.kill()
            merge.communicate()
            os.kill(client, signal.SIGCONT)
        finally:
            if merge.poll() is None:
                merge.kill()
                merge.communicate()
        # Killed inside a record, the journal ends with its start; killed in the instant
        # between two records, it has none.
        last = self.journal_lines()[-1].split()
        uncertain = int(last[1]) if last[0] == "start" else None

        resumed = self.merge("--client", "Eudora", "--resume")
        self.assertEqual(resumed.returncode, 0 if uncertain is None else 1, resumed.stderr)
        if uncertain is None:
            self.assert_outbox_once(count)
            return
        self.assertIn(f"uncertain, not sent again (--resend-uncertain sends them): records {uncertain} "
                      f"(line {uncertain + 1})", resumed.stdout)
        if self.assert_outbox_once(count, uncertain):
            return
        # The user, having found it was not sent, sends it after all.
        last = self.merge("--client", "Eudora", "--resume", "--resend-uncertain")
        self.assertEqual(last.returncode, 0, last.stderr)
        self.assertIn("Eudora: 1 sent", last.stdout)
        self.assert_outbox_once(count)

    def test_client_killed_during_a_record_leaves_it_uncertain(self):
        count = 2000
        self.people(count)
        merge = self.start_merge()
        try:
            client = self.hang_in_a_record(merge)
            os.kill(client, signal.SIGKILL)
            out, err = merge.communicate(timeout=WAIT_SECONDS)
        finally:
            if merge.poll() is None:
                merge.kill()
                merge.communicate()
        self.assertEqual(merge.returncode, 1, err)
        uncertain = int(self.journal_lines()[-1].split()[1])
        self.assertEqual(self.journal_lines()[-1], f"uncertain {uncertain} the client quit during the message")
        self.assertIn(f"Eudora: the client quit during the message (record {uncertain}); stopped", err)
        self.assertIn("1 uncertain", out)

        resumed = self.merge("--client", "Eudora", "--resume")  # launches the client again
        self.assertEqual(resumed.returncode, 1, resumed.stderr)
        self.assertIn(f"Eudora: {count - uncertain} sent", resumed.stdout)
        self.assert_outbox_once(count, uncertain)

    def test_client_that_stops_answering_leaves_one_record_uncertain(self):
        count = 2000
        self.people(count)
        self.env["QUILLCAST_TIME_SCALE"] = "0.05"  # the client's 20 s time-out is one second
        merge = self.start_merge()
        try:
            client = self.stop_client_in_a_record(merge)
            out, err = merge.communicate(timeout=WAIT_SECONDS)
        finally:
            if merge.poll() is None:
                merge.kill()
                merge.communicate()
            os.kill(client, signal.SIGCONT)
        self.assertEqual(merge.returncode, 1, err)
        uncertain = int(self.journal_lines()[-1].split()[1])
        self.assertEqual(self.journal_lines()[-1], f"uncertain {uncertain} the client did not answer in time")
        self.assertIn(f"Eudora: the client did not answer in time (record {uncertain}); stopped", err)

        resumed = self.merge("--client", "Eudora", "--resume")
        self.assertEqual(resumed.returncode, 1, resumed.stderr)
        self.assertIn(f"Eudora: {count - uncertain} sent", resumed.stdout)
        self.assert_outbox_once(count, uncertain)

if __name__ == "__main__":
    QUILLCAST = sys.argv.pop(1)
    unittest.main(verbosity=2)
