#!/usr/bin/env python3
"""Writes examples/blinky-lpc2138.hex and .pr2: firmware for an LPC2138 laid
out as an ARM toolchain lays it out, for the demo and for trying a board.

The image (about 40 KB): exception vectors (the word at 0x14 left 0 for the
programmer to fill in), start-up code, a blink loop on P0.10, library code,
constant data, the initial values of .data, and a 256-byte configuration
record in the last sector (0x7C000), reached through an extended linear
address record. Deterministic: running it again gives the same files.

Usage: examples/make-blinky-lpc2138.py
"""
import math
import os
import random
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
rng = random.Random(2138)


def words(*ws):
    return b"".join(struct.pack("<I", w & 0xFFFFFFFF) for w in ws)


def arm_library(size):
    """Plausible ARM code: unconditional data processing, loads, stores,
    branches and returns, with a literal pool every 256 bytes."""
    out = bytearray()
    while len(out) < size:
        if len(out) % 256 == 248:
            out += words(0xE0028000 + rng.randrange(0, 0x100, 4), rng.getrandbits(32))
            continue
        kind = rng.random()
        rd, rn, rm = rng.randrange(13), rng.randrange(13), rng.randrange(13)
        if kind < 0.45:  # data processing, register or immediate
            op = rng.choice([0x0, 0x2, 0x4, 0xA, 0xC, 0xD, 0x1, 0x8])
            imm = rng.random() < 0.5
            operand = rng.randrange(256) if imm else rm
            out += words(0xE0000000 | (imm << 25) | (op << 21) | (op == 0xA) << 20 | rn << 16
                         | rd << 12 | operand)
        elif kind < 0.75:  # LDR/STR word, immediate offset
            load = rng.random() < 0.6
            out += words(0xE5800000 | load << 20 | rn << 16 | rd << 12 | rng.randrange(0, 64, 4))
        elif kind < 0.85:  # BL / B
            out += words(rng.choice([0xEB000000, 0xEA000000, 0x1A000000]) | rng.randrange(0x4000))
        elif kind < 0.93:  # STMFD sp!, {..., lr} / LDMFD sp!, {..., pc}
            regs = rng.getrandbits(8) | 0x10
            out += words(0xE92D4000 | regs, 0xE8BD8000 | regs)
        else:  # BX lr
            out += words(0xE12FFF1E)
    return bytes(out[:size])


def firmware():
    image = bytearray()
    # Vectors: LDR pc, [pc, #24] to the handler addresses that follow.
    image += words(*([0xE59FF018] * 5), 0x00000000, 0xE59FF018, 0xE59FF018)
    handlers = [0x40, 0x200, 0x204, 0x208, 0x20C, 0x0, 0x210, 0x214]
    image += words(*handlers)
    # Start-up at 0x40: stacks, copy .data, clear .bss, call main.
    image += words(
        0xE59F0030,  # ldr r0, =stack top
        0xE321F0D2,  # msr cpsr_c, #IRQ mode
        0xE1A0D000,  # mov sp, r0
        0xE2400080,  # sub r0, r0, #128
        0xE321F0D3,  # msr cpsr_c, #SVC mode
        0xE1A0D000,  # mov sp, r0
        0xE59F101C,  # ldr r1, =data load address
        0xE59F201C,  # ldr r2, =data start
        0xE59F301C,  # ldr r3, =data end
        0xEB000040,  # bl copy_data
        0xEB000050,  # bl main
        0xEAFFFFFE,  # b .
        0x40007FF0,  # stack top
        0x00009000,  # .data load address
        0x40000200,  # .data start
        0x40000400,  # .data end
    )
    image += bytes(0x200 - len(image)) if len(image) < 0x200 else b""
    # Handlers: spin.
    image += words(*([0xEAFFFFFE] * 6))
    image += bytes(0x240 - len(image))
    # main at 0x240: P0.10 as output, toggle with a busy delay.
    image += words(
        0xE59F0034,  # ldr r0, =IO0DIR
        0xE3A01B01,  # mov r1, #0x400 (P0.10)
        0xE5801000,  # str r1, [r0]
        0xE59F002C,  # loop: ldr r0, =IO0SET
        0xE5801000,  # str r1, [r0]
        0xEB000008,  # bl delay
        0xE59F0024,  # ldr r0, =IO0CLR
        0xE5801000,  # str r1, [r0]
        0xEB000005,  # bl delay
        0xEAFFFFF8,  # b loop
        0xE3A02C7D,  # delay: mov r2, #0x7D00
        0xE2522001,  # subs r2, r2, #1
        0x1AFFFFFD,  # bne .-4
        0xE12FFF1E,  # bx lr
        0xE0028008,  # IO0DIR
        0xE0028004,  # IO0SET
        0xE002800C,  # IO0CLR
    )
    image += bytes((-len(image)) % 16)
    image += arm_library(0x7000 - len(image))
    # Constant data from 0x7000: strings and a sine table.
    text = (b"Korvel blinky example for LPC2138\0"
            b"Copyright (c) Korvel developers\0"
            b"P0.10 toggles at 2 Hz\0build 1.00\0")
    image += text + bytes((-len(text)) % 4)

    image += b"".join(struct.pack("<h", int(32767 * math.sin(2 * math.pi * i / 1024)))
                      for i in range(1024))
    image += bytes((-len(image)) % 16)
    image += bytes(rng.getrandbits(8) for _ in range(0x9000 - len(image)))
    # Initial values of .data at 0x9000 (copied to RAM by the start-up code).
    image += bytes(rng.getrandbits(8) for _ in range(0x200))
    # A tail of library code past the 32 KB sectors' first block.
    image += arm_library(0x9C40 - len(image))
    return bytes(image)


def config_record():
    body = struct.pack("<4sHH", b"KCFG", 1, 248) + bytes(rng.getrandbits(8) for _ in range(240))
    checksum = (-sum(body)) & 0xFF
    return body + bytes([checksum]) + b"\xFF" * 7


def hex_record(rtype, address, data):
    body = bytes([len(data), address >> 8 & 0xFF, address & 0xFF, rtype]) + data
    return ":" + body.hex().upper() + "%02X" % ((-sum(body)) & 0xFF) + "\r\n"


def intel_hex(segments):
    lines, upper = [], 0
    for address, data in segments:
        for i in range(0, len(data), 16):
            a = address + i
            if a >> 16 != upper:
                upper = a >> 16
                lines.append(hex_record(4, 0, struct.pack(">H", upper)))
            lines.append(hex_record(0, a & 0xFFFF, data[i:i + 16]))
    lines.append(hex_record(1, 0, b""))
    return "".join(lines).encode("ascii")


def package(name, version, kind, data):
    header = bytearray(32)
    header[0:2] = b"BA"
    header[2:2 + len(name)] = name.encode()
    header[16:16 + len(version)] = version.encode()
    header[23:27] = struct.pack(">I", len(data))
    header[28] = ord(kind)
    return bytes(header) + data + b"\0\0"


def main():
    hex_text = intel_hex([(0x0, firmware()), (0x7C000, config_record())])
    with open(os.path.join(HERE, "blinky-lpc2138.hex"), "wb") as f:
        f.write(hex_text)
    with open(os.path.join(HERE, "blinky-lpc2138.pr2"), "wb") as f:
        f.write(package("LPC2138", "1.00", "F", hex_text))


if __name__ == "__main__":
    main()
