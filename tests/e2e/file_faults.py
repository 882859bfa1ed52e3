"""Faults of files and folders, with the real host and bundle: hosts killed (SIGKILL) at
random points while "Kill" saves the preferences file or "Save" a set-up file, and hosts
saving at once, must never leave a torn file; a machine folder that is not the user's alone is refused by the
host and by the stand-in clients, with the reason.

usage: file_faults.py QUILLCAST   (QUILLCAST_BUNDLE in the environment)"""
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

QUILLCAST = None
WAIT_SECONDS = 120  # for a host to finish; generous, the machine may be loaded
KILLS = 30
PREFERENCES = "Quillcast Preferences"


def saved_text(path):
    """The text of a whole preferences file; None when there is no file. Fails on a torn one."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except FileNotFoundError:
        return None
    if len(data) < 8 or data[:4] != b"\0\0\0\0" or int.from_bytes(data[4:8], "big") != len(data) - 8:
        raise AssertionError(f"a torn preferences file of {len(data)} bytes: {data[:16]!r}...")
    return data[8:]


class FileFaultsTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="file-faults-")
        self.home = os.path.join(self.work, "home")
        self.env = dict(os.environ, QUILLCAST_HOME=self.home, QUILLCAST_NO_AUTO_INSTALL="1")
        self.preferences = os.path.join(self.home, "Preferences", PREFERENCES)

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def script(self, name, text):
        path = os.path.join(self.work, name)
        with open(path, "w") as f:
            f.write(text)
        return path

    def saving(self, name, letter, length, rounds):
        """A host that saves letter * length with "Kill" rounds times."""
        script = self.script(name, f'for i 1 {rounds}\n  call Init\n  call Kill "{letter * length}"\nend\n')
        return subprocess.Popen([QUILLCAST, "run", script], env=self.env, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)

    def leftovers(self):
        folder = os.path.dirname(self.preferences)
        return [name for name in os.listdir(folder) if name != PREFERENCES] if os.path.isdir(folder) else []

    def test_hosts_killed_while_saving_never_leave_a_torn_file(self):
        random.seed(8)
        saved = set()
        for kill in range(KILLS):
            letter, length = chr(ord("a") + kill % 26), 200_000 + kill
            saved.add((letter * length).encode())
            host = self.saving(f"kill-{kill}.qcs", letter, length, 1000)
            time.sleep(random.uniform(0.05, 0.8))
            host.send_signal(signal.SIGKILL)
            host.communicate(timeout=WAIT_SECONDS)
            found = saved_text(self.preferences)
            self.assertTrue(found is None or found in saved, f"kill {kill}: a text no host saved")
        print(f"{KILLS} hosts killed while saving: no torn file, {len(self.leftovers())} unfinished new "
              "files left beside it", file=sys.stderr)
        # The file that survived is one the plug-in reads back.
        text = saved_text(self.preferences)
        if text is not None:
            check = self.script("check.qcs", f'call Init\nexpect "{text.decode()}"\n')
            result = subprocess.run([QUILLCAST, "run", check], env=self.env, capture_output=True, text=True,
                                    timeout=WAIT_SECONDS)
            self.assertEqual(result.returncode, 0, result.stderr[-2000:])

    def setup_script(self, name, records, body):
        """A host script that fills the record store and the twelve globals "Save" needs, then body."""
        lines = ["call Init", 'set _QLXfields "Name\\nNote"']
        lines += [f'call AddD "\\t\\xFFname {i}\\t{"n" * 400}"' for i in range(records)]
        lines += [f'set _QLX{name} ""' for name in ("subject", "message", "to", "cc", "bcc", "attachments",
                                                     "account")]
        lines += ['set _QLXencoding "Service Default"', 'set _QLXstuffit "false"', 'set _QLXclient "Eudora"',
                  'set _QLXhtml "false"']
        return self.script(name, "\n".join(lines + [body, ""]))

    def test_hosts_killed_while_saving_a_setup_never_leave_a_torn_file(self):
        random.seed(9)
        setup = os.path.join(self.work, "circle.setup")
        first = self.setup_script("first.qcs", 2000, f'write-file "{setup}" ""\ncall Save "{setup}"\nexpect true')
        result = subprocess.run([QUILLCAST, "run", first], env=self.env, capture_output=True, text=True,
                                timeout=WAIT_SECONDS)
        self.assertEqual(result.returncode, 0, result.stderr[-2000:])
        saving = self.setup_script("saving.qcs", 2000, f'for i 1 1000\n  call Save "{setup}"\nend')
        check = self.script("check.qcs", f'call Init\ncall Open "{setup}"\nexpect true\ncall Itms\nexpect 2000\n')
        kills = 15
        for kill in range(kills):
            host = subprocess.Popen([QUILLCAST, "run", saving], env=self.env, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
            time.sleep(random.uniform(0.1, 1.0))
            host.send_signal(signal.SIGKILL)
            host.wait(timeout=WAIT_SECONDS)
            result = subprocess.run([QUILLCAST, "run", check], env=self.env, capture_output=True, text=True,
                                    timeout=WAIT_SECONDS)
            self.assertEqual(result.returncode, 0, f"kill {kill}: " + result.stderr[-2000:])
        cut = [name for name in os.listdir(self.work) if name.startswith(".circle.setup.save-")]
        print(f"{kills} hosts killed while saving a set-up of 2000 records: every file opens whole, "
              f"{len(cut)} saves cut short", file=sys.stderr)

    def test_two_hosts_saving_at_once_never_tear_the_file(self):
        # A short text and a long one: a save that cut the long one short, or one that grew
        # the short one with zeros, is a text neither saved.
        sizes = {"A": (1_000, 600), "B": (20_000, 400), "C": (300_000, 150), "D": (1_000_000, 80)}
        texts = {(letter * length).encode() for letter, (length, _) in sizes.items()}
        hosts = [self.saving(f"{letter}.qcs", letter, length, rounds) for letter, (length, rounds) in sizes.items()]
        reads = 0
        try:
            while any(host.poll() is None for host in hosts):
                found = saved_text(self.preferences)
                self.assertTrue(found is None or found in texts, "a text neither host saved")
                reads += found is not None
        finally:
            for host in hosts:
                if host.poll() is None:
                    host.kill()
        for host in hosts:
            _, err = host.communicate(timeout=WAIT_SECONDS)
            self.assertEqual(host.returncode, 0, err[-2000:])
        self.assertIn(saved_text(self.preferences), texts)
        self.assertEqual(self.leftovers(), [])
        print(f"{len(hosts)} hosts saving at once: {reads} reads, every one whole", file=sys.stderr)

    def refused(self, env, reason):
        """The host and a stand-in client both refuse to start on the machine, for reason."""
        script = self.script("init.qcs", "call Init\n")
        host = subprocess.run([QUILLCAST, "run", script], env=env, capture_output=True, text=True,
                              timeout=WAIT_SECONDS)
        self.assertEqual(host.returncode, 2, host.stderr)
        self.assertIn(reason, host.stderr)
        client = os.path.join(os.path.dirname(QUILLCAST), "apps", "bin", "Eudora")
        standin = subprocess.run([client], env=env, capture_output=True, text=True, timeout=WAIT_SECONDS)
        self.assertEqual(standin.returncode, 1, standin.stderr)
        self.assertIn(reason, standin.stderr)

    def test_a_machine_folder_planted_by_another_user_is_refused(self):
        if os.geteuid() != 0:
            self.skipTest("making another user's folder needs root")
        os.mkdir(self.home, 0o755)
        os.chown(self.home, 65534, 65534)
        self.refused(self.env, "belongs to another user (uid 65534)")
        self.assertEqual(os.listdir(self.home), [])  # nothing read or written there

    def test_machine_folders_past_the_limits_are_refused(self):
        too_long = os.path.join(self.work, "x" * 100)
        self.refused(dict(self.env, QUILLCAST_HOME=too_long), "limit of 107 bytes for a socket's path")
        self.assertFalse(os.path.exists(too_long))
        homeless = {name: value for name, value in self.env.items()
                    if name not in ("QUILLCAST_HOME", "HOME", "XDG_RUNTIME_DIR")}
        self.refused(homeless, "a shared temporary folder is never used")


if __name__ == "__main__":
    QUILLCAST = sys.argv.pop(1)
    unittest.main(verbosity=2)
