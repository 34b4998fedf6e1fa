#!/usr/bin/env python3
"""Kills saves that rewrite the catalogue in place with SIGKILL at random
moments, and counts catalogues found torn afterwards.

Each trial puts a fresh catalogue in a scratch folder, starts one change
that has to be saved in place, kills it after a random delay within the
time the change takes, and then opens the catalogue again (vrindel-cli
check), which puts it back from its journal if the save was cut short. The
file must then be byte for byte either the old catalogue or the new one.

Two reasons for the in-place way: "link" (the catalogue has a second hard
link) and "folder" (the folder may not be written; the change runs as
nobody, so run this as root). Two programs: "cli" (vrindel-cli import or
delete) and "window" (vrindel under Xvfb, a record typed in, then SIGTERM:
the window saves as it does at the end of a session; needs Xvfb and
xdotool).

    tools/kill-trials.py --trials 250 --records 200000 [--programs cli,window]
"""

import argparse
import hashlib
import os
import random
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BIN = os.path.join(ROOT, "build", "bin")
NOBODY = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]


def record(text):
    data = text.encode("cp1250")
    return bytes([len(data)]) + data + bytes(31 - len(data))


def catalogue(count):
    return b"".join(record("Archiv%07d.zip" % i) + record("CD %d" % (i % 500)) for i in range(count))


def sha(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


class Trial:
    def __init__(self, scratch, base, reason):
        self.folder = os.path.join(scratch, "cat")
        self.reason = reason
        if os.path.isdir(self.folder):
            subprocess.run(["chmod", "-R", "u+w", self.folder])
            shutil.rmtree(self.folder)
        os.mkdir(self.folder)
        # Journals a trial left in the state folder are of its file alone.
        state = os.path.join(scratch, "state", "vrindel")
        if os.path.isdir(state):
            for name in os.listdir(state):
                os.unlink(os.path.join(state, name))
        self.list = os.path.join(self.folder, "Zoznam.dat")
        with open(self.list, "wb") as f:
            f.write(base)
        with open(os.path.join(self.folder, "Options.dat"), "wb") as f:
            f.write(b"\x01\x00\x01")
        self.user = []
        if reason == "link":
            other = os.path.join(scratch, "other-name.dat")
            if os.path.exists(other):
                os.unlink(other)
            os.link(self.list, other)
        else:
            for name in ("Zoznam.dat", "Options.dat"):
                os.chown(os.path.join(self.folder, name), 65534, 65534)
            os.chmod(self.folder, 0o555)
            self.user = NOBODY
        self.env = dict(os.environ, XDG_STATE_HOME=os.path.join(scratch, "state"), HOME=scratch)


def cli_change(trial, change, extra):
    if change == "import":
        return trial.user + [os.path.join(BIN, "vrindel-cli"), "-C", trial.folder, "import", extra]
    return trial.user + [os.path.join(BIN, "vrindel-cli"), "-C", trial.folder, "delete", "Archiv0000000.zip"]


def run_cli(trial, change, extra, kill_after):
    proc = subprocess.Popen(cli_change(trial, change, extra), env=trial.env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if kill_after is None:
        proc.wait()
        return proc.returncode
    time.sleep(kill_after)
    proc.send_signal(signal.SIGKILL)
    proc.wait()
    return None


def run_window(trial, display, kill_after):
    env = dict(trial.env, DISPLAY=display, QT_QPA_PLATFORM="xcb")
    proc = subprocess.Popen(trial.user + [os.path.join(BIN, "vrindel")], cwd=trial.folder, env=env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # Wait for the window, type a record into the name and location edits,
    # write it; then end the session as a logout would.
    for _ in range(200):
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(proc.pid)],
                               env=env, capture_output=True, text=True).stdout.split()
        if found:
            break
        time.sleep(0.05)
    else:
        proc.kill()
        raise RuntimeError("no window")
    window = found[0]
    subprocess.run(["xdotool", "windowactivate", "--sync", window], env=env, capture_output=True)
    time.sleep(0.2)
    subprocess.run(["xdotool", "key", "--window", window, "Tab"], env=env)
    subprocess.run(["xdotool", "type", "--window", window, "Novy zaznam"], env=env)
    subprocess.run(["xdotool", "key", "--window", window, "Tab"], env=env)
    subprocess.run(["xdotool", "type", "--window", window, "DVD 1"], env=env)
    subprocess.run(["xdotool", "key", "--window", window, "Return"], env=env)
    time.sleep(0.3)
    proc.send_signal(signal.SIGTERM)
    if kill_after is None:
        proc.wait(timeout=60)
        return 0
    time.sleep(kill_after)
    proc.send_signal(signal.SIGKILL)
    proc.wait()
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--trials", type=int, default=250, help="trials per program and reason")
    parser.add_argument("--records", type=int, default=200000)
    parser.add_argument("--programs", default="cli")
    parser.add_argument("--reasons", default="link,folder")
    parser.add_argument("--display", default=os.environ.get("DISPLAY", ":99"))
    parser.add_argument("--kill-rollbacks", type=float, default=0.5,
                        help="share of trials whose putting back is killed as well, once or twice")
    args = parser.parse_args()

    scratch = tempfile.mkdtemp(prefix="vrindel-kill-")
    os.chmod(scratch, 0o755)
    os.makedirs(os.path.join(scratch, "state"))
    os.chown(os.path.join(scratch, "state"), 65534, 65534)
    base = catalogue(args.records)
    extra = os.path.join(scratch, "extra.csv")
    with open(extra, "w") as f:
        f.write("name,location\n")
        for i in range(args.records // 10):
            f.write("Novy%07d.zip,DVD %d\n" % (i, i % 50))
    os.chmod(extra, 0o644)
    old = hashlib.sha256(base).hexdigest()
    state_folder = os.path.join(scratch, "state", "vrindel")

    results = []
    for program in args.programs.split(","):
        for reason in args.reasons.split(","):
            changes = ["import", "delete"] if program == "cli" else ["window"]
            for change in changes:
                # The new file, and how long the change takes, from one run
                # that is not killed.
                trial = Trial(scratch, base, reason)
                start = time.monotonic()
                if program == "cli":
                    run_cli(trial, change, extra, None)
                else:
                    run_window(trial, args.display, None)
                took = time.monotonic() - start
                new = sha(trial.list)
                torn = rolled_back = whole_new = rollbacks_killed = 0
                count = args.trials // len(changes)
                for _ in range(count):
                    trial = Trial(scratch, base, reason)
                    delay = random.uniform(0, took * (1.0 if program == "cli" else 0.5))
                    if program == "cli":
                        run_cli(trial, change, extra, delay)
                    else:
                        run_window(trial, args.display, delay)
                    check = trial.user + [os.path.join(BIN, "vrindel-cli"), "-C", trial.folder, "check"]
                    # The putting back killed half-way too, once or twice:
                    # the journal must still put the file back whole.
                    if random.random() < args.kill_rollbacks:
                        for _ in range(random.choice([1, 2])):
                            folders = [f for f in (trial.folder, state_folder) if os.path.isdir(f)]
                            if not any(n.endswith(".journal") for f in folders for n in os.listdir(f)):
                                break
                            proc = subprocess.Popen(check, env=trial.env, stdout=subprocess.DEVNULL,
                                                    stderr=subprocess.DEVNULL)
                            time.sleep(random.uniform(0, took * 0.3))
                            if proc.poll() is None:
                                proc.kill()
                                rollbacks_killed += 1
                            proc.wait()
                    opened = subprocess.run(check, env=trial.env, capture_output=True, text=True)
                    now = sha(trial.list)
                    if now == old:
                        rolled_back += "undone from its journal" in opened.stderr
                    elif now == new:
                        whole_new += 1
                    else:
                        torn += 1
                results.append((program, reason, change, count, torn, rolled_back, whole_new, rollbacks_killed, took))
                print("%-6s %-6s %-6s trials %4d  torn %3d  rolled back %4d  new %4d  putting back killed %3d  "
                      "(a change takes %.2f s)" % results[-1], flush=True)
    subprocess.run(["chmod", "-R", "u+w", scratch])
    shutil.rmtree(scratch)
    total = sum(r[3] for r in results)
    torn = sum(r[4] for r in results)
    print("all: %d trials, %d torn" % (total, torn))
    return 1 if torn else 0


if __name__ == "__main__":
    sys.exit(main())
