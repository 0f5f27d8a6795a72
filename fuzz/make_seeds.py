#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

Seeds are small, well-formed inputs that lead the fuzzers into the interesting
parts quickly: short programs (written here in the listing format and
assembled with the opcode table), their code texts, packed payloads and key
sequences. With code-text files as arguments, also adds each of them (for
example `lousa asm` of the end-to-end programs) as machine, code-text and
payload seeds.

Usage: fuzz/make_seeds.py [CODE_TEXT_FILE ...]
"""
import hashlib
import pathlib
import re
import struct
import sys

ROOT = pathlib.Path(__file__).resolve().parent
OPCODES = {}
for match in re.finditer(r'^OP\((\d+),\s*(\w+),\s*"([^"]*)"', (ROOT.parent / "src/vm/opcodes.def").read_text(), re.M):
    OPCODES[match.group(2)] = (int(match.group(1)), match.group(3))


def assemble(listing):
    """A small subset of the listing format: labels, mnemonics, decimal and
    character operands, PUSH_STR and SCOPE_ENTER with a string, .word."""
    lines = []
    for raw in listing.splitlines():
        line = raw.split(";", 1)[0].strip()
        while (m := re.match(r"^([A-Za-z_]\w*):\s*(.*)$", line)):
            lines.append(("label", m.group(1)))
            line = m.group(2)
        if line:
            lines.append(("ins", line))
    labels, address = {}, 0
    for kind, text in lines:  # first pass: sizes only
        if kind == "label":
            labels[text] = address
        else:
            address += len(encode(text, {}, address, sizing=True))
    words, address = [], 0
    for kind, text in lines:
        if kind == "ins":
            out = encode(text, labels, address)
            words += out
            address += len(out)
    return words


def encode(text, labels, address, sizing=False):
    m = re.match(r'^(\S+)\s*(.*)$', text)
    name, rest = m.group(1), m.group(2)
    if name == ".word":
        return [int(v) for v in rest.split()]
    if name == "PUSH_STR":
        chars = [signed(b) for b in bytes(rest.strip()[1:-1], "latin-1")]
        return [OPCODES["PUSH"][0], -1, OPCODES["PUSH_N"][0], len(chars)] + chars[::-1]
    if name == "SCOPE_ENTER":
        return [OPCODES[name][0]] + [signed(b) for b in bytes(rest.strip()[1:-1], "latin-1")] + [-1]
    number, shape = OPCODES[name]
    out = [number]
    for letter, value in zip(shape, rest.split()):
        if sizing:
            out.append(0)
        elif value in labels:
            out.append(labels[value] - address if letter == "d" else labels[value])
        elif value.startswith("'"):
            out.append(signed(ord(value[1])))
        else:
            out.append(int(value))
    if shape == "*":
        count = int(rest.split()[0])
        out = [number, count] + [int(v) for v in rest.split()[1:1 + count]]
    return out


def signed(byte):
    return byte - 256 if byte > 127 else byte


def code_text(words):
    return " ".join(str(t) for t in [len(words), len(words) + 1] + words) + " "


def encode_words(words):
    """The byte form that fuzz_machine reads (fuzz/word_codec.hpp)."""
    out = bytearray()
    for w in words:
        if -32 <= w <= 191:
            out.append(w + 32)
        elif -32768 <= w <= 32767:
            out += bytes([0xE0]) + struct.pack("<h", w)
        else:
            out += bytes([0xF0]) + struct.pack("<i", w)
    return bytes(out)


def literal_stream(data, matches=()):
    """An LZSS stream of literals (and the given (position, length) matches
    appended at the end), with the count byte and the trailer."""
    bits = []
    for byte in data:
        bits += [0] + [(byte >> (7 - i)) & 1 for i in range(8)]
    for position, length in matches:
        bits += [1] + [(position >> (11 - i)) & 1 for i in range(12)] + [(length >> (3 - i)) & 1 for i in range(4)]
    valid_last = len(bits) % 8 or 8
    bits += [0] * (-len(bits) % 8)
    out = bytearray(int("".join(map(str, bits[i:i + 8])), 2) for i in range(0, len(bits), 8))
    return bytes(out) + bytes([valid_last, 0x55])


def container(name, stream):
    return b"\x7fELF runner image\x1a\x1a\x00" + b"\x1a\x1a\x1a" + bytes([len(name) + 1]) + name + b"\x00" + stream


PROGRAMS = {
    "hello": """
        ENTER_JUMP 2 100 start
    start:
        LINE 1
        PUSH_STR "Ola"
        CON_WRITE 6
        CON_WRITE 5
        HALT
    """,
    "loop": """
        ENTER_JUMP 1 100 start
    start:
        LINE 1
        ADDR_UP 0 3
        PUSH 0
        STORE_N 1
    top:
        LINE 2
        LOAD_UP 0 3
        PUSH 10
        LT_INT
        JUMP_FALSE done
        ADDR_UP 0 3
        LOAD_UP 0 3
        PUSH 1
        ADD_INT
        STORE_N 1
        JUMP top
    done:
        LOAD_UP 0 3
        CON_WRITE 1
        HALT
    """,
    "calls": """
        ENTER_JUMP 1 100 start
    fact:
        SCOPE_ENTER "FACT"
        ENTER_JUMP 1 100 body
    body:
        LINE 3
        LOAD_UP 0 -1
        PUSH 2
        LT_INT
        JUMP_FALSE recurse
        ADDR_UP 0 3
        PUSH 1
        STORE_N 1
        RET_FUNC 1 1 0
    recurse:
        LOAD_UP 0 -1
        PUSH 1
        SUB_INT
        CALL 1 fact
        LOAD_UP 0 -1
        MUL_INT
        ADDR_UP 0 3
        DUP 1
        POP
        STORE_N 1
        RET_FUNC 1 1 0
    start:
        LINE 1
        PUSH 6
        CALL 0 fact
        CON_WRITE 1
        HALT
    """,
    "heap": """
        ENTER_JUMP 1 100 start
    start:
        LINE 1
        NEW 3
        DUP 1
        PUSH 42
        STORE_N 1
        DUP 1
        FIELD 1
        PUSH 7
        STORE_N 1
        DUP 1
        LOAD_N 2
        ADD_INT
        CON_WRITE 1
        DISPOSE
        HALT
    """,
    "strings": """
        ENTER_JUMP 1 100 start
    start:
        LINE 1
        PUSH_STR "ab"
        PUSH_STR "cd"
        CONCAT 0
        PUSH_STR "c"
        PUSH_STR "abcd"
        STR_POS 0
        CON_WRITE 1
        STR_LENGTH
        CON_WRITE 1
        PUSH_STR "acao"
        UPCASE 1
        CON_WRITE 6
        HALT
    """,
    "sets_reals": """
        ENTER_JUMP 2 100 start
    start:
        LINE 1
        PUSH 1
        PUSH 3
        PUSH 1
        PUSH 5
        PUSH 9
        PUSH 1
        SET_UNION
        PUSH 4
        IN_SET
        POP
        PUSH_REAL 0 1072693248
        PUSH_REAL 0 1073741824
        ADD_REAL
        SQRT 2
        CON_WRITE 4
        HALT
    """,
    "files": """
        ENTER_JUMP 8 100 start
    start:
        LINE 1
        ADDR_UP 0 3
        PUSH_STR "seed.txt"
        STORE_STR 5
        ADDR_UP 0 3
        FILE_REWRITE 0
        ADDR_UP 0 3
        PUSH 12
        FILE_WRITE 1
        ADDR_UP 0 3
        FILE_CLOSE
        HALT
    """,
    "errors": """
        ENTER_JUMP 1 100 start
    start:
        LINE 7
        PUSH 5
        CHECK_RANGE 1 3
        PUSH 1
        PUSH 0
        DIV_INT
        .word 4
    """,
}

KEY_SEEDS = [
    b"\x01abc\r\n\x7f",
    b"\x00\x1b[A\x1b[1;5B\x1bOP\x1b[15~\x1b[Z",
    b"\x01\x1b[[A\x1b[24;2~\xc3\xa7\xe2\x82\xac",
    b"\x02x\x1b\x02\x1b[\x02\x1bO",
]


def write(target, data):
    folder = ROOT / "corpus" / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / hashlib.sha1(data).hexdigest()[:16]).write_bytes(data)


def add_code(words):
    text = code_text(words).encode("latin-1")
    write("fuzz_machine", encode_words(words))
    write("fuzz_code_text", text)
    write("fuzz_payload", container(b"prog.pas", literal_stream(text[:600])))


def main():
    for listing in PROGRAMS.values():
        add_code(assemble(listing))
    for path in sys.argv[1:]:
        text = pathlib.Path(path).read_text(encoding="latin-1")
        tokens = text.split(" ")
        if len(tokens) > 2:
            add_code([int(t) for t in tokens[2:] if t.strip()][:4096])
    write("fuzz_code_text", b"3 0 43 7 9 ")
    write("fuzz_code_text", b"2  x 12x -5\n99999999999999999999 ")
    write("fuzz_code_text", b"-1 0 43 ")
    write("fuzz_payload", bytes([0x20, 0x80, 0x01, 0x00]))
    write("fuzz_payload", literal_stream(b"abc", [(0, 3), (4000, 15), (0, 0)]))
    write("fuzz_payload", container(b"\xe7\xe3o.pas", literal_stream(b"1 2 43 ") [:-2] + bytes([12, 0])))
    for seed in KEY_SEEDS:
        write("fuzz_key_decoder", seed)


if __name__ == "__main__":
    main()
