# Gives an MP3 file the ID3v2.3 tag that a library tagger might have left:
# title and year that an edit replaces, and a comment, a cover picture and a
# private frame that it must keep.
import sys

from mutagen.id3 import APIC, COMM, ID3, PRIV, TIT2, TYER

tag = ID3()
tag.add(TIT2(encoding=1, text="Old title"))
tag.add(TYER(encoding=0, text="1999"))
tag.add(COMM(encoding=1, lang="jpn", desc="", text="\u30b3\u30e1\u30f3\u30c8"))
tag.add(APIC(encoding=0, mime="image/jpeg", type=3, desc="",
             data=b"\xff\xd8" + bytes(range(256)) * 8 + b"\xff\xd9"))
tag.add(PRIV(owner="tarvik.test", data=b"\x00\x01\x02"))
tag.save(sys.argv[1], v2_version=3)
