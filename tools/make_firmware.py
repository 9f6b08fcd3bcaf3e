#!/usr/bin/env python3
"""Writes the stand-in TARVEX-6 firmware as Intel HEX text.

We do not have the instrument's real build, so this makes one of the same shape: PIC18 code
for 64 KiB of flash in five runs of data, a 12-byte version block at 0xF120 and the
configuration words at 0xFFF8.  The program code is deterministic pseudo-code, the same for
every version stamp, so builds that differ only in their stamp differ only in that record.

    tools/make_firmware.py                       > firmware/tarvex6-241004.hex
    tools/make_firmware.py --version 230915 -o older.hex

Lines end with CR LF.  The text is checked against the expected shape before it is written.
"""

import argparse
import sys

VERSION_ADDRESS = 0xF120
MAIN_ADDRESS = 0x0200
HIGH_ISR_ADDRESS = 0x0040
LOW_ISR_ADDRESS = 0x0080

# Each run as a list of records (address, byte count), in ascending address order.  The
# short records align the runs' ends to the 16-byte grid of the long records.
RECORDS = (
    [(0x0000, 4)]  # reset vector: a two-word GOTO
    + [(0x0008, 2)]  # high-priority interrupt vector: BRA
    + [(0x0018, 8)]  # low-priority interrupt vector: GOTO and two NOPs
    + [(a, 16) for a in range(0x0020, VERSION_ADDRESS, 16)]
    + [(VERSION_ADDRESS, 12)]  # the version block ends the long run
    + [(0xFCA8, 8)]
    + [(a, 16) for a in range(0xFCB0, 0xFFC0, 16)]
    + [(0xFFC0, 10)]  # the run of 802 bytes ends at 0xFFC9
    + [(0xFFF8, 8)]  # configuration words at the top of flash
)

CONFIG_BYTES = bytes([0xAE, 0xF4, 0xF7, 0xFF, 0xFF, 0xF9, 0xBF, 0xFB])


def goto(target):
    k = target // 2
    return [0xEF00 | (k & 0xFF), 0xF000 | ((k >> 8) & 0xFFF)]


def bra(at, target):
    n = (target - at - 2) // 2
    assert -1024 <= n < 1024
    return [0xD000 | (n & 0x7FF)]


def pseudo_code(words, seed):
    """`words` program words that look like compiled PIC18 code (access-bank operands)."""
    state = seed
    out = []
    while len(out) < words:
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        r = state >> 8
        f = r & 0xFF
        b = (r >> 8) & 7
        kind = (r >> 11) % 16
        if kind in (0, 1):
            out.append(0x0E00 | f)  # MOVLW
        elif kind in (2, 3):
            out.append(0x6E00 | f)  # MOVWF f
        elif kind == 4:
            out.append(0x5000 | f)  # MOVF f, W
        elif kind == 5:
            out.append(0x2400 | f)  # ADDWF f, W
        elif kind == 6:
            out.append(0x8000 | (b << 9) | f)  # BSF f, b
        elif kind == 7:
            out.append(0x9000 | (b << 9) | f)  # BCF f, b
        elif kind == 8:
            out.append(0xB000 | (b << 9) | f)  # BTFSC f, b
        elif kind == 9:
            out.append(0x2A00 | f)  # INCF f, F
        elif kind == 10:
            out.append(0x6A00 | f)  # CLRF f
        elif kind == 11:
            out.append(0xD000 | ((r >> 3) & 0x7FF))  # BRA
        elif kind == 12:
            out.append(0xD800 | ((r >> 3) & 0x7FF))  # RCALL
        elif kind == 13 and len(out) + 2 <= words:
            out.extend([0xEC00 | f, 0xF000 | ((r >> 8) & 0x3F)])  # CALL
        elif kind == 14:
            out.append(0x0012)  # RETURN
        else:
            out.append(0x0000)  # NOP
    return out


def words_to_bytes(words):
    data = bytearray()
    for w in words:
        data += bytes([w & 0xFF, w >> 8])
    return data


def flash_content(version):
    """Address -> byte for every address the firmware sets."""
    flash = {}

    def put(address, data):
        for i, byte in enumerate(data):
            flash[address + i] = byte

    long_run = words_to_bytes(pseudo_code((VERSION_ADDRESS - 0x0018) // 2, 0x7A56))
    put(0x0018, long_run)
    put(0x0000, words_to_bytes(goto(MAIN_ADDRESS)))
    put(0x0008, words_to_bytes(bra(0x0008, HIGH_ISR_ADDRESS)))
    put(0x0018, words_to_bytes(goto(LOW_ISR_ADDRESS) + [0x0000, 0x0000]))
    # The two interrupt routines end with RETFIE FAST and RETFIE.
    put(LOW_ISR_ADDRESS - 2, words_to_bytes([0x0011]))
    put(0x0100 - 2, words_to_bytes([0x0010]))
    put(VERSION_ADDRESS, bytes([0x55, 0xAA, 0xAA, 0x55]) + version.encode("ascii") + bytes([2, 0]))
    put(0xFCA8, words_to_bytes(pseudo_code(802 // 2, 0x6B0F)))
    put(0xFFF8, CONFIG_BYTES)
    return flash


def record(count, address, kind, data):
    body = bytes([count, address >> 8, address & 0xFF, kind]) + bytes(data)
    return ":" + body.hex().upper() + "%02X" % ((-sum(body)) & 0xFF)


def firmware_text(version):
    flash = flash_content(version)
    lines = [record(2, 0, 4, b"\x00\x00")]
    for address, count in RECORDS:
        lines.append(record(count, address, 0, [flash[address + i] for i in range(count)]))
    lines.append(record(0, 0, 1, b""))
    return "".join(line + "\r\n" for line in lines)


def verify(text, version):
    """The shape the program and its tests rely on."""
    lines = text.split("\r\n")
    assert lines[-1] == "", "the text ends with CR LF"
    lines = lines[:-1]
    assert len(lines) == 3914, len(lines)
    assert lines[0] == ":020000040000FA" and lines[-1] == ":00000001FF"
    sizes = []
    covered = []
    for line in lines:
        assert 11 <= len(line) <= 43 and line == line.upper()
        raw = bytes.fromhex(line[1:])
        assert sum(raw) & 0xFF == 0, line
        if raw[3] == 0:
            assert raw[0] == len(raw) - 5
            sizes.append(raw[0])
            covered.append((raw[1] << 8 | raw[2], raw[0]))
    assert len(sizes) == 3912 and sizes.count(16) == 3905
    assert sorted(s for s in sizes if s != 16) == [2, 4, 8, 8, 8, 10, 12]
    assert covered == sorted(covered)
    runs = []
    for address, count in covered:
        if runs and runs[-1][0] + runs[-1][1] == address:
            runs[-1][1] += count
        else:
            runs.append([address, count])
    expected = [[0x0000, 4], [0x0008, 2], [0x0018, VERSION_ADDRESS + 12 - 0x0018],
                [0xFFC9 - 801, 802], [0xFFF8, 8]]
    assert runs == expected, runs
    block = ":0CF12000" + "55AAAA55" + version.encode("ascii").hex().upper() + "0200"
    assert any(line.startswith(block) for line in lines)
    assert len(text.encode("ascii")) // 1024 in (171, 172)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--version", default="241004", help="six digits, YYMMDD")
    parser.add_argument("-o", "--output", help="file to write (default: standard output)")
    args = parser.parse_args()
    if len(args.version) != 6 or not args.version.isdigit():
        parser.error("the version is six digits")
    text = firmware_text(args.version)
    verify(text, args.version)
    data = text.encode("ascii")
    if args.output:
        with open(args.output, "wb") as out:
            out.write(data)
    else:
        sys.stdout.buffer.write(data)


if __name__ == "__main__":
    main()
