"""Prints every tag of an MP3, FLAC or M4A file as mutagen reads it, as one
JSON object: an independent reader for the tidy's tests. Pictures are shown
by a hash of their bytes; the ID3v1 trailer by its bytes in hexadecimal.
With --untouched, the title and artist fields a tidy correction changes are
left out, so that what remains must come through the correction unchanged."""
import hashlib
import json
import sys

from mutagen.flac import FLAC
from mutagen.id3 import ID3
from mutagen.mp4 import MP4


def digest(data):
    return hashlib.sha1(bytes(data)).hexdigest()


CHANGED = {"TIT2", "TPE1", "TPE2", "\u00a9nam", "\u00a9ART", "aART", "TITLE", "ARTIST",
           "ALBUMARTIST"}


def dump(path, untouched):
    out = {}
    if path.endswith(".mp3"):
        tags = ID3(path)
        out["version"] = list(tags.version)
        for key in sorted(tags.keys()):
            if untouched and key in CHANGED:
                continue
            frame = tags[key]
            out[key] = digest(frame.data) if key.startswith("APIC") else repr(frame)
        with open(path, "rb") as f:
            data = f.read()
        out["v1"] = data[-128:].hex() if data[-128:-125] == b"TAG" else None
    elif path.endswith(".flac"):
        f = FLAC(path)
        out["comments"] = [[k, v] for k, v in f.tags
                           if not (untouched and k.upper() in CHANGED)]
        out["pictures"] = [digest(p.data) for p in f.pictures]
    elif path.endswith(".m4a"):
        f = MP4(path)
        for key in sorted(f.tags.keys()):
            if untouched and key in CHANGED:
                continue
            value = f.tags[key]
            out[key] = [digest(v) for v in value] if key == "covr" else repr(value)
    return out


print(json.dumps(dump(sys.argv[-1], "--untouched" in sys.argv[1:-1]), ensure_ascii=False,
                 sort_keys=True))
