#!/usr/bin/env python3
"""Writes enciphered.ini, a settings file in the enciphered form, with a
Blowfish written here independently of the C++ one (tables recomputed from
pi, checked against a published test vector), so the C++ reader is checked
against something it did not produce itself. plain.ini is the same text."""
import struct

WORDS = 18 + 4 * 256


def pi_words():
    digits = WORDS * 8
    guard = 64
    one = 1 << (4 * digits + guard)

    def atan_inv(x):
        total = term = one // x
        n, sign = 3, -1
        while term:
            term //= x * x
            total += sign * (term // n)
            sign, n = -sign, n + 2
        return total

    frac = ((4 * (4 * atan_inv(5) - atan_inv(239))) - 3 * one) >> guard
    text = "%0*x" % (digits, frac)
    return [int(text[i:i + 8], 16) for i in range(0, digits, 8)]


class Blowfish:
    def __init__(self, key=b""):
        w = pi_words()
        self.p = w[:18]
        self.s = [w[18 + 256 * i:18 + 256 * (i + 1)] for i in range(4)]
        if key:
            for i in range(18):
                k = 0
                for j in range(4):
                    k = (k << 8) | key[(4 * i + j) % len(key)]
                self.p[i] ^= k
            l = r = 0
            for i in range(0, 18, 2):
                l, r = self.encipher(l, r)
                self.p[i], self.p[i + 1] = l, r
            for box in self.s:
                for i in range(0, 256, 2):
                    l, r = self.encipher(l, r)
                    box[i], box[i + 1] = l, r

    def f(self, x):
        s = self.s
        h = (s[0][x >> 24] + s[1][(x >> 16) & 255]) & 0xFFFFFFFF
        return ((h ^ s[2][(x >> 8) & 255]) + s[3][x & 255]) & 0xFFFFFFFF

    def encipher(self, l, r):
        for i in range(16):
            l ^= self.p[i]
            r ^= self.f(l)
            l, r = r, l
        l, r = r, l
        return l ^ self.p[17], r ^ self.p[16]


assert Blowfish(bytes.fromhex("0123456789ABCDEF")).encipher(0x11111111, 0x11111111) == \
    (0x61F9C380, 0x2281B096)

PLAIN = (
    "[Application]\r\nCloseToTray=0\r\n\r\n"
    "[Receiving]\r\nMarkRead=0\r\nUnReadOnly=1\r\nNoDuplicates=1\r\nLocalOnly=1\r\n"
    "BulkMail=1\r\nPopPort=1110\r\n\r\n"
    "[Sending]\r\nSmtpPort=1025\r\nLocalOnly=0\r\nSaveInSent=1\r\n\r\n"
    "[Log]\r\nSaveLogs=1\r\nLogDir=/var/tmp/brelvane logs\r\nLogDays=14\r\n\r\n"
    "[Extra]\r\nLongValue=" + "0123456789" * 30 + "\r\n\r\n"
).encode("latin-1")


def main():
    cipher = Blowfish()  # the file form runs on the unkeyed tables
    out = bytearray(b"Encrypted File v1.0\r\n")
    for pos in range(0, len(PLAIN), 248):
        block = PLAIN[pos:pos + 248]
        block += b"\0" * (-len(block) % 8)
        for i in range(0, len(block), 8):
            l, r = struct.unpack(">II", block[i:i + 8])
            out += struct.pack(">II", *cipher.encipher(l, r))
    with open("enciphered.ini", "wb") as f:
        f.write(out)
    with open("plain.ini", "wb") as f:
        f.write(PLAIN)


if __name__ == "__main__":
    main()
