#!/usr/bin/env python3
"""Writes the small seed corpora of the fuzz targets (run once; the output is
committed). Archives are made byte by byte here, independently of the code
under test."""
import os, struct, zlib

here = os.path.dirname(os.path.abspath(__file__))

def put(target, name, data):
    d = os.path.join(here, 'corpus', target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), 'wb') as f:
        f.write(data)

def masked(data):
    s = bytearray(zlib.compress(data, 6))
    s[0] ^= 0x3D
    return bytes(s)

def block(data):
    s = masked(data)
    return struct.pack('<II', len(data), len(s)) + s

def archive(entries, first=ord('#'), last=ord('#'), packed=False, free=()):
    body = b''
    records = b''
    for i, (name, data) in enumerate(entries):
        off = 0 if i in free else 24 + len(body)
        records += struct.pack('<II16x40s', len(data), off, name)
        body += data
    d = masked(records) if packed else records
    head = struct.pack('<4sIIBBHII', b'PAKS', len(entries), 24 + len(body), first, last, 0, 0,
                       len(d) if packed else 0)
    return head + body + d

# Packed blocks: the first two bytes are the capacity / 16.
put('block', 'text', b'\x10\x00' + masked(b'hello, hello, hello\r\n' * 8))
put('block', 'empty', b'\x01\x00' + masked(b''))
put('block', 'raw', b'\x00\x01' + bytes(range(256)))
# The same inputs read as stored blocks (head and stream), unpacked whole and
# a chunk at a time: one of several chunks, one declaring a byte more.
long_text = b''.join(b'line %d of a long text\r\n' % i for i in range(40000))
put('block', 'stored', b'\x10\x00' + block(b'hello, hello, hello\r\n' * 8))
put('block', 'stored_chunks', b'\x10\x00' + block(long_text))
put('block', 'stored_short', b'\x10\x00' + struct.pack('<I', len(long_text) + 1) + block(long_text)[4:])

# Mount: first byte bit 0 = appended form, bit 1 = drive-strip switch.
entries = [(b'#:\\Korin3.EXE', block(b'MZ' + b'\0' * 200)), (b'#:\\Update.PAK', block(b'PAKS' + b'\0' * 60))]
put('mount', 'plain', b'\x00' + archive(entries))
put('mount', 'packed', b'\x00' + archive(entries, packed=True))
put('mount', 'free', b'\x00' + archive(entries + [(b'#:\\old.txt', b'x')], free=(2,)))
put('mount', 'markers', b'\x02' + archive([(b'Update06.txt', b'6'), (b'Update07.txt', b'7')], ord('@'), ord('@')) + b'*.txt')
stub = b'MZ' + b'\0' * 510
put('mount', 'appended', b'\x01' + stub + archive(entries, packed=True) + struct.pack('<I', len(stub)))
put('mount', 'empty', b'\x00' + struct.pack('<4sIIBBHII', b'PAKS', 0, 24, 35, 35, 0, 0, 0) + b'\0' * 4096)

# Configuration: main text, then 0xFF, then the include.
put('config', 'game', b'[INI]\r\nGAMEDIR=C:\\Games\\K3\r\n; comment\r\n[Other] x\r\nA = B  ; c\r\nN=MAX\r\n'
    b'\xff#define MAX 99\r\nHEX=0x1F\r\n')
put('config', 'odd', b'key before\r\n[unterminated\r\n=X\r\n#define  A=1\r\n//c\r\nLF only\nline\n\xffM -5\r\n')

# Installation lists.
put('install_list', 'empty-776', b'\0' * 768 + struct.pack('<Ii', 776, 0))
put('install_list', 'two-788', b'\0' * 768 + struct.pack('<Ii', 776, 2) + b'A.PAK\0B.PAK\0')
put('install_list', 'has-update', b'\0' * 768 + struct.pack('<Ii', 776, 1) + b'UPDATE.PAK\0')

# Text routines: 40-byte name field, then a pattern / number.
put('text', 'star', b'README.TXT'.ljust(40, b'\0') + b'*.TXT')
put('text', 'number', b'a.b.c'.ljust(40, b'\0') + b'-0x1F')

# Update journals: three bytes of folder state (two bits per name, in the
# order Update.PAK/.NEW/.OLD, Korin3.EXE/.NEW/.OLD, INSTALL.DAT/.NEW/.OLD;
# 1 holds "A", 2 holds "B"), then the journal. Old files hold "A", new "B".
def record(fields):
    return b'%08x %s\r\n' % (zlib.crc32(fields), fields)

def states(*codes):
    v = sum(c << (2 * i) for i, c in enumerate(codes))
    return struct.pack('<I', v)[:3]

a, b = zlib.crc32(b'A'), zlib.crc32(b'B')
files = record(b'file\t0\tUpdate.PAK\t0\t1\t%08x' % a) + record(b'file\t1\tKorin3.EXE\t0\t1\t%08x' % a)
staged = (record(b'staged\t0\tUpdate.NEW') + record(b'ready\t0\t1\t%08x' % b) +
          record(b'staged\t1\tKorin3.NEW') + record(b'ready\t1\t1\t%08x' % b))
asides = record(b'aside\t0\tUpdate.OLD') + record(b'aside\t1\tKorin3.OLD')
journal = b'KORIN3 UPDATE JOURNAL 1\r\n' + files
put('journal', 'staged', states(1, 2, 0, 1, 2, 0) + journal + staged)
put('journal', 'half-placed', states(2, 0, 1, 1, 2, 1) + journal + staged + asides)
put('journal', 'placed', states(2, 0, 1, 2, 0, 1) + journal + staged + asides)
put('journal', 'half-staged', states(1, 2, 0, 1, 1, 0) + journal + staged[:-30])
put('journal', 'torn-start', states(1, 0, 0, 1, 0, 0) + b'KORIN3 UPD')

# Programs: a PE32 image whose security directory names a certificate
# table, with an archive appended before it (signed) or at the end.
def pe_image(table=0, table_size=0, magic=0x10B, ndirs=16):
    dos = b'MZ' + b'\0' * 58 + struct.pack('<I', 64)
    opt = struct.pack('<H', magic) + b'\0' * ((92 if magic == 0x10B else 108) - 2) + struct.pack('<I', ndirs)
    dirs = bytearray(8 * ndirs)
    if ndirs > 4:
        dirs[32:40] = struct.pack('<II', table, table_size)
    opt += bytes(dirs)
    coff = struct.pack('<HHIIIHH', 0x14C, 0, 0, 0, 0, len(opt), 0x102)
    return dos + b'PE\0\0' + coff + opt

plain_pe = pe_image()
pak = archive([(b'a.txt', b'x')])
put('pe', 'unsigned', plain_pe + pak + struct.pack('<I', len(plain_pe)))
body = len(pe_image(1, 1)) + len(pak) + 4
pad = (-body) % 8
image = pe_image(body + pad, 16)
put('pe', 'signed', image + pak + struct.pack('<I', len(image)) + b'\0' * pad + b'\x10\0\0\0' + b'\0' * 12)
put('pe', 'pe32plus', pe_image(0, 0, 0x20B))
put('pe', 'few-dirs', pe_image(0, 0, 0x10B, 2))

# Code pages: flags (bit 0 GBK, bit 1 from the code page), room, name.
put('codepage', 'utf8-gbk', b'\x01\x40' + '資料/遊戲.txt'.encode())
put('codepage', 'utf8-big5', b'\x00\x40' + '資料/遊戲.txt'.encode())
put('codepage', 'big5-5c', b'\x02\x20' + '功能'.encode('big5'))
put('codepage', 'gbk-short', b'\x03\x03' + '深圳'.encode('gbk'))
put('codepage', 'no-form', b'\x00\x40' + '\u00e9\U0001F600'.encode())

# pak add's names: flags (bit 0 --codepage, bit 1 936, bit 2 --prefix,
# bit 3 --as), then lines: prefix, --as name, operands ('!' for --exclude).
put('pak_names', 'folder', b'\x00.')
put('pak_names', 'prefix', b'\x04#:\\data\nsub\n./a.txt\n!*.txt')
put('pak_names', 'up', b'\x00../mid.txt\n../../top.txt\nsub//deep/')
put('pak_names', 'codepage', b'\x03.\n!sub')
put('pak_names', 'as', b'\x08\xe6\xb7\xb1\\x\na.txt')

# Blocks against zlib: the same framing as block (capacity / 16 first).
text = b'hello, hello, hello\r\n' * 8
put('block_diff', 'exact', struct.pack('<H', len(text)) + masked(text))
put('block_diff', 'short', struct.pack('<H', len(text) - 1) + masked(text))
put('block_diff', 'trailing', struct.pack('<H', 400) + masked(text) + b'junk')
put('block_diff', 'empty', b'\x00\x00' + masked(b''))
put('block_diff', 'cut', struct.pack('<H', 400) + masked(text)[:-5])
