#!/usr/bin/env python3
"""Writes the reply fuzzer's seeds into fuzz/corpus-replies: the instrument's side of whole
"Прошити" runs, one piece per request, pieces separated by 0x1E (0x1D 0x1E for the byte
itself).  The requests come in this order: five wake-ups, up to five identify tries, the
describe request, then the erase, write and commit tries, and the two resets.  Each seed's
expected outcome is in tests/fuzz/test_reply_seeds.cpp.

    tools/make_reply_seeds.py
"""
import os

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'fuzz', 'corpus-replies')
RS = '\x1e'
def s(payload):  # the frame sum: low byte of the sum of the payload's bytes
    return '%02X' % (sum(int(payload[i:i+2],16) for i in range(0,len(payload),2)) & 0xFF)
def r(payload):
    return 'g' + payload + s(payload) + ';'
def ident(ver='02', bpe=2, bs=16, ec=2):
    return r('82' + ver + '0000' + '%02X%02X%04X' % (bpe, bs, ec))
def desc(text):
    return 'g83' + text + 'B1;'
wake = [''] * 5
def write_replies(bpe=2, ec=2):
    out = []
    for u in range(ec):
        out.append(r('84'))
        for b in range(bpe):
            out += [r('85'), r('86')]
    return out
reset = [r('81'), r('81')]
def save(name, pieces):
    data = RS.join(p.replace(RS, '\x1d' + RS) for p in pieces).encode('latin1')
    with open(os.path.join(OUT, name), 'wb') as f:
        f.write(data)

# A whole write as the instrument answers it: 2 units of 2 blocks of 16 bytes.
save('real-write', wake + [ident(), desc('240901')] + write_replies() + reset)
# The same with replies late, lost, garbled or of another frame before the right one.
w = write_replies()
retried = ['', r('85'), w[0], 'g84', w[1], 'x' + w[2], w[2], w[3], 'g85;'] + w[4:]
save('retries', wake + ['', '', ident(), desc('240901')] + retried + reset)
# Replies cut before their ";": every try fails.
save('cut', wake + [ident()[:-1], ident(), desc('240901')] + ['g848', 'g84', 'g8', 'g'] * 3)
# Another frame's code on every erase and write.
save('wrong-codes', wake + [ident(), desc('240901')] + [r('85'), r('86'), 'g84;g85', 'g86;'] * 4)
# Over-long: replies running into the next read, two in one piece, a long description.
save('over-long', wake[:4] + [ident() + ident(), '', desc('240901' + 'A' * 1200),
     r('84') + r('85'), r('86') * 5, r('85') * 4, ';' * 30] + reset)
save('over-long-identify', wake + [ident() * 3, desc('240901')] + write_replies() + reset)
# Bytes of every kind: NUL, 0xFF, the separator itself, Windows-1251 letters, line ends.
save('binary', wake + [ident(), 'g83\x00\xff\x1e\xc0\xc1\n\r\n\x98\xaa;'] +
     ['\x00' * 8, '\xff\xfe;', 'g84\x00;', 'g85\n;', 'g86\r\n;'] + reset)
save('description-lines', wake + [ident(), 'g83240\n901\nXX;'] + write_replies() + reset)
# Version gate and loader refusals.
save('same-version', wake + [ident(), desc('241004')] + reset)
save('newer-version', wake + [ident(), desc('241005')] + reset)
save('six-letters', wake + [ident(), desc('ABCDEF')])
save('old-loader', wake + [ident(ver='01')])
# Geometries: no units, no blocks, one beyond the erase address.
save('no-units', wake + [ident(ec=0), desc('000001')] + reset)
save('no-blocks', wake + [ident(bpe=0, ec=3), desc('000001'), r('84'), r('84'), r('84')] + reset)
save('too-big', wake + [ident(bpe=255, bs=255, ec=0xFFFF), desc('000001')])
save('silent', [])
# The limit of 400 unanswered tries: a commit never answered stops the write; 399 unanswered
# tries spread over a write let it finish, the 400th stops it.
save('commit-unanswered', wake + [ident(), desc('240901'), r('84'), r('85')] + [''] * 400 +
     write_replies()[3:] + reset)
def spread(failures):
    pieces = []
    for k, reply in enumerate(write_replies()):
        pieces += [''] * (failures // 10 + (1 if k < failures % 10 else 0)) + [reply]
    return pieces
save('spread-399', wake + [ident(), desc('240901')] + spread(399) + reset)
save('spread-400', wake + [ident(), desc('240901')] + spread(400) + reset)
