#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Where a program's CPU went, component by component, from perf recordings of it.

    bench/perf-components.py SECONDS FILE.data...

Reads each recording with `perf script` (cpu-clock samples with call stacks, as
`bench_acquisition --only shipped --perf DIR` records them) and sorts every sample of the
program's own threads into the component its call stack shows, the first rule that matches
winning. Prints one row per component: samples, share, and % of a core over SECONDS (the
phase's length). The benchmark's own threads (the unit's writer, the plain reader) are left out.
"""
import re
import subprocess
import sys
from collections import Counter

# (component, pattern any frame of the stack matches), in order of precedence.
RULES = [
    ("readouts (digits and frames from pictures)", r"Readout|QLCDNumber"),
    ("curves: band, lines, shaping (charts/)",
     r"EnvelopeGraph|BandCanvas|LineCoverage|CurveShaper|LayerPatch|ChartData::sample|sampleEnvelope|sampleSeries"),
    ("charts: axes, grid, labels, marks (QCustomPlot replot)", r"QCustomPlot::replot|QCPLayer|QCPAxis|QCPGrid|ChartMarks"),
    ("charts: paint buffers copied to the window", r"QCustomPlot::paintEvent|QCPPaintBuffer"),
    ("other widgets painted (backgrounds, labels, status bar)", r"QWidgetPrivate::drawWidget|QWidgetRepaintManager|QWidget::event"),
    ("window to the X server (backing store flush, xcb)", r"QXcbBackingStore|QBackingStore::flush|libxcb|QXcbConnection|QXcbWindow"),
    ("reading, parsing, summarising records", r"readSerial|LineSplitter|parseRecord|QSerialPort|ChartFeeder::append|ChartData::append|ChartEnvelope::append|SeriesPyramid"),
    ("the live recording (its writer thread and appends)", r"RecordingFile|LiveRecorder|QFileDevice|fdatasync|fsync"),
    ("state, status bar, elapsed time", r"RunState|StatusMessages|Window2::|PortWatcher"),
    ("timers and the event loop", r"QTimerInfoList|QEventDispatcher|QTimer|QCoreApplication::notify|QCoreApplicationPrivate::sendPostedEvents"),
]
LEFT_OUT = re.compile(r"^(bench unit|plain reader)")


def samples(path):
    """Yields (thread name, [frames, leaf first]) for each sample of a recording."""
    text = subprocess.run(["perf", "script", "-i", path], capture_output=True, text=True, check=True).stdout
    header = re.compile(r"^(.*?)\s+\d+\s+[\d.]+:")
    for block in text.split("\n\n"):
        lines = [l for l in block.split("\n") if l.strip()]
        if not lines:
            continue
        match = header.match(lines[0])
        yield (match.group(1).strip() if match else ""), [l.strip() for l in lines[1:]]


def component(frames):
    stack = "\n".join(frames)
    for name, pattern in RULES:
        if re.search(pattern, stack):
            return name
    if frames and "kernel" in frames[0]:
        return "the kernel (system calls, scheduling)"
    return "other"


def main():
    seconds = float(sys.argv[1])
    for path in sys.argv[2:]:
        counts = Counter()
        for thread, frames in samples(path):
            if not LEFT_OUT.match(thread):
                counts[component(frames)] += 1
        total = sum(counts.values())
        # perf samples cpu-clock at 499 Hz: a sample stands for about 2 ms of CPU.
        print(f"{path}: {total} samples, {total / 499 / seconds * 100:.2f} % of a core")
        for name, n in counts.most_common():
            print(f"  {name}: {n} ({n / total * 100:.0f} %, {n / 499 / seconds * 100:.2f} % of a core)")


if __name__ == "__main__":
    main()
