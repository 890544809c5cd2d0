#!/usr/bin/env python3
"""A small file server that honours "Range: bytes=N-" (with If-Range against its ETag) and
drops the first connection of each round after a given number of bytes of the file.

    cutting_server.py FILE PORT_FILE WIRE_FILE
A line "cut N" on standard input arms the next request to drop after byte N of the file;
every body byte sent is added to the count in WIRE_FILE.
"""
import http.server, os, sys, threading

path, port_file, wire_file = sys.argv[1], sys.argv[2], sys.argv[3]
size = os.path.getsize(path)
etag = '"%x-%x"' % (size, int(os.path.getmtime(path)))
state = {"cut": None, "wire": 0}
lock = threading.Lock()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        start, rng, if_range = 0, self.headers.get("Range", ""), self.headers.get("If-Range")
        if rng.startswith("bytes=") and rng.endswith("-") and (if_range is None or if_range == etag):
            start = int(rng[6:-1])
        if start >= size and start > 0:
            self.send_response(416)
            self.send_header("Content-Range", "bytes */%d" % size)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        self.send_response(206 if start else 200)
        self.send_header("ETag", etag)
        self.send_header("Content-Length", str(size - start))
        if start:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, size - 1, size))
        self.end_headers()
        with lock:
            cut, state["cut"] = state["cut"], None
        end = cut if cut is not None and cut > start else size
        with open(path, "rb") as f:
            f.seek(start)
            at = start
            while at < end:
                block = f.read(min(1 << 20, end - at))
                self.wfile.write(block)
                at += len(block)
                with lock:
                    state["wire"] += len(block)
                    open(wire_file, "w").write(str(state["wire"]))
        if end < size:
            self.close_connection = True
            self.connection.shutdown(2)


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
open(port_file, "w").write(str(server.server_address[1]))
threading.Thread(target=server.serve_forever, daemon=True).start()
for line in sys.stdin:
    if line.startswith("cut "):
        with lock:
            state["cut"] = int(line.split()[1])
    elif line.startswith("reset"):
        with lock:
            state["wire"] = 0
            open(wire_file, "w").write("0")
