#!/usr/bin/env python3
"""Stand-in for the Valmora gateway, for tests and the demo.

Serves over HTTPS the token service, the retrieval document and the quote service, and a
small configurator page where a line is priced. Tests replace any reply by a script (a
list of replies per path, played in order, the last one repeating) and read back every
request received, through a plain-HTTP control port on 127.0.0.1.

On start it prints one JSON line: {"port": ..., "control_port": ..., "http_port": ...}.
"""

import argparse
import base64
import gzip
import html
import http.server
import json
import os
import secrets
import socket
import socketserver
import ssl
import struct
import sys
import threading
import time
import urllib.parse
import zlib

TOKEN_PATH = "/index.php/Services/jeton"
QUOTE_PATH = "/index.php/Services/recuperation_valmora"

MODELS = {
    "meuble-haut-60": ("Meuble haut 60 cm", "225.00", "3.50"),
    "meuble-bas-80": ("Meuble bas 80 cm", "289.90", "4.10"),
    "colonne-40": ("Colonne 40 cm", "310.00", "5.20"),
}
FINISHES = {
    "chene-clair": ("Façade chêne clair", (0xD8, 0xB9, 0x8C)),
    "noyer": ("Façade noyer", (0x6B, 0x45, 0x2B)),
    "laque-blanc": ("Façade laquée blanc", (0xF4, 0xF2, 0xEE)),
}


def png_bytes(width, height, rgb, start=1):
    """A small picture of a cabinet front in the finish colour, with grain and shading."""
    state = start & 0xFFFFFFFF
    rows = bytearray()
    for y in range(height):
        rows.append(0)
        for x in range(width):
            state = (1103515245 * state + 12345) & 0x7FFFFFFF
            grain = (state >> 16) % 17 - 8
            shade = 0.75 + 0.25 * (1 - abs(2 * x / width - 1))
            frame = x < 8 or x >= width - 8 or y < 8 or y >= height - 8 or abs(x - width // 2) < 2
            knob = (abs(x - width // 2 + 10) < 3 or abs(x - width // 2 - 10) < 3) and abs(y - height // 2) < 3
            for channel in rgb:
                value = channel * shade + grain
                if frame:
                    value *= 0.6
                if knob:
                    value = 200
                rows.append(max(0, min(255, int(value))))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(rows), 6))
            + chunk(b"IEND", b""))


def json_text(value):
    return json.dumps(value, ensure_ascii=False)


class State:
    """What the gateway knows: scripts, recorded requests, sessions and priced projects."""

    def __init__(self, base, page_base):
        self.lock = threading.Lock()
        self.base = base
        self.page_base = page_base
        self.reset()

    def reset(self):
        with self.lock:
            self.script = {}
            self.records = []
            self.connections = []  # as accepted: {"resumed": TLS session resumed, "tls": its version}
            self.sessions = {}
            self.projects = {}
            self.next_project = 1042

    def next_reply(self, path):
        with self.lock:
            replies = self.script.get(path)
            if not replies:
                return None
            return replies.pop(0) if len(replies) > 1 else replies[0]


class GatewayHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "ValmoraStandin/1.0"

    def setup(self):
        # Headers and body go out as written, as a web server's do: no wait for an ACK.
        self.request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        connection = {"resumed": None, "tls": None}  # None: no handshake (yet)
        with self.state.lock:
            self.state.connections.append(connection)
            self.connection_number = len(self.state.connections)
        if isinstance(self.request, ssl.SSLSocket):
            # A client that opens a connection and says nothing is let go after a while.
            self.request.settimeout(self.server.handshake_timeout)
            self.request.do_handshake()
            self.request.settimeout(None)
            with self.state.lock:
                connection.update(resumed=self.request.session_reused, tls=self.request.version())
        super().setup()  # with --idle-timeout, an idle connection is closed after that long

    def log_message(self, fmt, *args):
        if self.server.verbose:
            sys.stderr.write("standin: " + fmt % args + "\n")

    def do_GET(self):
        self.serve()

    def do_POST(self):
        self.serve()

    @property
    def state(self):
        return self.server.state

    def serve(self):
        parsed = urllib.parse.urlsplit(self.path)
        length = int(self.headers.get("Content-Length") or 0)
        if length:
            self.rfile.read(length)
        self.record = {}
        with self.state.lock:
            self.state.records.append(self.record)
            self.record.update({
                "time": time.time(),
                "method": self.command,
                "path": parsed.path,
                "query": parsed.query,
                "headers": [[k, v] for k, v in self.headers.items()],
                "connection": self.connection_number,
            })
        reply = self.state.next_reply(parsed.path)
        if reply is not None:
            self.play(reply)
            return
        query = urllib.parse.parse_qs(parsed.query, keep_blank_values=True)
        routes = {
            TOKEN_PATH: self.token,
            "/configurateur": self.configurator_page,
            "/chiffrer": self.price,
            "/recuperation": self.retrieval_document,
            QUOTE_PATH: self.quote,
        }
        route = routes.get(parsed.path)
        if route is None:
            self.send_body(404, "text/plain; charset=utf-8", "Page introuvable".encode())
        else:
            route({k: v[0] for k, v in query.items()})

    # Replies -----------------------------------------------------------------------

    def note_sent(self, size):
        """The body's bytes as they go on the wire, for the bench."""
        with self.state.lock:
            self.record["sent"] = size

    def accepts_gzip(self):
        """With --gzip the gateway compresses what a client accepts compressed, as web servers do."""
        return self.server.gzip and "gzip" in self.headers.get("Accept-Encoding", "")

    def send_body(self, status, content_type, body, headers=()):
        compress = self.accepts_gzip()
        if compress:
            body = gzip.compress(body, 6)
        self.note_sent(len(body))
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        if compress:
            self.send_header("Content-Encoding", "gzip")
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def play(self, reply):
        """Plays one scripted reply."""
        if reply.get("close"):
            self.close_connection = True
            self.request.shutdown(socket.SHUT_RDWR)
            return
        if reply.get("reset"):
            # An abortive close: the client sees "connection reset by peer".
            self.request.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.close_connection = True
            self.request.close()
            return
        if "hang" in reply:
            time.sleep(reply["hang"])
            self.close_connection = True
            return
        time.sleep(reply.get("delay", 0))
        if "gzip_zeros" in reply:
            self.send_zeros_gzipped(reply["gzip_zeros"])
            return
        if "body_b64" in reply:
            body = base64.b64decode(reply["body_b64"])
        elif "body_file" in reply:
            with open(reply["body_file"], "rb") as f:
                body = f.read()
        else:
            body = reply.get("body", "").replace("@BASE@", self.state.base).encode(reply.get("encoding", "utf-8"))
        compress = reply.get("gzip") or (self.accepts_gzip() and "headers" not in reply)
        if compress:
            body = gzip.compress(body, 6)
        self.note_sent(len(body))
        self.send_response(reply.get("status", 200), reply.get("reason"))
        if compress:
            self.send_header("Content-Encoding", "gzip")
        for name, value in reply.get("headers", []):
            self.send_header(name, value.replace("@BASE@", self.state.base))
        if "stream" in reply:
            self.stream(reply["stream"])
            return
        length = reply.get("content_length", len(body))
        self.send_header("Content-Length", str(length))
        self.end_headers()
        if "drip" in reply:
            self.drip(body, reply["drip"])
            return
        self.wfile.write(body)
        if length != len(body):
            self.wfile.flush()
            self.close_connection = True

    def drip(self, body, how):
        """Sends the body `size` bytes at a time, `every` seconds apart: a slow line."""
        size, every = how.get("size", 1), how.get("every", 1.0)
        try:
            for start in range(0, len(body), size):
                if start:
                    time.sleep(every)
                self.wfile.write(body[start:start + size])
                self.wfile.flush()
        except OSError:
            pass
        self.close_connection = True

    def send_zeros_gzipped(self, size):
        """A small gzip body that inflates to `size` zero bytes, for clients' limits."""
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Encoding", "gzip")
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        packer = zlib.compressobj(9, zlib.DEFLATED, 31)
        block = bytes(1 << 20)
        try:
            while size > 0:
                part = packer.compress(block[:min(size, len(block))])
                size -= min(size, len(block))
                if part:
                    self.wfile.write(b"%x\r\n%s\r\n" % (len(part), part))
            part = packer.flush()
            self.wfile.write(b"%x\r\n%s\r\n0\r\n\r\n" % (len(part), part))
        except OSError:
            pass
        self.close_connection = True

    def stream(self, size):
        """Sends `size` bytes in chunks, for replies larger than a client accepts."""
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        block = b"x" * 65536
        try:
            while size > 0:
                part = block[:min(size, len(block))]
                self.wfile.write(b"%x\r\n%s\r\n" % (len(part), part))
                size -= len(part)
            self.wfile.write(b"0\r\n\r\n")
        except OSError:
            pass
        self.close_connection = True

    # Built-in gateway ---------------------------------------------------------------

    def token(self, query):
        jeton = secrets.token_hex(8)
        with self.state.lock:
            self.state.sessions[jeton] = {"passerelle": query.get("passerelle", ""), "project": ""}
        xml = ('<?xml version="1.0" encoding="UTF-8"?>\n<Configurateur>\n'
               "  <Jeton>%s</Jeton>\n"
               "  <UrlConnexion>%s/configurateur?jeton=%s</UrlConnexion>\n"
               "  <UrlRecuperation>%s/recuperation?jeton=%s&amp;passerelle=%s</UrlRecuperation>\n"
               "</Configurateur>\n") % (jeton, self.state.page_base, jeton, self.state.base, jeton,
                                        urllib.parse.quote(query.get("passerelle", "")))
        self.send_body(200, "application/xml; charset=UTF-8", xml.encode(),
                       [("Set-Cookie", "VALMORA_SESSION=%s; Path=/; Secure; HttpOnly" % jeton)])

    def configurator_page(self, query):
        jeton = html.escape(query.get("jeton", ""))
        options = lambda table: "".join(  # noqa: E731
            '<option value="%s">%s</option>' % (key, html.escape(value[0])) for key, value in table.items())
        page = """<!DOCTYPE html>
<html lang="fr"><head><meta charset="utf-8"><title>Configurateur Valmora</title>
<style>body{font-family:sans-serif;max-width:36em;margin:2em auto}label{display:block;margin:.8em 0}</style>
</head><body>
<h1>Configurez votre meuble</h1>
<form method="get" action="/chiffrer">
<input type="hidden" name="jeton" value="%s">
<label>Modèle <select name="modele">%s</select></label>
<label>Finition <select name="finition">%s</select></label>
<label>Quantité <input type="number" name="quantite" value="1" min="1" max="99"></label>
<button type="submit">Chiffrer</button>
</form></body></html>
""" % (jeton, options(MODELS), options(FINISHES))
        self.send_body(200, "text/html; charset=utf-8", page.encode())

    def price(self, query):
        jeton = query.get("jeton", "")
        model = MODELS.get(query.get("modele"), MODELS["meuble-haut-60"])
        finish = FINISHES.get(query.get("finition"), FINISHES["chene-clair"])
        try:
            quantity = max(1, min(99, int(query.get("quantite", "1"))))
        except ValueError:
            quantity = 1
        with self.state.lock:
            if jeton not in self.state.sessions:
                session = None
            else:
                session = self.state.sessions[jeton]
                project = "P-%d" % self.state.next_project
                self.state.next_project += 1
                session["project"] = project
                total = "%.2f" % (float(model[1]) * quantity)
                self.state.projects[project] = {
                    "libelle": model[0], "detail": finish[0], "ecoTaxe": model[2],
                    "prixUnitaire": model[1], "quantite": quantity, "prixTotal": total, "couleur": finish[1],
                }
        if session is None:
            self.send_body(403, "text/html; charset=utf-8", "<p>Session inconnue.</p>".encode())
            return
        page = ("<!DOCTYPE html><html lang=\"fr\"><head><meta charset=\"utf-8\"><title>Devis chiffré</title></head>"
                "<body><h1>Devis %s chiffré</h1><p>%s, %s, quantité %d : %s €.</p>"
                "<p>Revenez au module Valmora et cliquez sur « Récupérer le devis ».</p></body></html>") % (
                    project, html.escape(model[0]), html.escape(finish[0]), quantity, total)
        self.send_body(200, "text/html; charset=utf-8", page.encode())

    def retrieval_document(self, query):
        jeton = query.get("jeton", "")
        with self.state.lock:
            session = self.state.sessions.get(jeton, {"passerelle": "", "project": ""})
        xml = ('<?xml version="1.0" encoding="UTF-8"?>\n<Configurateur>\n  <Jeton>%s</Jeton>\n'
               "  <Passerelle>%s</Passerelle>\n  <Project>%s</Project>\n</Configurateur>\n") % (
                   html.escape(jeton), html.escape(session["passerelle"]), html.escape(session["project"]))
        self.send_body(200, "application/xml; charset=UTF-8", xml.encode())

    def quote(self, query):
        with self.state.lock:
            line = self.state.projects.get(query.get("projet", ""))
        if line is None:
            body = '{"code": 404, "message": "Projet inconnu"}'
        else:
            picture = base64.b64encode(png_bytes(240, 160, line["couleur"])).decode()
            # Prices go out as JSON numbers written with two decimals, as the gateway does.
            body = ('{"code": 200, "returnedObject": {"libelle": %s, "detail": %s, "ecoTaxe": %s, '
                    '"prixUnitaire": %s, "quantite": %d, "prixTotal": %s, "imageB64Ligne": "%s"}}') % (
                        json_text(line["libelle"]), json_text(line["detail"]), line["ecoTaxe"],
                        line["prixUnitaire"], line["quantite"], line["prixTotal"], picture)
        self.send_body(200, "application/json; charset=utf-8", body.encode())


class ControlHandler(http.server.BaseHTTPRequestHandler):
    """Plain-HTTP control: POST /script, POST /reset, GET /requests."""

    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass

    def reply(self, value):
        body = json.dumps(value).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        state = self.server.state
        if self.path == "/requests":
            with state.lock:
                self.reply(list(state.records))
        elif self.path == "/connections":
            with state.lock:
                self.reply(list(state.connections))
        else:
            self.send_error(404)

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        payload = json.loads(self.rfile.read(length) or b"{}")
        state = self.server.state
        if self.path == "/script":
            with state.lock:
                state.script = {path: list(replies) for path, replies in payload.get("routes", {}).items()}
                state.records = []
                state.connections = []
            self.reply({"ok": True})
        elif self.path == "/reset":
            state.reset()
            self.reply({"ok": True})
        else:
            self.send_error(404)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        if getattr(self, "verbose", False):
            super().handle_error(request, client_address)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--public-host", default=None,
                        help="host[:port] written in the addresses the gateway hands out")
    parser.add_argument("--http-page", action="store_true",
                        help="also serve the configurator page over plain HTTP, for a real browser")
    parser.add_argument("--watch-stdin", action="store_true",
                        help="exit when standard input closes (the parent test has ended)")
    parser.add_argument("--gzip", action="store_true", help="compress replies for clients that accept gzip")
    parser.add_argument("--idle-timeout", type=float, default=None,
                        help="close a connection idle for this many seconds, as web servers do")
    parser.add_argument("--handshake-timeout", type=float, default=30.0,
                        help="close a connection whose TLS handshake has not come after this many seconds")
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args()
    GatewayHandler.timeout = args.idle_timeout
    if args.watch_stdin:
        threading.Thread(target=lambda: (sys.stdin.read(), os._exit(0)), daemon=True).start()

    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    gateway = Server((args.host, args.port), GatewayHandler)
    gateway.socket = context.wrap_socket(gateway.socket, server_side=True, do_handshake_on_connect=False)
    port = gateway.server_address[1]
    public = args.public_host or "%s:%d" % (args.host, port)
    base = "https://" + public

    page_server = None
    page_base = base
    if args.http_page:
        page_server = Server((args.host, 0), GatewayHandler)
        page_base = "http://%s:%d" % (public.rsplit(":", 1)[0] if args.public_host else args.host,
                                       page_server.server_address[1])

    state = State(base, page_base)
    control = Server(("127.0.0.1", 0), ControlHandler)
    for server in (gateway, page_server, control):
        if server is not None:
            server.state = state
            server.verbose = args.verbose
            server.gzip = args.gzip
            server.handshake_timeout = args.handshake_timeout
            threading.Thread(target=server.serve_forever, daemon=True).start()

    print(json.dumps({"port": port, "control_port": control.server_address[1],
                      "http_port": page_server.server_address[1] if page_server else None}), flush=True)
    try:
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
