"""Figures of bench/ab.py: samples per figure, their median and range, the verdict,
the CPU a server's processes used, and what each stock client says it moved.

No I/O beyond /proc; bench/test_ab_stats.py tests it without servers.
"""
import os
import re
import statistics

# What a verdict needs: ranges of at least this many samples that do not overlap.
MIN_SAMPLES_FOR_VERDICT = 2


class Figure:
    """One figure of one contender: a value per round (higher_is_better says which way is good)."""

    def __init__(self, label, unit, higher_is_better):
        self.label = label
        self.unit = unit
        self.higher_is_better = higher_is_better
        self.samples = []

    def add(self, value):
        self.samples.append(float(value))

    def median(self):
        return statistics.median(self.samples) if self.samples else None

    def low(self):
        return min(self.samples) if self.samples else None

    def high(self):
        return max(self.samples) if self.samples else None


def verdict(old, new):
    """How the new contender compares: 'faster'/'slower' (or 'less CPU'/'more CPU' for a
    CPU figure) only when the ranges of both do not overlap, else 'overlap'."""
    if len(old.samples) < MIN_SAMPLES_FOR_VERDICT or len(new.samples) < MIN_SAMPLES_FOR_VERDICT:
        return "too few rounds"
    cpu = old.unit.startswith("CPU")
    if new.low() > old.high():
        better = new.higher_is_better
    elif new.high() < old.low():
        better = not new.higher_is_better
    else:
        return "overlap"
    if cpu:
        return "less CPU" if better else "more CPU"
    return "faster" if better else "slower"


def number(x):
    if x is None:
        return "-"
    if abs(x) >= 100:
        return "%.0f" % x
    if abs(x) >= 1:
        return "%.2f" % x
    return "%.3g" % x


def cell(figure):
    if not figure.samples:
        return "-"
    return "%s [%s-%s]" % (number(figure.median()), number(figure.low()), number(figure.high()))


def render(rows, old_name, new_name):
    """rows: (old Figure, new Figure) pairs; returns the table as text."""
    head = ("figure", "unit", old_name, new_name, "new/old", "verdict")
    lines = [head]
    for old, new in rows:
        ratio = "-"
        if old.median() and new.median() is not None:
            ratio = "%.2f" % (new.median() / old.median())
        lines.append((old.label, old.unit, cell(old), cell(new), ratio, verdict(old, new)))
    widths = [max(len(line[i]) for line in lines) for i in range(len(head))]
    out = []
    for n, line in enumerate(lines):
        out.append("  ".join(text.ljust(widths[i]) for i, text in enumerate(line)).rstrip())
        if n == 0:
            out.append("  ".join("-" * w for w in widths))
    return "\n".join(out)


# ---- CPU of a server's processes

def _stat_fields(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            data = f.read()
    except OSError:
        return None
    return data[data.rindex(")") + 2:].split()


def session_cpu_ticks(sid):
    """Clock ticks of CPU used by the processes of session sid: the live ones, and through
    cutime/cstime the children they reaped. (ticks, number of live processes)."""
    ticks = 0
    live = 0
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        fields = _stat_fields(int(name))
        # fields[0] is the state, [3] the session; utime, stime, cutime, cstime are 11..14.
        if not fields or fields[0] == "Z" or int(fields[3]) != sid:
            continue
        live += 1
        ticks += sum(int(fields[i]) for i in (11, 12, 13, 14))
    return ticks, live


def ticks_per_second():
    return os.sysconf("SC_CLK_TCK")


# ---- what each client says it moved

def bytes_from_curl(stdout):
    """curl -w '%{size_download}' (or size_upload)."""
    m = re.search(r"(\d+)", stdout.strip())
    return int(m.group(1)) if m else None


def bytes_from_wget(stderr):
    """wget -nv: 'URL: ... [1073741824] -> "/dev/null" [1]' or '[N/N]' for HTTP."""
    m = re.search(r"\[(\d+)(?:/\d+)?\] -> ", stderr)
    return int(m.group(1)) if m else None  # the bytes received, before any "/total"


def bytes_from_lftp(stdout):
    """lftp with cmd:verbose: '1073741824 bytes transferred ...'."""
    m = re.search(r"(\d+) bytes transferred", stdout)
    return int(m.group(1)) if m else None


def bytes_from_python(stdout):
    m = re.search(r"^bytes (\d+)$", stdout, re.M)
    return int(m.group(1)) if m else None


def load_average():
    try:
        with open("/proc/loadavg") as f:
            return " ".join(f.read().split()[:3])
    except OSError:
        return "?"
