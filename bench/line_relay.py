"""A shop's line between the module and the gateway, for the bench: each chunk is held half
a round trip in each direction, a new connection's first bytes one round trip more (the
TCP handshake, which the relay answers locally), and the download is paced to a rate.
Counts the connections it carries and the bytes it brings down.
"""

import asyncio
import threading
import time


class LineRelay:
    def __init__(self, listen, upstream, rtt=0.1, rate_bps=20e6):
        self.listen = listen  # (address, port)
        self.upstream = upstream
        self.rtt = rtt
        self.rate = rate_bps / 8.0  # bytes per second
        self.connections = 0
        self.bytes_down = 0
        self.loop = asyncio.new_event_loop()
        ready = threading.Event()
        threading.Thread(target=self._run, args=(ready,), daemon=True).start()
        ready.wait()

    def _run(self, ready):
        asyncio.set_event_loop(self.loop)
        self.server = self.loop.run_until_complete(asyncio.start_server(self._serve, *self.listen))
        ready.set()
        self.loop.run_forever()

    def close(self):
        self.loop.call_soon_threadsafe(self.server.close)
        self.loop.call_soon_threadsafe(self.loop.stop)

    def counters(self):
        return self.connections, self.bytes_down

    async def _serve(self, client_reader, client_writer):
        self.connections += 1
        opened = time.monotonic()
        try:
            server_reader, server_writer = await asyncio.open_connection(*self.upstream)
        except OSError:
            client_writer.close()
            return
        # The handshake's round trip comes before the first bytes' half: they reach the
        # server no sooner than one and a half round trips after the connect.
        up = asyncio.ensure_future(self._carry(client_reader, server_writer, opened + 1.5 * self.rtt, paced=False))
        down = asyncio.ensure_future(self._carry(server_reader, client_writer, opened, paced=True))
        await asyncio.wait([up, down], return_when=asyncio.FIRST_COMPLETED)
        for task in (up, down):
            task.cancel()
        for writer in (client_writer, server_writer):
            writer.close()

    async def _carry(self, reader, writer, first_due, paced):
        queue = asyncio.Queue()
        sender = asyncio.ensure_future(self._send(queue, writer))
        last_due = first_due
        try:
            while True:
                chunk = await reader.read(16384)
                if not chunk:
                    break
                due = max(time.monotonic() + self.rtt / 2, first_due)
                if paced and self.rate > 0:
                    # The line brings this chunk down after the ones before it.
                    due = max(due, last_due) + len(chunk) / self.rate
                last_due = max(last_due, due)
                await queue.put((due, chunk))
                if paced:
                    self.bytes_down += len(chunk)
        finally:
            await queue.put((time.monotonic(), None))
            await sender

    @staticmethod
    async def _send(queue, writer):
        while True:
            due, chunk = await queue.get()
            delay = due - time.monotonic()
            if delay > 0:
                await asyncio.sleep(delay)
            if chunk is None:
                try:
                    writer.write_eof()
                except OSError:
                    pass
                return
            writer.write(chunk)
            try:
                await writer.drain()
            except OSError:
                return
