"""The applications registered on one emulated machine (QUILLCAST_HOME), as the tests find
them: only processes that run with that machine's QUILLCAST_HOME, so that a pid reused by
another process is never taken for a client."""
import os


def registered_applications(home):
    """pid -> name of the applications registered on the machine at home."""
    found = {}
    run = os.path.join(home, "run")
    for entry in os.listdir(run) if os.path.isdir(run) else []:
        if not entry.endswith(".proc"):
            continue
        try:
            with open(os.path.join(run, entry)) as f:
                fields = dict(line.split(" ", 1) for line in f.read().splitlines() if " " in line)
            pid = int(fields.get("pid", "0"))
            with open(f"/proc/{pid}/environ", "rb") as f:
                if f"QUILLCAST_HOME={home}".encode() in f.read().split(b"\0"):
                    found[pid] = fields.get("name", "")
        except (OSError, ValueError):
            pass  # an entry being replaced, or a process that has gone
    return found
