#!/usr/bin/python3
"""Power spectral density of a phyphox "Raw Data.csv" export, worked out with NumPy alone.

An independent check of the program's Welch estimate: the same method (periodic Hann window,
segments overlapping by half, each segment's mean removed, one-sided density in g^2/Hz), the
same segment length rule (a power of two near 2/9 of the rows, 256 to 65536), but none of the
program's code. Prints the strongest peaks of X, Y and Z (peaks ranked as the program ranks them) as rows of the expected-peaks table in tests/tst_spectra.cpp.

Needs python3-numpy (Debian). Run by hand:
    /usr/bin/python3 tools/psd-reference.py ../shared/data/coaster-phyphox.csv
"""

import sys

import numpy as np

STANDARD_GRAVITY = 9.80665


def segment_length(rows):
    if rows < 256:
        return 1 << (rows.bit_length() - 1)
    length = 1 << ((rows * 2 // 9).bit_length() - 1)
    return min(max(length, 256), 65536)


def welch(values, rate):
    length = segment_length(len(values))
    window = 0.5 - 0.5 * np.cos(2.0 * np.pi * np.arange(length) / length)
    hop = length // 2
    power = np.zeros(length // 2 + 1)
    count = 0
    for start in range(0, len(values) - length + 1, hop):
        segment = values[start:start + length]
        spectrum = np.fft.rfft((segment - segment.mean()) * window)
        power += np.abs(spectrum) ** 2
        count += 1
    density = power / count / (rate * np.sum(window ** 2))
    density[1:-1] *= 2.0
    return density, rate / length, length, count


def prominence(density, k):
    """The peak over the higher of the lowest densities on either side, each side searched up
    to the first bin above the peak or the end (bin 0 left out)."""
    left = density[k]
    i = k - 1
    while i >= 1 and density[i] <= density[k]:
        left = min(left, density[i])
        i -= 1
    right = density[k]
    i = k + 1
    while i < len(density) and density[i] <= density[k]:
        right = min(right, density[i])
        i += 1
    return density[k] / max(left, right, 1e-300)


def peaks(density, bin_hz, count=3):
    """Local maxima from the third bin on that stand above four times the median density,
    rise four times above the valley parting them from anything higher, and above a thousandth
    of the strongest, at least seven bins apart (strongest density first), then
    ranked by the power within three bins of each: (Hz, sine amplitude g, density g^2/Hz)."""
    floor = np.median(density[1:])
    k = np.arange(2, len(density) - 1)
    maxima = k[(density[k] > density[k - 1]) & (density[k] >= density[k + 1])
               & (density[k] > 4.0 * floor)]
    maxima = np.array([m for m in maxima if prominence(density, m) >= 4.0], dtype=int)
    maxima = maxima[np.argsort(-density[maxima], kind="stable")]
    chosen = []
    for m in maxima:
        if density[m] < density[maxima[0]] * 1e-3:
            break
        if all(abs(int(m) - c) > 6 for c in chosen):
            chosen.append(int(m))
    found = []
    for c in chosen:
        power = np.sum(density[max(1, c - 3):c + 4]) * bin_hz
        found.append((c * bin_hz, np.sqrt(2.0 * power), density[c]))
    found.sort(key=lambda peak: -peak[1])
    return found[:count]


def main(path):
    table = np.genfromtxt(path, delimiter=",", skip_header=1)
    times = table[:, 0]
    rate = (len(times) - 1) / (times[-1] - times[0])
    print(f"# {len(times)} rows at {rate:.4f} Hz")
    for axis, column in (("X", 1), ("Y", 2), ("Z", 3)):
        # Android's sign to the device convention; the sign changes no density.
        values = -table[:, column] / STANDARD_GRAVITY
        density, bin_hz, length, count = welch(values, rate)
        variance = np.sum(density) * bin_hz
        print(f"# {axis}: {length}-sample segments, {count} averaged, {bin_hz:.6f} Hz bins, "
              f"integral {variance:.6g} g^2 against variance {np.var(values):.6g} g^2")
        for rank, (hz, amplitude, psd) in enumerate(peaks(density, bin_hz)):
            print(f'QTest::newRow("{axis} peak {rank + 1}") << Series::{axis} << {rank} '
                  f"<< {hz:.6f} << {amplitude:.6g} << {psd:.6g};")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "../shared/data/coaster-phyphox.csv")
