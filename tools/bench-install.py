#!/usr/bin/env python3
"""Installation, update and uninstallation under Wine against NSIS 3.

Generates a product from a fixed seed (default 45 MiB in 1,500 files and 60
folders: about half text, a quarter machine-code-like, a fifth already
compressed data, the rest binary tables), builds our installer carrying it
(the mingw target bench_setup, with the demo's setup files and a generated
Install.xml) and an NSIS 3 installer of the same files (solid LZMA, 64-bit
stub, doing the same work: files, Mivo.ini, the registration program,
shortcuts, uninstaller and uninstall entry), and runs both in one Wine
prefix, pair after pair, the order alternating from pair to pair:

  fresh    a silent installation into an empty folder;
  update   ours: over the installed files, marked as version 5.40, with the
           player running (the close step ends it) and, when the preparation
           step is registered, a backup archive; NSIS: its installer again
           over its installed files;
  uninstall silent, as a user starts it (Uninstall.exe from the installation
           folder; both relaunch themselves from the temporary folder and are
           waited for to the end of the last process).

Every run is timed by the wall clock from the start of the program to the
end of the last process it started (this script is their child subreaper, so
that it also waits for processes whose parents did not), and by the CPU time
of those processes (user and system; steadier than the wall clock on a busy
machine; Wine's server is not counted). Peak memory is the largest peak
resident set (VmHWM: private and mapped pages together) of the processes of
the run, sampled from /proc every 5 ms while they run.
After every installation the installed tree is compared byte for byte with
the generated product. Prints per case the median and range of both and of
the ratio ours/NSIS, and the installed footprint. One unrecorded round comes
first, so that the prefix's one-time set-up falls in no pair.

usage: tools/bench-install.py [--build DIR] [--pairs N] [--mib M] [--files N]
                              [--folders N] [--seed S] [--smoke] [--keep]
                              [--logs DIR]
--smoke: a tiny product and one pair (checks the script and the installers).
--logs DIR: our runs write a /LOG each (the steps to the millisecond and the
process's own peak memory counters), copied to DIR.
"""

import argparse
import ctypes
import hashlib
import os
import random
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WINE_RUN = os.path.join(ROOT, "tools", "wine-run.sh")
UNINSTALL_KEY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall"
REG_SWITCHES = "/REG=L1 /REG=D1 /REG=R1 /REG=M1 /REG=R2"


# --- the product ---------------------------------------------------------------

def words(rng, count):
    letters = "etaoinshrdlcumwfgypbvkjxqz"
    weights = [12, 9, 8, 8, 7, 7, 6, 6, 6, 4, 4, 3, 3, 2, 2, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1]
    return ["".join(rng.choices(letters, weights, k=rng.randint(2, 10))) for _ in range(count)]


def text_bytes(rng, size, vocabulary):
    """Lines of words, some as key=value and some as markup: compresses like
    documentation and configuration (about 1:3 to 1:4)."""
    out = []
    total = 0
    while total < size:
        kind = rng.random()
        line_words = rng.choices(vocabulary, k=rng.randint(3, 14))
        if kind < 0.2:
            line = "%s=%s" % (line_words[0].capitalize(), " ".join(line_words[1:4]))
        elif kind < 0.35:
            line = '<%s name="%s">%s</%s>' % (line_words[0], line_words[1],
                                              " ".join(line_words[2:]), line_words[0])
        else:
            line = " ".join(line_words).capitalize() + "."
        out.append(line)
        total += len(line) + 2
    return "\r\n".join(out).encode("ascii")[:size]


def code_bytes(rng, size):
    """Instruction-like: opcodes from a small skewed set with short
    operands, many of them repeated (compresses to about half, like x86-64)."""
    opcodes = [bytes(rng.randrange(256) for _ in range(rng.randint(1, 3))) for _ in range(160)]
    weights = [1.0 / (i + 1) for i in range(len(opcodes))]
    operands = [rng.randrange(1 << 32).to_bytes(4, "little") for _ in range(512)]
    out = bytearray()
    chosen = rng.choices(opcodes, weights, k=size // 2 + 16)
    i = 0
    while len(out) < size:
        out += chosen[i]
        r = rng.random()
        if r < 0.35:
            out += operands[int(rng.random() ** 3 * len(operands))][: rng.choice((1, 1, 4))]
        elif r < 0.45:
            out += rng.randrange(1 << 32).to_bytes(4, "little")
        i += 1
        if i == len(chosen):
            i = 0
    return bytes(out[:size])


def table_bytes(rng, size):
    """Binary tables: growing 32-bit values and zero padding."""
    out = bytearray()
    value = rng.randrange(1 << 16)
    while len(out) < size:
        value = (value + rng.randrange(1, 300)) & 0xFFFFFFFF
        out += value.to_bytes(4, "little")
        if rng.random() < 0.05:
            out += bytes(rng.randrange(4, 64))
    return bytes(out[:size])


def make_product(directory, seed, total, files, folders):
    """Writes the product below directory; returns {relative path: sha256}."""
    rng = random.Random(seed)
    vocabulary = words(rng, 3000)
    tops = max(1, folders // 6)
    names = []
    for t in range(tops):
        names.append("Group%02d" % t)
    for s in range(folders - tops):
        names.append("Group%02d/Part%02d" % (s % tops, s // tops))
    sizes = [rng.lognormvariate(0, 1.3) for _ in range(files)]
    scale = total / sum(sizes)
    sizes = [max(1, int(s * scale)) for s in sizes]
    sizes[0] += total - sum(sizes)
    # Kinds by share of the bytes: text 50 %, code 25 %, compressed 20 %, tables 5 %.
    shares = [("text", 0.50), ("code", 0.25), ("packed", 0.20), ("table", 0.05)]
    budget = {kind: share * total for kind, share in shares}
    order = list(range(files))
    rng.shuffle(order)
    kinds = [None] * files
    for i in order:
        kind = max(budget, key=lambda k: budget[k])
        kinds[i] = kind
        budget[kind] -= sizes[i]
    extensions = {"text": [".txt", ".ini", ".xml", ".lng"], "code": [".dll", ".exe", ".ax"],
                  "packed": [".png", ".ogg", ".zip"], "table": [".dat", ".bin"]}
    digests = {}
    for i in range(files):
        folder = names[i % len(names)]
        name = "%s/file%04d%s" % (folder, i, rng.choice(extensions[kinds[i]]))
        if kinds[i] == "text":
            data = text_bytes(rng, sizes[i], vocabulary)
        elif kinds[i] == "code":
            data = code_bytes(rng, sizes[i])
        elif kinds[i] == "packed":
            data = rng.randbytes(sizes[i])
        else:
            data = table_bytes(rng, sizes[i])
        path = os.path.join(directory, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        digests[name] = hashlib.sha256(data).hexdigest()
    return digests


def tree_digests(directory, names):
    """The digest of each named file below directory (None when missing)."""
    result = {}
    for name in names:
        try:
            with open(os.path.join(directory, name), "rb") as f:
                result[name] = hashlib.sha256(f.read()).hexdigest()
        except OSError:
            result[name] = None
    return result


# --- the installers ----------------------------------------------------------

def write_install_xml(path, names):
    with open(path, "w", encoding="utf-8", newline="\r\n") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<installer>\n  <setup>\n'
                '    <license>\n      <File name="License_EN.rtf" lang-family="EN"/>\n'
                '    </license>\n  </setup>\n  <product>\n    <Settings>\n'
                '      <Item name="ProductName" value="Mivo"/>\n'
                '      <Item name="ProductVersion" value="5.50"/>\n'
                '      <Item name="ProductVersionId" value="5500"/>\n'
                '      <Item name="ProductVersionNo" value="5.50.0.5500"/>\n'
                '      <Item name="BuildDate" value="2025-03-03"/>\n'
                '      <Item name="Publisher" value="Mivo Team"/>\n'
                '      <Item name="HomePage" value="https://mivo.example/"/>\n'
                '    </Settings>\n    <Components>\n')
        for name in names:
            win = name.replace("/", "\\")
            f.write('      <File name="$DEST%s">%s</File>\n' % (win, win))
        f.write('    </Components>\n    <Shortcuts>\n'
                '      <File name="$DESKTOP$NAME.lnk">$DESTMivo.exe</File>\n'
                '      <File name="$STARTMENU$NAME\\$NAME.lnk">$DESTMivo.exe</File>\n'
                '      <File name="$STARTMENU$NAME\\Uninstall $NAME.lnk">$DESTUninstall.exe</File>\n'
                '    </Shortcuts>\n  </product>\n</installer>\n')


def write_nsis_script(path, product, names, folders, out):
    """An NSIS installer doing what ours does in a standard installation."""
    lines = [
        "Target amd64-unicode", "SetCompressor /SOLID lzma", "SilentInstall silent",
        "SilentUnInstall silent", "RequestExecutionLevel admin", 'OutFile "%s"' % out,
        'InstallDir "C:\\BenchNsis"', "Section",
        '  SetOutPath "$INSTDIR"',
        '  File /r "%s/*"' % product,
        '  WriteINIStr "$INSTDIR\\Mivo.ini" System Version 5500',
        '  WriteINIStr "$INSTDIR\\Mivo.ini" System UserMode 1',
        '  WriteUninstaller "$INSTDIR\\Uninstall.exe"',
        '  WriteRegStr HKLM "%s\\MivoNsis" DisplayName "Mivo"' % UNINSTALL_KEY,
        '  WriteRegStr HKLM "%s\\MivoNsis" UninstallString "$INSTDIR\\Uninstall.exe"' % UNINSTALL_KEY,
        '  ExecWait \'"$INSTDIR\\Rivadavi.exe" %s\'' % REG_SWITCHES,
        '  CreateShortcut "$DESKTOP\\MivoNsis.lnk" "$INSTDIR\\Mivo.exe"',
        '  CreateDirectory "$SMPROGRAMS\\MivoNsis"',
        '  CreateShortcut "$SMPROGRAMS\\MivoNsis\\Mivo.lnk" "$INSTDIR\\Mivo.exe"',
        '  CreateShortcut "$SMPROGRAMS\\MivoNsis\\Uninstall Mivo.lnk" "$INSTDIR\\Uninstall.exe"',
        "SectionEnd", 'Section "Uninstall"',
        '  ExecWait \'"$INSTDIR\\Rivadavi.exe" /REG=U\'',
        '  Delete "$DESKTOP\\MivoNsis.lnk"',
        '  Delete "$SMPROGRAMS\\MivoNsis\\Mivo.lnk"',
        '  Delete "$SMPROGRAMS\\MivoNsis\\Uninstall Mivo.lnk"',
        '  RMDir "$SMPROGRAMS\\MivoNsis"',
    ]
    for name in names:
        lines.append('  Delete "$INSTDIR\\%s"' % name.replace("/", "\\"))
    lines += ['  Delete "$INSTDIR\\Mivo.ini"', '  Delete "$INSTDIR\\Uninstall.exe"']
    for folder in sorted(folders, key=lambda f: -f.count("/")):
        lines.append('  RMDir "$INSTDIR\\%s"' % folder.replace("/", "\\"))
    lines += ['  RMDir "$INSTDIR"', '  DeleteRegKey HKLM "%s\\MivoNsis"' % UNINSTALL_KEY,
              "SectionEnd"]
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")


# --- running under Wine ------------------------------------------------------

def become_subreaper():
    libc = ctypes.CDLL(None, use_errno=True)
    PR_SET_CHILD_SUBREAPER = 36
    if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        sys.exit("cannot become a child subreaper")


def children():
    mine = str(os.getpid())
    pids = set()
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            if fields[1] == mine and fields[0] != "Z":
                pids.add(int(entry))
        except OSError:
            pass
    return pids


class PeakSampler:
    """The largest peak resident set (VmHWM, KiB) of a process and of every
    process it starts, read from /proc every few milliseconds while they run.
    VmHWM belongs to the process's own address space, unlike ru_maxrss,
    which carries over what the parent held when it forked."""

    def __init__(self):
        self.peak = 0
        self.mine = set()
        self.others = set(int(p) for p in os.listdir("/proc") if p.isdigit())
        self.done = threading.Event()
        self.thread = None

    def start(self, pid):
        self.mine.add(pid)
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def sample(self):
        me = os.getpid()
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            pid = int(entry)
            if pid not in self.mine and pid not in self.others:
                try:
                    with open("/proc/%d/stat" % pid) as f:
                        parent = int(f.read().rsplit(")", 1)[1].split()[1])
                except (OSError, ValueError, IndexError):
                    continue
                (self.mine if parent == me or parent in self.mine else self.others).add(pid)
        for pid in list(self.mine):
            try:
                with open("/proc/%d/status" % pid) as f:
                    for line in f:
                        if line.startswith("VmHWM:"):
                            self.peak = max(self.peak, int(line.split()[1]))
                            break
            except OSError:
                pass

    def run(self):
        while not self.done.is_set():
            self.sample()
            time.sleep(0.005)

    def stop(self):
        self.done.set()
        if self.thread:
            self.thread.join()
        return self.peak


class Wine:
    def __init__(self, prefix, work):
        self.prefix = prefix
        self.work = work
        self.env = dict(os.environ, WINEPREFIX=prefix)
        self.reaped = {}  # pid -> (status, maxrss KiB), of processes nobody waited for yet

    def host(self, path):
        return os.path.join(self.prefix, "drive_c", path[3:].replace("\\", "/"))

    def command(self, args):
        return [WINE_RUN, "--prefix", self.prefix] + args

    def call(self, args, check=True):
        code = subprocess.call(self.command(args), env=self.env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
        if check and code != 0:
            raise RuntimeError("%s: exit code %d" % (" ".join(args), code))
        return code

    def start(self, args):
        return subprocess.Popen(self.command(args), env=self.env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def measure(self, args, timeout=600):
        """Runs the program to the end of every process it started: wall
        seconds, exit code, largest peak resident set in MiB, CPU seconds."""
        before = children()
        sampler = PeakSampler()
        start = time.monotonic()
        process = self.start(args)
        sampler.start(process.pid)
        cpu = 0.0
        code = None
        try:
            while True:
                try:
                    pid, status, usage = os.wait4(-1, os.WNOHANG)
                except ChildProcessError:
                    pid = 0
                if pid == 0:
                    if code is not None and not (children() - before):
                        break
                    if time.monotonic() - start > timeout:
                        raise RuntimeError("%s: no end after %d s" % (args[0], timeout))
                    time.sleep(0.002)
                    continue
                if pid in before:
                    self.reaped[pid] = (status, usage.ru_maxrss)
                    continue
                cpu += usage.ru_utime + usage.ru_stime
                if pid == process.pid:
                    code = os.waitstatus_to_exitcode(status)
                    process.returncode = code
        finally:
            peak = sampler.stop()
        return time.monotonic() - start, code, peak / 1024.0, cpu

    def has_ended(self, process):
        if process.pid in self.reaped:
            return True
        return process.poll() is not None


# --- the benchmark -----------------------------------------------------------

def build_inputs(args, work):
    build = os.path.abspath(args.build)
    ipk = os.path.join(build, "host-tools", "tools", "ipk", "ipk")
    if not os.access(ipk, os.X_OK):
        ipk = os.path.join(ROOT, "build", "native", "tools", "ipk", "ipk")
    if not os.access(ipk, os.X_OK):
        sys.exit("no host ipk: build the mingw preset's demo_setup first")
    companions = os.path.join(build, "demo", "companions")
    for name in ("Mivo.exe", "Rivadavi.exe"):
        if not os.path.isfile(os.path.join(companions, name)):
            sys.exit("build the mingw preset's demo_setup first (%s is missing)" % name)
    if not shutil.which("makensis"):
        sudo = [] if os.getuid() == 0 else ["sudo"]
        subprocess.check_call(sudo + ["apt-get", "install", "-y", "-q", "--no-install-recommends",
                                      "nsis"], stdout=subprocess.DEVNULL)

    product = os.path.join(work, "product")
    print("generating %d files in %d folders, %.1f MiB (seed %d)"
          % (args.files, args.folders, args.mib, args.seed), flush=True)
    digests = make_product(product, args.seed, int(args.mib * 1048576), args.files, args.folders)
    for name in ("Mivo.exe", "Rivadavi.exe"):
        shutil.copy(os.path.join(companions, name), product)
        with open(os.path.join(product, name), "rb") as f:
            digests[name] = hashlib.sha256(f.read()).hexdigest()
    names = sorted(digests)
    folders = sorted({os.path.dirname(n) for n in names if "/" in n} |
                     {n.split("/")[0] for n in names if "/" in n})

    packages = os.path.join(build, "bench-install")
    os.makedirs(packages, exist_ok=True)
    setup = os.path.join(work, "setup")
    shutil.copytree(os.path.join(ROOT, "demo", "setup"), setup)
    write_install_xml(os.path.join(setup, "Install.xml"), names)
    for package, source in (("setup.ipk", setup), ("product.ipk", product)):
        target = os.path.join(packages, package)
        subprocess.check_call([ipk, "create", target + ".new", source], stdout=subprocess.DEVNULL)
        # Unchanged packages keep their time, so the installer is not relinked.
        if os.path.exists(target) and open(target, "rb").read() == open(target + ".new", "rb").read():
            os.remove(target + ".new")
        else:
            os.replace(target + ".new", target)
    print("building our installer (bench_setup)", flush=True)
    subprocess.check_call(["cmake", "--build", build, "--target", "bench_setup"],
                          stdout=subprocess.DEVNULL)
    ours = os.path.join(build, "demo", "BenchSetup.exe")

    nsis = os.path.join(work, "nsis-setup.exe")
    script = os.path.join(work, "bench.nsi")
    write_nsis_script(script, product, names, folders, nsis)
    print("building the NSIS installer", flush=True)
    subprocess.check_call(["makensis", "-V1", script], stdout=subprocess.DEVNULL)
    return ours, nsis, digests


def summary(values):
    return "%.2f [%.2f-%.2f]" % (statistics.median(values), min(values), max(values))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "mingw"))
    parser.add_argument("--pairs", type=int, default=9)
    parser.add_argument("--mib", type=float, default=45)
    parser.add_argument("--files", type=int, default=1500)
    parser.add_argument("--folders", type=int, default=60)
    parser.add_argument("--seed", type=int, default=16)
    parser.add_argument("--smoke", action="store_true")
    parser.add_argument("--keep", action="store_true", help="keep the work folder and prefix")
    parser.add_argument("--logs", metavar="DIR",
                        help="our runs write /LOG files, copied here (peak memory, steps)")
    args = parser.parse_args()
    if args.smoke:
        args.pairs, args.mib, args.files, args.folders = 1, 1, 40, 6

    become_subreaper()
    work = tempfile.mkdtemp(prefix="mivo-bench-install.")
    prefix = os.path.join(work, "prefix")
    wine = Wine(prefix, work)
    failures = []
    try:
        ours_exe, nsis_exe, digests = build_inputs(args, work)
        names = sorted(digests)
        wine.call(["reg", "query", "HKLM\\Software"], check=False)  # creates the prefix
        # Xvfb has no window manager, and Wine waits two seconds for one
        # whenever a window it handed to the manager is destroyed (the player
        # that the update closes). Windows knows no such wait: Wine keeps its
        # windows to itself.
        wine.call(["reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/t",
                   "REG_SZ", "/d", "N", "/f"])
        subprocess.call(["wineserver", "-p"], env=wine.env)  # stays up between runs
        wine.call(["reg", "query", "HKLM\\Software"], check=False)
        os.makedirs(wine.host("C:\\CompanionLogs"), exist_ok=True)
        wine.env["MIVO_COMPANION_LOG_DIR"] = "C:\\CompanionLogs"

        ours_dir, nsis_dir = "C:\\BenchMivo\\", "C:\\BenchNsis"
        results = {}

        run_numbers = {}

        def log_switch(case):
            """/LOG for our run of the case, when --logs asks for them."""
            if not args.logs:
                return []
            n = run_numbers[case] = run_numbers.get(case, 0) + 1
            return ["/LOG=C:\\BenchLogs\\%s-%d.log" % (case, n)]

        def record(case, who, seconds, peak, cpu):
            results.setdefault((case, who), []).append((seconds, peak, cpu))

        def check_tree(case, who, directory):
            got = tree_digests(wine.host(directory), names)
            bad = [n for n in names if got[n] != digests[n]]
            if bad:
                failures.append("%s %s: %d files differ from the product, e.g. %s"
                                % (case, who, len(bad), bad[0]))

        def ours_fresh():
            shutil.rmtree(wine.host(ours_dir), ignore_errors=True)
            s, code, peak, cpu = wine.measure([ours_exe, "/AUTO=" + ours_dir, "/SILENT"] +
                                              log_switch("fresh"))
            if code != 0:
                failures.append("fresh ours: exit code %d" % code)
            check_tree("fresh", "ours", ours_dir)
            record("fresh", "ours", s, peak, cpu)

        def nsis_fresh():
            shutil.rmtree(wine.host(nsis_dir), ignore_errors=True)
            s, code, peak, cpu = wine.measure([nsis_exe, "/S"])
            if code != 0:
                failures.append("fresh NSIS: exit code %d" % code)
            check_tree("fresh", "NSIS", nsis_dir)
            record("fresh", "NSIS", s, peak, cpu)

        backups = []

        def ours_update():
            folder = wine.host(ours_dir)
            shutil.rmtree(os.path.join(folder, "!Backup"), ignore_errors=True)
            with open(os.path.join(folder, "Mivo.ini"), "wb") as f:
                f.write(b"[System]\r\nVersion=5400\r\nUserMode=1\r\n")
            player = wine.start([ours_dir + "Mivo.exe"])
            display = subprocess.run([WINE_RUN, "--prefix", prefix, "--print-display"],
                                     env=wine.env, capture_output=True, text=True).stdout.strip()
            deadline = time.monotonic() + 30
            while subprocess.call(["xdotool", "search", "--name", "^Mivo$"],
                                  env=dict(wine.env, DISPLAY=display),
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL) != 0:
                if time.monotonic() > deadline:
                    raise RuntimeError("the player's window did not appear")
                time.sleep(0.05)
            s, code, peak, cpu = wine.measure([ours_exe, "/AUTO=" + ours_dir, "/SILENT"] +
                                              log_switch("update"))
            if code != 0:
                failures.append("update ours: exit code %d" % code)
            deadline = time.monotonic() + 10
            while not wine.has_ended(player) and time.monotonic() < deadline:
                time.sleep(0.05)
            if not wine.has_ended(player):
                failures.append("update ours: the player was not closed")
                player.kill()
            backups.append(len(os.listdir(os.path.join(folder, "!Backup")))
                           if os.path.isdir(os.path.join(folder, "!Backup")) else 0)
            check_tree("update", "ours", ours_dir)
            record("update", "ours", s, peak, cpu)

        def nsis_update():
            s, code, peak, cpu = wine.measure([nsis_exe, "/S"])
            if code != 0:
                failures.append("update NSIS: exit code %d" % code)
            check_tree("update", "NSIS", nsis_dir)
            record("update", "NSIS", s, peak, cpu)

        def ours_uninstall():
            s, code, peak, cpu = wine.measure([ours_dir + "Uninstall.exe", "/AUTO", "/SILENT"] +
                                              log_switch("uninstall"))
            left = [n for n in names if os.path.exists(os.path.join(wine.host(ours_dir), n))]
            if code != 0 or left:
                failures.append("uninstall ours: exit code %d, %d files left" % (code, len(left)))
            record("uninstall", "ours", s, peak, cpu)

        def nsis_uninstall():
            s, code, peak, cpu = wine.measure([nsis_dir + "\\Uninstall.exe", "/S"])
            left = [n for n in names if os.path.exists(os.path.join(wine.host(nsis_dir), n))]
            if code != 0 or left:
                failures.append("uninstall NSIS: exit code %d, %d files left" % (code, len(left)))
            record("uninstall", "NSIS", s, peak, cpu)

        footprint = {}
        # One unrecorded round first: the prefix's first windows, shell
        # folders and caches are set up there, not in the first pair.
        for step in (ours_fresh, nsis_fresh, ours_update, nsis_update, ours_uninstall,
                     nsis_uninstall):
            step()
        results.clear()
        backups.clear()
        for pair in range(args.pairs):
            steps = [(ours_fresh, nsis_fresh), (ours_update, nsis_update),
                     (ours_uninstall, nsis_uninstall)]
            for ours_step, nsis_step in steps:
                order = (ours_step, nsis_step) if pair % 2 == 0 else (nsis_step, ours_step)
                for step in order:
                    step()
                if ours_step is ours_fresh:
                    for who, folder in (("ours", ours_dir), ("NSIS", nsis_dir)):
                        size = 0
                        for base, _, files in os.walk(wine.host(folder)):
                            size += sum(os.path.getsize(os.path.join(base, f)) for f in files)
                        footprint[who] = size
                    footprint["ours Uninstall.exe"] = os.path.getsize(
                        os.path.join(wine.host(ours_dir), "Uninstall.exe"))
                    footprint["ours Uninstall.dat"] = os.path.getsize(
                        os.path.join(wine.host(ours_dir), "Uninstall.dat"))
                    footprint["NSIS Uninstall.exe"] = os.path.getsize(
                        os.path.join(wine.host(nsis_dir), "Uninstall.exe"))
            print("pair %d of %d done" % (pair + 1, args.pairs), flush=True)

        payload = sum(os.path.getsize(os.path.join(work, "product", n)) for n in names)
        print()
        print("product: %d files, %.1f MiB; installers: ours %.1f MiB, NSIS %.1f MiB"
              % (len(names), payload / 1048576, os.path.getsize(ours_exe) / 1048576,
                 os.path.getsize(nsis_exe) / 1048576))
        print("%d pairs, order alternating; median [range]" % args.pairs)
        print("%-10s %-20s %-20s %-20s %-20s %-20s %-20s" % (
            "case", "ours wall s", "NSIS wall s", "wall ours/NSIS", "CPU ours/NSIS",
            "ours peak MiB", "NSIS peak MiB"))
        for case in ("fresh", "update", "uninstall"):
            ours = results[(case, "ours")]
            nsis = results[(case, "NSIS")]
            print("%-10s %-20s %-20s %-20s %-20s %-20s %-20s" % (
                case, summary([o[0] for o in ours]), summary([n[0] for n in nsis]),
                summary([o[0] / n[0] for o, n in zip(ours, nsis)]),
                summary([o[2] / n[2] for o, n in zip(ours, nsis)]),
                summary([o[1] for o in ours]), summary([n[1] for n in nsis])))
        peaks = [r[1] for case in ("fresh", "update", "uninstall") for r in results[(case, "ours")]]
        print("peak memory of ours, any case: %.1f MiB for a %.1f MiB product"
              " (goal: 64 MiB at most, whatever the product's size)"
              % (max(peaks), payload / 1048576))
        if args.logs:
            os.makedirs(args.logs, exist_ok=True)
            logs = wine.host("C:\\BenchLogs")
            for name in sorted(os.listdir(logs)) if os.path.isdir(logs) else []:
                shutil.copy(os.path.join(logs, name), args.logs)
            print("logs of our runs: %s" % args.logs)
        print("update backups made by ours: %s" % (
            "none (no backup step)" if not any(backups) else "%d of %d runs" %
            (sum(1 for b in backups if b), len(backups))))
        print("installed footprint: ours %.2f MiB (Uninstall.exe %.2f MiB, Uninstall.dat %d bytes),"
              " NSIS %.2f MiB (Uninstall.exe %.3f MiB)" % (
                  footprint["ours"] / 1048576, footprint["ours Uninstall.exe"] / 1048576,
                  footprint["ours Uninstall.dat"], footprint["NSIS"] / 1048576,
                  footprint["NSIS Uninstall.exe"] / 1048576))
        print("installed trees byte-identical to the product in every run: %s"
              % ("no" if failures else "yes"))
    finally:
        subprocess.call(["timeout", "20", "wineserver", "-k"], env=wine.env,
                        stderr=subprocess.DEVNULL)
        xvfb = prefix + ".xvfb"
        if os.path.exists(xvfb):
            try:
                os.kill(int(open(xvfb).read().split()[1]), signal.SIGTERM)
            except (OSError, ValueError, IndexError):
                pass
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)
        else:
            print("kept %s" % work)
    for failure in failures:
        print("FAIL: " + failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
