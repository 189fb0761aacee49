#!/usr/bin/env python3
"""A monitoring service's ping endpoint for the pinger's tests.

  ping_listener.py LOG [CERT KEY]

Listens on a free port of 127.0.0.1 (HTTPS with CERT and KEY), prints the port, and appends
one JSON line per POST to LOG: path, content type, user agent and the body (base64). The
answer follows the path's first segment: "sNNN" answers status NNN, "hang" never answers,
anything else 200.
"""
import base64
import http.server
import json
import ssl
import sys
import threading
import time

log_path = sys.argv[1]
log_lock = threading.Lock()


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        entry = {
            "path": self.path,
            "type": self.headers.get("Content-Type", ""),
            "agent": self.headers.get("User-Agent", ""),
            "body": base64.b64encode(body).decode(),
        }
        with log_lock, open(log_path, "a") as log:
            log.write(json.dumps(entry) + "\n")
        first = self.path.split("/")[1]
        if first == "hang":
            time.sleep(3600)
        status = int(first[1:]) if first[:1] == "s" and first[1:].isdigit() else 200
        self.send_response(status)
        self.send_header("Content-Length", "2")
        self.end_headers()
        self.wfile.write(b"OK")

    def log_message(self, *args):
        pass


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    tls = None

    def finish_request(self, request, client_address):
        # The handshake in the connection's own thread: one that fails ends only that one.
        if self.tls:
            request = self.tls.wrap_socket(request, server_side=True)
        super().finish_request(request, client_address)

    def handle_error(self, request, client_address):
        pass


server = Server(("127.0.0.1", 0), Handler)
if len(sys.argv) == 4:
    server.tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    server.tls.load_cert_chain(sys.argv[2], sys.argv[3])
print(server.server_address[1], flush=True)
server.serve_forever()
