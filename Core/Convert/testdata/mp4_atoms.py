# Given "add" and an M4A file, gives it the atoms other taggers leave behind:
# freeform "----" items, tempo, a sort order, the encoding tool, and track and
# disc totals. Given "dump", prints every item an independent MP4 reader
# finds, as JSON: item name to the repr of its values.
import json
import sys

from mutagen.mp4 import MP4, AtomDataType, MP4FreeForm

mode, path = sys.argv[1], sys.argv[2]
audio = MP4(path)
if audio.tags is None:
    audio.add_tags()
if mode == "add":
    tags = audio.tags
    tags["\xa9nam"] = ["Old Title"]
    tags["\xa9gen"] = ["Pop"]
    tags["trkn"] = [(3, 12)]
    tags["disk"] = [(1, 2)]
    tags["tmpo"] = [128]
    tags["soar"] = ["Yamada Taro"]
    tags["\xa9too"] = ["Some Encoder 1.0"]
    tags["----:org.example.player:replaygain_track_gain"] = [MP4FreeForm(b"-6.50 dB")]
    tags["----:org.example.player:CATALOGID"] = [MP4FreeForm(b"1440857781")]
    tags["----:org.example:state"] = [
        MP4FreeForm(b"\x00\x01binary", dataformat=AtomDataType.IMPLICIT)]
    tags["----:org.example.player:NORM"] = [MP4FreeForm(b" 00000A2B 00000B3C")]
    audio.save()
else:
    print(json.dumps({key: repr(value) for key, value in audio.tags.items()}, sort_keys=True))
