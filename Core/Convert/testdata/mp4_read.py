# Prints what an independent MP4 reader finds in an M4A file, as JSON: the
# eight tag fields under the names the converter's track record uses, the
# album's and the song's identities (freeform "----:org.tarvik:TARVIK_ALBUM"
# and "…:TARVIK_TRACK"), and the cover picture's format and size.
import json
import sys

from mutagen.mp4 import MP4, MP4Cover

tags = MP4(sys.argv[1]).tags or {}
result = {}
for name, key in (("title", "\xa9nam"), ("artist", "\xa9ART"), ("album", "\xa9alb"),
                  ("albumArtist", "aART"), ("date", "\xa9day"), ("genre", "\xa9gen")):
    if key in tags:
        result[name] = str(tags[key][0])
for name, key in (("track", "trkn"), ("disc", "disk")):
    if key in tags:
        result[name] = str(tags[key][0][0])
for name, key in (("albumIdentity", "----:org.tarvik:TARVIK_ALBUM"),
                  ("trackIdentity", "----:org.tarvik:TARVIK_TRACK")):
    if key in tags:
        result[name] = bytes(tags[key][0]).decode()
if "covr" in tags:
    cover = tags["covr"][0]
    result["cover"] = {"format": "jpeg" if cover.imageformat == MP4Cover.FORMAT_JPEG else "png",
                       "size": len(bytes(cover))}
print(json.dumps(result, ensure_ascii=False, sort_keys=True))
