#!/usr/bin/python3
"""A TCP proxy in front of an FTP server that behaves like a distant line.

    delayproxy.py TARGET_HOST TARGET_PORT --rtt-ms 20 [--stats FILE]

Listens on 127.0.0.1 on a free port and prints that port as its first line.
Every byte is delayed by half the round trip in each direction, in order,
and every new connection costs one round trip before anything passes (the
handshake a real line would cost). The data connections that the server
announces in its PASV (227) and EPSV (229) replies are proxied the same way:
the reply is rewritten to point at a listener of the proxy.

On exit (SIGTERM or SIGINT) and after every closed connection the totals go
to --stats as JSON: control connections, commands and bytes each way on
them, data connections and their bytes.
"""

import argparse
import asyncio
import json
import os
import re
import signal
import sys
import time

ARGS = None
TOTALS = {
    "control_connections": 0,
    "commands": 0,
    "control_bytes_up": 0,
    "control_bytes_down": 0,
    "data_connections": 0,
    "data_bytes": 0,
}
PASV = re.compile(rb"^227 .*?\((\d+),(\d+),(\d+),(\d+),(\d+),(\d+)\)")
EPSV = re.compile(rb"^229 .*?\(([^\d])\1\1(\d+)\1\)")


def write_stats():
    if ARGS.stats:
        with open(ARGS.stats + ".tmp", "w") as f:
            json.dump(TOTALS, f)
        os.replace(ARGS.stats + ".tmp", ARGS.stats)


class DelayedPipe:
    """Bytes written now come out of the writer half a round trip later, in order."""

    def __init__(self, writer, not_before):
        self.writer = writer
        self.queue = asyncio.Queue()
        self.not_before = not_before
        self.task = asyncio.ensure_future(self.run())

    def send(self, data):
        self.queue.put_nowait((time.monotonic() + ARGS.rtt_ms / 2000.0, data))

    async def run(self):
        try:
            while True:
                due, data = await self.queue.get()
                due = max(due, self.not_before)
                wait = due - time.monotonic()
                if wait > 0:
                    await asyncio.sleep(wait)
                if data is None:
                    self.writer.close()
                    return
                self.writer.write(data)
                await self.writer.drain()
        except (ConnectionError, OSError):
            self.writer.close()


async def pump(reader, pipe, on_data=None):
    try:
        while True:
            data = await reader.read(65536)
            if not data:
                break
            if on_data is not None:
                data = await on_data(data)
            if data:
                pipe.send(data)
    except (ConnectionError, OSError):
        pass
    pipe.send(None)


async def open_target(port):
    # The handshake's round trip: nothing passes before it is over.
    ready = time.monotonic() + ARGS.rtt_ms / 1000.0
    reader, writer = await asyncio.open_connection(ARGS.host, port)
    return reader, writer, ready


async def serve_data(client_reader, client_writer, port):
    TOTALS["data_connections"] += 1
    try:
        reader, writer, ready = await open_target(port)
    except OSError:
        client_writer.close()
        return
    up = DelayedPipe(writer, ready)
    down = DelayedPipe(client_writer, ready)

    async def count(data):
        TOTALS["data_bytes"] += len(data)
        return data

    await asyncio.gather(pump(client_reader, up, count), pump(reader, down, count))
    await asyncio.gather(up.task, down.task)
    write_stats()


async def data_listener(port):
    """A listener for one announced data connection; returns its port."""
    server = None

    async def on_client(r, w):
        server.close()
        await serve_data(r, w, port)

    server = await asyncio.start_server(on_client, "127.0.0.1", 0)
    return server.sockets[0].getsockname()[1]


async def serve_control(client_reader, client_writer):
    TOTALS["control_connections"] += 1
    try:
        reader, writer, ready = await open_target(ARGS.port)
    except OSError:
        client_writer.close()
        return
    up = DelayedPipe(writer, ready)
    down = DelayedPipe(client_writer, ready)
    pending = bytearray()

    async def commands(data):
        TOTALS["control_bytes_up"] += len(data)
        TOTALS["commands"] += data.count(b"\n")
        return data

    async def replies(data):
        # Whole lines only, so a passive reply can be rewritten.
        TOTALS["control_bytes_down"] += len(data)
        pending.extend(data)
        cut = pending.rfind(b"\n") + 1
        lines, rest = bytes(pending[:cut]), bytes(pending[cut:])
        pending[:] = rest
        if b"227 " not in lines and b"229 " not in lines:
            return lines
        out = []
        for line in lines.splitlines(keepends=True):
            m = PASV.match(line)
            if m:
                port = int(m.group(5)) * 256 + int(m.group(6))
                mine = await data_listener(port)
                line = b"227 Entering Passive Mode (127,0,0,1,%d,%d).\r\n" % (mine // 256, mine % 256)
            m = EPSV.match(line)
            if m:
                mine = await data_listener(int(m.group(2)))
                line = b"229 Entering Extended Passive Mode (|||%d|)\r\n" % mine
            out.append(line)
        return b"".join(out)

    await asyncio.gather(pump(client_reader, up, commands), pump(reader, down, replies))
    await asyncio.gather(up.task, down.task)
    write_stats()


async def main():
    server = await asyncio.start_server(serve_control, "127.0.0.1", ARGS.listen)
    sys.stdout.write("%d\n" % server.sockets[0].getsockname()[1])
    sys.stdout.flush()
    loop = asyncio.get_running_loop()
    stop = loop.create_future()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, lambda: stop.done() or stop.set_result(None))
    await stop
    write_stats()


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("host")
    parser.add_argument("port", type=int)
    parser.add_argument("--listen", type=int, default=0)
    parser.add_argument("--rtt-ms", type=float, default=20.0)
    parser.add_argument("--stats")
    ARGS = parser.parse_args()
    asyncio.run(main())
