#!/usr/bin/env python3
"""Counts the system calls Velmora's jobs and the plain Win32 floors make per file.

usage: count_calls.py BUILD_DIR [flat|deep] [JOB...]
JOB: zip-compress tzst-compress zip-extract tzst-extract read-floor write-floor
(all by default). "deep" puts the files six folders deep.

Each job runs under WINEDEBUG=+relay on a folder of 20 files of 2 KiB and on
one of 60; the difference over 40 is what one more file costs. A call counts
when the program itself makes it (its return address lies in the executable,
so libarchive's and minizip's calls count as the program's) and it reaches
the system: at least one ntdll Nt* call runs beneath it. The table lists
those calls per file by name, then the Nt* calls beneath them.
Sleeps (the console's progress loop) are left out: they count time, not files.
Scratch folders live in /dev/shm/velmora-calls; WINEPREFIX is used as set.
"""
import collections
import os
import re
import shutil
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SCRATCH = "/dev/shm/velmora-calls"
JOBS = ("zip-compress", "tzst-compress", "zip-extract", "tzst-extract", "read-floor", "write-floor")
SMALL, LARGE = 20, 60
CALL = re.compile(r"^([0-9a-f]+):Call ([\w.]+)\(.*\) ret=([0-9a-f]+)$")
RET = re.compile(r"^([0-9a-f]+):Ret  ([\w.]+)\(\) retval=[0-9a-f]+ ret=([0-9a-f]+)$")
TIMED = {"KERNEL32.Sleep", "ntdll.NtDelayExecution"}


def winpath(path):
    return "Z:" + path.replace("/", "\\")


def image_range(exe):
    """The executable's preferred base and size (Wine loads it there)."""
    with open(exe, "rb") as f:
        data = f.read(4096)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    optional = pe + 24
    base = struct.unpack_from("<Q", data, optional + 24)[0]
    size = struct.unpack_from("<I", data, optional + 56)[0]
    return base, base + size


def make_files(folder, count, deep):
    leaf = os.path.join(folder, "a", "b", "c", "d", "e", "f") if deep else folder
    os.makedirs(leaf, exist_ok=True)
    for n in range(count):
        with open(os.path.join(leaf, f"f{n:05d}.txt"), "wb") as f:
            f.write(bytes((n + i) % 251 for i in range(2048)))


def count_run(argv, exe, env, cwd):
    """Runs argv under +relay; returns (calls by name, Nt* calls by name) that
    reached the system."""
    low, high = image_range(exe)
    calls, syscalls = collections.Counter(), collections.Counter()
    stacks = collections.defaultdict(list)  # thread -> [name, is_top_level, syscalls beneath]
    relay_env = dict(env, WINEDEBUG="+relay")
    process = subprocess.Popen(argv, cwd=cwd, env=relay_env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE)
    for raw in process.stderr:
        line = raw.decode("latin-1").rstrip("\n")
        m = CALL.match(line)
        if m:
            thread, name, ret = m.group(1), m.group(2), int(m.group(3), 16)
            stack = stacks[thread]
            top = low <= ret < high and not any(frame[1] for frame in stack)
            syscall = name.startswith("ntdll.Nt") and name not in TIMED
            if syscall:
                for frame in stack:
                    if frame[1]:
                        frame[2].append(name)
            # A system call the program makes itself counts as its own.
            stack.append([name, top, [name] if top and syscall else []])
            continue
        m = RET.match(line)
        if m:
            stack = stacks[m.group(1)]
            while stack:
                name, top, beneath = stack.pop()
                if name == m.group(2):
                    break
            else:
                continue
            if top and beneath and name not in TIMED:
                calls[name] += 1
                syscalls.update(beneath)
    if process.wait() != 0:
        raise RuntimeError(f"{argv} failed ({process.returncode})")
    return calls, syscalls


def tree_list(source, path):
    sys.path.insert(0, HERE)
    import run_bench
    run_bench.tree_list(source, path)


def prepare(build, env, count, deep):
    """Makes the folder of count files and its archives; returns the paths."""
    base = os.path.join(SCRATCH, str(count))
    shutil.rmtree(base, ignore_errors=True)
    source = os.path.join(base, "src", "files")
    make_files(source, count, deep)
    cli = os.path.join(build, "velmora-cli.exe")
    archives = os.path.join(base, "archives")
    os.makedirs(archives)
    for fmt in ("zip", "tzst"):
        subprocess.run(["wine", cli, "compress", "--format", fmt, "--level", "1", winpath(source)], env=env,
                       check=True, stdout=subprocess.DEVNULL)
        os.replace(source + "." + fmt, os.path.join(archives, "files." + fmt))
    tree_list(source, os.path.join(base, "list.txt"))
    return base, source, archives


def job_command(job, build, base, source, archives):
    cli = os.path.join(build, "velmora-cli.exe")
    out = os.path.join(base, "out")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    if job.endswith("-compress"):
        fmt = job.split("-")[0]
        work = os.path.join(out, "src")
        shutil.copytree(os.path.dirname(source), work)
        return cli, ["wine", cli, "compress", "--format", fmt, "--level", "1", winpath(os.path.join(work, "files"))]
    if job.endswith("-extract"):
        archive = os.path.join(out, "files." + job.split("-")[0])
        shutil.copy(os.path.join(archives, os.path.basename(archive)), archive)
        return cli, ["wine", cli, "decompress", winpath(archive)]
    if job == "read-floor":
        exe = os.path.join(build, "velmora-read-floor.exe")
        return exe, ["wine", exe, winpath(source)]
    exe = os.path.join(build, "velmora-write-floor.exe")
    return exe, ["wine", exe, winpath(os.path.join(base, "list.txt")), winpath(os.path.join(out, "files"))]


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    build = os.path.abspath(sys.argv[1])
    rest = sys.argv[2:]
    deep = bool(rest) and rest[0] == "deep"
    if rest and rest[0] in ("flat", "deep"):
        rest = rest[1:]
    jobs = rest or list(JOBS)
    env = dict(os.environ, WINEDEBUG="-all")
    subprocess.run(["wineserver", "-p"], env=env)
    counts = {}
    for count in (SMALL, LARGE):
        base, source, archives = prepare(build, env, count, deep)
        for job in jobs:
            exe, argv = job_command(job, build, base, source, archives)
            counts[(job, count)] = count_run(argv, exe, env, base)
    shutil.rmtree(SCRATCH, ignore_errors=True)
    files = LARGE - SMALL
    for job in jobs:
        (calls_small, sys_small), (calls_large, sys_large) = counts[(job, SMALL)], counts[(job, LARGE)]
        per_file = {name: (calls_large[name] - calls_small[name]) / files for name in calls_large | calls_small}
        per_file = {name: n for name, n in per_file.items() if abs(n) >= 0.05}
        nt = {name: (sys_large[name] - sys_small[name]) / files for name in sys_large | sys_small}
        nt = {name: n for name, n in nt.items() if abs(n) >= 0.05}
        print(f"{job} ({'deep' if deep else 'flat'}): {sum(per_file.values()):.1f} calls per file reach the system, "
              f"{sum(nt.values()):.1f} Nt* calls beneath them")
        for name, n in sorted(per_file.items(), key=lambda item: (-item[1], item[0])):
            print(f"  {n:6.2f}  {name}")
        print("  beneath: " + ", ".join(f"{name.split('.')[1]} {n:.2f}"
                                       for name, n in sorted(nt.items(), key=lambda item: (-item[1], item[0]))))


if __name__ == "__main__":
    main()
