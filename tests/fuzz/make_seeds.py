#!/usr/bin/env python3
# Writes the seed corpus of the fuzz targets (corpus/<target>/<name>): a few
# hand-made inputs in the byte layouts that append_fuzzer.cpp and
# adapter_list_fuzzer.cpp describe, one per situation the report meets.
# Run it from any folder after changing a layout.
import os
import struct

here = os.path.dirname(os.path.abspath(__file__))


def u16(v): return list(struct.pack('<H', v))
def u32(v): return list(struct.pack('<I', v))
def u64(v): return list(struct.pack('<Q', v))


# append: capacity kind and value, fill kind and value, fill seeds.
def buffer(capacity_kind, capacity_value, fill_kind, fill_value, seeds=(0, 0)):
    return [capacity_kind] + u16(capacity_value) + [fill_kind] + u16(fill_value) + list(seeds)


def text(s):  # a %ls argument of printable ASCII
    assert len(s) < 64
    return [2, len(s)] + [ord(c) - 0x20 for c in s]


def real(index): return [0, 7, index]  # an append of one of the program's formats
def decimal_from_table(index): return [4, index]
def decimal_from_bytes(count): return [2] + u64(count)  # count * 2^-30


decimals = []
for index in range(31):
    decimals += [0, 1] + decimal_from_table(index)
for bits in (0x0000000000000001, 0x7FF0000000000001, 0xFFF8000000000000, 0x3FF8000000000000,
             0x4330000000000001, 0xC3E0000000000000):
    decimals += [0, 1, 0] + u64(bits)
decimals += [0, 1, 1 | 0x80] + u32(9)  # 9/4, a tie
decimals += [0, 1, 1] + u32(0xFFFFFFF9)  # -7/20
decimals += [0, 1, 3] + u32(2731 + 268)  # tenths of kelvin

append_seeds = {
    'report_pass': buffer(1, 0, 0, 0)
    + real(0) + real(3) + text('Intel(R) Core(TM) i7-9700K CPU @ 3.60GHz')
    + real(4) + decimal_from_table(23) + real(6) + text('Wine Adapter') + real(7) + u32(65)
    + real(9) + decimal_from_bytes(16 << 30) + [0] + u32(37) + decimal_from_bytes(2415919104)
    + real(10),
    'report_fallbacks': buffer(1, 0, 0, 0)
    + real(0) + real(3) + text('Processeur non identifi') + real(5)
    + real(6) + text('Carte graphique non identifi') + real(8)
    + real(9) + decimal_from_bytes(0) + [0] + u32(0) + decimal_from_bytes(0) + real(10),
    'adapters_1024': buffer(0, 0, 0, 0)
    + real(12) + text('Wine Adapter') + real(11) + real(12) + text('NVIDIA GeForce RTX 3060'),
    'almost_full_1024': buffer(0, 0, 3, 1, (5, 9))  # 1022 used
    + real(12) + text('xyz') + real(11) + real(12) + text('q'),
    'unterminated_8': buffer(3, 7, 1, 0, (1, 2)) + [0, 5, 3, 0x21, 0x22, 0x23],
    'capacity_1': buffer(3, 0, 0, 0) + real(10) + real(12) + text('x'),
    'stray_percent_41': buffer(4, 40, 0, 0)
    + [7, 6, 0, 6, 3, 4, 5, 4, ord('l') - 0x20, ord('u') - 0x20, 5, ord('.') - 0x20,
       6, 22, 8] + u16(100) + [ord('x') - 0x20, 2, 3]
    + [5, 2, 0x05, 0x05] + real(1) + [0, 0] + u32(7) + u32(8),
    'decimals_4096': buffer(1, 0, 0, 0) + decimals,
    'null_buffer_and_format': buffer(0, 0, 0, 0)
    + [0xF0, 7, 12] + text('lost') + [0xF8, 7, 12] + text('lost') + real(12) + text('kept'),
    'capacity_0': buffer(0xF8, 0, 0, 0) + real(12) + text('x'),
}


# adapter list: start kind and value, pattern (alphabet indices).
def start(kind=0, value=0, pattern=(0,)):
    return [kind] + u16(value) + [len(pattern) - 1] + list(pattern)


def real_name(index): return [6, index]


no_flags = [0]
mirroring = [1]
adapter_seeds = {
    'realistic_machine': start()
    + [(5 << 2) | 3] + real_name(1) + no_flags + real_name(1) + [(1 << 2) | 3] + real_name(2)
    + no_flags + real_name(3) + mirroring + real_name(4),
    'repeats_and_spaces': start()
    + no_flags + real_name(0) + no_flags + real_name(0) + no_flags + real_name(6)
    + no_flags + real_name(7) + no_flags + real_name(8) + no_flags + [3, 0, 5, 3]
    + no_flags + [5, 0, 3, 0, 1, 3] + no_flags + [2, 1] + no_flags + real_name(11)
    + no_flags + [0, 0] + [2] + u32(0x8) + real_name(1),
    'near_full_1022': start(2, 22, (0, 1, 2, 3)) + no_flags + real_name(0) + no_flags + real_name(1),
    'long_names_900': start(3, 900, (2, 3))
    + no_flags + [7, 127, 0] + no_flags + [0, 100] + [1, 0, 2] * 34 + no_flags + [7, 127, 1],
    'pieces_of_the_list': start(0x83, 200, (0, 1, 0, 3, 2, 7, 1, 1))
    + no_flags + [4] + u16(10) + [30] + no_flags + [4] + u16(190) + [40]
    + no_flags + real_name(10) + no_flags + real_name(9) + no_flags + real_name(0),
    'null_descriptions': start() + no_flags + [0xFF] + no_flags + real_name(0) + no_flags + [0xFF],
}

for target, seeds in (('append', append_seeds), ('adapter_list', adapter_seeds)):
    folder = os.path.join(here, 'corpus', target)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), 'wb') as seed:
            seed.write(bytes(data))
