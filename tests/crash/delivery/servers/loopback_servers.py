#!/usr/bin/env python3
"""Servers for the delivery tests, on 127.0.0.1 only.

    loopback_servers.py smtp OUTDIR [USER PASSWORD] [OPTION...]
        an SMTP server (aiosmtpd), AUTH LOGIN required when a user is given. Options:
        --refuse-ehlo      EHLO is answered 502 (the client must fall back to HELO)
        --auth-equals      AUTH is announced in the old "250-AUTH=LOGIN PLAIN" form
        --quit-reply TEXT  QUIT is answered TEXT instead of "221 Bye"
        --split            every reply line goes out in two TCP segments
    loopback_servers.py http OUTDIR ANSWER [--split]
        an upload server; ANSWER is a status (200, 500, 302 without Location) or 302:<location>;
        --split sends the status line and header in pieces
    loopback_servers.py dns OUTDIR DOMAIN HOST [DOMAIN HOST...]
        a DNS server answering MX queries for each DOMAIN with its HOST
    loopback_servers.py dns OUTDIR --zone FILE
        the same from a file of lines "MX domain preference host"; lines "NS answer|authority host"
        are the replies to the NS questions, one line per question, in the order they come
    loopback_servers.py many OUTDIR CONFIG
        every server of CONFIG (lines "NAME MODE ARGS...", ARGS as above; OUTDIR of each is
        OUTDIR/NAME) in one process; writes OUTDIR/ports.txt ("NAME PORT" lines), then
        OUTDIR/ready, and runs until it is killed or for 30 minutes.

A single server prints "PORT <n>" once it listens, records what it receives in OUTDIR, and ends
when its standard input closes or after 120 seconds.
"""
import os
import socket
import sys
import threading
import time

LIFETIME = 120


def end_with_stdin(watch_stdin=True):
    def watch():
        sys.stdin.read()
        os._exit(0)

    if watch_stdin:
        threading.Thread(target=watch, daemon=True).start()
    threading.Timer(LIFETIME, lambda: os._exit(0)).start()


def announce(port):
    print(f"PORT {port}", flush=True)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_smtp(outdir, *args):
    import asyncio
    from aiosmtpd.controller import Controller
    from aiosmtpd.smtp import SMTP, AuthResult

    args = list(args)
    options = {"refuse_ehlo": False, "auth_equals": False, "quit_reply": None, "split": False}
    positional = []
    while args:
        arg = args.pop(0)
        if arg == "--refuse-ehlo":
            options["refuse_ehlo"] = True
        elif arg == "--auth-equals":
            options["auth_equals"] = True
        elif arg == "--quit-reply":
            options["quit_reply"] = args.pop(0)
        elif arg == "--split":
            options["split"] = True
        else:
            positional.append(arg)
    user, password = (positional + [None, None])[:2]
    os.makedirs(outdir, exist_ok=True)
    count = [0]

    class Handler:
        async def handle_DATA(self, server, session, envelope):
            count[0] += 1
            base = os.path.join(outdir, f"mail-{count[0]}")
            content = envelope.original_content or envelope.content
            with open(base + ".eml", "wb") as f:
                f.write(content)
            # The parts as a mail reader sees them: one line per leaf part.
            import email
            from email import policy
            message = email.message_from_bytes(content, policy=policy.default)
            with open(base + ".parts", "w") as f:
                for part in message.walk():
                    if part.is_multipart():
                        continue
                    data = part.get_payload(decode=True) or b""
                    f.write(f"part {part.get_content_type()} {part.get_filename() or '-'} {data.hex()}\n")
            with open(base + ".env", "w") as f:
                f.write(f"FROM {envelope.mail_from}\n")
                for rcpt in envelope.rcpt_tos:
                    f.write(f"TO {rcpt}\n")
                login = session.auth_data
                if login:
                    f.write(f"AUTH {login.decode() if isinstance(login, bytes) else login}\n")
            return "250 Message accepted"

        async def handle_QUIT(self, server, session, envelope):
            with open(os.path.join(outdir, "quits.log"), "a") as f:
                f.write("QUIT\n")
            return options["quit_reply"] or "221 Bye"

    class Server(SMTP):
        async def smtp_EHLO(self, hostname):
            with open(os.path.join(outdir, "greetings.log"), "a") as f:
                f.write(f"EHLO {hostname}\n")
            if options["refuse_ehlo"]:
                await self.push("502 5.5.1 EHLO is not served here")
                return
            await super().smtp_EHLO(hostname)

        async def smtp_HELO(self, hostname):
            with open(os.path.join(outdir, "greetings.log"), "a") as f:
                f.write(f"HELO {hostname}\n")
            await super().smtp_HELO(hostname)

        async def push(self, status):
            if isinstance(status, bytes):
                status = status.decode()
            if options["auth_equals"] and status.startswith("250-AUTH "):
                status = "250-AUTH=" + status[len("250-AUTH "):]
            data = status.encode() + b"\r\n"
            if options["split"] and len(data) > 3:
                # The code alone first, the rest after a pause: two segments, two reads.
                self._writer.write(data[:3])
                await self._writer.drain()
                await asyncio.sleep(0.05)
                data = data[3:]
            self._writer.write(data)
            await self._writer.drain()

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = mechanism == "LOGIN" and auth_data.login == user.encode() and auth_data.password == password.encode()
        return AuthResult(success=ok, handled=False, auth_data=auth_data.login if ok else None)

    kwargs = {}
    if user is not None:
        kwargs = dict(authenticator=authenticator, auth_require_tls=False, auth_required=True)

    class ServerController(Controller):
        def factory(self):
            return Server(self.handler, **self.SMTP_kwargs)

    port = free_port()
    controller = ServerController(Handler(), hostname="127.0.0.1", port=port, **kwargs)
    controller.start()
    return port


def run_smtp(outdir, *args):
    announce(start_smtp(outdir, *args))
    while True:
        time.sleep(1)


def start_http(outdir, answer, *options):
    from email.parser import BytesParser
    from email.policy import HTTP
    from http.server import BaseHTTPRequestHandler, HTTPServer

    split = "--split" in options
    os.makedirs(outdir, exist_ok=True)
    count = [0]

    class Handler(BaseHTTPRequestHandler):
        def log_message(self, *args):
            pass

        def flush_headers(self):
            data = b"".join(getattr(self, "_headers_buffer", []))
            self._headers_buffer = []
            if split:
                # The status line cut in the middle, then the rest line by line, with pauses.
                pieces = [data[:6]] + data[6:].split(b"\r\n")
                for i, piece in enumerate(pieces):
                    self.wfile.write(piece if i == 0 else piece + (b"\r\n" if i < len(pieces) - 1 else b""))
                    self.wfile.flush()
                    time.sleep(0.05)
            else:
                self.wfile.write(data)

        def do_POST(self):
            self.connection.settimeout(20)
            length = int(self.headers.get("Content-Length", "0"))
            body = self.rfile.read(length)
            count[0] += 1
            with open(os.path.join(outdir, f"request-{count[0]}.raw"), "wb") as f:
                # The header lines in the order they came (name and value as sent), then the body.
                header = "".join(f"{name}: {value}\r\n" for name, value in self.headers.items())
                f.write(f"{self.requestline}\r\n{header}\r\n".encode("latin-1") + body)
            lines = [f"path {self.path}", f"received {len(body)}"]
            for name, value in self.headers.items():
                lines.append(f"header {name}: {value}")
            message = BytesParser(policy=HTTP).parsebytes(
                b"Content-Type: " + self.headers["Content-Type"].encode() + b"\r\n\r\n" + body)
            for part in message.iter_parts():
                name = part.get_param("name", header="content-disposition")
                filename = part.get_param("filename", header="content-disposition")
                data = part.get_payload(decode=True) or b""
                if filename is None:
                    lines.append(f"field {name} {data.hex()}")
                else:
                    lines.append(f"file {name} {filename} {data.hex()}")
            with open(os.path.join(outdir, f"request-{count[0]}.txt"), "w") as f:
                f.write("\n".join(lines) + "\n")
            if answer.startswith("302:"):
                self.send_response(302)
                self.send_header("Location", answer[4:])
            else:
                self.send_response(int(answer))
            self.send_header("Content-Length", "0")
            self.send_header("Connection", "close")
            self.end_headers()

    server = HTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server.server_address[1]


def run_http(outdir, answer, *options):
    announce(start_http(outdir, answer, *options))
    while True:
        time.sleep(1)


def start_dns(outdir, *args):
    from dnslib import DNSRecord, MX, NS, QTYPE, RR

    mx, ns = {}, []
    if args and args[0] == "--zone":
        with open(args[1]) as zone:
            for line in zone:
                words = line.split()
                if len(words) == 4 and words[0] == "MX":
                    mx.setdefault(words[1].lower(), []).append((int(words[2]), words[3]))
                elif len(words) >= 2 and words[0] == "NS":
                    ns.append((words[1], words[2:]))
    else:
        for domain, host in zip(args[0::2], args[1::2]):
            mx.setdefault(domain.lower(), []).append((10, host))
    os.makedirs(outdir, exist_ok=True)

    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("127.0.0.1", 0))
    log = open(os.path.join(outdir, "dns.log"), "a")
    ns_replies = [0]

    def serve():
        while True:
            data, peer = sock.recvfrom(512)
            request = DNSRecord.parse(data)
            qname = str(request.q.qname).rstrip(".")
            log.write(f"query {qname} {QTYPE[request.q.qtype]} id {request.header.id}\n")
            log.flush()
            reply = request.reply()
            if request.q.qtype == QTYPE.MX and qname.lower() in mx:
                for preference, host in mx[qname.lower()]:
                    reply.add_answer(RR(request.q.qname, QTYPE.MX, rdata=MX(host, preference), ttl=60))
            elif request.q.qtype == QTYPE.NS and ns_replies[0] < len(ns):
                section, hosts = ns[ns_replies[0]]
                ns_replies[0] += 1
                for host in hosts:
                    record = RR(request.q.qname, QTYPE.NS, rdata=NS(host), ttl=60)
                    if section == "answer":
                        reply.add_answer(record)
                    else:
                        reply.add_auth(record)
            elif request.q.qtype == QTYPE.MX:
                reply.header.rcode = 3  # no such name
            sock.sendto(reply.pack(), peer)

    threading.Thread(target=serve, daemon=True).start()
    return sock.getsockname()[1]


def run_dns(outdir, *args):
    announce(start_dns(outdir, *args))
    while True:
        time.sleep(1)


STARTERS = {"smtp": start_smtp, "http": start_http, "dns": start_dns}


def run_many(outdir, config):
    """Every server of the configuration in this process; their ports in OUTDIR/ports.txt."""
    import shlex

    ports = []
    base = os.path.dirname(os.path.abspath(config))
    with open(config) as lines:
        for line in lines:
            words = shlex.split(line, comments=True)
            if not words:
                continue
            name, mode, *args = words
            # A zone file is named relative to the configuration.
            args = [os.path.join(base, a) if i > 0 and args[i - 1] == "--zone" else a for i, a in enumerate(args)]
            ports.append(f"{name} {STARTERS[mode](os.path.join(outdir, name), *args)}")
    with open(os.path.join(outdir, "ports.txt"), "w") as f:
        f.write("\n".join(ports) + "\n")
    open(os.path.join(outdir, "ready"), "w").close()
    while True:
        time.sleep(1)


def main():
    global LIFETIME
    mode, outdir, *args = sys.argv[1:]
    if mode == "many":
        LIFETIME = 1800  # ended by whoever started it
    end_with_stdin(watch_stdin=mode != "many")
    {"smtp": run_smtp, "http": run_http, "dns": run_dns, "many": run_many}[mode](outdir, *args)


if __name__ == "__main__":
    main()
