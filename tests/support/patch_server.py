#!/usr/bin/env python3
"""Test patch server: serves a folder over HTTP on 127.0.0.1 and HTTPS on localhost."""
import argparse
import http.server
import json
import os
import ssl
import threading


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--ready", required=True)
    args = parser.parse_args()

    handler = lambda *a, **kw: http.server.SimpleHTTPRequestHandler(*a, directory=args.root, **kw)
    plain = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    secure = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    secure.socket = context.wrap_socket(secure.socket, server_side=True)
    for server in (plain, secure):
        threading.Thread(target=server.serve_forever, daemon=True).start()
    ready = {"http_port": plain.server_address[1], "https_port": secure.server_address[1], "pid": os.getpid()}
    tmp = args.ready + ".tmp"
    with open(tmp, "w") as f:
        json.dump(ready, f)
    os.replace(tmp, args.ready)
    threading.Event().wait()


if __name__ == "__main__":
    main()
