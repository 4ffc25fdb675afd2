#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets that read files or structured
text: gogo_input, desktop_entry, exec_line, settings and listfile_read.

    fuzz/make_corpus.py        # (re)writes fuzz/corpus/<name>/<seed>

The seeds are small and each stands for a case worth starting from; the
files it writes are kept in the repository, so running it is only needed
after changing it. Findings added to a corpus by hand are left alone.
"""
import math
import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")


def write(target, name, data):
    directory = os.path.join(CORPUS, target)
    os.makedirs(directory, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("utf-8")
    with open(os.path.join(directory, name), "wb") as out:
        out.write(data)


# ---- gogo_input: audio files ------------------------------------------------

def tone(frames, channels, scale, rate=44100, freq=440.0):
    """Interleaved samples of a sine, as floats in [-scale, scale]."""
    samples = []
    for i in range(frames):
        value = math.sin(2 * math.pi * freq * i / rate) * scale
        samples.extend([value] * channels)
    return samples


def chunk(tag, body):
    data = tag + struct.pack("<I", len(body)) + body
    return data + (b"\0" if len(body) % 2 else b"")


def wav(fmt_tag, channels, rate, bits, data, block_align=None, extra=b"", data_size=None,
        fact=None):
    block_align = block_align or channels * bits // 8
    fmt = struct.pack("<HHIIHH", fmt_tag, channels, rate, rate * block_align, block_align, bits)
    body = b"WAVE" + chunk(b"fmt ", fmt + extra)
    if fact is not None:
        body += chunk(b"fact", struct.pack("<I", fact))
    if data_size is None:
        body += chunk(b"data", data)
    else:
        # A data chunk that claims more than is there.
        body += b"data" + struct.pack("<I", data_size) + data
    return b"RIFF" + struct.pack("<I", len(body)) + body


def pcm16(samples):
    return b"".join(struct.pack("<h", int(s)) for s in samples)


def ieee_extended(value):
    """An 80-bit IEEE extended float, as AIFF stores its sample rate."""
    exponent = int(math.floor(math.log2(value)))
    mantissa = int(value * 2 ** (63 - exponent))
    return struct.pack(">HQ", exponent + 16383, mantissa)


def aiff(channels, rate, bits, frames_claimed, sound):
    comm = struct.pack(">hIh", channels, frames_claimed, bits) + ieee_extended(rate)
    ssnd = struct.pack(">II", 0, 0) + sound
    body = b"AIFF" + b"COMM" + struct.pack(">I", len(comm)) + comm
    body += b"SSND" + struct.pack(">I", len(ssnd)) + ssnd
    return b"FORM" + struct.pack(">I", len(body)) + body


def au_ulaw(rate, channels, data):
    header = struct.pack(">4sIIIII", b".snd", 24, len(data), 1, rate, channels)
    return header + data


def crc8(data):
    crc = 0
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = ((crc << 1) ^ 0x07) & 0xff if crc & 0x80 else (crc << 1) & 0xff
    return crc


def crc16(data):
    crc = 0
    for byte in data:
        crc ^= byte << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x8005) & 0xffff if crc & 0x8000 else (crc << 1) & 0xffff
    return crc


def flac_constant(frames, total_samples):
    """A mono 16-bit 44.1 kHz FLAC stream of 4096-sample frames, each one
    CONSTANT subframe: a few bytes per frame say a lot of audio."""
    info = struct.pack(">HH", 4096, 4096) + b"\0\0\0" + b"\0\0\0"
    packed = (44100 << 44) | (0 << 41) | (15 << 36) | total_samples
    info += struct.pack(">Q", packed) + bytes(16)
    stream = b"fLaC" + bytes([0x80]) + struct.pack(">I", len(info))[1:] + info
    for number in range(frames):
        header = bytes([0xff, 0xf8, 0xc9, 0x08, number])
        header += bytes([crc8(header)])
        frame = header + bytes([0x00]) + struct.pack(">h", 1000 * (number + 1))
        stream += frame + struct.pack(">H", crc16(frame))
    return stream


def gogo_seeds():
    stereo = tone(600, 2, 12000)
    write("gogo_input", "wav_pcm16_stereo", wav(1, 2, 44100, 16, pcm16(stereo)))
    mono8 = bytes(int(128 + s) for s in tone(1500, 1, 100, rate=8000))
    write("gogo_input", "wav_pcm8_mono_8k", wav(1, 1, 8000, 8, mono8))
    floats = b"".join(struct.pack("<f", s) for s in tone(500, 1, 0.5, rate=48000))
    write("gogo_input", "wav_float_48k", wav(3, 1, 48000, 32, floats, fact=500))
    ulaw = bytes((i * 37) & 0xff for i in range(800))
    write("gogo_input", "wav_ulaw", wav(7, 1, 11025, 8, ulaw, fact=800))
    # IMA ADPCM: 256-byte blocks of 505 samples each.
    extra = struct.pack("<HH", 2, 505)
    blocks = b"".join(struct.pack("<hBB", 0, 0, 0) + bytes((j * 11 + b) & 0xff for j in range(252))
                      for b in range(2))
    write("gogo_input", "wav_ima_adpcm",
          wav(0x11, 1, 22050, 4, blocks, block_align=256, extra=extra, fact=1010))
    write("gogo_input", "wav_claims_more",
          wav(1, 2, 44100, 16, pcm16(tone(50, 2, 8000)), data_size=0x7ffffff0))
    write("gogo_input", "wav_three_channels", wav(1, 3, 44100, 16, pcm16(tone(100, 3, 8000))))
    write("gogo_input", "wav_rate_too_low", wav(1, 1, 500, 16, pcm16(tone(100, 1, 8000))))
    write("gogo_input", "wav_rate_1000", wav(1, 1, 1000, 16, pcm16(tone(300, 1, 8000, rate=1000, freq=50))))
    write("gogo_input", "wav_no_frames", wav(1, 1, 44100, 16, b""))
    sound = b"".join(struct.pack(">h", int(s)) for s in tone(400, 2, 9000))
    write("gogo_input", "aiff_pcm16", aiff(2, 22050, 16, 400, sound))
    write("gogo_input", "aiff_claims_more", aiff(1, 44100, 16, 0xfffffff0, sound[:200]))
    write("gogo_input", "au_ulaw", au_ulaw(8000, 1, bytes((i * 13) & 0xff for i in range(1200))))
    write("gogo_input", "flac_constant", flac_constant(3, 3 * 4096))
    # Headers that understate the audio: a size of half, of 0, a LIST after.
    half = pcm16(tone(400, 2, 8000))
    write("gogo_input", "wav_claims_half", wav(1, 2, 44100, 16, half, data_size=len(half) // 2))
    write("gogo_input", "wav_size_zero", wav(1, 2, 44100, 16, half, data_size=0))
    write("gogo_input", "wav_then_list",
          wav(1, 2, 44100, 16, half) + chunk(b"LIST", b"INFOINAM" + struct.pack("<I", 2) + b"a\0"))
    write("gogo_input", "flac_claims_less", flac_constant(3, 4096))
    write("gogo_input", "flac_count_unknown", flac_constant(3, 0))
    write("gogo_input", "not_audio", b"just some text, not a sound file\n")
    # Tags: INFO, an ID3 chunk and bext in a WAV; AIFF's text chunks; a
    # FLAC's Vorbis comments and picture.
    frame = b"\x03title"
    id3 = b"TIT2" + struct.pack(">I", len(frame)) + b"\0\0" + frame
    id3 = b"ID3\x04\0\0" + struct.pack(">I", len(id3)) + id3
    bext = (b"a description".ljust(256, b"\0") + b"recorder".ljust(64, b"\0")
            + b"2024-05-0110:30:00").ljust(602, b"\0")
    write("gogo_input", "wav_tags",
          wav(1, 2, 44100, 16, half) + chunk(b"LIST", b"INFOINAM" + struct.pack("<I", 4) + b"ab\0\0"
                                             + b"IART" + struct.pack("<I", 2) + b"\xe9\0")
          + chunk(b"id3 ", id3) + chunk(b"bext", bext))
    texts = b"".join(name + struct.pack(">I", len(text)) + text + (b"\0" if len(text) % 2 else b"")
                     for name, text in [(b"NAME", b"take"), (b"AUTH", b"me"), (b"ANNO", b"note")])
    write("gogo_input", "aiff_texts", aiff(2, 22050, 16, 400, sound) + texts)
    comments = struct.pack("<I", 3) + b"abc" + struct.pack("<I", 2)
    for field in [b"TITLE=t", b"ARTIST=a"]:
        comments += struct.pack("<I", len(field)) + field
    picture = (struct.pack(">II", 3, 9) + b"image/png" + struct.pack(">I", 0)
               + struct.pack(">IIIII", 1, 1, 24, 0, 4) + b"\x89PNG")
    flac = bytearray(flac_constant(3, 3 * 4096))
    last = flac[4] & 0x80
    flac[4] &= 0x7f
    blocks = (bytes([4]) + struct.pack(">I", len(comments))[1:] + comments
              + bytes([6 | last]) + struct.pack(">I", len(picture))[1:] + picture)
    write("gogo_input", "flac_tags", bytes(flac[:42]) + blocks + bytes(flac[42:]))
    # Float samples that are no sound: NaN, infinity, far out of [-1, 1].
    wild = tone(2000, 1, 0.5, rate=48000)
    wild[1000:1004] = [float("nan"), float("inf"), -1e30, 2.0]
    write("gogo_input", "wav_float_out_of_range",
          wav(3, 1, 48000, 32, b"".join(struct.pack("<f", s) for s in wild), fact=2000))


# ---- desktop_entry: file text, then NUL-separated strings ---------------------

def desktop_entry_seeds():
    entry = ("[Desktop Entry]\nType=Application\nName=Tamsel Gogo Frontend\n"
             "Exec=\"/opt/My App/tamsel\" %F\nIcon=application-x-vnd.tamsel\n"
             "MimeType=audio/x-wav;text/x-TamselGogoFronted-list;\nNoDisplay=false\n"
             "Terminal=false\nX-Tamsel-Signature=application/x-vnd.Tamsel-GogoFrontend\n")
    write("desktop_entry", "written_entry", entry + "\0MimeType\0audio/x-aiff;\0Name")
    write("desktop_entry", "entry_crlf_groups",
          "# comment\r\n  [Desktop Entry]  \r\n Name = spaced \r\nExec=a\\sb %f\r\n\r\n"
          "[Desktop Action New]\r\nName=Other\r\n\0Exec\0b\0Name")
    write("desktop_entry", "no_group", "Name=stray\n[Other]\nK=v\0K\0new value\0Name")
    write("desktop_entry", "trailing_space", "[Desktop Entry]\nName=x\n\0Name \0value \0Icon ")
    mimeapps = ("[Added Associations]\naudio/x-wav=vlc.desktop;\n\n"
                "[Default Applications]\naudio/x-wav=vlc.desktop;tamsel.desktop;\n"
                "Text/Plain = gedit.desktop ; ;\n\n[Removed Associations]\nx/y=z;\n")
    write("desktop_entry", "mimeapps", mimeapps + "\0audio/x-wav\0tamsel.desktop\0text/plain")
    write("desktop_entry", "mimeapps_twice",
          "[Default Applications]\na/b=x;\n[Default Applications]\nc/d=y;\n\0c/d\0z.desktop\0a/b")
    xml = ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<mime-info>\n"
           "  <mime-type type=\"text/x-TamselGogoFronted-list\">\n"
           "    <comment xml:lang=\"de\">Liste</comment>\n"
           "    <comment>List &amp; more &#x42;&#65; &lt;x&gt;</comment>\n"
           "    <glob pattern=\"*.tamsel-list\"/>\n  </mime-type>\n</mime-info>\n")
    write("desktop_entry", "mime_xml", xml + "\0text/x-a\0Comment <&> \"q\" 'a'\0lst;tamsel-list")
    write("desktop_entry", "xml_references",
          "<comment>&#x10FFFF;&#xD800;&#1;&#127;&#0;&#x110000;&#9;&bogus;</comment>\0a\0b\0c")
    write("desktop_entry", "utf8",
          "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5 \xc0\xaf \xed\xa0\x80 \xf4\x90\x80\x80".encode("latin-1")
          + b"\0K\0v\0")


# ---- exec_line: an Exec value or a whole entry, then the files ----------------

def exec_line_seeds():
    write("exec_line", "list", "/usr/bin/app --open %F\0/tmp/a.wav\0/tmp/b c.wav")
    write("exec_line", "quoted_program", "\"/opt/My App/app\" %f\0/x/y.wav\0/z.wav")
    write("exec_line", "codes", "app %% 100%f %u%u \"%f quoted 50%%\" %k %i %c %\0one\0two")
    write("exec_line", "escapes", "\"a\\\"b\\`c\\$d\\\\e\\x\" 'single' tab\there\0f")
    write("exec_line", "entry",
          "[Other]\nExec=no\n[Desktop Entry]\r\nName=Foo\r\nExec = env\\sA=1 \"/a\\\\\"b\" app\\t%U\r\n"
          "\0/tmp/one\0/tmp/two")
    write("exec_line", "percent_path", "/opt/100% sure/app\0/f")
    write("exec_line", "unterminated", "app \"open\0f")
    write("exec_line", "blank", " \t \0f")


# ---- settings: per setting, a size byte, the value, a type byte --------------

def setting(value, type_byte, size_byte=None):
    if value is None:
        return bytes([0xff, type_byte])
    if size_byte is None:
        size_byte = len(value)
    return bytes([size_byte]) + value + bytes([type_byte])


def settings_seeds():
    STRING, BOOL, RAW, INT32, NONE = 1, 2, 3, 4, 0
    write("settings", "stored_by_program",
          setting(b"/usr/bin/gogo\0", STRING) + setting(b"\x01", BOOL) + setting(b"\x00", BOOL)
          + setting(b"\x01", BOOL))
    write("settings", "other_tool",
          setting(b"/opt/gogo\0", NONE) + setting(b"\x02", NONE) + setting(b"\x01\x00", NONE)
          + setting(b"", NONE))
    write("settings", "wrong_types",
          setting(b"/bin/gogo\0", INT32) + setting(b"\x01", STRING) + setting(b"\x01", 6 | (3 << 3))
          + setting(None, 7))
    # Longer than the buffer, terminated only past its end.
    long_value = b"/" + b"x" * 1100 + b"\0" + b"y" * 19
    write("settings", "location_too_long",
          setting(long_value, RAW, size_byte=0x80 + len(long_value) // 16) + setting(b"\x01", RAW))
    write("settings", "location_unterminated", setting(b"/usr/bin/gogo", STRING))
    write("settings", "odd_companions",
          setting(b"/a\0b", 5 | (0x11 << 3)) + setting(b"\x01", 6) + setting(b"\x00", 6 | (4 << 3))
          + setting(b"\x01", RAW))


# ---- listfile_read: the list file seeds, as files ---------------------------------

def listfile_read_seeds():
    # The in-memory reader's seeds are list files too.
    source = os.path.join(CORPUS, "listfile")
    os.makedirs(os.path.join(CORPUS, "listfile_read"), exist_ok=True)
    for name in sorted(os.listdir(source)):
        shutil.copyfile(os.path.join(source, name), os.path.join(CORPUS, "listfile_read", name))
    write("listfile_read", "saved_by_program",
          "# Generated by Tamsel Gogo Frontend 1.2a\n0;/home/user/a.wav\n0;/home/user/b c.wav\n"
          "0;/media/usb/\xc3\xa9t\xc3\xa9.wav\n".encode("latin-1"))
    write("listfile_read", "crlf_and_nul", b"# x\r\n0;/a\r\n1;/b\0tail\n;\n0;\n#0;/c\n0;/last")
    # '@' first: the target repeats the input past the longest line a list
    # may hold, here into one endless line, and into many short ones.
    write("listfile_read", "repeated_one_line", "@0;/" + "x" * 61)
    write("listfile_read", "repeated_lines", "@\n0;/music/a.wav\n")


def main():
    gogo_seeds()
    desktop_entry_seeds()
    exec_line_seeds()
    settings_seeds()
    listfile_read_seeds()


if __name__ == "__main__":
    main()
