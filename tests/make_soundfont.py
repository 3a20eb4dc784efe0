#!/usr/bin/env python3
"""Writes the tests' own SoundFont: pure tones that start and stop at once, so that rendered
notes can be measured exactly. Usage: make_soundfont.py [--transpose CENTS] OUT.sf2

Bank 0, program 0: a sine at the key's pitch (A4 = 440 Hz). Programs 1-127: the same sine
12 dB quieter. Bank 128, program 0 (drums): a sine at 880 Hz whatever the key.
Presets that tell fallbacks and endings apart: bank 1, program 0, a bank variation a fifth above
the key; bank 128, program 8, a second kit at 220 Hz whatever the key; bank 2, program 0, the
sine with a release of a second, so that a released note fades where a silenced one stops.
--transpose moves every pitch by CENTS, so that two of these SoundFonts can be told apart.
"""
import math
import struct
import sys

args = sys.argv[1:]
CENTS = int(args[args.index('--transpose') + 1]) if '--transpose' in args else 0
# Preset generators adding to every instrument's pitch: coarse tune, then fine tune.
TRANSPOSED = [(51, round(CENTS / 100)), (52, CENTS - 100 * round(CENTS / 100))] if CENTS else []

PERIOD, PERIODS, RATE = 100, 44, 44000          # 440 Hz when played at its root key, 69


def chunk(tag, data):
    return tag + struct.pack('<I', len(data)) + data + (b'\0' if len(data) % 2 else b'')


def listchunk(kind, *chunks):
    return chunk(b'LIST', kind + b''.join(chunks))


def name(text):
    return text.encode().ljust(20, b'\0')


def gens(*pairs):
    return b''.join(struct.pack('<Hh', op, amount) for op, amount in pairs)


# Each instrument has a sample of its own, so that each preset's samples load on their own.
samples = [round(20000 * math.sin(2 * math.pi * i / PERIOD)) for i in range(PERIOD * PERIODS)]

INSTANT = -12000                                  # timecents: a millisecond
envelope = [(34, INSTANT), (36, INSTANT), (38, INSTANT)]   # attack, decay, release
instruments = [                                   # (name, generators before the sample)
    ('sine', envelope),
    ('quiet sine', envelope + [(48, 120)]),       # attenuation, centibels
    ('drum', envelope + [(51, 12), (56, 0)]),     # an octave up, same pitch on every key
    ('variation', envelope + [(51, 7)]),          # a fifth up
    ('kit 8', envelope + [(51, -12), (56, 0)]),   # an octave down, same pitch on every key
    ('slow release', envelope[:2] + [(38, 0)]),   # release: a second
]
smpl = (struct.pack('<%dh' % len(samples), *samples) + b'\0' * 92) * len(instruments)
inst, ibag, igen = b'', b'', b''
for index, (label, generators) in enumerate(instruments):
    inst += name(label) + struct.pack('<H', index)
    ibag += struct.pack('<HH', len(igen) // 4, 0)
    igen += gens(*generators, (54, 1), (53, index))   # loop continuously
inst += name('EOI') + struct.pack('<H', len(instruments))
ibag += struct.pack('<HH', len(igen) // 4, 0)
igen += gens((0, 0))

presets = [(p, 0, 0 if p == 0 else 1) for p in range(128)] + [(0, 128, 2), (0, 1, 3), (8, 128, 4), (0, 2, 5)]
phdr, pbag, pgen = b'', b'', b''
for index, (program, bank, instrument) in enumerate(presets):
    phdr += name('preset %d:%d' % (bank, program)) + struct.pack('<HHHIII', program, bank, index, 0, 0, 0)
    pbag += struct.pack('<HH', len(pgen) // 4, 0)
    pgen += gens(*TRANSPOSED, (41, instrument))
phdr += name('EOP') + struct.pack('<HHHIII', 0, 0, len(presets), 0, 0, 0)
pbag += struct.pack('<HH', len(pgen) // 4, 0)
pgen += gens((0, 0))

shdr = b''
for index in range(len(instruments)):
    start = index * (len(samples) + 46)
    shdr += name('sine %d' % index) + struct.pack('<IIIIIBbHH', start, start + len(samples),
                                                   start + PERIOD, start + PERIOD * (PERIODS - 1),
                                                   RATE, 69, 0, 0, 1)
shdr += name('EOS') + struct.pack('<IIIIIBbHH', 0, 0, 0, 0, 0, 0, 0, 0, 0)

nomod = b'\0' * 10
body = b'sfbk' + listchunk(b'INFO', chunk(b'ifil', struct.pack('<HH', 2, 1)),
                           chunk(b'isng', b'EMU8000\0'), chunk(b'INAM', b'Mellowdeck tests\0\0')) \
    + listchunk(b'sdta', chunk(b'smpl', smpl)) \
    + listchunk(b'pdta', chunk(b'phdr', phdr), chunk(b'pbag', pbag), chunk(b'pmod', nomod),
                chunk(b'pgen', pgen), chunk(b'inst', inst), chunk(b'ibag', ibag),
                chunk(b'imod', nomod), chunk(b'igen', igen), chunk(b'shdr', shdr))
with open(args[-1], 'wb') as out:
    out.write(chunk(b'RIFF', body))
