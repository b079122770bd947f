#!/usr/bin/env python3
"""A loopback TCP proxy that adds network latency, for the network benchmarks.

    latency_proxy.py --target PORT --delay-ms D --ready FILE [--rate-mbit R] [--stats FILE]

Listens on a free port of 127.0.0.1 (written to FILE once listening) and forwards every
connection to 127.0.0.1:PORT. Every chunk goes on D ms after it arrived, in both
directions and in order, so a request and its answer take a round trip of 2 D; a new
connection first waits one round trip more, as a TCP handshake with a distant server
would. A reset from either side is passed on as a reset. Stops on SIGTERM.

With --rate-mbit, each direction is one link of R Mbit/s shared by all connections:
a chunk waits for the bytes queued before it to pass, then for its own, then D ms.
A connection reads no more while its direction has more than a quarter second queued,
so the sender feels the link as it would a real one.

With --stats, it writes FILE (JSON) on SIGUSR2 and when it stops: "delivered", the
bytes of the server's answers handed to the clients' sockets (all of which reach the
clients, as the kernel sends what it holds before a connection closes), and
"timeline", those bytes per tenth of a second from "start" (wall-clock seconds), as
they were handed on. SIGUSR1 makes the host go away as if killed: the proxy writes
FILE and exits at once, so what the kernel holds for a client still reaches it and
what the proxy queued (the bytes still on the link) does not.
"""
import argparse
import asyncio
import fcntl
import json
import os
import signal
import socket
import struct
import termios
import time


class Delivered:
    """The bytes of the answers handed to the clients' sockets, in all and per tenth of a second."""

    SLOT = 0.1

    def __init__(self):
        self.start = time.time()
        self.timeline = []
        self.writers = {}  # each client connection's writer: the bytes written to it

    def wrote(self, writer, size):
        self.writers[writer] = self.writers.get(writer, 0) + size
        slot = int((time.time() - self.start) / self.SLOT)
        self.timeline.extend([0] * (slot + 1 - len(self.timeline)))
        self.timeline[slot] += size

    def total(self):
        # What a writer still holds in user space has not reached its socket (and is
        # lost when the host goes away).
        return sum(n - w.transport.get_write_buffer_size() for w, n in self.writers.items())

    def write(self, path):
        with open(path + ".tmp", "w") as f:
            json.dump({"delivered": self.total(), "start": self.start, "slot": self.SLOT,
                       "timeline": self.timeline}, f)
        os.replace(path + ".tmp", path)


class Link:
    """One direction's bandwidth: the time its last queued byte has passed."""

    BACKLOG = 0.25  # seconds queued before a reader waits

    def __init__(self, rate_mbit):
        self.bytes_per_s = rate_mbit * 1e6 / 8
        self.free_at = 0.0

    def passed_at(self, now, size):
        self.free_at = max(now, self.free_at) + size / self.bytes_per_s
        return self.free_at

    def backlog(self, now):
        return max(0.0, self.free_at - now - self.BACKLOG)


async def forward(reader, writer, delay, link=None, delivered=None):
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def send():
        while True:
            due, data = await queue.get()
            await asyncio.sleep(max(0.0, due - loop.time()))
            if data == b"":
                if writer.can_write_eof():
                    writer.write_eof()
                else:
                    writer.close()
                return
            if data is None:  # the other side was reset: so is this one, once all before it is out
                sock = writer.get_extra_info("socket")
                for _ in range(5000):
                    if struct.unpack("i", fcntl.ioctl(sock.fileno(), termios.TIOCOUTQ, b"\0\0\0\0"))[0] == 0:
                        break
                    await asyncio.sleep(0.001)
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                writer.transport.abort()
                return
            writer.write(data)
            if delivered:
                delivered.wrote(writer, len(data))
            await writer.drain()

    writer.get_extra_info("socket").setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    sender = asyncio.create_task(send())
    while True:
        try:
            data = await reader.read(1 << 16)
        except (ConnectionResetError, OSError):
            data = None
        now = loop.time()
        sent = link.passed_at(now, len(data)) if link and data else now
        queue.put_nowait((sent + delay, data))
        if not data:
            break
        if link and link.backlog(now):
            await asyncio.sleep(link.backlog(now))
    try:
        await sender
    except (ConnectionResetError, BrokenPipeError, OSError):
        writer.transport.abort()


async def serve(client_reader, client_writer, target, delay, links, delivered):
    await asyncio.sleep(2 * delay)  # the handshake's round trip
    try:
        server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target)
    except OSError:
        client_writer.transport.abort()
        return
    try:
        await asyncio.gather(forward(client_reader, server_writer, delay, links[0]),
                             forward(server_reader, client_writer, delay, links[1], delivered),
                             return_exceptions=True)
    except asyncio.CancelledError:
        pass  # stopping
    for w in (client_writer, server_writer):
        w.close()


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--target", type=int, required=True)
    parser.add_argument("--delay-ms", type=float, required=True)
    parser.add_argument("--ready", required=True)
    parser.add_argument("--rate-mbit", type=float, help="each direction's bandwidth; none when not given")
    parser.add_argument("--stats", help="where the bytes delivered to the clients go on stopping")
    args = parser.parse_args()
    delay = args.delay_ms / 1000.0
    links = (Link(args.rate_mbit), Link(args.rate_mbit)) if args.rate_mbit else (None, None)
    delivered = Delivered()
    server = await asyncio.start_server(
        lambda r, w: serve(r, w, args.target, delay, links, delivered), "127.0.0.1", 0)
    with open(args.ready + ".tmp", "w") as f:
        f.write(str(server.sockets[0].getsockname()[1]))
    os.replace(args.ready + ".tmp", args.ready)
    stop = asyncio.Event()
    vanish = asyncio.Event()
    loop = asyncio.get_running_loop()
    loop.add_signal_handler(signal.SIGTERM, stop.set)
    loop.add_signal_handler(signal.SIGUSR1, lambda: (vanish.set(), stop.set()))
    if args.stats:
        loop.add_signal_handler(signal.SIGUSR2, lambda: delivered.write(args.stats))
    async with server:
        await stop.wait()
        if args.stats:
            delivered.write(args.stats)
        if vanish.is_set():
            # As a host that goes away: its sockets close as the process ends, so what
            # the kernel holds for a client still reaches it, what this process queued does not.
            os._exit(0)


if __name__ == "__main__":
    asyncio.run(main())
