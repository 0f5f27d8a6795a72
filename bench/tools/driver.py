#!/usr/bin/env python3
"""Runs the benchmark suite: Lousa against Lua 5.4, CPython 3 and Free Pascal.

Started by bench/run, which installs the packages first. Steps: build the
release tree with the microbenchmarks, pack every listing, compile the Pascal
peers, run every program on every system several times (systems alternating,
outputs checked against each other on every run), measure the start-up of a
packed program with 1 MB of code text, run the microbenchmarks, and print a
table of medians, peak memory and ratios. The full run writes the table to
bench/results.md.
"""

from __future__ import annotations

import argparse
import datetime
import json
import math
import os
import platform
import re
import resource
import shutil
import statistics
import subprocess
import sys
import time
from dataclasses import dataclass, field
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BENCH = ROOT / "bench"

# name, size parameters {tag: (full, quick)}, the parameter the peers take,
# whether it counts toward the targets (the seven core programs)
PROGRAMS = [
    ("loop", {"N": (100000000, 100000)}, "N", True),
    ("fib", {"N": (32, 20)}, "N", True),
    ("sieve", {"N": (10000000, 100000)}, "N", True),
    ("strings", {"N": (200000, 2000)}, "N", True),
    ("list", {"N": (1000000, 10000)}, "N", True),
    ("mandel", {"W": (600, 60), "H": (400, 40)}, "W", True),
    ("sets", {"N": (2000000, 20000)}, "N", True),
    ("files", {"N": (200000, 2000)}, "N", False),
    ("records", {"N": (100000, 1000)}, "N", False),
]
SYSTEMS = ["lousa", "lua", "python", "fpc"]
TITLES = {"lousa": "Lousa", "lua": "Lua 5.4", "python": "CPython", "fpc": "FPC -O2"}
LUA = "lua5.4"
PYTHON = "/usr/bin/python3"  # Debian's CPython, not whatever a shim puts first
GNU_TIME = "/usr/bin/time"
INVALID = "Instru\xe7\xe3o inv\xe1lida".encode("latin-1")
ERROR_PREFIX = " => Erro de execu\xe7\xe3o na linha ".encode("latin-1")


@dataclass
class Outcome:
    seconds: list[float] = field(default_factory=list)
    cpu_seconds: list[float] = field(default_factory=list)
    peak_kb: list[int] = field(default_factory=list)
    problem: str = ""  # why this system has no valid number for the program

    def median(self) -> float | None:
        return statistics.median(self.seconds) if self.seconds and not self.problem else None

    def cpu_median(self) -> float | None:
        return statistics.median(self.cpu_seconds) if self.cpu_seconds and not self.problem else None

    def memory_mb(self) -> float | None:
        return max(self.peak_kb) / 1024 if self.peak_kb and not self.problem else None


def log(message: str) -> None:
    print(message, file=sys.stderr, flush=True)


def run_command(command: list[str], cwd: Path, timeout: float) -> tuple[int, bytes, bytes]:
    try:
        done = subprocess.run(command, cwd=cwd, capture_output=True, timeout=timeout, stdin=subprocess.DEVNULL)
        return done.returncode, done.stdout, done.stderr
    except subprocess.TimeoutExpired:
        return -1, b"", b"timed out"
    except OSError as error:
        return -1, b"", str(error).encode()


# ---------------------------------------------------------------- build


def build(build_dir: Path) -> dict[str, bool]:
    """Configures the release tree and builds each target on its own, so that
    a target that does not build yet only removes what depends on it."""
    configure = ["cmake", "-S", str(ROOT), "-B", str(build_dir), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                 "-DLOUSA_BENCH=ON"]
    code, out, err = run_command(configure, ROOT, 600)
    if code != 0:
        log((out + err).decode(errors="replace")[-3000:])
        raise SystemExit("bench: cmake failed")
    built = {}
    for target in ["lousa-runner", "lousa", "lousa-count", "lousa_micro"]:
        log(f"building {target}")
        code, out, err = run_command(["ninja", "-C", str(build_dir), "-j2", target], ROOT, 3600)
        built[target] = code == 0
        if code != 0:
            errors = [line for line in (out + err).decode(errors="replace").splitlines() if "error" in line]
            log(f"  {target} does not build: " + (errors[0] if errors else "see ninja output")[:300])
    return built


# ---------------------------------------------------------------- preparation


def scaled_listing(text: str, params: dict[str, tuple[int, int]], quick: bool) -> str:
    """Lines tagged ';@NAME' or ';@NAME+k' / ';@NAME-k' hold a size; the quick
    suite replaces it by the small value. A tag whose number is missing fails
    loudly instead of leaving a full-size constant behind."""
    if not quick:
        return text
    lines = []
    for number, line in enumerate(text.splitlines(), 1):
        tag = re.search(r";\s*@([A-Z]+)([+-]\d+)?\s*$", line)
        if tag:
            full, small = params[tag.group(1)]
            offset = int(tag.group(2) or 0)
            code, comment = line.split(";", 1)
            pattern = rf"(?<![\w-]){full + offset}(?!\w)"
            if not re.search(pattern, code):
                raise SystemExit(f"bench: listing line {number} is tagged @{tag.group(1)} but holds no {full + offset}")
            line = re.sub(pattern, str(small + offset), code) + ";" + comment
        lines.append(line)
    return "\n".join(lines) + "\n"


def prepare_lousa(work: Path, build_dir: Path, built: dict[str, bool], quick: bool) -> dict[str, str]:
    """Packs every listing; returns the problems of those that cannot run."""
    problems = {}
    tool = build_dir / "bin" / "lousa"
    (work / "lousa").mkdir(parents=True, exist_ok=True)
    for name, params, _, _ in PROGRAMS:
        if not (built.get("lousa") and built.get("lousa-runner")):
            problems[name] = "the lousa tool does not build"
            continue
        listing = work / "lousa" / f"{name}.lst"
        listing.write_text(scaled_listing((BENCH / "programs" / f"{name}.lst").read_text(), params, quick))
        for command in (["asm", str(listing), "-o", str(work / "lousa" / f"{name}.code")],
                        ["pack", str(listing), "-o", str(work / "lousa" / name)]):
            code, out, err = run_command([str(tool)] + command, work, 120)
            if code != 0:
                message = (err or out).decode(errors="replace").strip().splitlines()
                problems[name] = f"lousa {command[0]} fails: " + (message[0] if message else f"status {code}")
                break
    return problems


def prepare_fpc(work: Path) -> dict[str, str]:
    problems = {}
    target = work / "fpc"
    target.mkdir(parents=True, exist_ok=True)
    if shutil.which("fpc") is None:
        return {name: "fpc is not installed" for name, *_ in PROGRAMS}
    for name, *_ in PROGRAMS:
        source = BENCH / "peers" / "pascal" / f"{name}.pas"
        code, out, err = run_command(["fpc", "-O2", "-v0", f"-FE{target}", f"-FU{target}", str(source)], target, 300)
        if code != 0:
            problems[name] = "fpc fails: " + (out + err).decode(errors="replace").strip()[-200:]
    return problems


def command_for(system: str, name: str, size: int, work: Path) -> tuple[list[str], Path]:
    """The command line of one program on one system, and its working
    directory (each system writes its data files in its own)."""
    if system == "lousa":
        return [str(work / "lousa" / name)], work / "lousa"
    if system == "lua":
        return [LUA, str(BENCH / "peers" / "lua" / f"{name}.lua"), str(size)], work / "lua"
    if system == "python":
        return [PYTHON, str(BENCH / "peers" / "python" / f"{name}.py"), str(size)], work / "python"
    return [str(work / "fpc" / name), str(size)], work / "fpc"


def children_cpu() -> float:
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def timed_run(command: list[str], cwd: Path, timeout: float) -> tuple[float, float, int, int, bytes]:
    """Wall time (monotonic clock around the whole child), processor time
    (user + system of the waited-for children, which on a shared machine
    moves less than wall time), peak resident set in KB as GNU time reports
    it (%M), exit status, standard output."""
    memory_file = cwd / ".peak"
    cpu_before = children_cpu()
    start = time.perf_counter()
    code, out, _ = run_command([GNU_TIME, "-f", "%M", "-o", str(memory_file)] + command, cwd, timeout)
    seconds = time.perf_counter() - start
    cpu = children_cpu() - cpu_before
    try:
        peak = int(memory_file.read_text().strip().splitlines()[-1])
    except (OSError, ValueError, IndexError):
        peak = 0
    return seconds, cpu, peak, code, out


def describe_failure(out: bytes, code: int) -> str:
    if INVALID in out and ERROR_PREFIX in out:
        return "stops on an instruction not built yet"
    if ERROR_PREFIX in out:
        reason = out[out.index(ERROR_PREFIX):].decode("latin-1").replace("\n", " ")
        return "run-time error: " + reason[:120]
    if code == -1:
        return "timed out"
    return f"exit status {code}" if code != 0 else "wrong output"


# ---------------------------------------------------------------- measuring


def count_instructions(work: Path, build_dir: Path, name: str, timeout: float) -> tuple[int | None, str, int | None]:
    """Runs the program's code text through lousa-count: executed instructions,
    the mnemonic of the first instruction that is not built yet, and the
    internal instructions the translation tier dispatched for the same run."""
    counter = build_dir / "bin" / "lousa-count"
    directory = work / "count"
    directory.mkdir(exist_ok=True)
    code, _, err = run_command([str(counter), str(work / "lousa" / f"{name}.code")], directory, timeout)
    text = err.decode(errors="replace")
    count = re.search(r"^instructions: (\d+)", text, re.MULTILINE)
    invalid = re.search(r"invalid instruction: (\S+)", text)
    internal = re.search(r"^internal instructions: (\d+)", text, re.MULTILINE)
    return ((int(count.group(1)) if count and code == 0 else None), (invalid.group(1) if invalid else ""),
            (int(internal.group(1)) if internal and code == 0 else None))


def internal_per_original(counts: dict, name: str) -> float | None:
    """Internal instructions of the translation tier per original instruction."""
    entry = counts.get(name, (None, ""))
    return ratio(entry[2], entry[0]) if len(entry) > 2 else None


def measure(work: Path, programs, systems, problems, runs: int, quick: bool, timeout: float):
    results = {(name, system): Outcome(problem=problems.get((name, system), "")) for name, *_ in programs
               for system in systems}
    reference: dict[str, bytes] = {}
    for run in range(runs):
        for index, (name, params, size_tag, _) in enumerate(programs):
            size = params[size_tag][1 if quick else 0]
            # Rotate the order so that no system always runs first (or right after the slowest).
            order = systems[(run + index) % len(systems):] + systems[:(run + index) % len(systems)]
            outputs = {}
            for system in order:
                outcome = results[(name, system)]
                if outcome.problem:
                    continue
                command, cwd = command_for(system, name, size, work)
                cwd.mkdir(parents=True, exist_ok=True)
                seconds, cpu, peak, code, out = timed_run(command, cwd, timeout)
                log(f"  run {run + 1}/{runs} {name:8} {system:7} {seconds:8.3f} s wall {cpu:8.3f} s cpu "
                    f"{peak / 1024:8.1f} MB")
                if code != 0 or (ERROR_PREFIX in out):
                    outcome.problem = describe_failure(out, code)
                    continue
                outputs[system] = out
                outcome.seconds.append(seconds)
                outcome.cpu_seconds.append(cpu)
                outcome.peak_kb.append(peak)
            # The checksum: what the peers agree on (they are checked against each other too).
            if name not in reference:
                peers = [outputs[s] for s in ("python", "lua", "fpc") if s in outputs]
                if peers:
                    reference[name] = max(set(peers), key=peers.count)
            for system, out in outputs.items():
                if name in reference and out != reference[name]:
                    outcome = results[(name, system)]
                    outcome.problem = ("checksum differs: " + out.decode("latin-1").strip().replace("\n", " ")[:60] +
                                       " instead of " + reference[name].decode().strip().replace("\n", " "))
    return results, reference


def measure_startup(work: Path, build_dir: Path, samples: int) -> dict[str, float]:
    """Median wall time of a packed program whose first instruction is HALT:
    one with about 1 MB of code text behind it, and one with nothing else."""
    tool = build_dir / "bin" / "lousa"
    directory = work / "startup"
    directory.mkdir(exist_ok=True)
    results = {}
    for label, size in (("1 MB of code", 1 << 20), ("HALT alone", 0)):
        words = ["43"]
        line = 1
        state = 12345
        text_size = 3
        while text_size < size:
            state = (state * 1103515245 + 12345) & 0xFFFFFFFF
            k = 3 + (state >> 16) % 40
            statement = f"62 {line} 126 0 {k} 127 0 {k} 58 {(state >> 8) % 100000} 1 8 1".split()
            words += statement
            text_size += sum(len(w) + 1 for w in statement)
            line += 1
        code_file = directory / f"start-{size}.code"
        code_file.write_text(f"{len(words)} {len(words) + 1} " + " ".join(words) + " ")
        exe = directory / f"start-{size}"
        code, out, err = run_command([str(tool), "pack", str(code_file), "-o", str(exe)], directory, 120)
        if code != 0:
            log("  start-up: lousa pack fails: " + (err or out).decode(errors="replace")[:200])
            continue
        times = []
        cpu_times = []
        for _ in range(samples):
            cpu_before = children_cpu()
            start = time.perf_counter()
            code, out, _ = run_command([str(exe)], directory, 60)
            times.append(time.perf_counter() - start)
            cpu_times.append(children_cpu() - cpu_before)
            if code != 0 or out:
                times = []
                log("  start-up: the packed program did not end quietly: " + out.decode("latin-1")[:200])
                break
        if times:
            results[label] = statistics.median(times) * 1000
            results[label + " cpu"] = statistics.median(cpu_times) * 1000
            log(f"  start-up {label}: {results[label]:.2f} ms wall, {results[label + ' cpu']:.2f} ms processor "
                f"(medians of {samples})")
    return results


def run_micro(build_dir: Path, quick: bool) -> list[dict]:
    binary = build_dir / "bin" / "lousa_micro"
    if not binary.exists():
        return []
    log("microbenchmarks")
    min_time = "0.05" if quick else "0.5"
    code, out, err = run_command([str(binary), f"--benchmark_min_time={min_time}", "--benchmark_format=json"],
                                 build_dir, 1800)
    try:
        data = json.loads(out.decode())
    except json.JSONDecodeError:
        log("  the microbenchmarks did not report: " + err.decode(errors="replace")[-300:])
        return []
    return data.get("benchmarks", [])


# ---------------------------------------------------------------- report


def fmt(value: float | None, digits: int = 2) -> str:
    return "n/a" if value is None else f"{value:.{digits}f}"


def ratio(a: float | None, b: float | None) -> float | None:
    return a / b if a is not None and b is not None and b > 0 else None


def geomean(values: list[float]) -> float | None:
    return math.exp(sum(math.log(v) for v in values) / len(values)) if values else None


def machine_description() -> list[str]:
    cpu = "unknown processor"
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    memory = ""
    try:
        kb = int(Path("/proc/meminfo").read_text().split()[1])
        memory = f", {kb / 1024 / 1024:.0f} GiB"
    except (OSError, ValueError, IndexError):
        pass

    def version(command: list[str]) -> str:
        code, out, err = run_command(command, ROOT, 30)
        text = (out + err).decode(errors="replace").strip().splitlines()
        return text[0] if text else "not installed"

    return [
        f"- Machine: {cpu}, {os.cpu_count()} cores{memory}; {platform.system()} {platform.release()}",
        f"- Load average when the suite started: {os.getloadavg()[0]:.2f} (shared machine: numbers are noisy)",
        f"- Compilers and peers: {version(['c++', '--version'])}; {version([LUA, '-v'])}; "
        f"{version([PYTHON, '--version'])}; {version(['fpc', '-iW']) and 'Free Pascal ' + version(['fpc', '-iV'])}",
    ]


def report(programs, systems, results, reference, counts, startup, micro, runs, quick) -> tuple[str, list[str]]:
    lines = []
    header = ["program", "instructions", "internal/original", "Lousa M instr/s"] + [f"{TITLES[s]} s" for s in systems] + [
        "Lousa/Lua", "CPython/Lousa", "Lousa/FPC"] + [f"{TITLES[s]} MB" for s in systems]
    lines.append("| " + " | ".join(header) + " |")
    lines.append("|" + "---|" * len(header))
    targets = []
    for name, _, _, core in programs:
        lousa = results[(name, "lousa")].median()
        count = counts.get(name, (None, ""))[0]
        row = [name + ("" if core else " *"), f"{count / 1e6:.1f} M" if count else "n/a",
               fmt(internal_per_original(counts, name)), fmt(count / lousa / 1e6, 0) if count and lousa else "n/a"]
        row += [fmt(results[(name, s)].median(), 3) for s in systems]
        lua_ratio = ratio(lousa, results[(name, "lua")].median())
        python_speedup = ratio(results[(name, "python")].median(), lousa)
        row += [fmt(lua_ratio), fmt(python_speedup), fmt(ratio(lousa, results[(name, "fpc")].median()))]
        row += [fmt(results[(name, s)].memory_mb(), 1) for s in systems]
        lines.append("| " + " | ".join(row) + " |")
    lines.append("")
    lines.append(f"Times are medians of {runs} run(s) in seconds (wall clock); memory is the largest peak resident set "
                 "(GNU time %M) over the runs. Lousa/Lua and Lousa/FPC above 1 mean Lousa is slower; CPython/Lousa "
                 "is Lousa's speed-up over CPython. * = not among the seven programs of the speed targets.")
    problems = [(name, s, results[(name, s)].problem) for name, *_ in programs for s in systems
                if results[(name, s)].problem]
    for name, system, problem in problems:
        invalid = counts.get(name, (None, ""))[1] if system == "lousa" else ""
        lines.append(f"- {name} on {TITLES[system]}: {problem}" + (f" ({invalid})" if invalid else ""))
    lines.append("")
    lines.append("Processor time (user + system) of the same runs, medians in seconds, and its ratios:")
    lines.append("")
    header = ["program"] + [f"{TITLES[s]} cpu s" for s in systems] + ["Lousa/Lua", "CPython/Lousa", "Lousa/FPC"]
    lines.append("| " + " | ".join(header) + " |")
    lines.append("|" + "---|" * len(header))
    for name, _, _, core in programs:
        cpu = {s: results[(name, s)].cpu_median() for s in systems}
        row = [name + ("" if core else " *")] + [fmt(cpu[s], 3) for s in systems]
        row += [fmt(ratio(cpu["lousa"], cpu["lua"])), fmt(ratio(cpu["python"], cpu["lousa"])),
                fmt(ratio(cpu["lousa"], cpu["fpc"]))]
        lines.append("| " + " | ".join(row) + " |")
    lines.append("")
    # Targets, each judged only on measured numbers, in processor time (the
    # wall clock of a shared machine says more about its load than the run).
    # They are over the seven core programs even when --only ran fewer.
    core = [name for name, _, _, is_core in PROGRAMS if is_core]
    if not quick:
        def cpu(name, system):
            return results[(name, system)].cpu_median() if (name, system) in results else None
        speedups = {n: ratio(cpu(n, "python"), cpu(n, "lousa")) for n in core}
        measured = {n: v for n, v in speedups.items() if v is not None}
        if measured:
            worst = min(measured, key=measured.get)
            targets.append(f"every program at least 2x faster than CPython (processor time): "
                           f"{'met' if len(measured) == len(core) and measured[worst] >= 2 else 'NOT met'} "
                           f"(lowest {measured[worst]:.2f}x on {worst}; {len(measured)} of {len(core)} measured)")
        lua_ratios = [r for r in (ratio(cpu(n, "lousa"), cpu(n, "lua")) for n in core) if r is not None]
        gm = geomean(lua_ratios)
        if gm is not None:
            targets.append(f"geometric mean of Lousa/Lua over the seven (processor time) no more than 1.0: "
                           f"{'met' if gm <= 1.0 and len(lua_ratios) == len(core) else 'NOT met'} "
                           f"({gm:.2f} over {len(lua_ratios)} programs)")
            worst = max(lua_ratios)
            targets.append(f"no program slower than 1.5x Lua (processor time): "
                           f"{'met' if worst <= 1.5 else 'NOT met'} (highest {worst:.2f})")
        loop_count = counts.get("loop", (None, ""))[0]
        loop_cpu = cpu("loop", "lousa")
        if loop_count and loop_cpu:
            rate = loop_count / loop_cpu / 1e6
            targets.append(f"at least 1500 million original instructions per second of processor time on loop: "
                           f"{'met' if rate >= 1500 else 'NOT met'} ({rate:.0f} million per second)")
        lousa_mb = results[("list", "lousa")].memory_mb() if ("list", "lousa") in results else None
        lua_mb = results[("list", "lua")].memory_mb() if ("list", "lua") in results else None
        if lousa_mb is not None and lua_mb is not None:
            targets.append(f"list peak memory no more than Lua's: {'met' if lousa_mb <= lua_mb else 'NOT met'} "
                           f"({lousa_mb:.1f} MB against {lua_mb:.1f} MB)")
    if "1 MB of code" in startup:
        targets.append(f"start-up of a packed program with 1 MB of code text under 20 ms: "
                       f"{'met' if startup['1 MB of code'] < 20 else 'NOT met'} "
                       f"({startup['1 MB of code']:.2f} ms wall and {startup['1 MB of code cpu']:.2f} ms processor "
                       f"time for the whole process; {startup.get('HALT alone', float('nan')):.2f} ms wall with no "
                       f"code behind HALT)")
    decode = [b for b in micro if b.get("name", "").startswith("BM_DecodeCodeText")]
    if decode and "bytes_per_second" in decode[0]:
        rate = decode[0]["bytes_per_second"] / 1e6
        targets.append(f"decompressor at least 300 MB/s of output: {'met' if rate >= 300 else 'NOT met'} "
                       f"({rate:.0f} MB/s on a 1 MB code text)")
    if targets:
        lines.append("Targets:")
        lines += [f"- {t}" for t in targets]
        lines.append("")
    if micro:
        lines.append("| microbenchmark | wall per iteration | processor per iteration | rate (processor time) |")
        lines.append("|---|---|---|---|")
        for b in micro:
            if b.get("error_occurred"):
                lines.append(f"| {b['name']} | failed: {b.get('error_message', '')} | | |")
                continue
            unit = b.get("time_unit", "ns")
            per = f"{b['real_time']:.3f} {unit} | {b['cpu_time']:.3f} {unit}"
            if "bytes_per_second" in b:
                rate = f"{b['bytes_per_second'] / 1e6:.0f} MB/s"
            elif "items_per_second" in b:
                rate = f"{b['items_per_second'] / 1e6:.1f} M items/s"
            else:
                rate = ""
            lines.append(f"| {b['name']} | {per} | {rate} |")
        lines.append("")
    return "\n".join(lines), targets


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="small sizes, one run: checks that the suite works")
    parser.add_argument("--runs", type=int, help="timed runs per program and system (default 3, quick 1)")
    parser.add_argument("--only", help="comma-separated program names")
    parser.add_argument("--build-dir", default=str(ROOT / "build-bench"))
    parser.add_argument("--no-micro", action="store_true", help="skip the microbenchmarks")
    parser.add_argument("--output", help="where to write the table (default bench/results.md for a full run)")
    args = parser.parse_args()

    runs = args.runs or (1 if args.quick else 3)
    programs = [p for p in PROGRAMS if not args.only or p[0] in args.only.split(",")]
    if not programs:
        raise SystemExit("bench: --only names no program of the suite")
    build_dir = Path(args.build_dir)
    work = build_dir / ("bench-work-quick" if args.quick else "bench-work")
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    started = datetime.datetime.now(datetime.timezone.utc)
    machine = machine_description()

    built = build(build_dir)
    problems = {}
    for name, problem in prepare_lousa(work, build_dir, built, args.quick).items():
        problems[(name, "lousa")] = problem
    for name, problem in prepare_fpc(work).items():
        problems[(name, "fpc")] = problem
    for system, program in (("lua", LUA), ("python", PYTHON)):
        if shutil.which(program) is None:
            for name, *_ in PROGRAMS:
                problems[(name, system)] = f"{program} is not installed"

    timeout = 120 if args.quick else 900
    counts = {}
    if built.get("lousa-count"):
        log("counting executed instructions")
        for name, *_ in programs:
            if (name, "lousa") not in problems:
                counts[name] = count_instructions(work, build_dir, name, timeout)
                log(f"  {name}: {counts[name][0]} {counts[name][1]}")

    log("timed runs")
    results, reference = measure(work, programs, SYSTEMS, problems, runs, args.quick, timeout)
    startup = measure_startup(work, build_dir, 5 if args.quick else 21) if built.get("lousa") else {}
    micro = [] if args.no_micro or not built.get("lousa_micro") else run_micro(build_dir, args.quick)

    (work / "samples.json").write_text(json.dumps(
        {f"{name} {system}": {"wall": o.seconds, "cpu": o.cpu_seconds, "peak_kb": o.peak_kb, "problem": o.problem}
         for (name, system), o in results.items()}, indent=1))
    table, _ = report(programs, SYSTEMS, results, reference, counts, startup, micro, runs, args.quick)
    print(table)
    failed = [key for key, outcome in results.items() if outcome.problem.startswith("checksum")]
    output = args.output or (None if args.quick or args.only else str(BENCH / "results.md"))
    if output:
        commit = run_command(["git", "rev-parse", "--short", "HEAD"], ROOT, 30)[1].decode().strip()
        counted = ("Executed instructions are counted by bench/tools/count_instructions.cpp (lousa-count), which runs "
                   "the program's code text instruction by instruction (the machine's start and step, as its run "
                   "does), one count per executed instruction; `lousa trace` prints as many lines. internal/original: "
                   "the internal instructions the translation tier dispatches (counted by a variant of its loop "
                   "built into lousa-count only) per original instruction of the same program.")
        text = "\n".join([
            "# Benchmark results",
            "",
            f"- Date: {started.strftime('%Y-%m-%d %H:%M UTC')}; commit {commit}; command: bench/run "
            + " ".join(sys.argv[1:]),
            *machine,
            f"- Load average when it ended: {os.getloadavg()[0]:.2f}; every sample is in "
            f"{work.relative_to(ROOT) if work.is_relative_to(ROOT) else work}/samples.json",
            f"- {counted}",
            "",
            table,
        ])
        Path(output).write_text(text)
        log(f"table written to {output}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
