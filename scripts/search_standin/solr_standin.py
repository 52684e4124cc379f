#!/usr/bin/env python3
"""A stand-in for the installation's search server, for trying and testing the database backup.

    solr_standin.py --port PORT --home SERVER/solr --pid-file FILE

Listens on 127.0.0.1:PORT and answers the requests the backup tool makes:

    GET  /solr                                     a small page (any answer shows the server is up)
    GET  /solr/admin/info/system?wt=xml            system information with "solr-spec-version"
    GET  /solr/<core>/select?q=*&start=S&rows=R&wt=json
                                                   {"responseHeader": ..., "response":
                                                    {"numFound", "start", "docs": [...]}}
    POST /solr/<core>/update?commit=true           a JSON array of documents to add

A core is a folder of HOME holding "core.properties". Its documents are kept in
"<core>/data/documents.json", each with a "_version_" given by the server; a document whose "id"
is already there replaces the old one. While the server runs, each core's data folder holds a
"write.lock" naming its process id, as an index writer's lock would; a clean stop removes it.

The process leaves its parent's session at start, writes its pid to FILE once it listens, and
removes the pid file and the locks when it ends on SIGTERM or SIGINT. Python standard library only.
"""

from __future__ import annotations

import argparse
import json
import os
import signal
import sys
import threading
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

VERSION = "9.4.1"
DOCUMENTS = "documents.json"
LOCK = "write.lock"

SYSTEM_INFO = f"""<?xml version="1.0" encoding="UTF-8"?>
<response>
<lst name="responseHeader"><int name="status">0</int><int name="QTime">1</int></lst>
<str name="mode">std</str>
<lst name="lucene">
  <str name="solr-spec-version">{VERSION}</str>
  <str name="solr-impl-version">{VERSION} stand-in</str>
</lst>
</response>
"""


def core_folder(home: Path, name: str) -> Path | None:
    """The folder of the core `name`, or None when there is no such core."""
    if not name or name in (".", "..") or "/" in name or "\0" in name:
        return None
    folder = home / name
    return folder if (folder / "core.properties").is_file() else None


def cores(home: Path) -> list[Path]:
    if not home.is_dir():
        return []
    return sorted(p.parent for p in home.glob("*/core.properties"))


def read_documents(folder: Path) -> list[dict]:
    try:
        with open(folder / "data" / DOCUMENTS, encoding="utf-8") as file:
            documents = json.load(file)
    except FileNotFoundError:
        return []
    return documents if isinstance(documents, list) else []


def write_documents(folder: Path, documents: list[dict]) -> None:
    """Stores the documents of the core at `folder`; a reader never sees half a file."""
    data = folder / "data"
    data.mkdir(parents=True, exist_ok=True)
    temporary = data / (DOCUMENTS + ".tmp")
    with open(temporary, "w", encoding="utf-8") as file:
        json.dump(documents, file, ensure_ascii=False, indent=1)
        file.write("\n")
    os.replace(temporary, data / DOCUMENTS)


# Versions grow from a fixed start, so the same updates always give the same files.
FIRST_VERSION = 1700000000000 << 20


def next_version(documents: list[dict]) -> int:
    versions = [d.get("_version_") for d in documents if isinstance(d.get("_version_"), int)]
    return max(versions, default=FIRST_VERSION) + 1


def add_documents(folder: Path, added: list[dict]) -> None:
    documents = read_documents(folder)
    by_id = {d["id"]: i for i, d in enumerate(documents) if "id" in d}
    version = next_version(documents)
    for document in added:
        document = dict(document)
        document["_version_"] = version
        version += 1
        if "id" in document and document["id"] in by_id:
            documents[by_id[document["id"]]] = document
        else:
            if "id" in document:
                by_id[document["id"]] = len(documents)
            documents.append(document)
    write_documents(folder, documents)


class Handler(BaseHTTPRequestHandler):
    server_version = "SolrStandIn/" + VERSION
    protocol_version = "HTTP/1.1"

    def log_message(self, format: str, *args) -> None:  # noqa: A002 - the base class's name
        sys.stderr.write("%s %s\n" % (self.log_date_time_string(), format % args))

    def reply(self, status: int, body: str, content_type: str) -> None:
        data = body.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def reply_json(self, status: int, value: object) -> None:
        self.reply(status, json.dumps(value, ensure_ascii=False, separators=(",", ":")),
                   "application/json;charset=utf-8")

    def error(self, status: int, message: str) -> None:
        self.reply_json(status, {"responseHeader": {"status": status, "QTime": 0},
                                 "error": {"msg": message, "code": status}})

    def route(self) -> tuple[list[str], dict[str, str]]:
        url = urllib.parse.urlsplit(self.path)
        parts = [p for p in url.path.split("/") if p]
        query = dict(urllib.parse.parse_qsl(url.query, keep_blank_values=True))
        return parts, query

    def do_GET(self) -> None:  # noqa: N802 - the base class's name
        parts, query = self.route()
        home = self.server.home
        with self.server.store_lock:
            if parts == ["solr"]:
                self.reply(200, "<html><body>Search server stand-in</body></html>\n",
                           "text/html;charset=utf-8")
            elif parts == ["solr", "admin", "info", "system"]:
                self.reply(200, SYSTEM_INFO, "application/xml;charset=utf-8")
            elif len(parts) == 3 and parts[0] == "solr" and parts[2] == "select":
                folder = core_folder(home, parts[1])
                if folder is None:
                    self.error(404, f"no such core: {parts[1]}")
                    return
                self.select(folder, query)
            else:
                self.error(404, f"not found: {self.path}")

    def select(self, folder: Path, query: dict[str, str]) -> None:
        try:
            start = int(query.get("start", "0"))
            rows = int(query.get("rows", "10"))
        except ValueError:
            self.error(400, "start and rows must be numbers")
            return
        if start < 0 or rows < 0 or query.get("wt", "json") != "json":
            self.error(400, "unsupported query")
            return
        documents = read_documents(folder)
        self.reply_json(200, {
            "responseHeader": {"status": 0, "QTime": 0, "params": query},
            "response": {"numFound": len(documents), "start": start, "numFoundExact": True,
                         "docs": documents[start:start + rows]},
        })

    def do_POST(self) -> None:  # noqa: N802 - the base class's name
        parts, _ = self.route()
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length > 0 else b""
        if not (len(parts) == 3 and parts[0] == "solr" and parts[2] == "update"):
            self.error(404, f"not found: {self.path}")
            return
        with self.server.store_lock:
            folder = core_folder(self.server.home, parts[1])
            if folder is None:
                self.error(404, f"no such core: {parts[1]}")
                return
            try:
                documents = json.loads(body.decode("utf-8"))
            except (UnicodeDecodeError, json.JSONDecodeError) as error:
                self.error(400, f"the body is not JSON: {error}")
                return
            if not isinstance(documents, list) or not all(isinstance(d, dict) for d in documents):
                self.error(400, "the body must be a JSON array of documents")
                return
            add_documents(folder, documents)
        self.reply_json(200, {"responseHeader": {"status": 0, "QTime": 1}})


class Server(ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, port: int, home: Path) -> None:
        super().__init__(("127.0.0.1", port), Handler)
        self.home = home
        self.store_lock = threading.Lock()


def lock_cores(home: Path) -> None:
    for folder in cores(home):
        data = folder / "data"
        data.mkdir(exist_ok=True)
        (data / LOCK).write_text(f"{os.getpid()}\n", encoding="ascii")


def unlock_cores(home: Path) -> None:
    for folder in cores(home):
        try:
            (folder / "data" / LOCK).unlink()
        except FileNotFoundError:
            pass


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--home", type=Path, required=True, help="the folder of the cores")
    parser.add_argument("--pid-file", type=Path, required=True)
    args = parser.parse_args()

    # A session of its own: whatever ends the control script or the program that ran it (a
    # time-out that ends a process group included) does not reach the server.
    try:
        os.setsid()
    except OSError:
        pass

    home = args.home.resolve()
    try:
        server = Server(args.port, home)
    except OSError as error:
        print(f"cannot listen on 127.0.0.1:{args.port}: {error}", file=sys.stderr)
        return 1

    def stop(signum, frame) -> None:  # noqa: ARG001 - the handler's signature
        # shutdown() waits for serve_forever, which runs on this thread: ask from another one.
        threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    signal.signal(signal.SIGHUP, signal.SIG_IGN)

    lock_cores(home)
    temporary = args.pid_file.with_name(args.pid_file.name + ".tmp")
    temporary.write_text(f"{os.getpid()}\n", encoding="ascii")
    os.replace(temporary, args.pid_file)
    print(f"listening on 127.0.0.1:{args.port}, cores in {home}", file=sys.stderr, flush=True)
    try:
        server.serve_forever(poll_interval=0.2)
    finally:
        server.server_close()
        unlock_cores(home)
        try:
            if args.pid_file.read_text(encoding="ascii").strip() == str(os.getpid()):
                args.pid_file.unlink()
        except OSError:
            pass
        print("stopped", file=sys.stderr, flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
