#!/usr/bin/env python3
"""Hand-made archives that lie, each run through velmora-cli's list, test
and decompress, which must judge every entry by the same rules: the ZIP
central directory's sizes and CRC-32 decide, an entry whose local record or
data another entry already claimed is refused, the end record is the last
one, names are decoded before anything is made of them, and each report
says what really happened.

    crafted_archives.py            run every case (VELMORA_BUILD_DIR: the build)
    crafted_archives.py CASE...    run the named cases
    crafted_archives.py --seeds D  only write the archives into folder D
                                   (the fuzzer's seeds)
"""
import os
import shutil
import struct
import io
import subprocess
import sys
import tarfile
import tempfile
import zlib

ZIP_LOCAL, ZIP_CENTRAL, ZIP_END = 0x04034B50, 0x02014B50, 0x06054B50
UNIX = 0x031E   # "version made by": Unix, 3.0
MSDOS = 0x0014  # MS-DOS, 2.0
UTF8_FLAG = 0x0800


def deflated(data):
    packer = zlib.compressobj(6, zlib.DEFLATED, -15)
    return packer.compress(data) + packer.flush()


class Entry:
    """One ZIP entry; every field either header gives may be set apart."""

    def __init__(self, name, data=b"", method=0, packed=None, **fields):
        self.name = name
        self.data = data
        self.method = method
        self.packed = data if packed is None and method == 0 else packed
        if self.packed is None:
            self.packed = deflated(data)
        self.crc = zlib.crc32(data)
        self.flag = 0
        self.made_by = UNIX
        self.external = 0o100644 << 16
        self.local_name = name
        self.local_flag = None  # the flag's value in the local header, when it differs
        self.local = None       # (crc, compressed, uncompressed) of the local header
        self.central = None     # (crc, compressed, uncompressed) of the central header
        self.offset = None      # the local header's offset the directory gives
        self.write_local = True
        self.__dict__.update(fields)

    def local_header(self):
        crc, packed, size = self.local or (self.crc, len(self.packed), len(self.data))
        flag = self.flag if self.local_flag is None else self.local_flag
        return struct.pack("<IHHHHHIIIHH", ZIP_LOCAL, 20, flag, self.method, 0, 0x21, crc, packed, size,
                           len(self.local_name), 0) + self.local_name

    def central_header(self, offset):
        crc, packed, size = self.central or (self.crc, len(self.packed), len(self.data))
        return struct.pack("<IHHHHHHIIIHHHHHII", ZIP_CENTRAL, self.made_by, 20, self.flag, self.method, 0, 0x21,
                           crc, packed, size, len(self.name), 0, 0, 0, 0, self.external, offset) + self.name


def end_record(count, size, offset, comment=b""):
    return struct.pack("<IHHHHIIH", ZIP_END, 0, 0, count, count, size, offset, len(comment)) + comment


def zip_archive(entries, comment=b"", before_directory=b""):
    out, directory = b"", b""
    for e in entries:
        at = len(out)
        if e.write_local:
            out += e.local_header() + e.packed
        directory += e.central_header(at if e.offset is None else e.offset)
    out += before_directory
    return out + directory + end_record(len(entries), len(directory), len(out), comment)


def zstd_frame_header(dictionary_id=0, window_log=20, data=b""):
    """A frame with a window descriptor and, when given, a 4-byte dictionary
    ID, holding data in raw blocks (one empty block when there is none)."""
    descriptor = 0x03 if dictionary_id else 0x00  # Dictionary_ID_flag: 4 bytes
    frame = struct.pack("<IBB", 0xFD2FB528, descriptor, (window_log - 10) << 3)
    if dictionary_id:
        frame += struct.pack("<I", dictionary_id)
    pieces = [data[i:i + 65536] for i in range(0, len(data), 65536)] or [b""]
    for i, piece in enumerate(pieces):
        frame += struct.pack("<I", len(piece) << 3 | (i + 1 == len(pieces)))[:3] + piece  # raw blocks
    return frame


def tarball(files):
    out = io.BytesIO()
    with tarfile.open(fileobj=out, mode="w", format=tarfile.GNU_FORMAT) as tar:
        for name, data in files:
            info = tarfile.TarInfo(name)
            info.size = len(data)
            tar.addfile(info, io.BytesIO(data))
    return out.getvalue()


def hard_link_with_data():
    """A pax hard link that carries data of its own (a size record): it is
    a file, to a listing as to the extraction."""
    out = io.BytesIO()
    with tarfile.open(fileobj=out, mode="w", format=tarfile.PAX_FORMAT) as tar:
        for name, data, link in (("a.txt", b"alpha", None), ("b.txt", b"bravo", "a.txt"), ("c.txt", b"cee", None)):
            info = tarfile.TarInfo(name)
            info.size = len(data)
            if link:
                info.type, info.linkname, info.pax_headers = tarfile.LNKTYPE, link, {"size": str(len(data))}
            tar.addfile(info, io.BytesIO(data))
    return zstd_frame_header(data=out.getvalue())


def dictionary_after_first_frame():
    """Frame 1 holds a.txt whole and the start of n.bin; frame 2 was made
    with a dictionary."""
    tar = tarball([("a.txt", b"alpha\n"), ("n.bin", bytes(range(256)) * 16)])
    return zstd_frame_header(data=tar[:1024 + 512]) + zstd_frame_header(dictionary_id=7, data=tar[1024 + 512:])


# ---------------------------------------------------------------------------
# The cases. Each builds an archive and says what velmora-cli must print:
# list's standard output exactly, lines that test and decompress must print
# on standard error, their exit codes, and the files the extraction leaves
# (name: bytes) exactly.

MIB_OF_ZEROS = bytes(1 << 20)


def shared_record():
    """Ten central entries point at one local record of 1 MiB of zeros."""
    first = Entry(b"f0.bin", MIB_OF_ZEROS, 8)
    others = [Entry(b"f%d.bin" % i, MIB_OF_ZEROS, 8, write_local=False, offset=0, local_name=b"f0.bin")
              for i in range(1, 10)]
    return zip_archive([first] + others)


def record_inside_data():
    """inner.txt's local record lies inside outer.bin's stored data."""
    inner = Entry(b"inner.txt", b"inside\n")
    inner_record = inner.local_header() + inner.packed
    outer = Entry(b"outer.bin", b"head" + inner_record + b"tail")
    inner.write_local = False
    inner.offset = 30 + len(outer.name) + 4
    return zip_archive([outer, inner])


def local_name_differs():
    """b.txt's local header names x.txt: it is some other entry's header."""
    return zip_archive([Entry(b"a.txt", b"first\n"), Entry(b"b.txt", b"second\n", local_name=b"x.txt")])


def stored_sizes_zero_locally():
    """The local header (no data descriptor) gives sizes and CRC-32 of 0;
    the central header gives the 960 bytes and their CRC-32."""
    data = b"0123456789abcdef" * 60
    return zip_archive([Entry(b"data.txt", data, local=(0, 0, 0))])


def empty_deflate_entry():
    """An empty file in Deflate with no data at all, then another entry."""
    return zip_archive([Entry(b"empty.txt", b"", 8, packed=b""), Entry(b"next.txt", b"after the empty one\n", 8)])


def planted_end_record():
    """pad.bin's stored data holds evil.txt's records and an end record
    whose comment runs to the end of the file; the real directory and end
    record follow."""
    real = Entry(b"real.txt", b"the real entry\n")
    pad = Entry(b"pad.bin")
    evil = Entry(b"evil.txt", b"planted\n")
    evil_at = len(real.local_header() + real.packed) + len(pad.local_header())
    evil_record = evil.local_header() + evil.packed
    evil_directory = evil.central_header(evil_at)
    real_tail = len(real.central_header(0) + pad.central_header(0)) + 22
    fake_end = end_record(1, len(evil_directory), evil_at + len(evil_record))[:-2] + struct.pack("<H", real_tail)
    pad.data = pad.packed = evil_record + evil_directory + fake_end
    pad.crc = zlib.crc32(pad.data)
    return zip_archive([real, pad])


def archive_in_comment():
    """An archive whose comment is a whole archive: the last end record is
    the inner one, which Info-ZIP and Python read."""
    inner = zip_archive([Entry(b"-", b"inner\n")])
    return zip_archive([Entry(b"testfile.txt", b"outer\n")], comment=inner)


def cp932_name_ending_in_5c():
    """ソ is 83 5C in code page 932: a file, not a folder."""
    return zip_archive([Entry(b"\x83\x5c", b"katakana so\n", made_by=MSDOS, external=0x20)])


def flagged_name_not_utf8():
    """The UTF-8 flag on a name in the OEM code page (caf\\xE9.txt)."""
    return zip_archive([Entry(b"caf\xe9.txt", b"latin\n", flag=UTF8_FLAG, made_by=MSDOS, external=0x20)])


def zip_symlink():
    """Info-ZIP's zip -y: a symbolic link stored as its target's path."""
    return zip_archive([Entry(b"target.txt", b"the target\n"),
                        Entry(b"link", b"target.txt", external=0o120777 << 16)])


def same_name_twice():
    return zip_archive([Entry(b"a.txt", b"first\n"), Entry(b"a.txt", b"second\n")])


def same_name_but_case():
    return zip_archive([Entry(b"a.txt", b"first\n"), Entry(b"A.TXT", b"second\n")])


def understated_size():
    """The directory says 1,000 bytes; the data holds 1 MiB of zeros whose
    CRC-32 is right: the data is not what the directory lists."""
    return zip_archive([Entry(b"zeros.bin", MIB_OF_ZEROS, 8, central=(zlib.crc32(MIB_OF_ZEROS),
                                                                      len(deflated(MIB_OF_ZEROS)), 1000)),
                        Entry(b"ok.txt", b"ok\n")])


def stored_central_crc_wrong():
    """Only the local header has the right CRC-32: the directory decides."""
    data = b"stored bytes\n"
    return zip_archive([Entry(b"s.txt", data, central=(zlib.crc32(data) ^ 1, len(data), len(data)))])


def zstd_dictionary_file():
    return zstd_frame_header(dictionary_id=0x1234)


def zstd_dictionary_in_zip():
    frame = zstd_frame_header(dictionary_id=77)
    return zip_archive([Entry(b"dict.bin", b"", 93, packed=frame), Entry(b"ok.txt", b"ok\n")])


def dots_only_zst():
    return zstd_frame_header()


def utf8_name(text):
    return text.encode("utf-8")


class Case:
    def __init__(self, name, build, extension=".zip", listing=None, test_rc=0, test_says=(), rc=0, says=(),
                 files=None, archive_name=None, output=None, env=None, list_rc=0, list_says=()):
        self.name, self.build, self.extension = name, build, extension
        self.listing, self.list_rc, self.list_says = listing, list_rc, list_says
        self.test_rc, self.test_says = test_rc, test_says
        self.rc, self.says, self.files = rc, says, files
        self.archive_name = archive_name or name + extension
        self.output, self.env = output, env


SHARES = "shares its data with an earlier entry, not extracted"
CASES = [
    Case("shared_record", shared_record,
         listing="".join("1048576\tf%d.bin\n" % i for i in range(10)),
         test_rc=1, test_says=["damaged: f%d.bin (shares its data with an earlier entry)" % i for i in range(1, 10)],
         rc=1, says=["velmora-cli: %s: f%d.bin" % (SHARES, i) for i in range(1, 10)],
         files={"f0.bin": MIB_OF_ZEROS}),
    Case("record_inside_data", record_inside_data,
         listing="%d\touter.bin\n7\tinner.txt\n" % (8 + 30 + 9 + 7),
         test_rc=1, test_says=["damaged: inner.txt (shares its data with an earlier entry)"],
         rc=1, says=["velmora-cli: %s: inner.txt" % SHARES],
         files={"outer.bin": None}),
    Case("local_name_differs", local_name_differs, listing="6\ta.txt\n7\tb.txt\n",
         test_rc=1, test_says=["damaged: b.txt (its local header names another entry: x.txt)"],
         rc=1, says=["velmora-cli: damaged or cut short, not extracted: b.txt"], files={"a.txt": b"first\n"}),
    Case("stored_sizes_zero_locally", stored_sizes_zero_locally, listing="960\tdata.txt\n",
         files={"data.txt": b"0123456789abcdef" * 60}),
    Case("empty_deflate_entry", empty_deflate_entry, listing="0\tempty.txt\n20\tnext.txt\n",
         files={"empty.txt": b"", "next.txt": b"after the empty one\n"}),
    Case("planted_end_record", planted_end_record, listing=None,
         files={"real.txt": b"the real entry\n", "pad.bin": None}),
    Case("archive_in_comment", archive_in_comment, listing="6\t-\n", files={"-": b"inner\n"}),
    Case("cp932_name_ending_in_5c", cp932_name_ending_in_5c, env={"LANG": "ja_JP.UTF-8"},
         listing="12\t\u30bd\n", files={"\u30bd": b"katakana so\n"}),
    Case("flagged_name_not_utf8", flagged_name_not_utf8, listing="6\tcaf\u0398.txt\n",
         files={"caf\u0398.txt": b"latin\n"}),
    Case("flagged_name_not_utf8_into_d\u00e9", flagged_name_not_utf8, archive_name="flagged.zip",
         output="out/d\u00e9", listing="6\tcaf\u0398.txt\n", files={"caf\u0398.txt": b"latin\n"}),
    Case("zip_symlink", zip_symlink, listing="11\ttarget.txt\n0\tlink -> target.txt\n",
         rc=1, says=["velmora-cli: symbolic link not created: link -> target.txt"],
         files={"target.txt": b"the target\n"}),
    Case("same_name_twice", same_name_twice, listing="6\ta.txt\n7\ta.txt\n",
         rc=1, says=["velmora-cli: same name as an earlier file: a.txt, saved as a (2).txt"],
         files={"a.txt": b"first\n", "a (2).txt": b"second\n"}),
    Case("same_name_but_case", same_name_but_case, listing="6\ta.txt\n7\tA.TXT\n",
         rc=1, says=["velmora-cli: same name as an earlier file but for letter case: A.TXT, saved as A (2).TXT"],
         files={"a.txt": b"first\n", "A (2).TXT": b"second\n"}),
    Case("understated_size", understated_size, listing="1000\tzeros.bin\n3\tok.txt\n",
         test_rc=1, test_says=["damaged: zeros.bin (its data holds more than the 1000 bytes its header gives)"],
         rc=1, says=["velmora-cli: checksum or size mismatch, kept: zeros.bin"],
         files={"zeros.bin": bytes(1000), "ok.txt": b"ok\n"}),
    Case("stored_central_crc_wrong", stored_central_crc_wrong, listing="13\ts.txt\n",
         test_rc=1, test_says=["damaged: s.txt (CRC-32 mismatch)"],
         rc=1, says=["velmora-cli: checksum or size mismatch, kept: s.txt"], files={"s.txt": b"stored bytes\n"}),
    Case("zstd_dictionary_file", zstd_dictionary_file, extension=".zst", archive_name="notes.txt.zst",
         list_rc=3, list_says=["velmora-cli: the archive is compressed with a Zstandard dictionary (ID 4660), "
                               "which Velmora does not have: {archive}"],
         test_rc=3, test_says=["velmora-cli: compressed with a Zstandard dictionary (ID 4660), which Velmora "
                               "does not have: {archive}"],
         rc=3, says=["velmora-cli: compressed with a Zstandard dictionary (ID 4660), which Velmora does not have: "
                     "{archive}"], files={}),
    Case("zstd_dictionary_in_zip", zstd_dictionary_in_zip, listing="0\tdict.bin\n3\tok.txt\n",
         test_rc=1, test_says=["not tested: dict.bin (compressed with a Zstandard dictionary (ID 77))"],
         rc=1, says=["velmora-cli: compressed with a Zstandard dictionary (ID 77), which Velmora cannot unpack: "
                     "dict.bin"], files={"ok.txt": b"ok\n"}),
    Case("tzst_hard_link_with_data", hard_link_with_data, extension=".tzst", listing="5\ta.txt\n5\tb.txt\n3\tc.txt\n",
         files={"a.txt": b"alpha", "b.txt": b"bravo", "c.txt": b"cee"}),
    Case("tzst_not_zstandard", lambda: b"hello", extension=".tzst", list_rc=3,
         list_says=["velmora-cli: the archive could not be read: {archive}"], test_rc=3, rc=3,
         says=["velmora-cli: archive could not be read: {archive}"], files={}),
    Case("tzst_dictionary_after_first_frame", dictionary_after_first_frame, extension=".tzst", listing=None,
         test_rc=1, test_says=["damaged: n.bin (cut short)"], rc=1,
         says=["velmora-cli: damaged or cut short, not extracted: n.bin",
               "velmora-cli: compressed with a Zstandard dictionary (ID 7), which Velmora does not have: {archive}"],
         files={"a.txt": b"alpha\n"}),
    Case("dots_only_zst_with_output", dots_only_zst, extension=".zst", archive_name="..zst", output="out",
         listing=None, test_rc=None,
         rc=3, says=["velmora-cli: name is only dots or spaces, not unpacked: {archive}"], files={}),
]


# ---------------------------------------------------------------------------
# Running velmora-cli under Wine.

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.environ.get("VELMORA_BUILD_DIR", os.path.join(ROOT, "build"))
CLI = os.environ.get("VELMORA_CLI", os.path.join(BUILD, "velmora-cli.exe"))


def win(path):
    return "Z:" + path.replace("/", "\\")


def cli(arguments, env=None):
    environment = dict(os.environ, WINEPREFIX=os.environ.get("WINEPREFIX", os.path.join(BUILD, "wineprefix")),
                       WINEDEBUG="-all")
    environment.update(env or {})
    run = subprocess.run(["wine", CLI] + arguments, stdin=subprocess.DEVNULL, capture_output=True, env=environment)
    return run.returncode, run.stdout.decode("utf-8", "replace"), run.stderr.decode("utf-8", "replace")


def tree(folder):
    found = {}
    for base, folders, names in os.walk(folder):
        for name in names:
            path = os.path.join(base, name)
            found[os.path.relpath(path, folder)] = open(path, "rb").read()
    return found


def lines_missing(wanted, text, archive):
    have = text.splitlines()
    return [line.format(archive=archive) for line in wanted if line.format(archive=archive) not in have]


def run_case(case, work):
    """Returns the list of what went wrong (empty when the case holds)."""
    folder = os.path.join(work, case.name)
    os.makedirs(folder)
    archive = os.path.join(folder, case.archive_name)
    with open(archive, "wb") as f:
        f.write(case.build())
    shown = win(archive)
    faults = []

    rc, out, err = cli(["list", shown], case.env)
    if case.listing is not None and (rc, out) != (case.list_rc, case.listing):
        faults.append("list: exit %d, printed %r, not exit %d and %r (%s)" % (rc, out, case.list_rc, case.listing,
                                                                            err.strip()))
    faults += ["list: missing %r in %r" % (line, err) for line in lines_missing(case.list_says, err, shown)]

    if case.test_rc is not None:
        rc, out, err = cli(["test", shown], case.env)
        if rc != case.test_rc:
            faults.append("test: exit %d, not %d (%s)" % (rc, case.test_rc, err.strip()))
        faults += ["test: missing %r in %r" % (line, err) for line in lines_missing(case.test_says, err, shown)]

    if case.output:
        destination = os.path.join(folder, case.output)
        rc, out, err = cli(["decompress", "-o", win(destination), shown], case.env)
    else:
        destination = os.path.join(folder, os.path.splitext(case.archive_name)[0])
        rc, out, err = cli(["decompress", shown], case.env)
    if rc != case.rc:
        faults.append("decompress: exit %d, not %d (%s)" % (rc, case.rc, err.strip()))
    faults += ["decompress: missing %r in %r" % (line, err) for line in lines_missing(case.says, err, shown)]
    if case.files is not None:
        got = tree(destination) if os.path.isdir(destination) else {}
        if sorted(got) != sorted(case.files):
            faults.append("decompress: files %s, not %s" % (sorted(got), sorted(case.files)))
        for name, data in case.files.items():
            if data is not None and name in got and got[name] != data:
                faults.append("decompress: %s holds %d bytes that differ from the %d expected" %
                              (name, len(got[name]), len(data)))
        # Nothing beside the archive and its destination.
        strays = set(os.listdir(folder)) - {case.archive_name, os.path.basename(destination),
                                            case.output and case.output.split("/")[0]}
        if strays:
            faults.append("decompress: left %s beside the archive" % sorted(strays))
    return faults


def locale_missing(env):
    """The Unix locale a case's LANG names, when this machine lacks it: Wine
    then keeps its own code pages, and the case cannot run."""
    wanted = (env or {}).get("LANG", "").lower().replace("-", "")
    if not wanted:
        return None
    have = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.lower().replace("-", "").split()
    return None if wanted in have else env["LANG"]


def main(arguments):
    if arguments[:1] == ["--seeds"]:
        os.makedirs(arguments[1], exist_ok=True)
        for case in CASES:
            with open(os.path.join(arguments[1], case.name + case.extension), "wb") as f:
                f.write(case.build())
        return 0
    chosen = [c for c in CASES if not arguments or c.name in arguments]
    work = tempfile.mkdtemp(prefix="velmora-crafted.", dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    failed = skipped = 0
    try:
        for case in chosen:
            missing = locale_missing(case.env)
            if missing:
                print("skip %s (the locale %s is not installed)" % (case.name, missing))
                skipped += 1
                continue
            faults = run_case(case, work)
            print(("FAIL " if faults else "ok   ") + case.name)
            for fault in faults:
                print("     " + fault)
            failed += bool(faults)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d passed, %d failed, %d skipped" % (len(chosen) - failed - skipped, failed, skipped))
    return 1 if failed else 77 if skipped else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
