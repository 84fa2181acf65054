#!/usr/bin/python3
"""A slow link for the check benchmark: relays TCP connections on loopback and holds every
chunk DELAY_MS milliseconds in each direction (so a round trip costs twice that), keeping
the order of the bytes.

delay_relay.py LISTEN_PORT TARGET_PORT DELAY_MS
Prints "ready" once it listens.
"""
import asyncio
import sys


async def pipe(reader, writer, delay):
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
            await writer.drain()

    sender = asyncio.create_task(deliver())
    try:
        while True:
            data = await reader.read(65536)
            queue.put_nowait((loop.time() + delay, data))
            if not data:
                break
    except ConnectionError:
        queue.put_nowait((loop.time() + delay, b""))
    try:
        await sender
    except ConnectionError:
        pass


async def main():
    listen_port, target_port, delay_ms = (int(a) for a in sys.argv[1:4])
    delay = delay_ms / 1000.0

    async def serve(client_reader, client_writer):
        server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target_port)
        await asyncio.gather(pipe(client_reader, server_writer, delay),
                             pipe(server_reader, client_writer, delay))

    server = await asyncio.start_server(serve, "127.0.0.1", listen_port)
    print("ready", flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
