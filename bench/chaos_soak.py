#!/usr/bin/python3
"""Soaks the real QervSetupOnline.exe under Wine in an update server that misbehaves at random.

Each run has its own seed, from which the chaos mode of the fault server (tests/servers/
fault_chaos.py) draws, per connection and request, how it answers: well, with a stall, a cut, a
trickle, a reset, a length that lies, a 5xx or a 404, slow headers, a changed package, a range
answered whole or with a wrong Content-Range; its plain port is the proxy of the proxied
attempts, and may reset, refuse or be slow too. After each run the invariants of
tests/e2e/qerv_e2e/soak.py are checked. It prints each run, then the figures: the runs, the mix of
behaviours drawn, the runs that started the installer, the longest run, and each failing seed with
the command that replays it alone.

Builds nothing: run it after the host-release build and the Windows build that this machine runs
(scripts/test.sh makes them all), with the harness on the import path, holding the lock of the
HTTPS port 8443 (the setup's compiled-in server):
  flock /tmp/qerv-8443.lock env PYTHONPATH=tests/e2e /usr/bin/python3 bench/chaos_soak.py --runs 50
It starts its own Xvfb display and Wine prefix (under the Windows build folder) and stops them.
"""
import argparse
import collections
import os
import sys

from qerv_e2e import QERV_PACK, RECORDER_UNSIGNED_EXE, SETUP_EXE, WIN_BUILD
from qerv_e2e.soak import SoakRun, soak_session
from qerv_e2e.windows import xvfb_display
from qerv_e2e.wine import wine_session


def replay_command(seed, profile):
    return (f"flock /tmp/qerv-8443.lock env PYTHONPATH=tests/e2e /usr/bin/python3 "
            f"bench/chaos_soak.py --seed {seed} --profile {profile}")


def mix(results):
    """How often each behaviour was drawn over the runs, by what it was drawn for."""
    counts = collections.Counter(draw for result in results for draw in result.draws)
    by_what = collections.defaultdict(list)
    for (what, behaviour), count in sorted(counts.items()):
        by_what[what].append(f"{behaviour} {count}")
    return {what: ", ".join(items) for what, items in by_what.items()}


def report(results, profile):
    print(f"\nruns: {len(results)} ({profile} profile)")
    print("behaviours drawn:")
    for what, counts in mix(results).items():
        print(f"  {what:10} {counts}")
    weathers = collections.Counter(result.weather for result in results)
    print("weather (share answered well): "
          + ", ".join(f"{w:.2f} x{n}" for w, n in sorted(weathers.items())))
    started = sum(result.started for result in results)
    print(f"installer started: {started} of {len(results)} runs "
          f"(message 1 in the others)")
    longest = max(results, key=lambda result: result.seconds)
    print(f"longest run: {longest.seconds:.1f} s (seed {longest.seed}); the bound of a run, from "
          f"the setup's waits and limits and the profile's delays: {longest.bound:.0f} s")
    failed = [result for result in results if result.violations]
    print(f"runs that broke an invariant: {len(failed)}")
    for result in failed:
        print(f"  seed {result.seed}:")
        for violation in result.violations:
            print(f"    {violation}")
        print(f"    replay: {replay_command(result.seed, profile)}")
    return not failed


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=50, help="runs (default: %(default)s)")
    parser.add_argument("--first-seed", type=int,
                        help="the first run's seed, the others follow it (default: random)")
    parser.add_argument("--seed", type=int, help="replay this one seed alone")
    parser.add_argument("--profile", choices=["full", "quick"], default="full",
                        help="full: stalls up to the setup's own limits; quick: short ones")
    args = parser.parse_args()
    for needed in (SETUP_EXE, RECORDER_UNSIGNED_EXE, QERV_PACK):
        if not needed.exists():
            sys.exit(f"not built: {needed} (cmake --preset {WIN_BUILD.name} && cmake --build "
                     f"--preset {WIN_BUILD.name}; the same with host-release)")
    if args.seed is not None:
        seeds = [args.seed]
    else:
        first = args.first_seed if args.first_seed is not None else int.from_bytes(
            os.urandom(3), "big")
        seeds = list(range(first, first + args.runs))
    print(f"seeds {seeds[0]} to {seeds[-1]}, {args.profile} profile", flush=True)

    results = []
    with xvfb_display() as display, \
            wine_session(display, WIN_BUILD / "wineprefix-chaos") as wine, \
            soak_session(wine, display) as session:
        for seed in seeds:
            result = SoakRun(session, seed, args.profile).go()
            results.append(result)
            drawn = collections.Counter(b for what, b in result.draws if what == "request")
            print(f"seed {seed}: {result.seconds:6.1f} s, weather {result.weather:.2f}, "
                  f"{'installer started' if result.started else 'message 1'}, "
                  f"requests {dict(drawn)}"
                  + (f", BROKE {len(result.violations)} invariant(s)" if result.violations
                     else ""), flush=True)
    sys.exit(0 if report(results, args.profile) else 1)


if __name__ == "__main__":
    main()
