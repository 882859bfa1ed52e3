#!/usr/bin/python3
"""A local SMTP server (Debian's python3-aiosmtpd) that keeps what it receives, for the demo
and the delivery tests. Run it with /usr/bin/python3, which sees Debian's packages.

Each message accepted is written to STORE as NNNNN.eml (the bytes as received, CRLF line
ends) and NNNNN.env (the MAIL FROM address, then one RCPT TO address a line), the envelope
last, so a message is whole once its .env exists. With --print a line per message goes to
standard output.

--fault STAGE:ACTION[:N] makes the server misbehave, on the Nth message (counted by MAIL
commands, from 1; every message when N is left out). STAGE is connect, mail, rcpt, data,
body (after the first line of the message's text) or end (after the message's end, which is
then kept as received); ACTION is close, stall (never answer), garbage (a line that is not
SMTP), or a reply code such as 451 or 550. At rcpt, the fault hits only the recipients given
with --rcpt. Before acting at stall or end, the server writes STORE/fault-N.
"""
import argparse
import asyncio
import os
import signal
import ssl
import sys
import warnings

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class Faults:
    def __init__(self, specs, rcpts):
        self.specs = []
        for spec in specs:
            parts = spec.split(":")
            self.specs.append((parts[0], parts[1], int(parts[2]) if len(parts) > 2 else None))
        self.rcpts = set(rcpts)
        self.messages = 0

    def at(self, stage):
        for where, action, n in self.specs:
            if where == stage and (n is None or n == self.messages):
                return action
        return None


class Store:
    def __init__(self, folder, echo):
        self.folder, self.echo, self.count = folder, echo, 0
        os.makedirs(folder, exist_ok=True)

    def keep(self, envelope):
        self.count += 1
        base = os.path.join(self.folder, "%05d" % self.count)
        data = envelope.original_content or envelope.content
        if isinstance(data, str):
            data = data.encode("utf-8", "surrogateescape")
        for suffix, content in ((".eml", data), (".env", "\n".join([envelope.mail_from] + envelope.rcpt_tos).encode() + b"\n")):
            with open(base + suffix + ".tmp", "wb") as out:
                out.write(content)
            os.rename(base + suffix + ".tmp", base + suffix)
        if self.echo:
            subject = next((line for line in data.split(b"\r\n") if line.lower().startswith(b"subject:")), b"")
            print("received from %s for %s: %s" % (envelope.mail_from, ", ".join(envelope.rcpt_tos),
                                                   subject.decode("utf-8", "replace")), flush=True)


class FaultySMTP(SMTP):
    def __init__(self, handler, faults, store, **kwargs):
        super().__init__(handler, **kwargs)
        self.faults, self.store = faults, store

    async def act(self, action):
        if action == "close":
            self.transport.close()
        elif action == "stall":
            open(os.path.join(self.store.folder, "fault-%d" % self.faults.messages), "w").close()
            await asyncio.sleep(3600)
        elif action == "garbage":
            await self.push("this is not an SMTP answer")
            await asyncio.sleep(3600)
        else:
            await self.push("%s fault injected by the test server" % action)
        return True

    async def _handle_client(self):
        action = self.faults.at("connect")
        if action in ("close", "garbage", "stall"):
            return await self.act(action)
        return await super()._handle_client()

    async def smtp_MAIL(self, arg):
        self.faults.messages += 1
        action = self.faults.at("mail")
        if action:
            return await self.act(action)
        return await super().smtp_MAIL(arg)

    async def smtp_RCPT(self, arg):
        action = self.faults.at("rcpt")
        address = (arg or "").partition(":")[2].strip().strip("<>")
        if action and (not self.faults.rcpts or address in self.faults.rcpts):
            return await self.act(action)
        return await super().smtp_RCPT(arg)

    async def smtp_DATA(self, arg):
        action = self.faults.at("data")
        if action:
            return await self.act(action)
        action = self.faults.at("body")
        if action and self.envelope.rcpt_tos:
            await self.push("354 End data with <CR><LF>.<CR><LF>")
            await self._reader.readline()
            return await self.act(action)
        return await super().smtp_DATA(arg)


class Handler:
    def __init__(self, faults, store):
        self.faults, self.store = faults, store

    async def handle_DATA(self, server, session, envelope):
        action = self.faults.at("end")
        if action in (None, "close", "stall"):  # the server took it, whatever the client hears
            self.store.keep(envelope)
        if action == "close":
            server.transport.close()
            return "250 closed"
        if action == "stall":
            open(os.path.join(self.store.folder, "fault-%d" % self.faults.messages), "w").close()
            await asyncio.sleep(3600)
        if action == "garbage":
            await asyncio.sleep(0)
            return "not an answer"
        if action:
            return "%s fault injected by the test server" % action
        return "250 OK"


def main():
    warnings.simplefilter("ignore", DeprecationWarning)
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--store", required=True)
    parser.add_argument("--port-file", required=True, help="written with the port once the server listens")
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"), help="offer STARTTLS")
    parser.add_argument("--auth", metavar="USER:PASSWORD", help="require this login (over TLS)")
    parser.add_argument("--fault", action="append", default=[])
    parser.add_argument("--rcpt", action="append", default=[])
    parser.add_argument("--print", action="store_true")
    args = parser.parse_args()

    faults = Faults(args.fault, args.rcpt)
    store = Store(args.store, args.print)
    options = {"hostname": "quillcast-test", "data_size_limit": 0}
    if args.tls:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(*args.tls)
        options["tls_context"] = context
    if args.auth:
        user, _, password = args.auth.partition(":")

        def check(server, session, envelope, mechanism, data):
            ok = isinstance(data, LoginPassword) and data.login.decode() == user and data.password.decode() == password
            return AuthResult(success=ok, handled=False)

        options.update(authenticator=check, auth_required=True, auth_require_tls=True)
    handler = Handler(faults, store)

    async def serve():
        server = await asyncio.get_running_loop().create_server(
            lambda: FaultySMTP(handler, faults, store, **options), "127.0.0.1", 0)
        port = server.sockets[0].getsockname()[1]
        with open(args.port_file + ".tmp", "w") as out:
            out.write("%d\n" % port)
        os.rename(args.port_file + ".tmp", args.port_file)
        stop = asyncio.Event()
        for sig in (signal.SIGTERM, signal.SIGINT):
            asyncio.get_running_loop().add_signal_handler(sig, stop.set)
        await stop.wait()

    asyncio.run(serve())


if __name__ == "__main__":
    sys.exit(main())
