#!/usr/bin/env python3
"""Test patch server: serves a folder over HTTP and HTTPS on loopback, with faults.

Command line:
    patch_server.py --root DIR [--cert CERT --key KEY] --ready FILE [--log FILE]
                    [--close-connections] [--sign-keys DIR]

Once listening, it writes FILE (atomically) as JSON:
    {"http_port": N, "https_port": M, "pid": P, "request_log": PATH, "ipv6": BOOL}
(without --cert there is no HTTPS port and "https_port" is null).
Both ports listen on 127.0.0.1 and, where the machine has it, on ::1 too, so that
"localhost" works whichever address a client resolves it to. The certificate is for
DNS:localhost, so HTTPS clients use https://localhost:M/.

Every request is appended to the request log (default: requests.jsonl beside FILE) as
one JSON line, written in one piece:
    {"time": T, "scheme": "http"|"https", "method": "GET", "path": "/a/b?q",
     "attempt": K, "connection": C, "headers": [[name, value], ...]}
`attempt` counts the requests for that path (query ignored) since its fault file last
changed, from 1. `connection` numbers the accepted connections from 1, so requests
with the same number came over one kept-alive connection.

Answers are HTTP/1.1 with Content-Length and keep-alive (--close-connections closes
every connection after one answer instead). A file is sent with an ETag (size and
modification time) and Last-Modified; "Range: bytes=N-" or "bytes=N-M" gets a 206 with
Content-Range, or a 416 when N is at or past the end, unless an If-Range names a
validator other than the answer's, which gets the whole file with 200. Several ranges
("bytes=N-M,P-Q,...") are answered as common servers do: the ranges that start before
the end, in the asked order and not merged, as a 206 "multipart/byteranges; boundary=B"
whose parts each carry Content-Type and Content-Range, CRLF before every "--B" and a
closing "--B--" CRLF; a single such range as a plain 206, none as a 416. A GET whose
If-None-Match names the file's ETag, or (without If-None-Match) whose If-Modified-Since is
its Last-Modified or later, gets 304 with no body.

Faults: a file "<served file>.fault.json" beside the served path (it need not exist)
changes how that path is answered. It holds one fault object, applied to every request,
or {"attempts": [fault, fault, ...]}, where request K gets entry K and requests past the
list are served normally ({} is a normal answer too). A fault object may hold:
    status          int, default 200
    headers         {name: value}, sent as given (e.g. "Location")
    body            text (UTF-8) sent instead of the file
    body_base64     bytes sent instead of the file
                    (without either: the file, or b"" when it does not exist; for a
                    status outside 2xx a short text)
    content_length  absent: the true length; null: no Content-Length (the body ends
                    when the connection closes); a string or number: sent as written
    reset_after     send this many body bytes (of a ranged answer too), then reset
                    the connection (RST)
    ignore_range    true: answer a Range request with the whole body and 200
    no_etag         true: send no ETag (Last-Modified stays the validator)
    ignore_if_range true: answer a Range with 206 whatever If-Range names
    range_total     text written as the whole length in a 206's Content-Range (and in
                    each part's)
    multi_range     how a request for several ranges is answered: "whole" (the whole
                    file with 200, as many CDNs do) or "first" (only the first range, as
                    a plain single-range 206)
    endless         true or {"limit_bytes": N, "limit_seconds": S}: repeat the body
                    (or "x" when empty) until a limit is reached (default 1 GiB / 60 s)
                    or the client goes away, then close normally
    delay_ms        wait before the status line
    stall_after     send this many body bytes (0: none, only the headers), then nothing
                    for stall_ms (default 60000), then close the connection
    pace_ms         wait between body chunks of chunk_bytes (default 65536)
    bytes_per_second
                    a throttled host: the body goes out at this rate, a tenth of it
                    every 100 ms (instead of pace_ms and chunk_bytes)
Headers given by the fault replace the answer's own of that name (ETag, Last-Modified).
An answer that is not well-formed (content_length, endless, reset_after, stall_after)
closes its connection.

Signing (with --sign-keys DIR, a folder of P-256 private keys NAME.pem):
    GET /_sign/NAME/public          base64 of the key's 65-byte uncompressed point
    GET /_sign/NAME/HEX             base64 of the raw r||s ECDSA signature over the SHA-256
                                    of the canonical form of the JSON document whose UTF-8
                                    bytes are HEX: without "signature", keys sorted, no
                                    spaces (what nlohmann/json's dump() gives)
These answers are not logged. Stops on SIGTERM or SIGINT.
"""
import argparse
import base64
import email.utils
import errno
import fcntl
import hashlib
import http.server
import json
import os
import posixpath
import re
import secrets
import signal
import socket
import socketserver
import ssl
import struct
import sys
import termios
import threading
import time
import urllib.parse

CHUNK = 1 << 20
DEFAULT_ENDLESS_BYTES = 1 << 30
DEFAULT_ENDLESS_SECONDS = 60.0


class State:
    """What the handler threads share: the served folder, attempt counts and the log."""

    def __init__(self, root, log_path):
        self.root = os.path.realpath(root)
        self.lock = threading.Lock()
        self.attempts = {}  # decoded path -> (fault file text, count)
        self.connections = 0
        self.log = open(log_path, "w", encoding="utf-8")

    def local_path(self, url_path):
        """The file below root that a URL path names, or None when it would leave root."""
        parts = []
        for part in urllib.parse.unquote(url_path).split("/"):
            if part in ("", "."):
                continue
            if part == ".." or "\\" in part or "\0" in part:
                return None
            parts.append(part)
        return os.path.join(self.root, *parts)

    def next_attempt(self, key, fault_text):
        with self.lock:
            text, count = self.attempts.get(key, (None, 0))
            if text != fault_text:
                count = 0
            count += 1
            self.attempts[key] = (fault_text, count)
            return count

    def next_connection(self):
        with self.lock:
            self.connections += 1
            return self.connections

    def record(self, entry):
        line = json.dumps(entry, ensure_ascii=False) + "\n"
        with self.lock:
            self.log.write(line)
            self.log.flush()


class Handler(http.server.BaseHTTPRequestHandler):
    # HTTP/1.1 with keep-alive: a well-formed answer (true Content-Length, whole body)
    # leaves the connection open for the client's next request. Answers that cannot be
    # followed by another one (no or a false Content-Length, an endless body, a reset)
    # close it, and so does every answer with --close-connections.
    protocol_version = "HTTP/1.1"

    def version_string(self):
        return "KorvelTestPatchServer/1"

    def log_message(self, format, *args):  # noqa: A002 - quiet; the request log says it all
        pass

    def setup(self):
        super().setup()
        self.connection_id = self.server.state.next_connection()

    def handle(self):
        try:
            super().handle()
        except (OSError, ssl.SSLError):
            pass  # a failed handshake or a client that hung up before asking

    def do_HEAD(self):
        self.answer(send_body=False)

    def do_GET(self):
        self.answer(send_body=True)

    def answer(self, send_body):
        state = self.server.state
        url_path = urllib.parse.urlsplit(self.path).path
        if url_path.startswith("/_sign/"):
            self.answer_signing(url_path[len("/_sign/"):], send_body)
            return
        local = state.local_path(url_path)
        fault_text = None
        if local is not None:
            try:
                with open(local + ".fault.json", encoding="utf-8") as f:
                    fault_text = f.read()
            except OSError:
                pass
        key = urllib.parse.unquote(url_path)
        attempt = state.next_attempt(key, fault_text)
        state.record({
            "time": time.time(),
            "scheme": self.server.scheme,
            "method": self.command,
            "path": self.path,
            "attempt": attempt,
            "connection": self.connection_id,
            "headers": [[k, v] for k, v in self.headers.items()],
        })
        try:
            fault = pick_fault(fault_text, attempt)
            self.serve(local, fault, send_body)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError, socket.timeout):
            self.close_connection = True  # the client went away; some tests do that on purpose

    def answer_signing(self, request, send_body):
        name, _, what = request.partition("/")
        key = self.server.state.sign_keys.get(name)
        try:
            body = base64.b64encode(sign(key, what)) if key else b""
        except ValueError:
            body = b""
        self.send_response(200 if body else 404)
        body = body or b"no such key or bad document\n"
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if send_body:
            self.wfile.write(body)

    def serve(self, local, fault, send_body):
        """Answers from the file, or as the fault says (None: a plain answer)."""
        plain = fault is None
        fault = fault or {}
        if fault.get("delay_ms"):
            time.sleep(fault["delay_ms"] / 1000.0)
        status = int(fault.get("status", 200))
        endless = fault.get("endless")
        is_file = local is not None and os.path.isfile(local)
        body, source, size, validators = b"", None, 0, {}
        if "body_base64" in fault or "body" in fault:
            body = base64.b64decode(fault["body_base64"]) if "body_base64" in fault else fault["body"].encode("utf-8")
            validators = {"ETag": '"b-%s"' % hashlib.sha256(body).hexdigest()[:16]}
        elif plain and not is_file:
            status, body = 404, b"not found\n"
        elif not 200 <= status <= 299:
            body = f"status {status}\n".encode()
        elif is_file:
            source = open(local, "rb")
            st = os.fstat(source.fileno())
            size = st.st_size
            validators = {"ETag": '"%x-%x"' % (st.st_size, st.st_mtime_ns),
                          "Last-Modified": email.utils.formatdate(st.st_mtime, usegmt=True)}
        if status in (204, 304) and "body" not in fault and "body_base64" not in fault:
            body, source, size = b"", None, 0
        if source is None:
            size = len(body)
        if fault.get("no_etag"):
            validators.pop("ETag", None)
        if status == 200 and source is not None and not endless and self.command == "GET" \
                and self.unchanged_for_client(validators):
            source.close()
            status, source, size = 304, None, 0

        headers = [("Content-Type", "application/octet-stream")]
        overridden = {name.lower() for name in fault.get("headers", {})}
        headers += [(k, v) for k, v in validators.items() if k.lower() not in overridden]
        pieces, length = [(0, size)], size
        if status == 200 and not endless and not fault.get("ignore_range"):
            ranged = self.requested_ranges(size, fault.get("headers", {}), validators, fault.get("ignore_if_range"))
            if isinstance(ranged, list) and self.several_ranges_asked():
                if fault.get("multi_range") == "whole":
                    ranged = None
                elif fault.get("multi_range") == "first":
                    ranged = ranged[:1]
            total = fault.get("range_total", size)
            if ranged == "unsatisfiable":
                status, pieces, length = 416, [], 0
                headers.append(("Content-Range", f"bytes */{size}"))
            elif ranged is not None and len(ranged) == 1:
                (start, end), = ranged
                status, pieces, length = 206, [(start, end - start + 1)], end - start + 1
                headers.append(("Content-Range", f"bytes {start}-{end}/{total}"))
            elif ranged is not None:
                boundary = "KorvelTestParts" + secrets.token_hex(8)
                status, pieces = 206, multipart_pieces(ranged, total, boundary, headers[0][1])
                length = sum(len(p) if isinstance(p, bytes) else p[1] for p in pieces)
                headers[0] = ("Content-Type", "multipart/byteranges; boundary=" + boundary)
        headers += [(name, str(value)) for name, value in fault.get("headers", {}).items()]

        well_formed = not endless and "reset_after" not in fault and "content_length" not in fault \
            and "stall_after" not in fault
        keep_alive = well_formed and not self.server.close_each
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        if "content_length" in fault:
            if fault["content_length"] is not None:
                self.send_header("Content-Length", str(fault["content_length"]))
        elif not endless:
            self.send_header("Content-Length", str(length))
        if not keep_alive:
            self.send_header("Connection", "close")
        self.end_headers()
        try:
            if not send_body:
                return
            pace = fault.get("pace_ms", 0) / 1000.0
            chunk = int(fault.get("chunk_bytes", 65536 if pace else CHUNK))
            if fault.get("bytes_per_second"):
                pace, chunk = 0.1, max(1, int(fault["bytes_per_second"]) // 10)
            if endless:
                limits = endless if isinstance(endless, dict) else {}
                self.send_endless(body or b"x", int(limits.get("limit_bytes", DEFAULT_ENDLESS_BYTES)),
                                  float(limits.get("limit_seconds", DEFAULT_ENDLESS_SECONDS)), chunk, pace)
                return
            if "reset_after" in fault:
                length = min(length, int(fault["reset_after"]))
            if "stall_after" in fault:
                length = min(length, int(fault["stall_after"]))
            self.send_pieces(source, body, pieces, length, chunk, pace)
            if "stall_after" in fault:
                self.wfile.flush()
                time.sleep(fault.get("stall_ms", 60000) / 1000.0)
            if "reset_after" in fault:
                self.wfile.flush()
                self.reset_connection()
        finally:
            if source is not None:
                source.close()

    def unchanged_for_client(self, validators):
        """Whether a conditional GET names the version that would be sent now."""
        none_match = self.headers.get("If-None-Match")
        if none_match is not None:
            return validators.get("ETag") is not None and validators["ETag"] in (t.strip() for t in none_match.split(","))
        since = self.headers.get("If-Modified-Since")
        if since is None or "Last-Modified" not in validators:
            return False
        try:
            return email.utils.parsedate_to_datetime(since) >= email.utils.parsedate_to_datetime(validators["Last-Modified"])
        except (TypeError, ValueError):
            return False

    def several_ranges_asked(self):
        return "," in (self.headers.get("Range") or "")

    def requested_ranges(self, size, fault_headers, validators, ignore_if_range=False):
        """[(first, last), ...] of a "Range: bytes=N-[M],..." that applies (the ranges that
        start before the end, as asked), "unsatisfiable" when none does, or None for a
        whole answer: no or another kind of Range, or an If-Range naming something other
        than what would be sent now."""
        match = re.fullmatch(r"bytes=(\d+-\d*(?:[ \t]*,[ \t]*\d+-\d*)*)", (self.headers.get("Range") or "").strip())
        if not match:
            return None
        if_range = self.headers.get("If-Range")
        if if_range is not None and not ignore_if_range:
            sent = {k.lower(): v for k, v in validators.items()}
            sent.update({k.lower(): str(v) for k, v in fault_headers.items()})
            if if_range not in (sent.get("etag"), sent.get("last-modified")):
                return None
        ranges = []
        for one in match.group(1).split(","):
            first, _, last = one.strip().partition("-")
            first = int(first)
            last = min(int(last), size - 1) if last else size - 1
            if first < size and last < first:
                return None
            if first < size:
                ranges.append((first, last))
        return ranges or "unsatisfiable"

    def send_pieces(self, source, body, pieces, length, chunk, pace):
        """Sends the first `length` bytes of `pieces`: bytes as they are, (start, count)
        from the file (or the fault's body), in chunks of `chunk` bytes `pace` apart."""
        sent = 0
        for piece in chunks_of(source, body, pieces, chunk):
            if sent >= length:
                break
            if pace and sent:
                time.sleep(pace)
            piece = piece[:length - sent]
            self.wfile.write(piece)
            sent += len(piece)

    def send_endless(self, pattern, limit_bytes, limit_seconds, chunk, pace):
        block = pattern * max(1, chunk // len(pattern))
        deadline = time.monotonic() + limit_seconds
        sent = 0
        while sent < limit_bytes and time.monotonic() < deadline:
            piece = block[:min(len(block), limit_bytes - sent)]
            self.wfile.write(piece)
            sent += len(piece)
            if pace:
                time.sleep(pace)

    def reset_connection(self):
        # What was written is still partly in the kernel's send queue, which a reset
        # throws away: wait (briefly) until the peer has it all, so that "N bytes, then
        # a reset" is what the client sees.
        wait_until_sent(self.connection)
        # Linger on with a zero time-out: close() then sends RST instead of FIN.
        # For TLS no close_notify goes out either: the peer must see a cut, not an end.
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.connection.close()
        self.close_connection = True
        self.wfile = open(os.devnull, "wb")  # the base class flushes after us


def multipart_pieces(ranges, total, boundary, part_type):
    """The pieces of a multipart/byteranges body for `ranges`, as send_pieces takes them."""
    pieces = []
    for first, last in ranges:
        pieces.append(f"\r\n--{boundary}\r\nContent-Type: {part_type}\r\n"
                      f"Content-Range: bytes {first}-{last}/{total}\r\n\r\n".encode())
        pieces.append((first, last - first + 1))
    pieces.append(f"\r\n--{boundary}--\r\n".encode())
    return pieces


def chunks_of(source, body, pieces, chunk):
    """The bytes of `pieces` in order, file ranges read `chunk` bytes at a time; stops
    where the file (or body) ends early."""
    for piece in pieces:
        if isinstance(piece, bytes):
            yield piece
            continue
        start, count = piece
        if source is not None:
            source.seek(start)
        done = 0
        while done < count:
            n = min(chunk, count - done)
            data = source.read(n) if source is not None else body[start + done:start + done + n]
            if not data:
                return
            yield data
            done += len(data)


def wait_until_sent(sock, limit_seconds=5.0):
    deadline = time.monotonic() + limit_seconds
    try:
        while struct.unpack("i", fcntl.ioctl(sock.fileno(), termios.TIOCOUTQ, b"\0\0\0\0"))[0] > 0:
            if time.monotonic() > deadline:
                return
            time.sleep(0.001)
    except OSError:
        pass


def load_sign_keys(folder):
    from cryptography.hazmat.primitives import serialization
    keys = {}
    for entry in sorted(os.listdir(folder)) if folder and os.path.isdir(folder) else []:
        if entry.endswith(".pem"):
            with open(os.path.join(folder, entry), "rb") as f:
                keys[entry[:-4]] = serialization.load_pem_private_key(f.read(), None)
    return keys


def sign(key, what):
    """The key's public point for "public", else the signature of a hex-encoded document."""
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import ec, utils
    if what == "public":
        return key.public_key().public_bytes(serialization.Encoding.X962,
                                             serialization.PublicFormat.UncompressedPoint)
    document = json.loads(bytes.fromhex(what).decode("utf-8"))
    document.pop("signature", None)
    canonical = json.dumps(document, sort_keys=True, separators=(",", ":"), ensure_ascii=False)
    der = key.sign(canonical.encode("utf-8"), ec.ECDSA(hashes.SHA256()))
    r, s = utils.decode_dss_signature(der)
    return r.to_bytes(32, "big") + s.to_bytes(32, "big")


def pick_fault(fault_text, attempt):
    if fault_text is None:
        return None
    described = json.loads(fault_text)
    if isinstance(described, dict) and "attempts" in described:
        attempts = described["attempts"]
        if attempt > len(attempts) or not attempts[attempt - 1]:
            return None
        return attempts[attempt - 1]
    return described


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = False

    def __init__(self, address, family, state, scheme, tls, close_each):
        self.address_family = family
        self.state = state
        self.close_each = close_each
        self.scheme = scheme
        self.tls = tls
        super().__init__(address, Handler)

    def server_bind(self):
        # HTTPServer.server_bind looks up the host's full name, which can stall
        # without DNS; the name is never used here.
        socketserver.TCPServer.server_bind(self)
        self.server_name = self.server_address[0]
        self.server_port = self.server_address[1]

    def get_request(self):
        sock, address = self.socket.accept()
        sock.settimeout(120)
        # The status line and headers go out in one write and the body in others: with
        # Nagle's algorithm the body of a kept-alive connection would wait for the
        # client's delayed acknowledgement (40 ms on Linux) on every answer.
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        if self.tls:
            # The handshake runs in the handler's thread, so a stuck client cannot
            # hold up accepting the next one.
            sock = self.tls.wrap_socket(sock, server_side=True, do_handshake_on_connect=False)
        return sock, address


def ipv6_loopback_available():
    try:
        with socket.socket(socket.AF_INET6, socket.SOCK_STREAM) as s:
            s.bind(("::1", 0))
        return True
    except OSError:
        return False


def listen_pair(state, scheme, tls, ipv6, close_each):
    """One port on 127.0.0.1 and, when possible, the same port on ::1."""
    for _ in range(50):
        v4 = Server(("127.0.0.1", 0), socket.AF_INET, state, scheme, tls, close_each)
        if not ipv6:
            return [v4]
        try:
            v6 = Server(("::1", v4.server_address[1]), socket.AF_INET6, state, scheme, tls, close_each)
            return [v4, v6]
        except OSError as e:
            v4.server_close()
            if e.errno != errno.EADDRINUSE:
                raise
    raise RuntimeError("no port free on both 127.0.0.1 and ::1")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--ready", required=True)
    parser.add_argument("--log")
    parser.add_argument("--close-connections", action="store_true")
    parser.add_argument("--sign-keys")
    args = parser.parse_args()

    log_path = os.path.abspath(args.log or os.path.join(os.path.dirname(os.path.abspath(args.ready)), "requests.jsonl"))
    state = State(args.root, log_path)
    state.sign_keys = load_sign_keys(args.sign_keys)
    ipv6 = ipv6_loopback_available()
    plain = listen_pair(state, "http", None, ipv6, args.close_connections)
    secure = []
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        secure = listen_pair(state, "https", context, ipv6, args.close_connections)
    for server in plain + secure:
        threading.Thread(target=server.serve_forever, daemon=True).start()

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())

    ready = {
        "http_port": plain[0].server_address[1],
        "https_port": secure[0].server_address[1] if secure else None,
        "pid": os.getpid(),
        "request_log": log_path,
        "ipv6": ipv6,
    }
    tmp = args.ready + ".tmp"
    with open(tmp, "w") as f:
        json.dump(ready, f)
    os.replace(tmp, args.ready)

    while not stop.wait(3600):
        pass
    for server in plain + secure:
        server.server_close()
    sys.exit(0)


if __name__ == "__main__":
    main()
