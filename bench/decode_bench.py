#!/usr/bin/python3
"""Times the package decoder on a 200 MiB package against hashing and copying the same file.

Runs `qerv-pack unpack PKG OUT` and the baseline `openssl dgst -md5 PKG && cp PKG OUT2` in turn,
nine times each by default, interleaved, and prints the minimum, median and maximum of wall-clock
and CPU time of both, the ratios of the medians and the decoder's peak resident memory above that
of the same tool decoding a package of 1 KiB (its idle footprint). The targets are a wall-clock
ratio of at most 1.0 and at most 16 MiB above idle, whatever the package's size; the figures are
printed, not enforced. Builds nothing: point --tool at an optimised build (the host-release
preset).
"""

import argparse
import filecmp
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_TOOL = os.path.join(ROOT, "build", "host-release", "tools", "qerv-pack", "qerv-pack")
PACKAGE_BYTES = 209715200  # the decoder's largest package
HEADER_BYTES = 28
MIB = 1024 * 1024


def timed(command):
    """Runs a command; gives wall seconds, CPU seconds (user + system) and peak RSS in bytes. The
    peak comes from GNU time, which starts the command from a process of its own size: a child
    of this Python process would count Python's own memory as its peak."""
    with tempfile.NamedTemporaryFile("r") as peak:
        start = time.perf_counter()
        process = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", peak.name, *command],
                                   stdout=subprocess.DEVNULL)
        _, status, usage = os.wait4(process.pid, 0)
        wall = time.perf_counter() - start
        process.returncode = os.waitstatus_to_exitcode(status)
        if process.returncode != 0:
            sys.exit(f"{command[0]} failed with exit code {process.returncode}")
        return wall, usage.ru_utime + usage.ru_stime, int(peak.read().split()[-1]) * 1024


def write_random(path, size):
    with open(path, "wb") as out:
        left = size
        while left:
            step = min(left, 8 * MIB)
            out.write(os.urandom(step))
            left -= step


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", default=DEFAULT_TOOL, help="qerv-pack (default: %(default)s)")
    parser.add_argument("--runs", type=int, default=9, help="runs of each command (default: 9)")
    args = parser.parse_args()
    if not os.access(args.tool, os.X_OK):
        sys.exit(f"not built: {args.tool} (cmake --preset host-release && "
                 "cmake --build --preset host-release)")
    if not shutil.which("openssl"):
        sys.exit("openssl is needed for the baseline")
    if not os.access("/usr/bin/time", os.X_OK):
        sys.exit("GNU time (/usr/bin/time) is needed for the peak memory: scripts/install-deps.sh")

    work = tempfile.mkdtemp(prefix="qerv-bench-")
    try:
        installer = os.path.join(work, "installer.exe")
        package = os.path.join(work, "Setup.dat")
        out = os.path.join(work, "DeSetup.dat")
        out2 = os.path.join(work, "copy.dat")
        write_random(installer, PACKAGE_BYTES - HEADER_BYTES)
        subprocess.run([args.tool, "pack", installer, package], check=True,
                       stdout=subprocess.DEVNULL)

        tiny_installer = os.path.join(work, "tiny.exe")
        tiny = os.path.join(work, "tiny.dat")
        write_random(tiny_installer, 1024)
        subprocess.run([args.tool, "pack", tiny_installer, tiny], check=True,
                       stdout=subprocess.DEVNULL)
        tiny_out = os.path.join(work, "tiny.out")
        idle = [timed([args.tool, "unpack", tiny, tiny_out])[2] for _ in range(3)]
        for path in (tiny_installer, tiny, tiny_out):
            os.remove(path)

        decode = [args.tool, "unpack", package, out]
        baseline = ["sh", "-c", 'openssl dgst -md5 "$1" >/dev/null && cp "$1" "$2"', "sh",
                    package, out2]
        results = {"decode": [], "baseline": []}
        for run in range(args.runs):
            # Alternate which goes first; each starts with no output file and no dirty pages.
            order = [("decode", decode, out), ("baseline", baseline, out2)]
            for name, command, output in order if run % 2 == 0 else reversed(order):
                if os.path.exists(output):
                    os.remove(output)
                os.sync()
                results[name].append(timed(command))
                if name == "decode" and run == 0:
                    if not filecmp.cmp(installer, out, shallow=False):
                        sys.exit("the decoded installer differs from the original")
                    if set(os.listdir(work)) - {"installer.exe", "Setup.dat", "DeSetup.dat",
                                                "copy.dat"}:
                        sys.exit(f"the decoder left files behind: {sorted(os.listdir(work))}")

        def spread(name, field):
            values = [r[field] for r in results[name]]
            return min(values), statistics.median(values), max(values)

        print(f"package: {PACKAGE_BYTES} bytes, {args.runs} runs of each, interleaved")
        print("            wall min / median / max     cpu min / median / max")
        for name in ("decode", "baseline"):
            wall, cpu = spread(name, 0), spread(name, 1)
            print(f"  {name:<9} " + " / ".join(f"{v:.3f}" for v in wall) + " s     " +
                  " / ".join(f"{v:.3f}" for v in cpu) + " s")
        wall_ratio = spread("decode", 0)[1] / spread("baseline", 0)[1]
        cpu_ratio = spread("decode", 1)[1] / spread("baseline", 1)[1]
        print(f"  ratio of medians: wall {wall_ratio:.3f} (target <= 1.0)   cpu {cpu_ratio:.3f}")
        peak = max(r[2] for r in results["decode"])
        idle_peak = max(idle)
        above = peak - idle_peak
        print(f"  decode peak RSS {peak / MIB:.1f} MiB, idle {idle_peak / MIB:.1f} MiB: "
              f"{above / MIB:.1f} MiB above idle (target <= 16 MiB: "
              f"{'met' if above <= 16 * MIB else 'NOT met'})")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
