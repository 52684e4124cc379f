#!/usr/bin/env python3
"""Measures a BrimoraUpgrade backup against `cp -a` of the same folders.

    benchmark.py [--files 20000] [--total-bytes 1GiB] [--rounds 5] [--keep]
                 [--tool PATH] [--baseline-tool PATH] [--memory-files N] [--workdir DIR] [--seed S]
                 [--incremental | --progress-cost]

Builds the release tool (unless --tool names one), generates a sample installation with
make_sample_installation.py in a temporary folder (with the defaults this takes several minutes),
then runs the rounds: each round times one backup by the tool (wall time and the tool's peak
resident memory) and one `cp -a` of the folders the backup reads, each into a fresh folder on the
same disk, and removes both copies before the next round. As root, the page cache is dropped
before every timed run (cold runs); otherwise the source tree is read once, untimed, and every run
is warm. Every copy is made durable before its time stops: the tool flushes its backup itself,
and `cp -a` (and a --baseline-tool, a build of an earlier version) is followed by `sync -f` on its
target, so durability is compared with durability. Each round also times `--verify` of the tool's
backup and `sha256sum --check` of the same files. At the end a second installation with
--memory-files documents (default a quarter, with a quarter of the bytes) is backed up and
verified once, so it shows whether the tool's memory grows with the number of files.

With --incremental it measures instead a second backup of an unchanged installation, which
takes its files from the first: one untimed full backup, then alternating rounds of the tool's
backup with --linkdest of the first, `cp -a` of the same folders and `rsync -a --link-dest` of an
earlier rsync copy, each followed by `sync -f` as the tool flushes its backup; then the disk space
the second backup adds (du of both minus du of the first); then the same rounds with 5% of the
documents changed. Where the time goes is shown by the parts one can time alone: a walk that
examines every source file (`find -printf`), and `cp -al` of the first backup (a link per file).

With --progress-cost it measures what the progress line costs: alternating backups under a
pseudo-terminal (`script`), one with --progress and one with --quiet, each followed by its flush.

A backup that fails does not stop the measuring: its exit code and the tails of its output and
logs are printed. The exit code is 0 when the measurements ran, 1 when the tool could not be built
or the installation not generated.
"""

from __future__ import annotations

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path

SCRIPTS = Path(__file__).resolve().parent
PROJECT = SCRIPTS.parent
sys.path.insert(0, str(SCRIPTS))
from make_sample_installation import parse_size  # noqa: E402

DROP_CACHES = Path("/proc/sys/vm/drop_caches")
TAIL_LINES = 15


@dataclass
class Run:
    seconds: float
    peak_kib: int
    exit_code: int
    files: int = 0


@dataclass
class Installation:
    root: Path

    @property
    def install(self) -> Path:
        return self.root / "Brimora"

    @property
    def sources(self) -> list[Path]:
        """What a backup reads, folders and two single files: cp -a copies the same."""
        i = self.install
        return [i / "Repository", i / "SubversionRepository", i / "Execute", i / "Users",
                i / "Logs", i / "partsdb", self.root / "LornithData" / "Settings",
                i / "CmdList.cfg", i / "GenericFileEditor.xml"]


# ---------------------------------------------------------------------------------------------
# Helpers


def say(text: str = "") -> None:
    print(text, flush=True)


def tail(path: Path, lines: int = TAIL_LINES) -> str:
    try:
        text = path.read_bytes().decode("utf-8", "replace").lstrip("\ufeff")
    except OSError:
        return "    (none)"
    return "\n".join("    " + line for line in text.splitlines()[-lines:]) or "    (empty)"


def filesystem_type(path: Path) -> str:
    """Type of the file system that holds path, from the longest matching mount point."""
    best, kind = "", "unknown"
    real = os.path.realpath(path)
    try:
        with open("/proc/mounts", encoding="utf-8", errors="replace") as mounts:
            for line in mounts:
                fields = line.split()
                if len(fields) < 3:
                    continue
                point = fields[1].replace("\\040", " ")
                inside = real == point or real.startswith(point.rstrip("/") + "/")
                if inside and len(point) > len(best):
                    best, kind = point, fields[2]
    except OSError:
        pass
    return kind


def default_workdir() -> Path:
    # A RAM file system would measure memory copies, not the disk: use the build folder then.
    temp = Path(tempfile.gettempdir())
    if filesystem_type(temp) in ("tmpfs", "ramfs"):
        build = PROJECT / "build"
        build.mkdir(exist_ok=True)
        return build
    return temp


def remove_tree(path: Path) -> None:
    def make_writable(function, failed, _info):
        os.chmod(os.path.dirname(failed) or ".", 0o700)
        if os.path.isdir(failed) and not os.path.islink(failed):
            os.chmod(failed, 0o700)
        function(failed)

    if os.path.lexists(path):
        shutil.rmtree(path, onerror=make_writable)


def count_files(path: Path) -> int:
    return sum(len(names) for _, _, names in os.walk(os.fsencode(path)))


def read_tree(paths: list[Path]) -> None:
    """Reads every regular file once, so that warm runs find the same cache."""
    for top in paths:
        if os.path.isfile(top):
            with open(top, "rb") as handle:
                handle.read()
            continue
        for folder, _, names in os.walk(os.fsencode(top)):
            for name in names:
                full = os.path.join(folder, name)
                if not os.path.isfile(full) or os.path.islink(full):
                    continue
                try:
                    with open(full, "rb") as handle:
                        while handle.read(1 << 20):
                            pass
                except OSError:
                    pass


class PageCache:
    """Puts the cache in the same state before every timed run: dropped (root) or warm."""

    def __init__(self) -> None:
        self.cold = os.geteuid() == 0 and self._drop()

    @staticmethod
    def _drop() -> bool:
        subprocess.run(["sync"], check=False)
        try:
            DROP_CACHES.write_text("3\n")
            return True
        except OSError:
            return False

    def describe(self) -> str:
        if self.cold:
            return "cold: the page cache is dropped before every timed run"
        reason = "not root" if os.geteuid() != 0 else f"{DROP_CACHES} is not writable"
        return f"warm ({reason}): one untimed read of the sources first, then warm runs"

    def prepare(self) -> None:
        # Writes of the previous run are flushed in every mode, so no run pays for another's.
        if not (self.cold and self._drop()):
            subprocess.run(["sync"], check=False)


def gnu_time() -> str | None:
    """GNU time, when present: it reports the exact peak resident memory of its child."""
    path = shutil.which("time")
    if path is None and os.access("/usr/bin/time", os.X_OK):
        path = "/usr/bin/time"
    if path is None:
        return None
    probe = subprocess.run([path, "-f", "%M", "-o", os.devnull, "true"], capture_output=True,
                           stdin=subprocess.DEVNULL, check=False)
    return path if probe.returncode == 0 else None


def high_water_kib(pid: int) -> int | None:
    try:
        with open(f"/proc/{pid}/status", encoding="ascii", errors="replace") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except (OSError, ValueError):
        pass
    return None


def timed(command: list, cwd: Path, output: Path) -> Run:
    """Runs command with its output in a file; wall time and the command's peak resident memory.

    The rusage of a child of this script is no use for the memory: a forked child keeps the
    largest resident size of the Python process it was copied from. GNU time forks from a small
    process and measures exactly; without it the high-water mark of the running command is polled
    from /proc (a peak in the last few milliseconds may then be missed).
    """
    time_command = gnu_time()
    peak_file = output.with_suffix(".peak")
    if time_command:
        command = [time_command, "-f", "%M", "-o", str(peak_file), "--"] + command
    peak = 0
    with open(output, "wb") as out:
        started = time.perf_counter()
        try:
            child = subprocess.Popen(command, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out,
                                     stderr=subprocess.STDOUT)
        except OSError as error:
            out.write(f"could not start {command[0]}: {error}\n".encode())
            return Run(0.0, 0, 127)
        while True:
            if not time_command:
                peak = max(peak, high_water_kib(child.pid) or 0)
            pid, status = os.waitpid(child.pid, 0 if time_command else os.WNOHANG)
            if pid:
                break
            time.sleep(0.01)
        seconds = time.perf_counter() - started
        child.returncode = os.waitstatus_to_exitcode(status)
    if time_command:
        try:
            # When the command was killed, GNU time writes a line about it before the number.
            peak = int(peak_file.read_text().split()[-1])
        except (OSError, ValueError, IndexError):
            peak = 0
    return Run(seconds, peak, child.returncode)


# ---------------------------------------------------------------------------------------------
# Steps


def build_tool() -> Path | None:
    say("Building the release tool (cmake --preset release, target BrimoraUpgrade)...")
    for command in (["cmake", "--preset", "release"],
                    ["cmake", "--build", "--preset", "release", "--target", "BrimoraUpgrade"]):
        result = subprocess.run(command, cwd=PROJECT, stdin=subprocess.DEVNULL,
                                capture_output=True, text=True, errors="replace")
        if result.returncode != 0:
            say(f"error: {' '.join(command)} failed with exit code {result.returncode}:")
            say("\n".join((result.stdout + result.stderr).splitlines()[-30:]))
            return None
    return PROJECT / "build" / "release" / "BrimoraUpgrade"


def generate(root: Path, documents: int, total_bytes: int, seed: int) -> Installation | None:
    say(f"Generating an installation of {documents} documents, {total_bytes} bytes in {root} "
        "(this may take several minutes)...")
    result = subprocess.run([sys.executable, str(SCRIPTS / "make_sample_installation.py"),
                             str(root), "--documents", str(documents),
                             "--total-bytes", str(total_bytes), "--seed", str(seed)],
                            stdin=subprocess.DEVNULL, capture_output=True, text=True,
                            errors="replace")
    if result.returncode != 0:
        say(f"error: the generator failed with exit code {result.returncode}:\n"
            + (result.stdout + result.stderr).strip())
        return None
    say("  " + result.stdout.strip())
    return Installation(root)


def synced(command: list, target: Path) -> list:
    """The command followed by a flush of the file system it wrote to, timed as one."""
    return ["sh", "-c", '"$@" && sync -f "$0"', str(target)] + command


def run_backup(tool: Path, installation: Installation, target: Path, output: Path,
               cache: PageCache, report_failure: bool, sync: bool = False) -> Run:
    cache.prepare()
    command = [str(tool), "--installpath", str(installation.install), "--backuppath", str(target)]
    run = timed(synced(command, target.parent) if sync else command, installation.install / "Execute", output)
    if run.exit_code == 0:
        run.files = count_files(target)
    elif report_failure:
        logs = installation.install / "Logs"
        say(f"  the backup exited with code {run.exit_code}; measuring goes on.")
        say(f"  tool output ({output}):\n{tail(output)}")
        say(f"  {logs / 'BackupLog.log'}:\n{tail(logs / 'BackupLog.log')}")
        for name in ("BrimoraUpgradeErrors.txt", "BrimoraUpgradeLog.txt"):
            say(f"  {logs / name}:\n{tail(logs / name)}")
    return run


def run_copy(installation: Installation, target: Path, output: Path, cache: PageCache) -> Run:
    target.mkdir(parents=True)
    cache.prepare()
    run = timed(synced(["cp", "-a"] + [str(s) for s in installation.sources if s.exists()] + [str(target)], target),
                target.parent, output)
    if run.exit_code != 0:
        say(f"  cp -a exited with code {run.exit_code}:\n{tail(output)}")
    run.files = count_files(target)
    return run


def run_verify(tool: Path, backup: Path, output: Path, cache: PageCache) -> tuple[Run, Run]:
    """--verify of a backup, and sha256sum --check of the same files, both from a cold cache."""
    cache.prepare()
    verify = timed([str(tool), "--verify", "--backuppath", str(backup)], backup, output)
    cache.prepare()
    check = timed(["sha256sum", "--check", "--quiet", "SHA256SUMS"], backup, output.with_suffix(".sha256sum"))
    return verify, check


def prepare(args: argparse.Namespace, work: Path) -> tuple[Installation, PageCache, Path, Path] | None:
    """The installation to measure, the page cache's mode, and empty folders for backups and copies."""
    large = generate(work / "install", args.files, args.total_bytes, args.seed)
    if large is None:
        return None
    cache = PageCache()
    say(f"Page cache: {cache.describe()}")
    if not cache.cold:
        read_tree(large.sources)
    backups, copies = work / "backups", work / "copies"
    backups.mkdir()
    copies.mkdir()
    return large, cache, backups, copies


def disk_kib(*paths: Path) -> int:
    """Disk use of the folders together (du counts a file linked into two of them once)."""
    result = subprocess.run(["du", "-skc"] + [str(p) for p in paths], capture_output=True, text=True, check=False)
    return int(result.stdout.strip().splitlines()[-1].split()[0])


def change_documents(installation: Installation, share: float) -> int:
    """Appends a line to every n-th document of the working copy; answers how many changed."""
    documents = sorted(p for p in (installation.install / "Repository").rglob("*")
                       if p.is_file() and ".svn" not in p.parts)
    step = max(1, round(1 / share))
    for document in documents[::step]:
        with open(document, "ab") as out:
            out.write(b"changed\n")
    return len(documents[::step])


def measure_incremental(args: argparse.Namespace, work: Path, tool: Path) -> int:
    prepared = prepare(args, work)
    if prepared is None:
        return 1
    large, cache, backups, copies = prepared
    first = backups / "first"
    if run_backup(tool, large, first, work / "backup-output-first.txt", cache, True).exit_code != 0:
        return 1
    sources = [str(s) for s in large.sources if s.exists()]
    rsync_first = copies / "rsync-first"
    rsync_first.mkdir()
    subprocess.run(["rsync", "-a"] + sources + [str(rsync_first)], check=True)

    def rounds(title: str) -> None:
        say("")
        say(f"{title}")
        say("round  second backup s  exit  linked  cloned  copied   cp -a s  rsync s   /cp   /rsync")
        ratios_cp, ratios_rsync = [], []
        for number in range(1, args.rounds + 1):
            second = backups / "second"
            cache.prepare()
            command = [str(tool), "--installpath", str(large.install), "--backuppath", str(second),
                       "--linkdest", str(first)]
            backup = timed(command, large.install / "Execute", work / f"incremental-output-{number}.txt")
            copies_made = {}
            try:
                record = __import__("json").loads((second / "BackupInfo.json").read_text())
                copies_made = {k: v["files"] for k, v in record.get("copies", {}).items()}
            except (OSError, ValueError):
                pass
            if number == 1:
                added = disk_kib(first, second) - disk_kib(first)
                say(f"  disk added by the second backup: {added} KiB, {added / disk_kib(first):.2%} of the first")
            remove_tree(second)
            copy = run_copy(large, copies / "cp", work / f"cp-output-{number}.txt", cache)
            remove_tree(copies / "cp")
            target = copies / "rsync"
            target.mkdir()
            cache.prepare()
            rsync = timed(synced(["rsync", "-a", f"--link-dest={rsync_first}"] + sources + [str(target)], target),
                          target.parent, work / f"rsync-output-{number}.txt")
            remove_tree(target)
            ratios_cp.append(backup.seconds / copy.seconds)
            ratios_rsync.append(backup.seconds / rsync.seconds)
            say(f"{number:>5}  {backup.seconds:15.2f}  {backup.exit_code:>4}  {copies_made.get('linked', 0):>6}"
                f"  {copies_made.get('cloned', 0):>6}  {copies_made.get('copied', 0):>6}  {copy.seconds:8.2f}"
                f"  {rsync.seconds:7.2f}  {ratios_cp[-1]:5.2f}  {ratios_rsync[-1]:6.2f}")
        say(f"Second backup / cp -a: {spread(ratios_cp)}")
        say(f"Second backup / rsync -a --link-dest: {spread(ratios_rsync)}")

    rounds("Unchanged installation:")
    cache.prepare()
    walk = timed(["find"] + sources + ["-printf", ""], work, work / "find-output.txt")
    links = copies / "cp-al"
    cache.prepare()
    linked = timed(synced(["cp", "-al", str(first), str(links)], copies), work, work / "cp-al-output.txt")
    remove_tree(links)
    say(f"Parts: examining every source file {walk.seconds:.2f} s; cp -al of the first backup "
        f"{linked.seconds:.2f} s")
    changed = change_documents(large, 0.05)
    rounds(f"With {changed} documents (5%) changed:")
    return 0


def measure_progress_cost(args: argparse.Namespace, work: Path, tool: Path) -> int:
    prepared = prepare(args, work)
    if prepared is None:
        return 1
    large, cache, backups, _ = prepared
    say("")
    say("round  --progress s  exit  --quiet s  exit  progress/quiet")
    ratios = []
    for number in range(1, args.rounds + 1):
        seconds = {}
        for switch in ("--progress", "--quiet"):
            target = backups / f"round-{number}{switch}"
            command = " ".join(f"'{part}'" for part in [str(tool), "--installpath", str(large.install),
                                                         "--backuppath", str(target), switch])
            cache.prepare()
            # script gives the tool a pseudo-terminal as its standard error, as an administrator's.
            run = timed(["script", "-qfec", command, "/dev/null"], large.install / "Execute",
                        work / f"progress-output-{number}{switch}.txt")
            seconds[switch] = run
            remove_tree(target)
        ratios.append(seconds["--progress"].seconds / seconds["--quiet"].seconds)
        say(f"{number:>5}  {seconds['--progress'].seconds:11.2f}  {seconds['--progress'].exit_code:>4}"
            f"  {seconds['--quiet'].seconds:9.2f}  {seconds['--quiet'].exit_code:>4}  {ratios[-1]:14.3f}")
    say(f"Backup with --progress / with --quiet, under a pseudo-terminal: {spread(ratios)}")
    return 0


def spread(values: list[float]) -> str:
    return f"median {statistics.median(values):.2f} (from {min(values):.2f} to {max(values):.2f})"


def mib(kib: int) -> str:
    return f"{kib / 1024:.1f}"


def measure(args: argparse.Namespace, work: Path) -> int:
    tool = args.tool.resolve() if args.tool else build_tool()
    if tool is None:
        return 1
    if not os.access(tool, os.X_OK):
        say(f"error: {tool} is not an executable file")
        return 1
    say(f"Tool: {tool}")
    say(f"Work folder: {work} ({filesystem_type(work)})")
    if args.incremental:
        return measure_incremental(args, work, tool)
    if args.progress_cost:
        return measure_progress_cost(args, work, tool)

    prepared = prepare(args, work)
    if prepared is None:
        return 1
    large, cache, backups, copies = prepared
    baseline = args.baseline_tool.resolve() if args.baseline_tool else None
    say("")
    say("round  backup s  exit  peak MiB  files    cp -a s  files    backup/cp  baseline s  verify s  sha256sum s")
    rows: list[tuple[Run, Run, Run | None, Run, Run]] = []
    failure_reported = False
    for number in range(1, args.rounds + 1):
        target = backups / f"round-{number}"
        backup = run_backup(tool, large, target, work / f"backup-output-{number}.txt", cache, not failure_reported)
        failure_reported = failure_reported or backup.exit_code != 0
        verify, check = run_verify(tool, target, work / f"verify-output-{number}.txt", cache)
        remove_tree(target)
        copy = run_copy(large, copies / f"round-{number}", work / f"cp-output-{number}.txt", cache)
        remove_tree(copies / f"round-{number}")
        old = None
        if baseline is not None:
            old = run_backup(baseline, large, target, work / f"baseline-output-{number}.txt", cache, False, sync=True)
            remove_tree(target)
        ratio = backup.seconds / copy.seconds if copy.seconds > 0 else float("nan")
        say(f"{number:>5}  {backup.seconds:8.2f}  {backup.exit_code:>4}  {mib(backup.peak_kib):>8}"
            f"  {backup.files:<7}  {copy.seconds:7.2f}  {copy.files:<7}  {ratio:9.2f}"
            f"  {old.seconds if old else float('nan'):10.2f}  {verify.seconds:8.2f}  {check.seconds:11.2f}")
        rows.append((backup, copy, old, verify, check))

    succeeded = sum(1 for b, *_ in rows if b.exit_code == 0)
    say("")
    say(f"Backup / cp -a (both durable): {spread([b.seconds / c.seconds for b, c, *_ in rows if c.seconds > 0])}")
    if baseline is not None:
        say(f"Backup / baseline backup + sync -f: {spread([b.seconds / o.seconds for b, _, o, *_ in rows if o and o.seconds > 0])}")
    say(f"Verify / sha256sum --check: {spread([v.seconds / k.seconds for *_, v, k in rows if k.seconds > 0])}")
    say(f"Medians: backup {statistics.median(b.seconds for b, *_ in rows):.2f} s, "
        f"cp -a {statistics.median(c.seconds for _, c, *_ in rows):.2f} s, "
        f"verify {statistics.median(v.seconds for *_, v, _ in rows):.2f} s, "
        f"sha256sum {statistics.median(k.seconds for *_, k in rows):.2f} s")
    if succeeded < len(rows):
        say(f"Note: the backup succeeded in {succeeded} of {len(rows)} rounds; the times of a "
            "failing backup do not measure a whole backup.")
    say(f"Peak resident memory: backup {mib(max(b.peak_kib for b, *_ in rows))} MiB, verify "
        f"{mib(max(v.peak_kib for *_, v, _ in rows))} MiB with {args.files} documents")

    small_files = args.memory_files or max(1, args.files // 4)
    small = generate(work / "install-small", small_files, args.total_bytes * small_files // args.files, args.seed)
    if small is None:
        return 1
    if not cache.cold:
        read_tree(small.sources)
    backup = run_backup(tool, small, backups / "small", work / "backup-output-small.txt", cache,
                        not failure_reported)
    verify, _ = run_verify(tool, backups / "small", work / "verify-output-small.txt", cache)
    remove_tree(backups / "small")
    say(f"Peak resident memory: backup {mib(backup.peak_kib)} MiB, verify {mib(verify.peak_kib)} MiB with "
        f"{small_files} documents (exit codes {backup.exit_code} and {verify.exit_code}, {backup.seconds:.2f} s)")
    return 0


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--files", type=int, default=20000,
                        help="documents in the FileStorage (default 20000)")
    parser.add_argument("--total-bytes", type=parse_size, default=parse_size("1GiB"),
                        help="their total size, e.g. 20MiB, 1GiB (default 1GiB)")
    parser.add_argument("--rounds", type=int, default=5, help="timed rounds (default 5)")
    parser.add_argument("--keep", action="store_true",
                        help="keep the work folder (installations, outputs) afterwards")
    parser.add_argument("--tool", type=Path, help="use this BrimoraUpgrade instead of building")
    parser.add_argument("--baseline-tool", type=Path,
                        help="also time this build (an earlier version) with sync -f after it")
    parser.add_argument("--memory-files", type=int, default=0,
                        help="documents of the second installation (default a quarter of --files)")
    parser.add_argument("--workdir", type=Path,
                        help="parent of the work folder (default: the system temporary folder, "
                             "or build/ when that is a RAM file system)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the generator (default 1)")
    parser.add_argument("--incremental", action="store_true",
                        help="measure a second backup that takes unchanged files from the first")
    parser.add_argument("--progress-cost", action="store_true",
                        help="measure a backup with the progress line against one without")
    args = parser.parse_args(argv)
    if args.files < 1 or args.rounds < 1 or args.total_bytes < 0:
        parser.error("--files and --rounds must be at least 1, --total-bytes not negative")

    parent = args.workdir or default_workdir()
    parent.mkdir(parents=True, exist_ok=True)
    work = Path(tempfile.mkdtemp(prefix="brimora-benchmark-", dir=parent)).resolve()
    try:
        return measure(args, work)
    except KeyboardInterrupt:
        say("interrupted")
        return 130
    finally:
        if args.keep:
            say(f"Kept {work}")
        else:
            remove_tree(work)


if __name__ == "__main__":
    sys.exit(main())
