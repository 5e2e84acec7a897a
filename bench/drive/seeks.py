#!/usr/bin/env python3
"""Every seek of a run on the emulated drive, from its log (the drive's log= file):
from where to where, the sectors read there, and what the seek costs in the drive's
model (80 ms plus up to 120 ms across the disc), with the total.
usage: seeks.py DRIVE_LOG LEADOUT"""
import sys


def main():
    path, leadout = sys.argv[1], max(1, int(sys.argv[2]))
    head = -1  # where the head is after the last read from the disc
    seeks, total, run_from, run_len = [], 0.0, None, 0
    rows = []
    for line in open(path):
        w = line.split()
        if not w or w[0] != "read":
            continue
        start, count = int(w[1]), int(w[2])
        if "failed" in w:
            delivered, hits = int(w[w.index("at") + 1]) - start, 0
        else:
            delivered = int(w[w.index("short") + 1]) if "short" in w else count
            hits = int(w[w.index("cache") + 1])
        from_media = delivered - hits
        if from_media == 0:
            continue
        if start != head:
            cost = 0.08 + 0.12 * abs(start - head) / leadout
            total += cost
            rows.append([head, start, 0, cost])
        if rows:
            rows[-1][2] += delivered
        head = start + delivered
    print("%4s %8s %8s %8s %8s" % ("seek", "from", "to", "then", "cost s"))
    for i, (a, b, n, c) in enumerate(rows, 1):
        print("%4d %8d %8d %8d %8.3f" % (i, a, b, n, c))
    print("%d seeks, %.3f s" % (len(rows), total))


main()
