#!/usr/bin/python3
"""Prints 400 random JSON documents for tests/interchange/KQUJsonTests.cpp (seed in argv[1]),
each line "hex(text) hex(expected compact text)": escapes, surrogate pairs, lone surrogates,
non-ASCII text, repeated keys and long numbers, rendered as json.loads reads them (decimals
rounded half-up to 38 digits, written without exponent)."""
import json, random, sys, decimal
from decimal import Decimal
ctx = decimal.Context(prec=38, rounding=decimal.ROUND_HALF_UP)
def num(d):
    d = ctx.plus(d)
    if d.is_zero(): return "0"
    return format(d.normalize(ctx), "f")
def string(s):
    s = s.encode("utf-16", "surrogatepass").decode("utf-16", "replace")
    t = json.dumps(s, ensure_ascii=False)
    if any(c in s for c in '"\\') or any(ord(c) < 32 for c in s):
        t = t.replace("\u2028", "\\u2028").replace("\u2029", "\\u2029")
    return t
def render(v):
    if isinstance(v, dict): return "{" + ",".join(string(k) + ":" + render(x) for k, x in v.items()) + "}"
    if isinstance(v, list): return "[" + ",".join(render(x) for x in v) + "]"
    if isinstance(v, str): return string(v)
    if v is True: return "true"
    if v is False: return "false"
    if v is None: return "null"
    return num(v)
R = random.Random(int(sys.argv[1]))
pieces = ["a", "Z", " ", "é", "\u4e2d", "\U0001F600", "\u2028", "/", "\u00a0", "\u007e"]
escapes = ['\\"', "\\\\", "\\/", "\\b", "\\f", "\\n", "\\r", "\\t", "\\u0041", "\\u00e9", "\\ud83d\\ude00",
           "\\uD800", "\\udc00x", "\\u0001", "\\u001F", "\\u2029", "\\u0000"]
def ws(): return R.choice(["", "", " ", "\n", "\t ", "\r\n"])
def gstr():
    return '"' + "".join(R.choice(pieces) if R.random() < .6 else R.choice(escapes) for _ in range(R.randint(0, 8))) + '"'
def gnum():
    s = R.choice(["", "-"]) + R.choice(["0", str(R.randint(1, 10**R.randint(1, 45)))])
    if R.random() < .5: s += "." + str(R.randint(0, 10**R.randint(1, 30))).zfill(R.randint(1, 5))
    if R.random() < .4: s += R.choice("eE") + R.choice(["", "+", "-"]) + str(R.randint(0, 60))
    return s
def gval(d):
    r = R.random()
    if d < 4 and r < .25: return garr(d + 1)
    if d < 4 and r < .45: return gobj(d + 1)
    if r < .7: return gstr()
    if r < .9: return gnum()
    return R.choice(["true", "false", "null"])
def garr(d): return "[" + ws() + ("," + ws()).join(gval(d) + ws() for _ in range(R.randint(0, 4))) + "]"
def gobj(d):
    keys = [R.choice(['"k"', '"a"', gstr()]) for _ in range(R.randint(0, 4))]
    return "{" + ws() + ",".join(ws() + k + ws() + ":" + ws() + gval(d) + ws() for k in keys) + "}"
for i in range(400):
    text = R.choice([garr, gobj])(0)
    v = json.loads(text, parse_float=Decimal, parse_int=Decimal)
    print(text.encode("utf-8", "surrogatepass").hex(), render(v).encode("utf-8").hex())
