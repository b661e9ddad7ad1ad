"""The table of the benchmark: figures per tool and scenario, ratios and targets."""

import statistics

from .tools import (CPU_PEER, GIB, MB, OURS, RSS_LIMIT, SPEED_TARGETS, TAIL_LIMIT, TAIL_UNIT,
                    size_text)


class Cell:
    """The figures of one tool in one scenario over its successful runs: median MB/s of the
    transfer phase, median wall time, median CPU seconds per GiB, highest peak RSS in MB,
    median time from the server's last body byte to the exit in seconds per TAIL_UNIT."""

    def __init__(self, samples, size, failures):
        self.runs, self.failures = len(samples), failures
        if samples:
            self.mbps = size / MB / statistics.median(s.transfer for s in samples)
            self.wall = statistics.median(s.wall for s in samples)
            self.cpu = statistics.median(s.cpu for s in samples) / (size / GIB)
            self.rss = max(s.rss for s in samples) / MB
            self.first = statistics.median(s.first for s in samples)
            self.after_last = statistics.median(s.after_last for s in samples)
            self.tail = statistics.median(s.tail for s in samples) * (TAIL_UNIT / size)
            self.requests = max(len(s.requests) for s in samples)
            self.ranges = max(sum(1 for r in s.requests if r.range) for s in samples)

    def ok(self):
        return self.runs > 0


COLUMNS = ("MB/s", "wall s", "CPU s/GiB", "RSS MB", "last->exit")
WIDTHS = (8, 8, 11, 8, 12)
LABEL = 20


def _figures(cell):
    if cell is None:
        return ["-"] * len(COLUMNS)
    if not cell.ok():
        return ["FAILED"] + [""] * (len(COLUMNS) - 1)
    return ["%.1f" % cell.mbps, "%.2f" % cell.wall, "%.2f" % cell.cpu, "%.1f" % cell.rss,
            "%.3f" % cell.tail]


def _row(label, groups):
    text = "%-*s" % (LABEL, label)
    for group in groups:
        if isinstance(group, str):  # one text across the scenario's columns
            text += " |" + "%-*s" % (sum(WIDTHS), group)
        else:
            text += " |" + "".join("%*s" % (w, v) for w, v in zip(WIDTHS, group))
    return text.rstrip()


def print_table(scenarios, tools, cells, out):
    """`cells`: {(scenario key, tool key): Cell}. Prints the table, the ratios and the
    targets; returns nothing (targets missed do not fail the benchmark)."""
    group_width = sum(WIDTHS)
    head = "%-*s" % (LABEL, "")
    for sc in scenarios:
        title = "%s: %s, %s" % (sc.key, size_text(sc.size), sc.title)
        head += " | " + ("%-*s" % (group_width - 1, title[:group_width - 1]))
    print(head.rstrip(), file=out)
    print(_row("tool", [COLUMNS] * len(scenarios)), file=out)
    print("-" * len(head), file=out)
    for tool in tools:
        print(_row(tool.label, [_figures(cells.get((sc.key, tool.key))) for sc in scenarios]),
              file=out)
    print("-" * len(head), file=out)
    ratios = []
    for sc in scenarios:
        best = _best_peer(sc, tools, cells)
        ours = cells.get((sc.key, OURS.key))
        if best and ours and ours.ok():
            ratios.append("%*.2fx  (best: %s)" % (WIDTHS[0] - 1, ours.mbps / best[1].mbps,
                                                   best[0].key))
        else:
            ratios.append("%*s" % (WIDTHS[0], "-"))
    print(_row("ours / best peer", ratios), file=out)

    print("\ntargets (each from this run; speeds are transfer phases, to the exit with the file):", file=out)
    for line in target_lines(scenarios, cells):
        print("  " + line, file=out)

    details = []
    for sc in scenarios:
        ours = cells.get((sc.key, OURS.key))
        if ours and ours.ok():
            details.append("%s: first range request %.2f s after the start; %d requests, %d "
                           "of them ranges; last request done -> exit %.2f s" %
                           (sc.key, ours.first, ours.requests, ours.ranges, ours.after_last))
    if details:
        print("\nour program (medians):", file=out)
        for line in details:
            print("  " + line, file=out)


def _best_peer(sc, tools, cells):
    peers = [(t, cells.get((sc.key, t.key))) for t in tools if t is not OURS]
    peers = [(t, c) for t, c in peers if c and c.ok()]
    return max(peers, key=lambda p: p[1].mbps) if peers else None


def target_lines(scenarios, cells):
    keys = [sc.key for sc in scenarios]
    lines = []

    def verdict(ok):
        return "met" if ok else "NOT MET"

    for key, peer, least in SPEED_TARGETS:
        if key not in keys:
            continue
        ours, other = cells.get((key, OURS.key)), cells.get((key, peer))
        label = "%s: MB/s >= %.1fx %s" % (key, least, peer)
        if ours and other and ours.ok() and other.ok():
            ratio = ours.mbps / other.mbps
            lines.append("%-30s %6.2fx   %s" % (label, ratio, verdict(ratio >= least)))
        else:
            lines.append("%-30s %6s    not measured" % (label, "-"))
    for key in keys:
        ours, other = cells.get((key, OURS.key)), cells.get((key, CPU_PEER))
        label = "%s: CPU s/GiB <= %s's" % (key, CPU_PEER)
        if ours and other and ours.ok() and other.ok():
            lines.append("%-30s %6.2f vs %.2f   %s" %
                         (label, ours.cpu, other.cpu, verdict(ours.cpu <= other.cpu)))
        else:
            lines.append("%-30s %6s    not measured" % (label, "-"))
    for key in keys:
        ours = cells.get((key, OURS.key))
        label = "%s: peak RSS < %.0f MB" % (key, RSS_LIMIT / MB)
        if ours and ours.ok():
            lines.append("%-30s %6.1f MB   %s" % (label, ours.rss, verdict(ours.rss * MB <
                                                                            RSS_LIMIT)))
        else:
            lines.append("%-30s %6s    not measured" % (label, "-"))
    for key in keys:
        ours = cells.get((key, OURS.key))
        label = "%s: last->exit <= %.1f s/%s" % (key, TAIL_LIMIT, size_text(TAIL_UNIT))
        if ours and ours.ok():
            lines.append("%-30s %6.3f s    %s" % (label, ours.tail, verdict(ours.tail <=
                                                                             TAIL_LIMIT)))
        else:
            lines.append("%-30s %6s    not measured" % (label, "-"))
    return lines
