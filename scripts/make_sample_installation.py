#!/usr/bin/env python3
"""Builds a realistic sample Brimora server installation for trying out and measuring the tool.

    make_sample_installation.py ROOT [--documents N] [--total-bytes BYTES] [--seed S]
                                     [--no-hostile-names] [--no-hostile-documents]
                                     [--solr-port PORT] [-v]

ROOT (created when missing, refused when not empty) receives:

    ROOT/Brimora                   the installation (install path): Execute, Users, Logs, partsdb,
                                   config.ini, CmdList.cfg, GenericFileEditor.xml,
                                   SubversionRepository (made by svnadmin) and
                                   Repository/FileStorage (a checked-out working copy of it)
    ROOT/LornithData/Settings      Brimora.xml, TestSystems.xml, TestSystemGroups.xml,
                                   partsdb-changelogs
    ROOT/Brimora/solr              the search server: the stand-in's control script bin/solr and
                                   server, and five cores with documents in server/solr

The FileStorage holds docflow instances and templates, module archives with module.xml, report
templates, Config/units.dat and N further documents of mixed sizes adding up to about BYTES, all
committed in a few commits. The same seed gives the same files with the same contents (only the
absolute paths written into the settings, and Subversion's dates, depend on where and when it runs).

Needs: svnadmin, svn and a 7-Zip command (7z, 7zz or 7za) on PATH; Python 3.11 standard library.
"""

from __future__ import annotations

import argparse
import math
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import urllib.parse
import uuid
import zlib
from pathlib import Path
from xml.sax.saxutils import escape as xml_escape

SEARCH_STANDIN = Path(__file__).resolve().parent / "search_standin"
sys.path.insert(0, str(SEARCH_STANDIN))
import solr_standin  # noqa: E402 - found through the line above

# Subversion handles non-ASCII names only under a UTF-8 locale; C.UTF-8 exists on every Debian.
SVN_ENV = dict(os.environ, LC_ALL="C.UTF-8")
SVN_USER = "brimora-server"

# Names that trip naive quoting, URL encoding and peg-revision parsing, and non-Latin letters.
AWKWARD_FILE_NAMES = [
    'Sample "A" 5%.txt',
    "calibration@2x.png",
    "Prüfbericht Müller.pdf",
    "Отчёт об испытании.docx",
    "試験データ.csv",
    "it's done.txt",
    "50% dilution.csv",
    "two  blanks.txt",
    "#hash & amp;.txt",
    "-starts-with-dash.txt",
    "percent %41 escape.txt",
    "trailing at@.txt",
]
AWKWARD_FOLDER_NAMES = ["Müller's samples", "50% runs", "batch @2", "Отчёты",
                        'Quote "Q" set']
# The search server's cores and how many documents each holds.
SEARCH_CORES = {"Brimora": 60, "Utilization": 24, "lornithinbox": 12, "lornithparttracker": 30,
                "labscheduler": 8}
# One name that is not valid UTF-8: the tool must copy it byte for byte.
HOSTILE_NAME = b"invalid-\xff\xfe-name.dat"
ARCHIVE_TIME = 1704067200  # 2024-01-01 00:00:00 UTC

WORDS = (
    "sample batch assay calibration reagent buffer titration spectrum column retention peak "
    "baseline standard control blank replicate dilution method validation stability purity yield "
    "protocol analysis instrument sensor channel pressure flow temperature humidity viscosity "
    "density conductivity turbidity filter valve pump detector gradient solvent injection run "
    "result report approval review release deviation audit trail limit target"
).split()
DOCUMENT_GROUPS = ["Projects", "Methods", "Results", "Archive"]
TEXT_EXTENSIONS = [".txt", ".csv", ".xml", ".log", ".json"]
BINARY_EXTENSIONS = {
    ".pdf": b"%PDF-1.7\n",
    ".xlsx": b"PK\x03\x04",
    ".docx": b"PK\x03\x04",
    ".dat": b"",
    ".bin": b"",
    ".tdms": b"TDSm",
}


class GeneratorError(Exception):
    """A failure that ends the run with a message instead of a traceback."""


# ---------------------------------------------------------------------------------------------
# Small helpers


def parse_size(text: str) -> int:
    """Reads '20000', '20MB', '20MiB', '1GiB', '1.5G' (K/M/G without 'i' are powers of 1000)."""
    match = re.fullmatch(r"\s*(\d+(?:\.\d+)?)\s*([kKmMgGtT]?)(i?)[bB]?\s*", text)
    if not match:
        raise argparse.ArgumentTypeError(f"not a size: {text!r}")
    number, unit, binary = match.groups()
    exponent = " KMGT".index(unit.upper()) if unit else 0
    return int(float(number) * (1024 if binary else 1000) ** exponent)


def file_url(path: Path) -> str:
    """file:// URL of an absolute path, percent-escaping blanks, '%', '@' and non-ASCII bytes."""
    return "file://" + urllib.parse.quote(os.fsencode(path), safe="/")


def svn_target(path: str) -> str:
    # A trailing "@" ends the peg-revision part, so a name that holds "@" stays a name.
    return path + "@"


def make_png(width: int, height: int, rgb: tuple[int, int, int]) -> bytes:
    def chunk(kind: bytes, data: bytes) -> bytes:
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    row = b"\x00" + bytes(rgb) * width
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(row * height))
            + chunk(b"IEND", b""))


def find_archiver() -> str | None:
    for name in ("7z", "7zz", "7za"):
        found = shutil.which(name)
        if found:
            return found
    return None


class Writer:
    """Writes files and keeps the count and byte total for the summary."""

    def __init__(self) -> None:
        self.files = 0
        self.bytes = 0

    def write(self, path: Path | bytes, content: bytes | str, mode: int | None = None) -> None:
        data = content.encode("utf-8") if isinstance(content, str) else content
        target = Path(os.fsdecode(path)) if isinstance(path, bytes) else path
        target.parent.mkdir(parents=True, exist_ok=True)
        with open(os.fsencode(target), "wb") as handle:
            handle.write(data)
        if mode is not None:
            os.chmod(os.fsencode(target), mode)
        self.files += 1
        self.bytes += len(data)


class Svn:
    """Runs the Subversion client non-interactively with a private configuration folder, so the
    user's own settings (ignore patterns, auto-props, stored credentials) cannot change the result.
    """

    def __init__(self, config_dir: Path, verbose: bool) -> None:
        self.config_dir = config_dir
        self.verbose = verbose

    def run(self, args: list, cwd: Path | None = None, check: bool = True,
            program: str = "svn") -> subprocess.CompletedProcess:
        command = [program] + ([] if program == "svnadmin" else
                               ["--non-interactive", "--config-dir", str(self.config_dir)]) + args
        if self.verbose:
            print("  $ " + " ".join(os.fsdecode(a) for a in command), file=sys.stderr)
        result = subprocess.run(command, cwd=cwd, env=SVN_ENV, stdin=subprocess.DEVNULL,
                                capture_output=True)
        if check and result.returncode != 0:
            raise GeneratorError(
                f"{program} {os.fsdecode(args[0])} failed ({result.returncode}): "
                + result.stderr.decode("utf-8", "replace").strip())
        return result

    def run_on_targets(self, args: list[str], targets: list[str], cwd: Path) -> None:
        # A targets file keeps the command line short for thousands of paths.
        with tempfile.NamedTemporaryFile("w", encoding="utf-8", suffix=".targets",
                                         dir=self.config_dir, delete=False) as handle:
            handle.write("".join(svn_target(t) + "\n" for t in targets))
        try:
            self.run(args + ["--targets", handle.name], cwd=cwd)
        finally:
            os.unlink(handle.name)


# ---------------------------------------------------------------------------------------------
# Contents


class Content:
    """Deterministic file contents drawn from one seeded generator, in a fixed order."""

    def __init__(self, rng: random.Random) -> None:
        self.rng = rng
        self.lines = [self._line() for _ in range(2048)]

    def _line(self) -> str:
        words = self.rng.choices(WORDS, k=self.rng.randint(3, 12))
        count = self.rng.randint(0, 4)
        numbers = " ".join(f"{self.rng.uniform(0, 1000):.3f}" for _ in range(count))
        return (" ".join(words) + " " + numbers).strip() + "\n"

    def words(self, count: int, sep: str = " ") -> str:
        return sep.join(self.rng.choices(WORDS, k=count))

    def text(self, size: int) -> bytes:
        if size <= 0:
            return b""
        pieces, total = [], 0
        while total < size:
            batch = self.rng.choices(self.lines, k=max(16, (size - total) // 40))
            pieces.extend(batch)
            total += sum(len(line) for line in batch)
        return "".join(pieces).encode("ascii")[:size]

    def binary(self, size: int, magic: bytes = b"") -> bytes:
        if size <= len(magic):
            return magic[:size]
        return magic + self.rng.randbytes(size - len(magic))


def xml_doc(root: str, fields: dict[str, str]) -> str:
    body = "".join(f"  <{key}>{xml_escape(value)}</{key}>\n" for key, value in fields.items())
    return f'<?xml version="1.0" encoding="UTF-8"?>\n<{root}>\n{body}</{root}>\n'


def docflow_xml(content: Content, instance: bool, users: list[str]) -> str:
    """A docflow definition: stages as a tree, items naming them, approvals on some stages."""
    rng = content.rng
    stage_count = rng.randint(2, 4)
    stages = []
    for number in range(1, stage_count + 1):
        stages.append(
            "      <Stage>\n"
            f"        <ID>S{number}</ID>\n"
            f"        <Parent></Parent>\n"
            f"        <User>{xml_escape(rng.choice(users))}</User>\n"
            f"        <NotifyUser>{xml_escape(rng.choice(users))}</NotifyUser>\n"
            "      </Stage>\n")
        # A reviewing sub-stage under the first stage.
        if number == 1:
            stages.append(
                "      <Stage>\n"
                "        <ID>S1.review</ID>\n"
                "        <Parent>S1</Parent>\n"
                f"        <User>{xml_escape(rng.choice(users))}</User>\n"
                "        <NotifyUser></NotifyUser>\n"
                "      </Stage>\n")
    items = [
        "      <Item>\n        <Type>CALCTABLE</Type>\n        <Stage>S1</Stage>\n"
        "        <Columns>\n"
        "          <Column><Stage>S1</Stage></Column>\n"
        "          <Column><Stage>S1.review</Stage></Column>\n"
        "        </Columns>\n      </Item>\n",
        "      <Item>\n        <Type>TEXT</Type>\n        <Stage>S2</Stage>\n      </Item>\n",
    ]
    approvals = "".join(
        "        <Approval>\n"
        f"          <Label>{label}</Label>\n"
        f"          <User>{xml_escape(rng.choice(users))}</User>\n"
        "          <GroupNotify></GroupNotify>\n"
        "        </Approval>\n" for label in ("Author", "Reviewer", "QA"))
    items.append(
        f"      <Item>\n        <Type>Approval</Type>\n        <Stage>S{stage_count}</Stage>\n"
        f"        <ApprovalIndex>{rng.randint(-1, 2)}</ApprovalIndex>\n{approvals}      </Item>\n")
    header = [f"  <Stage>{rng.randint(1, stage_count) if instance else 0}</Stage>\n",
              f"  <GroupNotify>{rng.choice(['', 'select', 'Select'])}</GroupNotify>\n"]
    if instance:
        header += [
            f"  <save_action>{rng.choice(['', 'undefined', 'submit', 'approve'])}</save_action>\n",
            f"  <Progress>{rng.randint(0, 100)}</Progress>\n",
            f"  <Status>{rng.choice(['Open', 'In review', 'Approved'])}</Status>\n",
            f"  <data_checked_tgs>TG{rng.randint(1, 9)},TG{rng.randint(10, 19)}"
            "</data_checked_tgs>\n",
            "  <regulation_overridden_tgs></regulation_overridden_tgs>\n",
        ]
    else:
        header += [
            f"  <Description>{xml_escape(content.words(6))}</Description>\n",
            f"  <DataAdministrator>{xml_escape(users[0])}</DataAdministrator>\n",
            f"  <RegulationChecker>{xml_escape(users[-1])}</RegulationChecker>\n",
            f"  <Category>{rng.choice(['Stability', 'Release', 'Calibration'])}</Category>\n",
            f"  <TestData>{rng.choice(['true', 'false'])}</TestData>\n",
        ]
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<Root>\n' + "".join(header)
            + "  <Section>\n    <Type>STAGES</Type>\n" + "".join(stages) + "  </Section>\n"
            + "  <Section>\n    <Type>ITEMS</Type>\n" + "".join(items) + "  </Section>\n"
            + "</Root>\n")


def module_xml(name: str, prefix: str, version: str, glevel: str | None) -> str:
    glevel_line = f"    <glevel>{glevel}</glevel>\n" if glevel is not None else ""
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<doc>\n  <module>\n'
            f"    <class>{name}</class>\n    <prefix>{prefix}</prefix>\n"
            f"    <version>{version}</version>\n{glevel_line}  </module>\n</doc>\n")


# ---------------------------------------------------------------------------------------------
# The installation


class Generator:
    def __init__(self, root: Path, documents: int, total_bytes: int, seed: int,
                 hostile_names: bool, hostile_documents: bool, verbose: bool,
                 solr_port: int = 8983) -> None:
        self.root = root
        self.solr_port = solr_port
        self.solr = root / "Brimora" / "solr"
        self.install = root / "Brimora"
        self.execute = self.install / "Execute"
        self.settings = root / "LornithData" / "Settings"
        self.repository = self.install / "SubversionRepository"
        self.file_storage = self.install / "Repository" / "FileStorage"
        self.documents = documents
        self.total_bytes = total_bytes
        self.seed = seed
        self.hostile_names = hostile_names
        self.hostile_documents = hostile_documents
        self.verbose = verbose
        self.rng = random.Random(seed)
        self.content = Content(self.rng)
        self.out = Writer()
        self.users = ["admin", "lab.tech1", "j.müller", "o.ivanova", "qa.lead", "k.tanaka"]

    def say(self, text: str) -> None:
        if self.verbose:
            print(text, file=sys.stderr, flush=True)

    # -- Installation files outside the FileStorage -----------------------------------------

    def make_execute(self) -> None:
        c, w, ex = self.content, self.out.write, self.execute
        w(ex / "reports.xml", xml_doc("Reports", {"Report": c.words(4), "Schedule": "daily"}))
        w(ex / "BrimoraParams.xml", xml_doc("BrimoraParams", {"Site": "Main lab", "Units": "SI"}))
        for suffix in ("Lab2", "Stability", "2021"):
            w(ex / f"BrimoraParams_{suffix}.xml",
              xml_doc("BrimoraParams", {"Site": suffix, "Comment": c.words(5)}))
        w(ex / "XYNTService.ini",
          "[Settings]\nServiceName=BrimoraServer\nProcessCount=1\n"
          "[Process0]\nCommandLine=BrimoraServer --service\nWorkingDir=.\nRestart=Yes\n")
        w(ex / "ScheduledTasks.xml", xml_doc("ScheduledTasks", {"Task": "Nightly backup"}))
        w(ex / "UserDefined.xml", xml_doc("UserDefined", {"Field": c.words(3)}))
        w(ex / "backup.xml", xml_doc("Backup", {"Target": "/backups", "Keep": "7"}))
        w(ex / "MergeUploadConfig.txt", "merge=true\nupload_folder=incoming\nmax_files=500\n")
        w(ex / "units.dat", "".join(f"{u}\t{f}\n" for u, f in
                                     [("mg", "1e-3 g"), ("ug", "1e-6 g"), ("mL", "1e-3 L"),
                                      ("bar", "1e5 Pa"), ("degC", "K - 273.15")]))
        w(ex / "config.drv", "[Drivers]\nHPLC=hplc_driver\nBalance=balance_driver\n")
        w(ex / "ReportJobs.xml", xml_doc("ReportJobs", {"Job": c.words(4)}))
        w(ex / "names.pmp", "".join(f"P{i:04d}\t{c.words(2, '_')}\n" for i in range(200)))
        w(ex / "users.dat", c.binary(4096, b"UDAT"))
        w(ex / "users.xml", '<?xml version="1.0" encoding="UTF-8"?>\n<Users>\n' + "".join(
            f'  <User name="{xml_escape(u)}" role="{r}"/>\n'
            for u, r in zip(self.users, ["admin", "tech", "tech", "tech", "qa", "tech"]))
          + "</Users>\n")
        w(ex / "PartDBConfig.xml", xml_doc("PartDBConfig", {"Database": "../partsdb"}))
        w(ex / "PartsDBExporterConfig.xml", xml_doc("Exporter", {"Format": "csv"}))
        # Utilization data: the plain names and dated variants of the same patterns.
        for name in ("utilization_h.txt", "utilization_h_2021.txt", "UtilDevChans.txt",
                     "UtilDevChans_HPLC2.txt", "UtilDevStates.txt", "UtilDevStates_2021.txt"):
            w(ex / name, c.text(3000))
        for name in ("utilized_h.pkl", "utilized_h_2021.pkl", "unutilized_h.pkl"):
            w(ex / name, c.binary(2500, b"\x80\x04\x95"))
        # Files the backup does not take, as a real Execute folder has them.
        w(ex / "BrimoraServer.exe.config", xml_doc("configuration", {"runtime": ""}))
        w(ex / "ServerVersion.txt", "9.4.1\n")

        web = ex / "WebReports"
        w(web / "Monthly Summary.html", "<html><body><h1>Monthly summary</h1></body></html>\n")
        w(web / "style.css", "body { font-family: sans-serif; }\n")
        w(web / "Templates" / "report.xslt", '<xsl:stylesheet version="1.0"/>\n')
        w(web / "images" / "logo.png", make_png(8, 8, (20, 90, 160)))

        www = ex / "www" / "partsdb"
        w(www / "index.html", "<html><body>Parts Tracker</body></html>\n")
        w(www / "js" / "app.js", "console.log('parts');\n")
        w(www / "css" / "site.css", "table { border: 1px solid; }\n")

        for name in ("changes_2024-01-15.xml", "changes_2024-02-01.xml"):
            w(ex / "partsdb-changelogs" / name, xml_doc("Changes", {"Change": c.words(6)}))

        # The two Parameter Manager image folders share one name, so their merge can be checked.
        pm_web = ex / "www" / "images" / "ParameterManager"
        for index, name in enumerate(["pump.png", "valve.png", "sensor 2@2x.png", "common.png"]):
            w(pm_web / name, make_png(4 + index, 4, (200, 40 * index, 10)))
        pm_local = ex / "ParameterManager" / "images"
        for index, name in enumerate(["common.png", "chart.png", "icons/flow.png"]):
            w(pm_local / name, make_png(6, 6 + index, (10, 160, 40 * index)))

        w(ex / "ssl" / "server.crt", self.pem("CERTIFICATE", 900))
        w(ex / "ssl" / "server.key", self.pem("PRIVATE KEY", 1200), mode=0o600)

    def pem(self, label: str, size: int) -> str:
        import base64
        body = base64.b64encode(self.content.binary(size)).decode("ascii")
        lines = [body[i:i + 64] for i in range(0, len(body), 64)]
        return f"-----BEGIN {label}-----\n" + "\n".join(lines) + f"\n-----END {label}-----\n"

    def make_install_root(self) -> None:
        c, w, inst = self.content, self.out.write, self.install
        w(inst / "config.ini",
          "[Brimora]\nBrimoraSettingsFolder=../LornithData/Settings\nLanguage=en\n")
        w(inst / "CmdList.cfg", "".join(f"{cmd}=allow\n" for cmd in
                                        ("ListSamples", "ApproveResult", "ExportReport")))
        w(inst / "GenericFileEditor.xml", xml_doc("GenericFileEditor", {"Files": "*.xml;*.ini"}))

        logs = inst / "Logs"
        for name in ("BrimoraServerAccess.txt", "BrimoraServerAccess_Prev.txt",
                     "BrimoraServerLog.txt", "BrimoraServerLog_prev.txt",
                     "BrimoraServerErrors.txt", "XYNTService.log"):
            w(logs / name, c.text(20000))

        parts = inst / "partsdb"
        w(parts / "parts.db", c.binary(64 * 1024, b"SQLite format 3\x00"))
        w(parts / "parts.idx", c.binary(8 * 1024))
        w(parts / "attachments" / "P-1001 datasheet.pdf", c.binary(12000, b"%PDF-1.7\n"))
        w(parts / "attachments" / "P-1002.txt", c.text(1500))

        for user in self.users:
            home = inst / "Users" / user
            w(home / "Settings.xml", xml_doc("UserSettings", {"Theme": "light", "Name": user}))
            w(home / "Favorites.xml", xml_doc("Favorites", {"Item": c.words(3)}))
            w(home / "Layouts" / "Default.layout", c.text(800))
            w(home / "Reports" / f"{c.words(2, '_')}.csv", c.text(2000))
        odd_home = inst / "Users" / "j.müller" / "Meine Dateien"
        for name in AWKWARD_FILE_NAMES:
            w(odd_home / name, c.text(300))
        if self.hostile_names:
            w(os.fsencode(inst / "Users" / "lab.tech1") + b"/" + HOSTILE_NAME, c.text(100))

    def make_settings(self) -> None:
        c, w, s = self.content, self.out.write, self.settings
        inst = self.install
        fields = {
            "ServerName": "Brimora",
            "PartTrackerDatabasePath": str(inst / "partsdb"),
            "RevisionControlURL": file_url(self.repository),
            "SSLCertificatePath": str(self.execute / "ssl" / "server.crt"),
            "SSLKeyPath": str(self.execute / "ssl" / "server.key"),
            "EnableSSL": "true",
            "SolrFolder": str(self.solr),
            "SolrPort": str(self.solr_port),
            "SolrTimeoutSecs": "120",
        }
        w(s / "Brimora.xml", xml_doc("BrimoraSettings", fields))
        systems = "".join(f'  <TestSystem id="TS{i}" name="{c.words(2)}"/>\n' for i in range(1, 9))
        w(s / "TestSystems.xml",
          f'<?xml version="1.0" encoding="UTF-8"?>\n<TestSystems>\n{systems}</TestSystems>\n')
        w(s / "TestSystemGroups.xml", xml_doc("TestSystemGroups", {"Group": "TS1,TS2,TS3"}))
        # One change log shares its name with one under Execute: the backup merges both folders.
        for name in ("changes_2024-02-01.xml", "changes_2024-03-10.xml"):
            w(s / "partsdb-changelogs" / name, xml_doc("Changes", {"Change": c.words(6)}))

    def make_search_server(self) -> None:
        """The search server folder: the stand-in's control script and server, and the cores."""
        c, w, solr = self.content, self.out.write, self.solr
        for name in ("solr", "solr_standin.py"):
            w(solr / "bin" / name, (SEARCH_STANDIN / name).read_bytes(), mode=0o755)
        w(solr / "server" / "solr" / "solr.xml",
          '<?xml version="1.0" encoding="UTF-8"?>\n<solr>\n  <int name="maxBooleanClauses">1024</int>\n'
          "</solr>\n")
        (solr / "server" / "logs").mkdir(parents=True, exist_ok=True)
        for core, count in SEARCH_CORES.items():
            folder = solr / "server" / "solr" / core
            w(folder / "core.properties", f"name={core}\nconfigSet=_default\n")
            w(folder / "conf" / "managed-schema.xml",
              '<?xml version="1.0" encoding="UTF-8"?>\n<schema name="' + core + '" version="1.6">\n'
              '  <uniqueKey>id</uniqueKey>\n</schema>\n')
            documents = [{"id": f"{core}-{number:04d}", "title": c.words(4),
                          "text": c.words(20), "author": c.rng.choice(self.users),
                          "created": f"2024-{c.rng.randint(1, 12):02d}-{c.rng.randint(1, 28):02d}T"
                                     f"{c.rng.randint(0, 23):02d}:00:00Z"}
                         for number in range(1, count + 1)]
            solr_standin.add_documents(folder, documents)

    # -- The FileStorage ---------------------------------------------------------------------

    def make_fixed_documents(self, archiver: str | None) -> None:
        c, w, fs = self.content, self.out.write, self.file_storage
        w(fs / "Config" / "units.dat", (self.execute / "units.dat").read_bytes())
        for number in range(1, 5):
            w(fs / "docflows" / "instances" / f"DF-{number:04d} {c.words(2)}.xml",
              docflow_xml(c, True, self.users))
        for name in ("Stability study", "Batch release", "Calibration"):
            w(fs / "docflows" / "templates" / f"{name}.xml", docflow_xml(c, False, self.users))
        for name in ("Quarterly report.xml", "Certificate of analysis.xml"):
            w(fs / "ReportTemplates" / name, xml_doc("ReportTemplate", {"Title": c.words(3)}))

        modules = [("Modules", "Chromatography", "CHR", "3.2.1", "2"),
                   ("Modules", "Dissolution", "DIS", "1.0.0", None),
                   ("Modules_Development", "Viscosity", "VIS", "0.9.0", "1")]
        for folder, name, prefix, version, glevel in modules:
            data = self.zip_module(archiver, module_xml(name, prefix, version, glevel))
            w(fs / folder / f"{name}.zip", data)

    def zip_module(self, archiver: str | None, module: str) -> bytes:
        """A module archive: module.xml at the top and script files in a sub-folder."""
        scripts = {"scripts/main.py": self.content.text(2000),
                   "scripts/helpers.py": self.content.text(1000)}
        with tempfile.TemporaryDirectory() as temp:
            stage = Path(temp) / "module"
            (stage / "scripts").mkdir(parents=True)
            (stage / "module.xml").write_text(module, encoding="utf-8")
            for name, data in scripts.items():
                (stage / name).write_bytes(data)
            # Fixed times make the archive the same on every run.
            for path in [stage / "scripts", stage / "module.xml"] + [stage / n for n in scripts]:
                os.utime(path, (ARCHIVE_TIME, ARCHIVE_TIME))
            archive = Path(temp) / "module.zip"
            if archiver:
                result = subprocess.run([archiver, "a", "-tzip", "-bd", str(archive),
                                         "module.xml", "scripts"], cwd=stage,
                                        stdin=subprocess.DEVNULL, capture_output=True)
                if result.returncode != 0:
                    raise GeneratorError("7-Zip failed: "
                                         + result.stdout.decode("utf-8", "replace")[-500:])
            else:
                import zipfile
                with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as handle:
                    for name in ["module.xml"] + list(scripts):
                        handle.write(stage / name, name)
            return archive.read_bytes()

    def document_sizes(self) -> list[int]:
        """Sizes of mixed magnitude (log-normal) adding up to exactly the requested total."""
        if self.documents == 0:
            return []
        weights = [0.0 if self.rng.random() < 0.02 else self.rng.lognormvariate(0, 1.6)
                   for _ in range(self.documents)]
        scale = self.total_bytes / (sum(weights) or 1.0)
        sizes = [int(weight * scale) for weight in weights]
        largest = max(range(len(sizes)), key=sizes.__getitem__)
        sizes[largest] += self.total_bytes - sum(sizes)
        return sizes

    def document_folders(self) -> list[list[Path]]:
        """Folders of the further documents, grouped by top-level folder (one commit each)."""
        # About 100 documents a folder, but at least two folders a group when there are enough.
        count = min(max(1, self.documents), max(2 * len(DOCUMENT_GROUPS),
                                                 math.ceil(self.documents / 100)))
        groups: list[list[Path]] = [[] for _ in DOCUMENT_GROUPS]
        awkward = iter(AWKWARD_FOLDER_NAMES)
        for index in range(count):
            group = index % len(DOCUMENT_GROUPS)
            name = next(awkward, None) if index % 5 == 2 else None
            if name is None:
                name = f"{DOCUMENT_GROUPS[group][:-1]} {index + 1:04d} {self.content.words(1)}"
            folder = self.file_storage / DOCUMENT_GROUPS[group] / name
            if self.rng.random() < 0.5:
                folder = folder / self.rng.choice(["Raw data", "Reports", "2024", "Q3"])
            groups[group].append(folder)
        return [g for g in groups if g]

    def make_documents(self) -> list[Path]:
        """Writes the further documents; answers the top-level folders that hold them."""
        sizes = self.document_sizes()
        groups = self.document_folders()
        folders = [folder for group in groups for folder in group]
        awkward = iter(AWKWARD_FILE_NAMES)
        # Spread the awkward names over the first folders, all of them even in a small sample.
        stride = max(1, min(23, self.documents // len(AWKWARD_FILE_NAMES)))
        used: set[Path] = set()
        for index, size in enumerate(sizes):
            folder = folders[index % len(folders)]
            name = next(awkward, None) if index % stride == 0 else None
            text = self.rng.random() < 0.5
            if name is None:
                ext = (self.rng.choice(TEXT_EXTENSIONS) if text
                       else self.rng.choice(list(BINARY_EXTENSIONS)))
                name = f"{self.content.words(2, '_')}_{index:05d}{ext}"
            path = folder / name
            if path in used:
                path = folder / f"{index:05d} {name}"
            used.add(path)
            ext = Path(name).suffix
            if ext in BINARY_EXTENSIONS or ext == ".png":
                data = self.content.binary(size, BINARY_EXTENSIONS.get(ext, b"\x89PNG\r\n\x1a\n"))
            else:
                data = self.content.text(size)
            self.out.write(path, data)
        return sorted({path.relative_to(self.file_storage).parts[0] for path in used})

    # -- Subversion ---------------------------------------------------------------------------

    def make_repository(self, svn: Svn) -> None:
        svn.run(["create", str(self.repository)], program="svnadmin")
        repo_uuid = uuid.UUID(int=random.Random(self.seed).getrandbits(128), version=4)
        svn.run(["setuuid", str(self.repository), str(repo_uuid)], program="svnadmin")
        svn.run(["checkout", file_url(self.repository), str(self.file_storage)])

    def commit(self, svn: Svn, folders: list[str], message: str,
               revprops: dict | None = None) -> None:
        svn.run(["add", "--force", "--no-ignore", "--parents"] + [svn_target(f) for f in folders],
                cwd=self.file_storage)
        extra = []
        for key, value in (revprops or {}).items():
            extra += ["--with-revprop", f"{key}={value}"]
        svn.run(["commit", "-m", message, "--username", SVN_USER] + extra
                + [svn_target(f) for f in folders], cwd=self.file_storage)

    def set_properties(self, svn: Svn) -> None:
        """Versioned properties as the server's check-ins leave them on docflows and modules."""
        fs = self.file_storage
        tracked = sorted(str(p.relative_to(fs)) for folder in ("docflows", "Modules",
                                                                "Modules_Development", "Config")
                         for p in (fs / folder).rglob("*") if p.is_file())
        svn.run_on_targets(["propset", "version", "1"], tracked, fs)
        svn.run_on_targets(["propset", "username", "admin"], tracked, fs)
        instances = [t for t in tracked if t.startswith("docflows/instances/")]
        svn.run_on_targets(["propset", "docflow_status", "Open"], instances, fs)
        svn.run_on_targets(["propset", "docflow_progress", "0"], instances, fs)

    def make_history(self, svn: Svn, groups: list[str]) -> None:
        """A later revision that changes a few documents, so the repository holds deltas."""
        fs = self.file_storage
        changed = []
        for group in groups:
            files = sorted(p for p in (fs / group).rglob("*") if p.is_file())
            for path in files[:3]:
                with open(path, "ab") as handle:
                    handle.write(b"\nrevised\n")
                changed.append(str(path.relative_to(fs)))
        instance = sorted((fs / "docflows" / "instances").glob("*.xml"))[0]
        instance.write_text(instance.read_text(encoding="utf-8").replace(
            "<Status>", "<Status>Revised ", 1), encoding="utf-8")
        changed.append(str(instance.relative_to(fs)))
        if changed:
            # One file that needs a lock: Subversion keeps it read-only in the working copy.
            svn.run_on_targets(["propset", "svn:needs-lock", "*"], changed[:1], fs)
            svn.run_on_targets(["propset", "version", "2"], changed, fs)
            svn.run(["commit", "-m", "Revised documents", "--username", SVN_USER,
                     "--with-revprop", "username=qa.lead"], cwd=fs)
            svn.run(["update"], cwd=fs)

    def add_hostile_document(self, svn: Svn, groups: list[str]) -> None:
        """A name that is not valid UTF-8: committed when the client takes it, else unversioned."""
        folder = os.fsencode(self.file_storage / (groups[0] if groups else "Config"))
        self.out.write(folder + b"/" + HOSTILE_NAME, self.content.text(200))
        path = folder + b"/" + HOSTILE_NAME
        added = svn.run(["add", path + b"@"], cwd=self.file_storage, check=False)
        if added.returncode == 0:
            committed = svn.run(["commit", "-m", "Imported file with a legacy name",
                                 "--username", SVN_USER, path + b"@"],
                                cwd=self.file_storage, check=False)
            if committed.returncode == 0:
                self.say("  the client accepted the invalid UTF-8 name")
                return
            svn.run(["revert", path + b"@"], cwd=self.file_storage, check=False)
        self.say("  the client refused the invalid UTF-8 name: it stays unversioned")

    def check_working_copy(self, svn: Svn) -> None:
        status = svn.run(["status", "--no-ignore"], cwd=self.file_storage, check=False)
        lines = [line for line in status.stdout.split(b"\n") if line.strip()
                 and HOSTILE_NAME not in line]
        # Status cannot print the invalid name and reports it as an error instead.
        if lines:
            print("warning: the working copy is not clean:\n"
                  + b"\n".join(lines[:10]).decode("utf-8", "replace"), file=sys.stderr)

    # -- The run ------------------------------------------------------------------------------

    def run(self) -> None:
        archiver = find_archiver()
        if archiver is None:
            self.say("no 7-Zip command found: module archives are made with Python's zipfile")
        for tool in ("svn", "svnadmin"):
            if shutil.which(tool) is None:
                raise GeneratorError(f"{tool} is not on PATH")
        with tempfile.TemporaryDirectory(prefix="svn-config-") as config_dir:
            svn = Svn(Path(config_dir), self.verbose)
            self.say("installation files")
            self.make_execute()
            self.make_install_root()
            self.make_settings()
            self.say("repository and working copy")
            self.make_repository(svn)
            self.make_fixed_documents(archiver)
            self.commit(svn, ["Config", "ReportTemplates"], "Created Config and report templates")
            self.commit(svn, ["docflows", "Modules", "Modules_Development"],
                        "Imported docflows and modules", {"username": "admin"})
            self.say(f"{self.documents} documents, {self.total_bytes} bytes")
            groups = self.make_documents()
            for group in groups:
                self.say(f"  committing {group}")
                self.commit(svn, [group], f"Imported {group}")
            self.set_properties(svn)
            self.make_history(svn, groups)
            if self.hostile_names and self.hostile_documents:
                self.add_hostile_document(svn, groups)
            self.check_working_copy(svn)
            self.say("search server")
            self.make_search_server()


def count_tree(root: Path) -> tuple[int, int]:
    files = size = 0
    for folder, _, names in os.walk(os.fsencode(root)):
        for name in names:
            info = os.lstat(os.path.join(folder, name))
            files += 1
            size += info.st_size
    return files, size


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("root", type=Path, help="folder to build in (new or empty)")
    parser.add_argument("--documents", type=int, default=200, metavar="N",
                        help="further documents in the FileStorage (default 200)")
    parser.add_argument("--total-bytes", type=parse_size, default=parse_size("20MB"),
                        metavar="BYTES", help="their total size, e.g. 20MB, 1GiB (default 20MB)")
    parser.add_argument("--seed", type=int, default=1, help="random seed (default 1)")
    parser.add_argument("--hostile-names", action=argparse.BooleanOptionalAction, default=True,
                        help="add one file whose name is not valid UTF-8 (default on)")
    parser.add_argument("--solr-port", type=int, default=8983, metavar="PORT",
                        help="the search server's port in the settings (default 8983)")
    parser.add_argument("--hostile-documents", action=argparse.BooleanOptionalAction, default=True,
                        help="with --hostile-names, put one such file among the documents too; "
                        "the client refuses it and 'svn status' fails on it (default on)")
    parser.add_argument("-v", "--verbose", action="store_true", help="progress on stderr")
    args = parser.parse_args(argv)
    if args.documents < 0 or args.total_bytes < 0:
        parser.error("--documents and --total-bytes must not be negative")
    if not 1 <= args.solr_port <= 65535:
        parser.error("--solr-port must be 1 to 65535")

    root = args.root.absolute()
    try:
        # The settings hold the paths as XML text, so they must be valid UTF-8.
        os.fsencode(root).decode("utf-8")
    except UnicodeDecodeError:
        parser.error("ROOT must be a UTF-8 path")
    if root.exists() and (not root.is_dir() or any(root.iterdir())):
        print(f"error: {root} exists and is not an empty folder", file=sys.stderr)
        return 2
    root.mkdir(parents=True, exist_ok=True)

    started = time.monotonic()
    try:
        Generator(root, args.documents, args.total_bytes, args.seed, args.hostile_names,
                  args.hostile_documents, args.verbose, args.solr_port).run()
    except (GeneratorError, OSError) as error:
        print(f"error: {error}", file=sys.stderr)
        return 1
    files, size = count_tree(root)
    print(f"{root}: {files} files, {size} bytes, {time.monotonic() - started:.1f} seconds "
          f"({args.documents} documents of {args.total_bytes} bytes, seed {args.seed})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
