#!/usr/bin/python3
"""A slow link for the check benchmark: relays TCP connections on loopback and holds every
chunk DELAY_MS milliseconds in each direction (so a round trip costs twice that), keeping
the order of the bytes.

delay_relay.py LISTEN_PORT TARGET_PORT DELAY_MS
Prints "ready" once it listens, and "turns N" when a connection ends: N is how often the
client wrote after bytes of the server had reached it since its last write (the greeting
counts), which is how many round trips of the link the client waited for at most.
"""
import asyncio
import sys


async def pipe(reader, writer, delay, on_read, on_delivered):
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def deliver():
        while True:
            due, data = await queue.get()
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if not data:
                writer.close()
                return
            writer.write(data)
            on_delivered()
            await writer.drain()

    sender = asyncio.create_task(deliver())
    try:
        while True:
            data = await reader.read(65536)
            if data:
                on_read()
            queue.put_nowait((loop.time() + delay, data))
            if not data:
                break
    except ConnectionError:
        queue.put_nowait((loop.time() + delay, b""))
    try:
        await sender
    except ConnectionError:
        pass


class Turns:
    """Counts the client's writes that follow bytes the server sent it."""

    def __init__(self):
        self.count = 0
        self.heard = False

    def client_wrote(self):
        if self.heard:
            self.count += 1
        self.heard = False

    def server_reached_client(self):
        self.heard = True


async def main():
    listen_port, target_port, delay_ms = (int(a) for a in sys.argv[1:4])
    delay = delay_ms / 1000.0

    async def serve(client_reader, client_writer):
        server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target_port)
        turns = Turns()
        # A side that fails ends only its own direction; the count is reported either way.
        await asyncio.gather(
            pipe(client_reader, server_writer, delay, turns.client_wrote, lambda: None),
            pipe(server_reader, client_writer, delay, lambda: None, turns.server_reached_client),
            return_exceptions=True)
        print("turns", turns.count, flush=True)

    server = await asyncio.start_server(serve, "127.0.0.1", listen_port)
    print("ready", flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
