#!/usr/bin/env python3
"""A player's link in front of a server on 127.0.0.1: a TCP proxy that adds round trips and a line rate.

  link_proxy.py --upstream 127.0.0.1:PORT --rtt-ms 50 --rate-mbit 100 [--port N] [--port-file FILE]
                [--window-kib N] [--lifetime SECONDS]

Each accepted connection is joined to a new connection to the upstream server. Nothing flows for one round
trip after the accept (the handshake); after that every byte reaches the other side half a round trip after
the proxy read it, in order. The download direction (server to client) of all connections shares one line:
a chunk read from the server occupies the line for len / rate seconds, after the chunks read before it (of
any connection), and arrives half a round trip after it has left the line. The upload direction has no rate.

A connection reads from the server only while less than its window (default: what the line carries in one
round trip, plus 256 KiB) is read but not yet delivered to the client, so a client that lags slows the
server down instead of filling memory. An end of stream is passed on as a half-close, in order after the
data; an error on either side closes both. The proxy listens on 127.0.0.1 only (port 0: a free one, written
to --port-file when given) and ends after --lifetime seconds, when its parent process ends, or on SIGTERM;
it then prints what it carried, and the CPU time it used, to stderr.
"""
import argparse
import asyncio
import os
import signal
import sys

CHUNK = 64 * 1024


class Line:
    """The shared download line: when it is next free, in the event loop's clock."""

    def __init__(self, bytes_per_second):
        self.bytes_per_second = bytes_per_second
        self.free_at = 0.0

    def book(self, now, size):
        # FIFO: a chunk leaves the line after everything booked before it.
        self.free_at = max(now, self.free_at) + size / self.bytes_per_second
        return self.free_at


class Stats:
    def __init__(self):
        self.connections = 0
        self.up = 0
        self.down = 0


class Direction:
    """One direction of one connection: reads, stamps each chunk with its arrival time, delivers it then."""

    def __init__(self, reader, writer, delay, line, window, counter):
        self.reader = reader
        self.writer = writer
        self.delay = delay
        self.line = line
        self.window = window
        self.counter = counter
        self.queue = asyncio.Queue()
        self.in_flight = 0
        self.room = asyncio.Event()
        self.room.set()

    async def read(self, loop):
        while True:
            await self.room.wait()
            data = await self.reader.read(CHUNK)
            now = loop.time()
            arrival = (self.line.book(now, len(data)) if self.line and data else now) + self.delay
            self.queue.put_nowait((arrival, data))
            if not data:
                return
            self.in_flight += len(data)
            if self.in_flight >= self.window:
                self.room.clear()

    async def deliver(self, loop):
        while True:
            arrival, data = await self.queue.get()
            wait = arrival - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if not data:
                if self.writer.can_write_eof():
                    self.writer.write_eof()
                return
            self.writer.write(data)
            await self.writer.drain()
            self.counter(len(data))
            self.in_flight -= len(data)
            if self.in_flight < self.window:
                self.room.set()

    def tasks(self, loop):
        return [asyncio.ensure_future(self.read(loop)), asyncio.ensure_future(self.deliver(loop))]


class Proxy:
    def __init__(self, args):
        host, port = args.upstream.rsplit(":", 1)
        self.upstream = (host, int(port))
        self.rtt = args.rtt_ms / 1000.0
        rate = args.rate_mbit * 1e6 / 8
        self.line = Line(rate)
        self.window = (args.window_kib * 1024 if args.window_kib
                       else int(rate * self.rtt) + 256 * 1024)
        self.stats = Stats()
        self.tasks = set()

    async def connection(self, client_reader, client_writer):
        loop = asyncio.get_running_loop()
        accepted = loop.time()
        self.stats.connections += 1
        server_writer = None
        task = asyncio.current_task()
        self.tasks.add(task)
        try:
            server_reader, server_writer = await asyncio.open_connection(
                *self.upstream, limit=4 * CHUNK)
            wait = accepted + self.rtt - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)

            def count_up(n):
                self.stats.up += n

            def count_down(n):
                self.stats.down += n

            up = Direction(client_reader, server_writer, self.rtt / 2, None, self.window, count_up)
            down = Direction(server_reader, client_writer, self.rtt / 2, self.line, self.window,
                             count_down)
            parts = up.tasks(loop) + down.tasks(loop)
            try:
                # Both directions end at their end of stream; an error in any part ends the others.
                await asyncio.wait(parts, return_when=asyncio.FIRST_EXCEPTION)
            finally:
                for part in parts:
                    part.cancel()
                await asyncio.gather(*parts, return_exceptions=True)
        except OSError:
            pass
        finally:
            self.tasks.discard(task)
            for writer in (client_writer, server_writer):
                if writer is not None:
                    writer.close()
            for writer in (client_writer, server_writer):
                if writer is not None:
                    try:
                        await writer.wait_closed()
                    except OSError:
                        pass


async def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--upstream", required=True, help="HOST:PORT of the server")
    parser.add_argument("--rtt-ms", type=float, default=50.0)
    parser.add_argument("--rate-mbit", type=float, default=100.0)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file")
    parser.add_argument("--window-kib", type=int, default=0)
    parser.add_argument("--lifetime", type=float, default=4 * 3600.0)
    args = parser.parse_args()

    proxy = Proxy(args)
    server = await asyncio.start_server(proxy.connection, "127.0.0.1", args.port, limit=4 * CHUNK,
                                        backlog=128)
    port = server.sockets[0].getsockname()[1]
    if args.port_file:
        with open(args.port_file + ".tmp", "w") as f:
            f.write("%d\n" % port)
        os.replace(args.port_file + ".tmp", args.port_file)

    loop = asyncio.get_running_loop()
    stop = asyncio.Event()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)
    parent = os.getppid()
    end = loop.time() + args.lifetime
    while not stop.is_set() and loop.time() < end and os.getppid() == parent:
        try:
            await asyncio.wait_for(stop.wait(), 1.0)
        except asyncio.TimeoutError:
            pass
    server.close()
    for task in list(proxy.tasks):
        task.cancel()
    await asyncio.gather(*proxy.tasks, return_exceptions=True)
    used = os.times()
    print("link_proxy: %d connections, %d bytes up, %d bytes down, %.2f s of CPU"
          % (proxy.stats.connections, proxy.stats.up, proxy.stats.down, used.user + used.system),
          file=sys.stderr)


if __name__ == "__main__":
    asyncio.run(main())
