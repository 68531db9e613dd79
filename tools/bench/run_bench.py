#!/usr/bin/env python3
"""Times velmora-cli beside its native peers and writes the table.

usage: run_bench.py BUILD_DIR OUT_DIR
Environment: BENCH_CORPORA (default "mixed small flat deep large sparse";
"mixed:64" makes a smaller corpus of that kind), BENCH_ROUNDS
(default 3), BENCH_SCRATCH (default /dev/shm/velmora-bench).

Each round runs every command of a job once, Velmora and peers alternating,
so that drift in the machine's speed touches all of them alike; the table
shows medians. Scratch data lives on tmpfs, so the page cache is always warm.
The small-file corpora ("flat", "deep") time Velmora's four jobs against
plain Win32 floors instead of peers: velmora-write-floor makes the same files
with CreateFileW, WriteFile and CloseHandle, velmora-read-floor walks the
folder and reads every file with FindFirstFileW, CreateFileW and ReadFile.
Each floor runs right before the job it is the floor of, and every command
runs once more on an empty folder, so that the table can also give the
ratio of the files alone.
Writes OUT_DIR/bench.csv, OUT_DIR/bench.txt and OUT_DIR/bench.png.
"""
import csv
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def winpath(path):
    return "Z:" + path.replace("/", "\\")


def disk_use(path):
    """Bytes the file system allocated for path (a file or a tree)."""
    paths = [path] if os.path.isfile(path) else [os.path.join(d, n) for d, _, fs in os.walk(path) for n in fs]
    return sum(os.stat(p).st_blocks * 512 for p in paths)


def tree_size(path):
    if os.path.isfile(path):
        return os.path.getsize(path)
    total = 0
    for folder, _, files in os.walk(path):
        for name in files:
            total += os.path.getsize(os.path.join(folder, name))
    return total


def remove(path):
    if os.path.isdir(path):
        shutil.rmtree(path)
    elif os.path.exists(path):
        os.remove(path)


def server_pid(prefix):
    """The wineserver of prefix: its working folder is named after the
    prefix's device and inode. None when it is not running."""
    info = os.stat(prefix)
    wanted = f"/server-{info.st_dev:x}-{info.st_ino:x}"
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.readlink(f"/proc/{pid}/cwd").endswith(wanted):
                return int(pid)
        except OSError:
            continue
    return None


def cpu_seconds(pid):
    """User and system CPU seconds a process has used so far (0 when it is gone)."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return 0.0
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class Runner:
    def __init__(self, build, scratch):
        self.build = build
        self.cli = os.path.join(os.path.abspath(build), "velmora-cli.exe")
        self.env = dict(os.environ, WINEDEBUG="-all")
        self.env.setdefault("WINEPREFIX", os.path.join(os.path.expanduser("~"), ".cache", "velmora-bench-prefix"))
        self.scratch = scratch

    def start_wine(self):
        # One wineserver for the whole run: a Wine start then costs little.
        subprocess.Popen(["wineserver", "-p"], env=self.env).wait()
        subprocess.run(["wine", "cmd", "/c", "exit"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.server = server_pid(self.env["WINEPREFIX"])

    def stop_wine(self):
        subprocess.run(["wineserver", "-k"], env=self.env)

    def time(self, argv, cwd, velmora):
        """Runs argv; returns wall seconds, CPU seconds, peak memory in KiB and
        the CPU seconds the wineserver spent meanwhile (on the program's calls:
        the prefix serves nothing else during the run)."""
        # stderr goes to a file, not a pipe: a process the program starts (Wine
        # starts its desktop process with the first window-system call)
        # inherits it and may outlive the program, which would hold a pipe
        # open, and the run's time with it, for a second more.
        with tempfile.TemporaryFile() as err_file:
            server_before = cpu_seconds(self.server) if self.server else 0.0
            started = time.perf_counter()
            process = subprocess.Popen(argv, cwd=cwd, env=self.env, stdin=subprocess.DEVNULL,
                                       stdout=subprocess.DEVNULL, stderr=err_file)
            _, status, usage = os.wait4(process.pid, 0)
            wall = time.perf_counter() - started
            server = cpu_seconds(self.server) - server_before if self.server else 0.0
            err_file.seek(0)
            err = err_file.read().decode(errors="replace")
        process.returncode = os.waitstatus_to_exitcode(status)
        if process.returncode != 0:
            raise RuntimeError(f"{argv} failed ({process.returncode}): {err.strip()}")
        cpu = usage.ru_utime + usage.ru_stime
        peak = usage.ru_maxrss
        if velmora:
            # The Windows view of the job: its peak working set.
            m = re.search(r"peak working set (\d+) KiB", err)
            if m:
                peak = int(m.group(1))
        return wall, cpu, peak, server


def tree_list(source, path):
    """Writes the write floor's list of source's folders and files (pre-order,
    a folder before what it holds)."""
    with open(path, "w", encoding="utf-8") as f:
        for folder, folders, files in os.walk(source):
            folders.sort()
            relative = os.path.relpath(folder, source).replace("/", "\\")
            prefix = "" if relative == "." else relative + "\\"
            if prefix:
                f.write(f"D {relative}\n")
            for name in sorted(files):
                f.write(f"F {os.path.getsize(os.path.join(folder, name))} {prefix}{name}\n")


def small_file_jobs(source, out, build):
    """Velmora's four jobs on many small files, each after its plain Win32
    floor: the read floor for the compressions, the write floor for the
    extractions. Then each of them once more on an empty folder (or the
    archive of one): what a run costs before its first file."""
    base = os.path.dirname(out)
    empty = os.path.join(base, "empty", os.path.basename(source))
    empty_out = os.path.join(base, "empty-out")
    os.makedirs(empty, exist_ok=True)
    os.makedirs(empty_out, exist_ok=True)
    return small_file_runs(source, out, build, "") + small_file_runs(empty, empty_out, build, EMPTY)


def small_file_runs(source, out, build, suffix):
    cli = os.path.join(os.path.abspath(build), "velmora-cli.exe")
    name = os.path.basename(source)
    parent = os.path.dirname(source)
    v = ["wine", cli, "--stats"]
    tzst, zipf = os.path.join(out, name + ".tzst"), os.path.join(out, name + ".zip")
    listing = os.path.join(out, "list.txt")
    tree_list(source, listing)
    floor_out = os.path.join(out, "floor")
    read_floor = ("floor", "read floor" + suffix, None, lambda: None,
                  ["wine", os.path.join(os.path.abspath(build), "velmora-read-floor.exe"), winpath(source)],
                  out, None, None)
    write_floor = ("floor", "write floor" + suffix, None, lambda: remove(floor_out),
                   ["wine", os.path.join(os.path.abspath(build), "velmora-write-floor.exe"), winpath(listing),
                    winpath(floor_out)], out, floor_out, None)
    # The same writes through an overlapped handle, as the program's writer
    # makes them: what that mode costs under this system, apart from the rest.
    overlapped_floor = ("floor", "overlapped write floor" + suffix, ("floor", "write floor" + suffix),
                        lambda: remove(floor_out),
                        ["wine", os.path.join(os.path.abspath(build), "velmora-write-floor.exe"), "--overlapped",
                         winpath(listing), winpath(floor_out)], out, floor_out, None)
    read_ref, write_ref = ("floor", "read floor" + suffix), ("floor", "write floor" + suffix)
    velmora = "velmora" + suffix

    def moved(fmt, final):
        def after():
            os.replace(os.path.join(parent, name + "." + fmt), final)
        return after

    return [
        read_floor,
        ("tzst compress", velmora, read_ref, lambda: remove(tzst),
         v + ["compress", "--format", "tzst", "--level", "1", winpath(source)], parent, tzst, moved("tzst", tzst)),
        read_floor,
        ("zip compress", velmora, read_ref, lambda: remove(zipf),
         v + ["compress", "--format", "zip", "--level", "1", winpath(source)], parent, zipf, moved("zip", zipf)),
        write_floor,
        overlapped_floor,
        ("tzst extract", velmora, write_ref, lambda: remove(os.path.join(out, name)),
         v + ["decompress", winpath(tzst)], out, os.path.join(out, name), None),
        write_floor,
        ("zip extract", velmora, write_ref, lambda: remove(os.path.join(out, name)),
         v + ["decompress", winpath(zipf)], out, os.path.join(out, name), None),
    ]


def jobs_for(corpus, source, out, cli):
    """The commands of one corpus: (job, tool, reference, prepare, argv, cwd, output, after);
    the reference is a peer of the same job, or a (job, tool) pair."""
    name = os.path.basename(source)
    parent = os.path.dirname(source)
    v = ["wine", cli, "--stats"]
    tzst, zipf = os.path.join(out, name + ".tzst"), os.path.join(out, name + ".zip")
    peer_tzst, peer_zip, peer_7z = (os.path.join(out, "peer." + e) for e in ("tar.zst", "zip", "7z.zip"))
    tarball = os.path.join(out, "peer.tar")
    x = os.path.join(out, "x")
    floor_out = os.path.join(out, "copy")

    def velmora_compress(fmt, final):
        produced = os.path.join(parent, name + "." + fmt)

        def after():
            os.replace(produced, final)
        return after

    return [
        ("tzst compress", "velmora", "tar+zstd two-pass", lambda: remove(tzst),
         v + ["compress", "--format", "tzst", "--level", "1", winpath(source)], parent, tzst,
         velmora_compress("tzst", tzst)),
        ("tzst compress", "tar | zstd -1", None, lambda: remove(peer_tzst),
         ["sh", "-c", f"tar -cf - {name} | zstd -1 -q -o {peer_tzst}"], parent, peer_tzst, None),
        ("tzst compress", "tar+zstd two-pass", None, lambda: remove(peer_tzst),
         ["sh", "-c", f"tar -cf {tarball} {name} && zstd -1 -q --rm {tarball} -o {peer_tzst}"], parent, peer_tzst, None),
        ("zip compress", "velmora", "zip -1", lambda: remove(zipf),
         v + ["compress", "--format", "zip", "--level", "1", winpath(source)], parent, zipf,
         velmora_compress("zip", zipf)),
        ("zip compress", "zip -1", None, lambda: remove(peer_zip),
         ["zip", "-1", "-r", "-q", peer_zip, name], parent, peer_zip, None),
        ("zip compress", "7zz -mx1", None, lambda: remove(peer_7z),
         ["7zz", "a", "-tzip", "-mx1", "-bd", "-bso0", peer_7z, name], parent, peer_7z, None),
        ("tzst extract", "velmora", "tar --zstd -xf", lambda: remove(os.path.join(out, name)),
         v + ["decompress", winpath(tzst)], out, os.path.join(out, name), None),
        ("tzst extract", "tar --zstd -xf", None, lambda: (remove(x), os.makedirs(x)),
         ["tar", "--zstd", "-xf", peer_tzst, "-C", x], out, x, None),
        ("zip extract", "velmora", "unzip", lambda: remove(os.path.join(out, name)),
         v + ["decompress", winpath(zipf)], out, os.path.join(out, name), None),
        ("zip extract", "unzip", None, lambda: remove(x),
         ["unzip", "-q", peer_zip, "-d", x], out, x, None),
        # Looking into the archives without unpacking them, beside the peers'
        # own checks and listings of theirs (same data, same formats).
        ("tzst test", "velmora", "zstd -t + tar -t", lambda: None, v + ["test", winpath(tzst)], out, None, None),
        ("tzst test", "zstd -t + tar -t", None, lambda: None,
         ["sh", "-c", f"zstd -q -t {peer_tzst} && zstd -q -d -c {peer_tzst} | tar -tf - >/dev/null"], out, None, None),
        ("tzst list", "velmora", "tar --zstd -tf", lambda: None, v + ["list", winpath(tzst)], out, None, None),
        ("tzst list", "tar --zstd -tf", None, lambda: None, ["tar", "--zstd", "-tf", peer_tzst], out, None, None),
        ("zip test", "velmora", "unzip -t", lambda: None, v + ["test", winpath(zipf)], out, None, None),
        ("zip test", "unzip -t", None, lambda: None, ["unzip", "-tqq", peer_zip], out, None, None),
        ("zip list", "velmora", "unzip -Z1", lambda: None, v + ["list", winpath(zipf)], out, None, None),
        ("zip list", "unzip -Z1", None, lambda: None, ["unzip", "-Z1", peer_zip], out, None, None),
        ("I/O floor", "velmora copy-through", None, lambda: remove(floor_out),
         v + ["copy-through", winpath(source), winpath(floor_out)], out, floor_out, None),
        # The tarball job opens a disk reader on every entry for its header:
        # under Wine that, not the data, sets the floor for many small files.
        ("I/O floor", "velmora entry-walk", None, lambda: None,
         v + ["entry-walk", winpath(source)], out, None, None),
    ]


# The families read through libarchive, each from an archive its own tool
# made, unpacked, tested and listed beside that tool (RAR: stored entries,
# written by rar_store.py, for no RAR compressor can be had here). Each peer
# command is a label and a shell line: {a} the archive, {x} the folder the
# peer unpacks into, {s} the corpus's folder name.
# bsdtar -xOf fails on the folders of a RAR (it cannot write them to
# stdout) after it has decoded every file: its status is not looked at.
FAMILIES = (
    ("tar.gz", "tar -czf {a} {s}", ("tar -xzf", "tar -xzf {a} -C {x}"),
     ("gzip -t + tar -tzf", "gzip -t {a} && tar -tzf {a} >/dev/null"), ("tar -tzf", "tar -tzf {a} >/dev/null")),
    ("tar.xz", "tar -cJf {a} {s}", ("tar -xJf", "tar -xJf {a} -C {x}"),
     ("xz -t + tar -tJf", "xz -t {a} && tar -tJf {a} >/dev/null"), ("tar -tJf", "tar -tJf {a} >/dev/null")),
    ("7z", "7zz a -bso0 -bsp0 {a} {s}", ("7zz x", "7zz x -bso0 -bsp0 -o{x} {a}"),
     ("7zz t", "7zz t -bso0 -bsp0 {a}"), ("7zz l", "7zz l {a} >/dev/null")),
    ("rar", sys.executable + " " + os.path.join(HERE, "rar_store.py") + " {s} {a}", ("bsdtar -xf", "bsdtar -xf {a} -C {x}"),
     ("bsdtar -xOf", "bsdtar -xOf {a} >/dev/null 2>&1 || true"), ("bsdtar -tf", "bsdtar -tf {a} >/dev/null")),
)
FAMILY_CORPORA = ("mixed",)


def family_jobs(source, out, cli):
    """Unpacking, testing and listing each family beside its peer."""
    name = os.path.basename(source)
    parent = os.path.dirname(source)
    v = ["wine", cli, "--stats"]
    x = os.path.join(out, "x")
    jobs = []
    for ext, make, (extractor, extract), (tester, test), (lister, listing) in FAMILIES:
        archive = os.path.join(out, name + "." + ext)
        fill = lambda line, a=archive: ["sh", "-c", line.format(a=a, x=x, s=name)]
        if not os.path.exists(archive):
            subprocess.run(fill(make), cwd=parent, check=True, stdout=subprocess.DEVNULL)
        jobs += [
            (ext + " extract", "velmora", extractor, lambda: remove(os.path.join(out, name)),
             v + ["decompress", winpath(archive)], out, os.path.join(out, name), None),
            (ext + " extract", extractor, None, lambda: (remove(x), os.makedirs(x)), fill(extract), out, x, None),
            (ext + " test", "velmora", tester, lambda: None, v + ["test", winpath(archive)], out, None, None),
            (ext + " test", tester, None, lambda: None, fill(test), out, None, None),
            (ext + " list", "velmora", lister, lambda: None, v + ["list", winpath(archive)], out, None, None),
            (ext + " list", lister, None, lambda: None, fill(listing), out, None, None),
        ]
    return jobs


def sparse_jobs(source, out, cli):
    """A disk image whose holes GNU tar stores as holes (tar --sparse): only
    its extraction is timed, beside GNU tar's."""
    name = os.path.basename(source)
    parent = os.path.dirname(source)
    archive = os.path.join(out, name + ".tzst")
    x = os.path.join(out, "x")
    if not os.path.exists(archive):
        subprocess.run(["sh", "-c", f"tar --sparse -cf - {name} | zstd -1 -q -o {archive}"], cwd=parent, check=True)
    return [
        ("sparse extract", "velmora", "tar --zstd -xf", lambda: remove(os.path.join(out, name)),
         ["wine", cli, "--stats", "decompress", winpath(archive)], out, os.path.join(out, name), None),
        ("sparse extract", "tar --zstd -xf", None, lambda: (remove(x), os.makedirs(x)),
         ["tar", "--zstd", "-xf", archive, "-C", x], out, x, None),
    ]


def bench_corpus(runner, corpus_arg, rounds):
    corpus, _, size = corpus_arg.partition(":")
    base = os.path.join(runner.scratch, corpus)
    source = os.path.join(base, "src", corpus)
    out = os.path.join(base, "out")
    remove(base)
    os.makedirs(out)
    subprocess.run([sys.executable, os.path.join(HERE, "make_corpus.py"), corpus, source] + ([size] if size else []),
                   check=True)
    input_bytes = tree_size(source)
    if corpus == "sparse":
        jobs = sparse_jobs(source, out, runner.cli)
    elif corpus in SMALL_FILE_CORPORA:
        jobs = small_file_jobs(source, out, runner.build)
    else:
        jobs = jobs_for(corpus, source, out, runner.cli)
        if corpus in FAMILY_CORPORA:
            jobs += family_jobs(source, out, runner.cli)
    samples = {}
    for r in range(rounds):
        for job, tool, _, prepare, argv, cwd, output, after in jobs:
            prepare()
            wall, cpu, peak, server = runner.time(argv, cwd, tool.startswith("velmora"))
            if after:
                after()
            samples.setdefault((job, tool), []).append(
                (wall, cpu, peak, tree_size(output) if output else 0, disk_use(output) if output else 0, server))
            print(f"  {corpus} round {r + 1}: {job:14} {tool:30} {wall:7.2f} s", flush=True)
        # Extraction outputs are removed so the next round writes fresh files.
        remove(os.path.join(out, "x"))
        remove(os.path.join(out, os.path.basename(source)))
        remove(os.path.join(out, "floor"))
    rows = []
    medians = {}
    references = {}
    for job, tool, reference, *_ in jobs:
        if (job, tool) in medians:
            continue  # a floor that runs before more than one job
        s = samples[(job, tool)]
        wall = statistics.median(x[0] for x in s)
        medians[(job, tool)] = wall
        references[(job, tool)] = reference if isinstance(reference, tuple) else (job, reference)
        rows.append({"corpus": corpus, "job": job, "tool": tool,
                     "reference": (reference[1] if isinstance(reference, tuple) else reference) or "",
                     "wall_s": wall, "cpu_s": statistics.median(x[1] for x in s),
                     "server_cpu_s": statistics.median(x[5] for x in s),
                     "output_bytes": s[-1][3], "disk_bytes": s[-1][4], "input_mb_s": input_bytes / 1e6 / wall,
                     "peak_mib": max(x[2] for x in s) / 1024})
    cpus = {(row["job"], row["tool"]): row["cpu_s"] for row in rows}
    for row in rows:
        ref = references[(row["job"], row["tool"])]
        row["ratio"] = row["wall_s"] / medians[ref] if ref in medians else None
        row["overhead"] = None
        if row["tool"] == "velmora" and corpus in SMALL_FILE_CORPORA:
            # The cost of the files alone: each run less its run on nothing.
            velmora_empty = medians[(row["job"], row["tool"] + EMPTY)]
            floor_empty = medians[(ref[0], ref[1] + EMPTY)]
            row["overhead"] = (row["wall_s"] - velmora_empty) / (medians[ref] - floor_empty)
        elif row["tool"] == "velmora" and ref in cpus and row["job"] not in NO_OWN_FLOOR:
            floor = own_floor(row["job"], medians)
            row["overhead"] = row["wall_s"] / (floor + cpus[ref])
    remove(base)
    return input_bytes, rows


SMALL_FILE_CORPORA = ("flat", "deep")
EMPTY = " (empty)"


# Jobs without an I/O floor of their own in the table: the sparse image (its
# holes are not written) and the looks into an archive, which write nothing.
NO_OWN_FLOOR = ("sparse extract", "tzst test", "tzst list", "zip test", "zip list") + tuple(
    f"{family[0]} {job}" for family in FAMILIES for job in ("test", "list"))


def own_floor(job, medians):
    """The I/O a job cannot avoid with its fixed block sizes, from the floor rows. A
    copy-through reads the input once and writes it once. A ZIP job does
    about that (one copy-through), and so does the unpacking of a family
    libarchive reads. A .tzst job also passes the whole tarball
    through once more, a read or a write of it (one and a half), and its
    compression reads every entry's metadata through a disk reader (one
    entry-walk)."""
    copy = medians[("I/O floor", "velmora copy-through")]
    walk = medians[("I/O floor", "velmora entry-walk")]
    if job == "tzst compress":
        return 1.5 * copy + walk
    if job == "tzst extract":
        return 1.5 * copy
    return copy


def table_text(corpus, input_bytes, rows):
    lines = [f"{corpus}: {input_bytes / 2**20:.0f} MiB input",
             f"  {'job':14} {'tool':30} {'wall s':>8} {'CPU s':>7} {'srv s':>6} {'output MiB':>10} {'disk MiB':>8} {'MB/s':>7} "
             f"{'ratio':>22} {'peak MiB':>8} {'own':>5}"]
    for row in rows:
        ratio = f"{row['ratio']:.2f} x {row['reference']}" if row["ratio"] is not None else ""
        own = f"{row['overhead']:5.2f}" if row["overhead"] is not None else ""
        lines.append(f"  {row['job']:14} {row['tool']:30} {row['wall_s']:8.2f} {row['cpu_s']:7.2f} "
                     f"{row['server_cpu_s']:6.2f} "
                     f"{row['output_bytes'] / 2**20:10.1f} {row['disk_bytes'] / 2**20:8.1f} {row['input_mb_s']:7.1f} "
                     f"{ratio:>22.22} {row['peak_mib']:8.1f}"
                     f" {own:>5}")
    if corpus.partition(":")[0] in SMALL_FILE_CORPORA:
        lines.append("  ratio: Velmora's wall over its plain Win32 floor's (the same files made with CreateFileW,\n"
                     "  WriteFile and CloseHandle, or walked and read with FindFirstFileW, CreateFileW and ReadFile);\n"
                     "  own: the same ratio for the files alone, each wall less its run on an empty folder (\"(empty)\"\n"
                     "  rows: starting the program, its job and its end); srv s: the wineserver's CPU time;\n"
                     "  overlapped write floor: the write floor through overlapped handles, as the program's writer")
        return "\n".join(lines)
    lines.append("  own: Velmora's wall / (its I/O floor + the peer's CPU time); the floor is one copy-through\n"
                 "  for ZIP jobs and the unpacking of the libarchive families, one and a half for .tzst jobs,\n"
                 "  plus the entry-walk for .tzst compression; rar: stored entries;\n"
                 "  disk MiB: what the output takes on the disk (holes of a sparse file take none);\n"
                 "  srv s: the wineserver's CPU time on Velmora's calls")
    return "\n".join(lines)


def chart(rows, out_dir):
    data = os.path.join(out_dir, "bench.dat")
    with open(data, "w") as f:
        for row in rows:
            label = f"{row['corpus']} {row['job']}: {row['tool']}".replace('"', "'")
            f.write(f"\"{label}\" {row['wall_s']:.3f}\n")
    script = f"""
set terminal pngcairo size 1400,{200 + 22 * len(rows)} font ",10"
set output "{os.path.join(out_dir, 'bench.png')}"
set title "Velmora and its peers: wall time (s, median, lower is better)"
set style fill solid 0.7
set yrange [-1:{len(rows)}] reverse
set ytics font ",9"
set xlabel "seconds"
set grid xtics
set lmargin 48
unset key
plot "{data}" using (column(2)/2):0:(column(2)/2):(0.4):ytic(1) with boxxyerror
"""
    if shutil.which("gnuplot"):
        subprocess.run(["gnuplot"], input=script.encode(), check=False)
    else:
        print("gnuplot is missing: no chart (sh scripts/install-bench-tools.sh)")


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    build, out_dir = sys.argv[1], sys.argv[2]
    corpora = os.environ.get("BENCH_CORPORA", "mixed small flat deep large sparse").split()
    rounds = int(os.environ.get("BENCH_ROUNDS", "3"))
    runner = Runner(build, os.environ.get("BENCH_SCRATCH", "/dev/shm/velmora-bench"))
    os.makedirs(out_dir, exist_ok=True)
    runner.start_wine()
    texts, all_rows = [], []
    try:
        for corpus in corpora:
            input_bytes, rows = bench_corpus(runner, corpus, rounds)
            texts.append(table_text(corpus, input_bytes, rows))
            all_rows += rows
            print(texts[-1], flush=True)
    finally:
        runner.stop_wine()
        remove(runner.scratch)
    text = "\n\n".join(texts) + "\n"
    with open(os.path.join(out_dir, "bench.txt"), "w") as f:
        f.write(text)
    with open(os.path.join(out_dir, "bench.csv"), "w", newline="") as f:
        writer = csv.DictWriter(f, fieldnames=list(all_rows[0].keys()))
        writer.writeheader()
        writer.writerows(all_rows)
    chart(all_rows, out_dir)
    print("\n" + text + f"\nwritten: {out_dir}/bench.csv, bench.txt, bench.png")


if __name__ == "__main__":
    main()
