#!/usr/bin/env python3
"""Writes the seed corpus of the zip archive fuzzer: small real packages made with
Python's zipfile, Info-ZIP zip and openssl (for the library's encrypted entries).

Run from anywhere: python3 fuzz/make-corpus.py [OUTPUT_DIR]"""
import hashlib, io, os, struct, subprocess, sys, tempfile, zipfile, zlib

out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus", "zip")
os.makedirs(out, exist_ok=True)
STAMP = (2020, 1, 2, 3, 4, 6)


def save(name, data):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)


def python_zip(entries, **kwargs):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", **kwargs) as z:
        for name, data, method in entries:
            z.writestr(zipfile.ZipInfo(name, STAMP), data, compress_type=method)
    return buffer.getvalue()


text = b"".join(b"line %d of some text\n" % i for i in range(60))
save("python-stored-deflated.zip", python_zip([("a.txt", text, zipfile.ZIP_STORED),
                                              ("dir/b.xml", b"<root>" + text + b"</root>", zipfile.ZIP_DEFLATED),
                                              ("dir/", b"", zipfile.ZIP_STORED)]))
buffer = io.BytesIO()
with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as z:
    with z.open(zipfile.ZipInfo("forced64.txt", STAMP), "w", force_zip64=True) as f:
        f.write(text)
save("python-zip64.zip", buffer.getvalue())
buffer = io.BytesIO()
with zipfile.ZipFile(buffer, "w") as z:
    z.comment = b"an archive comment"
    z.writestr(zipfile.ZipInfo("commented", STAMP), b"x")
save("python-comment.zip", buffer.getvalue())
save("empty.zip", python_zip([]))

with tempfile.TemporaryDirectory() as work:
    piped = subprocess.run(["sh", "-c", "printf 'streamed through a pipe\\n%.0s' $(seq 1 20) | zip -q - - | cat"],
                           capture_output=True, check=True, cwd=work).stdout
    save("infozip-piped.zip", piped)


# The library's encrypted entries: IV, then AES-128-CBC (PKCS #7) of a random block and
# the plaintext; the key is PBKDF2-HMAC-SHA1 of "fuzz" with the salt "dezUdodo", 1 round.
KEY = hashlib.pbkdf2_hmac("sha1", b"fuzz", b"dezUdodo", 1, 16)


def cbc(plain, iv):
    return subprocess.run(["openssl", "enc", "-aes-128-cbc", "-K", KEY.hex(), "-iv", iv.hex()],
                          input=plain, capture_output=True, check=True).stdout


def encrypt(plain, iv):
    return iv + cbc(bytes(16) + plain, iv)


iv = bytes(range(16))
nonce = bytes(range(32, 64))
verifier = struct.pack("<HHI", 1, 1, 1) + iv + cbc(nonce + hashlib.sha256(nonce).digest(), iv)
deflater = zlib.compressobj(8, zlib.DEFLATED, -15)
entries = [("stored", encrypt(text, iv), 0x636B, len(text)),
           ("deflated", encrypt(deflater.compress(text) + deflater.flush(), iv), 0x636C, len(text)),
           (".QlTrash/00000001", bytes(8), 0, 8)]
body, directory = b"", b""
for index, (name, stored, method, size) in enumerate(entries):
    crc = zlib.crc32(stored)
    offset = len(body)
    body += struct.pack("<IHHHIIIIHH", 0x04034B50, 20, 0, method, 0, crc, len(stored), size, len(name), 0)
    body += name.encode() + stored
    extra = b""
    if index == 0:
        for field_id, tag, data in ((0x636D, b"qlpv", verifier), (0x636E, b"qlph", b"hint"), (0x636F, b"qluu", bytes(16))):
            extra += struct.pack("<HH", field_id, 4 + len(data)) + tag + data
    directory += struct.pack("<IHHHHIIIIHHHHHII", 0x02014B50, 62, 20, 0, method, 0, crc, len(stored), size,
                             len(name), len(extra), 0, 0, 0, 0, offset) + name.encode() + extra
end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries), len(directory), len(body), 0)
save("encrypted.zip", body + directory + end)
