#!/usr/bin/env python3
"""A throw-away HTTP server on 127.0.0.1 for the look-up tests. Prints its port on
the first line of stdout, then serves ROOT until SECONDS have passed or MAX requests
were answered, and stops by itself.

usage: dbar_server.py ROOT SECONDS MAX [silent] [delay=S]
With "silent" it accepts connections and never answers them. With "delay=S" each
answer waits S seconds first (a slow network or a busy server).
"""
import functools
import http.server
import os
import socket
import sys
import threading
import time

root, seconds, limit = sys.argv[1], float(sys.argv[2]), int(sys.argv[3])
silent = "silent" in sys.argv[4:]
delay = 0.0
for arg in sys.argv[4:]:
    if arg.startswith("delay="):
        delay = float(arg[len("delay="):])


def stop_after(delay):
    time.sleep(delay)
    sys.stdout.flush()
    os._exit(0)


threading.Thread(target=stop_after, args=(seconds,), daemon=True).start()

if silent:
    sock = socket.socket()
    sock.bind(("127.0.0.1", 0))
    sock.listen(16)
    print(sock.getsockname()[1], flush=True)
    held = []
    while True:
        conn, _ = sock.accept()
        held.append(conn)  # read nothing, answer nothing

count = {"n": 0}


class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        count["n"] += 1
        if delay > 0:
            time.sleep(delay)
        if self.path == "/echo-agent":
            body = (self.headers.get("User-Agent") or "").encode()
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
        else:
            super().do_GET()
        if count["n"] >= limit:
            threading.Thread(target=stop_after, args=(0.2,), daemon=True).start()


server = http.server.ThreadingHTTPServer(
    ("127.0.0.1", 0), functools.partial(Handler, directory=root))
print(server.server_address[1], flush=True)
server.serve_forever()
