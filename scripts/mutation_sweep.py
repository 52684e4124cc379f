#!/usr/bin/env python3
"""Mutation sweep: checks that the tests notice small faults put into the product's code.

Each mutant in the lists (scripts/mutants/*.toml unless --list names others) names a file, a
text that finds exactly one line of it (however the file moves), and a change of that line:

    [[mutant]]
    file = "backup/backup_run.cpp"
    find = 'answer = RestoreSettings(backup) && answer;'
    replace = ['&& answer', '']          # or: delete = true
    tests = "RestoreTest.*"               # a GoogleTest filter; all tests when left out
    why = "a failed settings area fails the run"

The sweep copies the working tree (tracked and untracked files, what .gitignore leaves out
excepted) into a scratch folder, builds it once with the default preset, runs the tests once
unchanged, then for each mutant: changes the line, rebuilds incrementally, runs the named tests
in parallel shards and puts the line back. A mutant is killed when a test fails (or the run
exceeds its time), survived when every test passes, and invalid when its text finds no line or
several, its change does not apply, or the changed code does not compile. The tests that fail are
recorded for each mutant in <workdir>/report.json: a test that kills nothing no other test kills
adds nothing to the sweep.

Exit status 0 when every mutant was killed, 1 when one survived or was invalid, 2 when the
unchanged tree does not build or its tests fail.

Usage: python3 scripts/mutation_sweep.py [--select TEXT] [--check] [--list FILE ...]
"""

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import time
import tomllib
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
FAILED_LINE = re.compile(r"^\[  FAILED  \] ([^ ,]+)", re.M)


class Mutant:
    def __init__(self, source, index, entry):
        self.source = f"{source.name}#{index}"
        self.file = entry.get("file", "")
        self.find = entry.get("find", "")
        self.delete = bool(entry.get("delete", False))
        self.replace = entry.get("replace")
        self.tests = entry.get("tests", "*")
        self.why = entry.get("why", "")
        self.line_number = 0
        self.status = ""
        self.detail = ""
        self.killers = []
        self.seconds = 0.0

    def change(self):
        return "delete" if self.delete else f"{self.replace[0]!r} -> {self.replace[1]!r}"

    def label(self):
        return f"{self.file}:{self.line_number} {self.change()} in {self.find.strip()!r}"

    def mutate(self, text):
        """The file's text with this mutant applied; sets status/detail and answers None when it
        cannot be applied."""
        if self.delete == (self.replace is not None):
            return self.invalid("give exactly one of delete or replace")
        if self.replace is not None and (len(self.replace) != 2 or self.replace[0] == self.replace[1]):
            return self.invalid("replace takes two different texts")
        lines = text.splitlines(keepends=True)
        hits = [i for i, line in enumerate(lines) if self.find and self.find in line]
        if len(hits) != 1:
            return self.invalid(f"the text finds {len(hits)} lines, not one")
        i = hits[0]
        self.line_number = i + 1
        if self.delete:
            lines[i] = "\n"
        elif self.replace[0] not in lines[i]:
            return self.invalid(f"{self.replace[0]!r} is not on the line")
        else:
            lines[i] = lines[i].replace(self.replace[0], self.replace[1], 1)
        return "".join(lines)

    def invalid(self, why):
        self.status, self.detail = "invalid", why
        return None


def load_mutants(paths):
    mutants = []
    for path in paths:
        with open(path, "rb") as f:
            entries = tomllib.load(f).get("mutant", [])
        mutants += [Mutant(path, i + 1, entry) for i, entry in enumerate(entries)]
    return mutants


def project_files():
    out = subprocess.run(["git", "ls-files", "-z", "-co", "--exclude-standard"], cwd=ROOT,
                         check=True, capture_output=True).stdout
    return [name for name in out.decode("utf-8", "surrogateescape").split("\0") if name]


def sync_scratch(scratch):
    """Copies the project into `scratch`, writing only files whose contents differ, so the
    scratch build stays incremental between sweeps."""
    wanted = set(project_files())
    for name in wanted:
        source, target = ROOT / name, scratch / name
        if source.is_symlink() or not source.is_file():
            continue
        data = source.read_bytes()
        if target.is_file() and not target.is_symlink() and target.read_bytes() == data:
            continue
        target.parent.mkdir(parents=True, exist_ok=True)
        target.unlink(missing_ok=True)
        target.write_bytes(data)
        shutil.copymode(source, target)
    for folder, subfolders, files in os.walk(scratch):
        relative = Path(folder).relative_to(scratch)
        if relative == Path("."):
            subfolders[:] = [s for s in subfolders if s not in ("build", ".git")]
        for name in files:
            if str(relative / name) not in wanted and (relative / name).as_posix() not in wanted:
                (Path(folder) / name).unlink()


def build(scratch, log):
    if not (scratch / "build/default/build.ninja").exists():
        result = subprocess.run(["cmake", "--preset", "default"], cwd=scratch, capture_output=True, text=True)
        if result.returncode != 0:
            log.write(result.stdout + result.stderr)
            return False
    result = subprocess.run(["cmake", "--build", "--preset", "default", "--target", "brimora_tests"],
                            cwd=scratch, capture_output=True, text=True)
    log.write(result.stdout + result.stderr)
    return result.returncode == 0


def run_tests(scratch, test_filter, shards, timeout):
    """Runs the tests matching `test_filter` in `shards` processes. Answers (passed, failed test
    names, output), with "(time-out)" among the names when the run took too long."""
    binary = scratch / "build/default/tests/brimora_tests"
    processes = []
    for index in range(shards):
        env = dict(os.environ, GTEST_TOTAL_SHARDS=str(shards), GTEST_SHARD_INDEX=str(index))
        processes.append(subprocess.Popen([str(binary), f"--gtest_filter={test_filter}", "--gtest_brief=1"],
                                          cwd=binary.parent, env=env, stdout=subprocess.PIPE,
                                          stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                          start_new_session=True))
    deadline = time.monotonic() + timeout
    passed, failed, output = True, [], ""
    for process in processes:
        try:
            text, _ = process.communicate(timeout=max(1.0, deadline - time.monotonic()))
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, 9)
            text, _ = process.communicate()
            failed.append("(time-out)")
        text = text.decode("utf-8", "replace")
        output += text
        failed += FAILED_LINE.findall(text)
        passed = passed and process.returncode == 0
    return passed and not failed, sorted(set(failed)), output


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--list", nargs="+", type=Path, help="mutant lists (default scripts/mutants/*.toml)")
    parser.add_argument("--select", default="", help="only mutants whose file, text or list name holds this")
    parser.add_argument("--workdir", type=Path, default=ROOT / "build/mutation", help="scratch folder")
    parser.add_argument("--shards", type=int, default=os.cpu_count() or 2, help="test processes per mutant")
    parser.add_argument("--timeout", type=float, default=600, help="seconds a mutant's tests may take")
    parser.add_argument("--check", action="store_true", help="only check that every mutant applies")
    parser.add_argument("--no-baseline", action="store_true", help="skip the run of the unchanged tests")
    args = parser.parse_args()

    lists = args.list or sorted((ROOT / "scripts/mutants").glob("*.toml"))
    mutants = [m for m in load_mutants(lists)
               if args.select in m.file or args.select in m.find or args.select in m.source]
    originals = {}
    for mutant in mutants:
        if mutant.file not in originals:
            path = ROOT / mutant.file
            originals[mutant.file] = path.read_text(encoding="utf-8", errors="surrogateescape") if path.is_file() else None
        if originals[mutant.file] is None:
            mutant.invalid("no such file")
        else:
            mutant.mutate(originals[mutant.file])
    if args.check:
        bad = [m for m in mutants if m.status == "invalid"]
        for m in bad:
            print(f"invalid  {m.source} {m.file}: {m.detail}: {m.find!r}")
        print(f"{len(mutants)} mutants, {len(bad)} invalid")
        return 1 if bad else 0

    scratch = args.workdir / "src"
    scratch.mkdir(parents=True, exist_ok=True)
    log = open(args.workdir / "build.log", "w", encoding="utf-8")
    sync_scratch(scratch)
    if not build(scratch, log):
        print(f"the unchanged tree does not build: see {args.workdir / 'build.log'}")
        return 2
    filters = sorted({m.tests for m in mutants if m.status != "invalid"})
    if not args.no_baseline and filters:
        # Filters with negative patterns cannot be joined into one; the whole suite covers them.
        union = "*" if any("-" in f for f in filters) else ":".join(filters)
        passed, failed, output = run_tests(scratch, union, args.shards, args.timeout * 3)
        if not passed:
            print(output[-4000:])
            print(f"the unchanged tests fail: {', '.join(failed) or 'see above'}")
            return 2

    started = time.monotonic()
    for number, mutant in enumerate(mutants, 1):
        if mutant.status == "invalid":
            print(f"[{number}/{len(mutants)}] INVALID   {mutant.source} {mutant.file}: {mutant.detail}", flush=True)
            continue
        target = scratch / mutant.file
        original = originals[mutant.file]
        begin = time.monotonic()
        try:
            target.write_text(mutant.mutate(original), encoding="utf-8", errors="surrogateescape")
            if not build(scratch, log):
                mutant.invalid("the changed code does not compile")
            else:
                passed, mutant.killers, _ = run_tests(scratch, mutant.tests, args.shards, args.timeout)
                mutant.status = "survived" if passed else "killed"
        finally:
            target.write_text(original, encoding="utf-8", errors="surrogateescape")
        mutant.seconds = time.monotonic() - begin
        word = {"killed": "killed   ", "survived": "SURVIVED ", "invalid": "INVALID  "}[mutant.status]
        by = f" by {', '.join(mutant.killers)}" if mutant.killers else f" ({mutant.detail})" if mutant.detail else ""
        print(f"[{number}/{len(mutants)}] {word} {mutant.label()}{by} [{mutant.seconds:.0f} s]", flush=True)
    build(scratch, log)

    counts = {s: sum(1 for m in mutants if m.status == s) for s in ("killed", "survived", "invalid")}
    report = [{"list": m.source, "file": m.file, "line": m.line_number, "find": m.find, "change": m.change(),
               "tests": m.tests, "status": m.status, "detail": m.detail, "killers": m.killers,
               "seconds": round(m.seconds, 1)} for m in mutants]
    (args.workdir / "report.json").write_text(json.dumps(report, indent=1) + "\n", encoding="utf-8")
    only = {}
    for m in mutants:
        if len(m.killers) == 1:
            only.setdefault(m.killers[0], []).append(m.source)
    print(f"\n{len(mutants)} mutants: {counts['killed']} killed, {counts['survived']} survived, "
          f"{counts['invalid']} invalid, in {time.monotonic() - started:.0f} s; report in {args.workdir / 'report.json'}")
    if only:
        print("tests that alone kill a mutant: " + ", ".join(f"{t} ({len(s)})" for t, s in sorted(only.items())))
    return 0 if counts["survived"] == 0 and counts["invalid"] == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
