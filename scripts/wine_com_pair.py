#!/usr/bin/env python3
"""Runs a command with two Wine COM ports joined by a null-modem cable.

    wine_com_pair.py --prefix WINEPREFIX --pair 8 9 [--missing 50] -- CMD...

Makes two pseudo-terminals, links $WINEPREFIX/dosdevices/com8 and com9 to
their device ends and copies every byte written on one to the other (and
back), so a Windows program under Wine that opens COM8 and COM9 talks to
itself through Wine's serial code. Links named by --missing are removed, so
those ports do not exist for the program. The command gets
MQ_WINE_COM_PAIR="8,9" and MQ_WINE_COM_MISSING="50" in its environment; its
exit code is this script's. The links are removed afterwards.
"""
import argparse
import os
import select
import subprocess
import sys
import threading
import tty


def relay(masters, stop):
    """Copies bytes between the two pseudo-terminal masters until stop."""
    a, b = masters
    peer = {a: b, b: a}
    while not stop.is_set():
        ready, _, _ = select.select([a, b], [], [], 0.05)
        for fd in ready:
            try:
                data = os.read(fd, 4096)
            except OSError:
                continue  # no device end open at the moment
            view = memoryview(data)
            while view:
                try:
                    view = view[os.write(peer[fd], view):]
                except BlockingIOError:
                    select.select([], [peer[fd]], [], 0.05)
                except OSError:
                    break


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--pair", nargs=2, type=int, required=True)
    parser.add_argument("--missing", type=int, action="append", default=[])
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no command")

    dosdevices = os.path.join(args.prefix, "dosdevices")
    os.makedirs(dosdevices, exist_ok=True)
    masters, devices, links = [], [], []
    for n in args.pair:
        master, device = os.openpty()
        tty.setraw(device)  # no echo, no line editing until Wine sets the line
        os.set_blocking(master, False)
        masters.append(master)
        devices.append(device)  # kept open: the master never sees a hang-up
        link = os.path.join(dosdevices, "com%d" % n)
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(os.ttyname(device), link)
        links.append(link)
    for n in args.missing:
        link = os.path.join(dosdevices, "com%d" % n)
        if os.path.lexists(link):
            os.remove(link)

    stop = threading.Event()
    thread = threading.Thread(target=relay, args=(masters, stop), daemon=True)
    thread.start()
    env = dict(os.environ)
    env["MQ_WINE_COM_PAIR"] = "%d,%d" % tuple(args.pair)
    env["MQ_WINE_COM_MISSING"] = ",".join(str(n) for n in args.missing)
    try:
        code = subprocess.call(command, env=env)
    finally:
        stop.set()
        thread.join()
        for link in links:
            if os.path.lexists(link):
                os.remove(link)
        for fd in masters + devices:
            os.close(fd)
    return code


if __name__ == "__main__":
    sys.exit(main())
