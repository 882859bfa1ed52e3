"""Reads the attachments of a message the way an independent mail reader would: base64 and
x-uuencode parts with Python's email package, BinHex 4.0 with hexbin (Debian's macutils),
AppleSingle and AppleDouble (RFC 1740) with a reader of their published layout written here.

attachments(msg) gives, in order, one Attachment per file the message carries.

Run as a program, checks a Maildir folder written by the mail store test:
    mac_attachments.py MAILDIR FILE TYPECREATOR [FILE TYPECREATOR...]
every message's subject names its encoding, and each message carries every FILE in it,
with its Finder type and creator (eight characters) where the encoding keeps them."""
import collections
import os
import shutil
import struct
import subprocess
import sys
import tempfile

Attachment = collections.namedtuple("Attachment", "encoding name data type creator")

APPLE_SINGLE, APPLE_DOUBLE = 0x00051600, 0x00051607


def read_apple_file(blob, magic):
    """The entries of an AppleSingle or AppleDouble file, by id."""
    found, version = struct.unpack(">II", blob[:8])
    if (found, version) != (magic, 0x00020000) or blob[8:24] != bytes(16):
        raise ValueError("not an Apple file of version 2: %08x %08x" % (found, version))
    (count,) = struct.unpack(">H", blob[24:26])
    entries = {}
    for i in range(count):
        entry_id, offset, length = struct.unpack(">III", blob[26 + 12 * i:38 + 12 * i])
        if offset + length > len(blob):
            raise ValueError("entry %d runs past the end" % entry_id)
        entries[entry_id] = blob[offset:offset + length]
    return entries


def finder(entries):
    info = entries[9]
    return info[:4].decode("mac_roman"), info[4:8].decode("mac_roman")


def unbinhex(text):
    """Name, data fork, type and creator of a BinHex 4.0 text, decoded by hexbin."""
    folder = tempfile.mkdtemp()
    try:
        source = os.path.join(folder, "in.hqx")
        with open(source, "w", encoding="ascii", newline="\n") as f:
            f.write(text)
        subprocess.run(["hexbin", "-3", source], cwd=folder, check=True, capture_output=True)
        infos = [n for n in os.listdir(folder) if n.endswith(".info")]
        if len(infos) != 1:
            raise ValueError("hexbin wrote %s" % sorted(os.listdir(folder)))
        with open(os.path.join(folder, infos[0]), "rb") as f:
            header = f.read(128)  # a MacBinary header
        stem = infos[0][:-len(".info")]
        with open(os.path.join(folder, stem + ".data"), "rb") as f:
            data = f.read()
        name = header[2:2 + header[1]].decode("mac_roman")
        return name, data, header[65:69].decode("mac_roman"), header[69:73].decode("mac_roman")
    finally:
        shutil.rmtree(folder)


def attachments(msg):
    found = []
    for part in msg.iter_attachments():
        kind, cte = part.get_content_type(), (part["Content-Transfer-Encoding"] or "").lower()
        if kind == "multipart/appledouble":
            header, data = part.get_payload()
            entries = read_apple_file(header.get_payload(decode=True), APPLE_DOUBLE)
            found.append(Attachment("AppleDouble", entries[3].decode("mac_roman"), data.get_payload(decode=True),
                                    *finder(entries)))
        elif kind == "application/applefile":
            entries = read_apple_file(part.get_payload(decode=True), APPLE_SINGLE)
            found.append(Attachment("AppleSingle", entries[3].decode("mac_roman"), entries[1], *finder(entries)))
        elif kind == "application/mac-binhex40":
            found.append(Attachment("BinHex", *unbinhex(part.get_payload(decode=True).decode("ascii"))))
        elif cte == "x-uuencode":
            payload = part.get_payload(decode=False)
            ascii_name = "".join(c if c < "\x80" else "_" * len(c.encode()) for c in part.get_filename())
            if not payload.startswith("begin 644 " + ascii_name + "\n") or not payload.endswith("`\nend\n"):
                raise ValueError("uuencoded part starts " + payload[:40])
            found.append(Attachment("UUEncode", part.get_filename(), part.get_payload(decode=True), None, None))
        else:
            if cte != "base64":
                raise ValueError("attachment in " + cte)
            found.append(Attachment("Base64", part.get_filename(), part.get_payload(decode=True), None, None))
    return found


if __name__ == "__main__":
    import email
    import email.policy
    import unittest

    MAILDIR, FILES, FINDER = sys.argv[1], sys.argv[2::2], sys.argv[3::2]
    del sys.argv[1:]

    class EveryEncoding(unittest.TestCase):
        def test_each_message_carries_every_file_whole(self):
            seen = set()
            for name in sorted(os.listdir(os.path.join(MAILDIR, "new"))):
                with open(os.path.join(MAILDIR, "new", name), "rb") as f:
                    msg = email.message_from_bytes(f.read(), policy=email.policy.default)
                encoding = msg["Subject"]
                seen.add(encoding)
                with self.subTest(encoding=encoding):
                    got = attachments(msg)
                    self.assertEqual([(a.encoding, a.name) for a in got],
                                     [(encoding, os.path.basename(p)) for p in FILES])
                    for a, path, info in zip(got, FILES, FINDER):
                        with open(path, "rb") as f:
                            self.assertEqual(a.data, f.read())
                        if a.type is not None:
                            self.assertEqual(a.type + a.creator, info)
            self.assertEqual(seen, {"Base64", "BinHex", "UUEncode", "AppleSingle", "AppleDouble"})

    unittest.main()
