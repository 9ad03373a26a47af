#!/usr/bin/env python3
"""Servers for the delivery tests, on 127.0.0.1 only.

    loopback_servers.py smtp OUTDIR [USER PASSWORD]   an SMTP server (aiosmtpd), AUTH LOGIN when a user is given
    loopback_servers.py http OUTDIR ANSWER            an upload server; ANSWER is 200 or 302:<location>
    loopback_servers.py dns  OUTDIR DOMAIN HOST       a DNS server answering MX queries for DOMAIN with HOST

Each prints "PORT <n>" once it listens, records what it receives in OUTDIR, and ends when its
standard input closes or after 120 seconds.
"""
import os
import socket
import sys
import threading
import time

LIFETIME = 120


def end_with_stdin():
    def watch():
        sys.stdin.read()
        os._exit(0)

    threading.Thread(target=watch, daemon=True).start()
    threading.Timer(LIFETIME, lambda: os._exit(0)).start()


def announce(port):
    print(f"PORT {port}", flush=True)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def run_smtp(outdir, user=None, password=None):
    from aiosmtpd.controller import Controller
    from aiosmtpd.smtp import AuthResult

    count = [0]

    class Handler:
        async def handle_DATA(self, server, session, envelope):
            count[0] += 1
            base = os.path.join(outdir, f"mail-{count[0]}")
            with open(base + ".eml", "wb") as f:
                f.write(envelope.original_content or envelope.content)
            with open(base + ".env", "w") as f:
                f.write(f"FROM {envelope.mail_from}\n")
                for rcpt in envelope.rcpt_tos:
                    f.write(f"TO {rcpt}\n")
                login = session.auth_data
                if login:
                    f.write(f"AUTH {login.decode() if isinstance(login, bytes) else login}\n")
            return "250 Message accepted"

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = mechanism == "LOGIN" and auth_data.login == user.encode() and auth_data.password == password.encode()
        return AuthResult(success=ok, handled=False, auth_data=auth_data.login if ok else None)

    kwargs = {}
    if user is not None:
        kwargs = dict(authenticator=authenticator, auth_require_tls=False, auth_required=True)
    port = free_port()
    controller = Controller(Handler(), hostname="127.0.0.1", port=port, **kwargs)
    controller.start()
    announce(port)
    while True:
        time.sleep(1)


def run_http(outdir, answer):
    from email.parser import BytesParser
    from email.policy import HTTP
    from http.server import BaseHTTPRequestHandler, HTTPServer

    count = [0]

    class Handler(BaseHTTPRequestHandler):
        def log_message(self, *args):
            pass

        def do_POST(self):
            self.connection.settimeout(20)
            length = int(self.headers.get("Content-Length", "0"))
            body = self.rfile.read(length)
            count[0] += 1
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
            self.end_headers()

    server = HTTPServer(("127.0.0.1", 0), Handler)
    announce(server.server_address[1])
    server.serve_forever()


def run_dns(outdir, domain, host):
    from dnslib import DNSRecord, MX, QTYPE, RR

    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("127.0.0.1", 0))
    announce(sock.getsockname()[1])
    log = open(os.path.join(outdir, "dns.log"), "a")
    while True:
        data, peer = sock.recvfrom(512)
        request = DNSRecord.parse(data)
        qname = str(request.q.qname).rstrip(".")
        log.write(f"query {qname} {QTYPE[request.q.qtype]} id {request.header.id}\n")
        log.flush()
        reply = request.reply()
        if request.q.qtype == QTYPE.MX and qname.lower() == domain.lower():
            reply.add_answer(RR(request.q.qname, QTYPE.MX, rdata=MX(host, 10), ttl=60))
        sock.sendto(reply.pack(), peer)


def main():
    mode, outdir, *args = sys.argv[1:]
    end_with_stdin()
    {"smtp": run_smtp, "http": run_http, "dns": run_dns}[mode](outdir, *args)


if __name__ == "__main__":
    main()
