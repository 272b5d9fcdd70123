#!/usr/bin/python3
"""Trains the demo network and writes it as an ASCII net file.

The task is one a person can follow on the sliders: the outputs mirror the inputs
in reverse order, output k follows input 9 - k (output 1 follows input 8, ...,
output 8 follows input 1). Hidden neurons 2p - 1 and 2p listen to input p only,
and output k listens only to the two hidden neurons of input 9 - k, so a slider
never disturbs an unrelated output.

Run from anywhere:  examples/train_demo.py [OUT.txt]   (default: examples/demo-net.txt)
Needs python3 and numpy (Debian: python3-numpy). Fixed seed: the same file every run.
"""

import math
import sys
from pathlib import Path

import numpy as np

INPUTS, HIDDEN, OUTPUTS = 8, 16, 8
SEED = 14
STEPS = 4000
LEARNING_RATE = 0.03
CANDIDATES = 256  # random starts trained side by side
REFINED = 8  # the best of them searched further in the module's integers

# The tool computes with inputs and hidden values scaled to 0..10000 and weights
# times 10^11 in the file; training works with values 0..1, so a trained weight W
# is the float weight times 10000, and its file value is W x 10^7.
FILE_VALUE_PER_UNIT = 10_000_000
# The module keeps file value / 2,000,000 as a 16-bit weight (-1073..1073). Writing
# only multiples of 2,000,000 makes both forms hold the very same weights, so
# Simulator (float) and Emulator differ by their arithmetic alone.
MODULE_DIVISOR = 2_000_000
MODULE_LIMIT = 1073


def sigmoid(v):
    return 1.0 / (1.0 + np.exp(-v))


# One mirror channel is a sub-net of one input, two hidden neurons and one output:
# parameters (A1, A2, a1, a2, B1, B2, b), in training units.
LEVELS = np.arange(256)
U = LEVELS / 255.0


def train_candidates(rng, count):
    """Adam on many random starts at once; returns their parameters, count x 7."""
    p = np.hstack([rng.normal(0, 6, (count, 2)), rng.normal(0, 3, (count, 2)),
                   rng.normal(0, 6, (count, 2)), rng.normal(0, 1, (count, 1))])
    first, second = np.zeros_like(p), np.zeros_like(p)
    u = U[None, :]
    for step in range(1, STEPS + 1):
        h1 = sigmoid(p[:, 0:1] * u + p[:, 2:3])
        h2 = sigmoid(p[:, 1:2] * u + p[:, 3:4])
        o = sigmoid(p[:, 4:5] * h1 + p[:, 5:6] * h2 + p[:, 6:7])
        d_o = 2.0 * (o - u) * o * (1.0 - o) / u.size
        d_1 = d_o * p[:, 4:5] * h1 * (1.0 - h1)
        d_2 = d_o * p[:, 5:6] * h2 * (1.0 - h2)
        g = np.stack([(d_1 * u).sum(1), (d_2 * u).sum(1), d_1.sum(1), d_2.sum(1),
                      (d_o * h1).sum(1), (d_o * h2).sum(1), d_o.sum(1)], axis=1)
        first = 0.9 * first + 0.1 * g
        second = 0.999 * second + 0.001 * g * g
        p -= LEARNING_RATE * (first / (1 - 0.9**step)) / (np.sqrt(second / (1 - 0.999**step)) + 1e-8)
        p = np.clip(p, -MODULE_LIMIT / 5.0, MODULE_LIMIT / 5.0)
    return p


def channel_errors(m):
    """Output bytes minus input over all levels, for integer module weights m
    (7 values), in the float and in the integer evaluator."""
    # Float: file value = 2,000,000 x m, so a weight is 0.02 m per unit of 0..10000
    # input, and the pre-activation is 0.2 x (m . u); output byte as the tool makes it.
    h1 = 10000.0 * float_act(0.2 * (m[0] * U + m[2]))
    h2 = 10000.0 * float_act(0.2 * (m[1] * U + m[3]))
    o = 10000.0 * float_act(0.2 * (m[4] * h1 + m[5] * h2 + m[6] * 10000.0) / 10000.0)
    f = np.where(o <= 0, 0, np.where(o >= 10000, 255, np.trunc(o * OUTPUT_SCALE)))
    b1 = table_lookup(int_div(LEVELS * m[0] + 255 * m[2], 80))
    b2 = table_lookup(int_div(LEVELS * m[1] + 255 * m[3], 80))
    i = table_lookup(int_div(b1 * m[4] + b2 * m[5] + 255 * m[6], 80))
    return f - LEVELS, i - LEVELS


def cost(m):
    f, i = channel_errors(m)
    return max(np.abs(f).max(), np.abs(i).max()) + (np.abs(f).mean() + np.abs(i).mean()) / 8


def refine(m):
    """Coordinate search in the module's integers, against both evaluators."""
    m = m.copy()
    best = cost(m)
    improved = True
    while improved:
        improved = False
        for n in range(len(m)):
            for delta in (-5, -2, -1, 1, 2, 5):
                trial = m.copy()
                trial[n] = np.clip(trial[n] + delta, -MODULE_LIMIT, MODULE_LIMIT)
                c = cost(trial)
                if c < best:
                    m, best, improved = trial, c, True
    return m


def train(rng):
    """The 280 module weights in file order: input i to hidden j at 16 i + j (bias
    input last), then hidden k to output m at 144 + 8 k + m (bias last)."""
    candidates = train_candidates(rng, CANDIDATES)
    scale = FILE_VALUE_PER_UNIT / MODULE_DIVISOR
    rounded = np.clip(np.rint(candidates * scale), -MODULE_LIMIT, MODULE_LIMIT).astype(np.int64)
    ranked = sorted(rounded, key=cost)[:REFINED]
    channel = min((refine(m) for m in ranked), key=cost)
    weights = np.zeros(INPUTS * HIDDEN + HIDDEN * OUTPUTS + HIDDEN + OUTPUTS, dtype=np.int64)
    hidden = weights[:144].reshape(9, 16)  # views into weights
    output = weights[144:].reshape(17, 8)
    for m in range(OUTPUTS):
        source = INPUTS - 1 - m  # input 8 - m feeds output m + 1
        j = 2 * source
        hidden[source, j], hidden[source, j + 1] = channel[0], channel[1]
        hidden[8, j], hidden[8, j + 1] = channel[2], channel[3]
        output[j, m], output[j + 1, m], output[16, m] = channel[4], channel[5], channel[6]
    return weights, channel


# ---- The tool's two evaluators, to check the written file ------------------------

# One unit in the last place above 0.0255, as the tool has it.
OUTPUT_SCALE = np.nextafter(0.0255, 1.0)


def float_act(v):
    inside = 1.0 / (1.0 + 1.0 / np.exp(np.clip(v, -20, 20)))
    return np.where(v < -20, 0.0, np.where(v > 20, 1.0, inside))


SIGMOID_TABLE = np.array(
    [math.floor(255.0 / (1.0 + math.exp(-(n - 128) / 16.0)) + 0.5) for n in range(256)])


def table_lookup(q):
    return np.where(q < -128, 0, np.where(q > 127, 255, SIGMOID_TABLE[np.clip(q + 128, 0, 255)]))


def int_div(s, d):
    # The module's division truncates toward zero; numpy's // floors.
    return np.sign(s) * (np.abs(s) // d)


def float_outputs(file_values, inputs):
    w = file_values.astype(np.float64)
    x = np.append(inputs * (10000.0 / 255.0), 10000.0)
    h = np.append(10000.0 * float_act(x @ w[:144].reshape(9, 16) * 1e-11), 10000.0)
    o = 10000.0 * float_act(h @ w[144:].reshape(17, 8) * 1e-11)
    return np.where(o <= 0, 0, np.where(o >= 10000, 255, np.trunc(o * OUTPUT_SCALE))).astype(int)


def int_outputs(weights, inputs):
    a = np.append(inputs, 255)
    b = np.append(table_lookup(int_div(a @ weights[:144].reshape(9, 16), 80)), 255)
    return table_lookup(int_div(b @ weights[144:].reshape(17, 8), 80))


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_name("demo-net.txt")
    weights, channel = train(np.random.default_rng(SEED))
    file_values = weights * MODULE_DIVISOR
    assert np.all(np.abs(file_values) <= 2**31 - 1)
    # One value a line; the reader takes any whitespace.
    out.write_text("".join(f"{v}\n" for v in file_values))
    print(f"wrote {out}: module weights of one channel {channel.tolist()}")
    rng = np.random.default_rng(SEED + 1)
    worst = {"float": 0, "int": 0}
    for inputs in np.vstack([np.repeat(LEVELS[:, None], 8, 1), rng.integers(0, 256, (256, 8))]):
        for name, outputs in (("float", float_outputs(file_values, inputs)),
                              ("int", int_outputs(weights, inputs))):
            worst[name] = max(worst[name], int(np.abs(outputs - inputs[::-1]).max()))
    print(f"largest |output k - input 9-k|: float {worst['float']}, int {worst['int']}")


if __name__ == "__main__":
    main()
