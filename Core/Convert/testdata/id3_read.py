# Prints what an independent ID3 reader finds in an MP3 file, as JSON: the tag
# version, the eight text fields with the encoding byte of their frame, the
# first comment and private frame, the album identity (user text "TARVIK_ALBUM")
# with its encoding byte, and the cover picture's type, MIME type and size.
import json
import sys

from mutagen.id3 import ID3

tag = ID3(sys.argv[1], translate=False)
fields = {
    "title": "TIT2", "artist": "TPE1", "album": "TALB", "albumArtist": "TPE2",
    "track": "TRCK", "disc": "TPOS", "year": ("TYER", "TDRC"), "genre": "TCON",
}
result = {"version": "%d.%d" % tag.version[:2]}
for name, ids in fields.items():
    for frame_id in (ids if isinstance(ids, tuple) else (ids,)):
        frame = tag.get(frame_id)
        if frame is not None:
            text = frame.genres[0] if frame_id == "TCON" else str(frame.text[0])
            result[name] = text
            result[name + "Encoding"] = int(frame.encoding)
comments = tag.getall("COMM")
if comments:
    result["comment"] = str(comments[0].text[0])
privates = tag.getall("PRIV")
if privates:
    result["private"] = privates[0].owner
identity = tag.get("TXXX:TARVIK_ALBUM")
if identity is not None:
    result["albumIdentity"] = str(identity.text[0])
    result["albumIdentityEncoding"] = int(identity.encoding)
track = tag.get("TXXX:TARVIK_TRACK")
if track is not None:
    result["trackIdentity"] = str(track.text[0])
pictures = tag.getall("APIC")
if pictures:
    result["picture"] = {"type": int(pictures[0].type), "mime": pictures[0].mime,
                         "size": len(pictures[0].data)}
print(json.dumps(result, ensure_ascii=False, sort_keys=True))
