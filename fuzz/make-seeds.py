#!/usr/bin/env python3
"""Writes the seed corpus of the bundle tool's fuzzers into DIR/<fuzzer>/,
made from real files of the machine: small jars of Debian's Java packages
(/usr/share/java), the module descriptors and native libraries inside them
and in the JDKs' jmods,
deflate streams of their entries, CMake's Info.plist template, and a nested
and a zip64 jar made from them. Missing sources only make the corpus smaller.

Usage: fuzz/make-seeds.py DIR"""
import glob
import io
import os
import shutil
import sys
import zipfile
import zlib

out = sys.argv[1]
limit = 60000  # the jar fuzzer's -max_len is 65536


def target(name):
    path = os.path.join(out, name)
    os.makedirs(path, exist_ok=True)
    return path


def put(name, file_name, data):
    with open(os.path.join(target(name), file_name), 'wb') as f:
        f.write(data)


jars = sorted(p for p in glob.glob('/usr/share/java/*.jar')
              if not os.path.islink(p) and os.path.getsize(p) <= limit)[:40]
descriptors = natives = streams = 0
for path in jars:
    base = os.path.basename(path)
    shutil.copyfile(path, os.path.join(target('JarFile'), base))
    try:
        z = zipfile.ZipFile(path)
    except zipfile.BadZipFile:
        continue
    for info in z.infolist():
        data = z.read(info)
        if info.filename.endswith('module-info.class') and descriptors < 20:
            put('ModuleInfo', '%s-%d' % (base, descriptors), data)
            descriptors += 1
        if data[:4] in (b'\xcf\xfa\xed\xfe', b'\xca\xfe\xba\xbe', b'\xca\xfe\xba\xbf') and natives < 20:
            put('MachO', '%s-%d' % (base, natives), data[:4096])
            natives += 1
        if streams < 40 and 0 < len(data) <= 4000:
            c = zlib.compressobj(9, zlib.DEFLATED, -15)
            put('Inflate', '%s-%d' % (base, streams), c.compress(data) + c.flush())
            streams += 1

# Module descriptors and native libraries of the larger jars too (jansi's
# libraries for macOS, for one).
for path in sorted(glob.glob('/usr/share/java/*.jar')):
    if descriptors >= 20:
        break
    if os.path.islink(path):
        continue
    try:
        z = zipfile.ZipFile(path)
    except (zipfile.BadZipFile, OSError):
        continue
    for info in z.infolist():
        if info.filename.endswith('module-info.class') and descriptors < 20:
            put('ModuleInfo', '%s-%d' % (os.path.basename(path), descriptors), z.read(info))
            descriptors += 1
for path in sorted(glob.glob('/usr/lib/jvm/*/jmods/*.jmod'))[:40]:
    if descriptors >= 40:
        break
    try:
        data = zipfile.ZipFile(path).read('classes/module-info.class')
    except (zipfile.BadZipFile, KeyError, OSError):
        continue
    put('ModuleInfo', os.path.basename(path), data)
    descriptors += 1
for path in glob.glob('/usr/share/java/jansi*.jar'):
    try:
        z = zipfile.ZipFile(path)
    except (zipfile.BadZipFile, OSError):
        continue
    for info in z.infolist():
        head = z.open(info).read(4096)
        if head[:4] in (b'\xcf\xfa\xed\xfe', b'\xca\xfe\xba\xbe', b'\xca\xfe\xba\xbf'):
            put('MachO', os.path.basename(path) + '-' + info.filename.replace('/', '_'), head)

# The first entries of each larger jar (jansi's, with its native libraries
# for macOS), in a jar of their own that fits the fuzzer's input size.
for path in sorted(glob.glob('/usr/share/java/*.jar')):
    if os.path.islink(path) or os.path.getsize(path) <= limit:
        continue
    try:
        z = zipfile.ZipFile(path)
        cut = io.BytesIO()
        with zipfile.ZipFile(cut, 'w', compression=zipfile.ZIP_DEFLATED) as w:
            for info in z.infolist()[:30]:
                data = z.read(info)
                if cut.tell() + len(data) > limit:
                    break
                w.writestr(info, data, compress_type=info.compress_type)
    except (zipfile.BadZipFile, OSError, NotImplementedError):
        continue
    if len(cut.getvalue()) <= limit:
        put('JarFile', 'first-of-' + os.path.basename(path), cut.getvalue())

# A jar inside a jar, as Spring Boot nests them, and a zip64 jar.
if jars:
    inner = open(jars[0], 'rb').read()
    nested = io.BytesIO()
    with zipfile.ZipFile(nested, 'w') as z:
        z.writestr('META-INF/MANIFEST.MF', 'Manifest-Version: 1.0\r\nMain-Class: a.B\r\n\r\n')
        z.writestr(zipfile.ZipInfo('BOOT-INF/lib/inner.jar'), inner)
    put('JarFile', 'nested.jar', nested.getvalue())
big = io.BytesIO()
with zipfile.ZipFile(big, 'w', compression=zipfile.ZIP_DEFLATED) as z:
    with z.open('META-INF/MANIFEST.MF', 'w', force_zip64=True) as f:
        f.write(b'Manifest-Version: 1.0\r\nClass-Path: lib/a.jar\r\n\r\n')
    z.writestr('a/B.class', b'\xca\xfe\xba\xbe\0\0\0\x3d')
put('JarFile', 'zip64.jar', big.getvalue())

for plist in glob.glob('/usr/share/cmake*/Templates/AppleInfo.plist'):
    shutil.copyfile(plist, os.path.join(target('PlistReader'), 'cmake-AppleInfo.plist'))
