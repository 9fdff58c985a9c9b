#!/usr/bin/env python3
"""Writes the hand-made seed inputs of every fuzz target into corpus/<target>/.

Each seed is worked out by hand from the ROM loader's protocol, the flasher's command line or
the output flashers print; see README.md. Inputs that fuzzing found are kept next to them under
names starting with "found-" and are not written here.
"""
import pathlib
import struct

CORPUS = pathlib.Path(__file__).resolve().parent / "corpus"


def write(target, name, data):
    folder = CORPUS / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(data if isinstance(data, bytes) else data.encode())


def reads(*chunks):
    """Length-prefixed reads, as fuzz_slip and fuzz_output_decoder take them."""
    out = b""
    for chunk in chunks:
        assert len(chunk) < 256
        out += bytes([len(chunk)]) + chunk
    return out


def words(*items):
    """NUL-separated words, as fuzz_command_line and fuzz_shell_quote take them."""
    return "\0".join(items).encode()


# --- ROM loader frames: header (direction, opcode, size, value), data, 4 status bytes ---------

def reply(opcode, value=0, payload=b"", status=0, error=0):
    data = payload + bytes([status, error, 0, 0])
    return struct.pack("<BBHI", 1, opcode, len(data), value) + data


def request(opcode, data, checksum=0):
    return struct.pack("<BBHI", 0, opcode, len(data), checksum) + data


def slip(packet):
    return b"\xc0" + packet.replace(b"\xdb", b"\xdb\xdd").replace(b"\xc0", b"\xdb\xdc") + b"\xc0"


SYNC, READ_REG, CHANGE_BAUD, FLASH_DATA, MD5, SECURITY_INFO = 0x08, 0x0A, 0x0F, 0x03, 0x13, 0x14
sync_reply = reply(SYNC, 0x20120707)
magic_reply = reply(READ_REG, 0x00F01D83)
md5_reply = reply(MD5, payload=b"d41d8cd98f00b204e9800998ecf8427e")
checksum_error = reply(FLASH_DATA, status=1, error=0x07)
unknown_command = reply(SECURITY_INFO, status=1, error=0x05)
baud_reply = reply(CHANGE_BAUD, 0x00000733)
escaped_value = reply(READ_REG, 0xC0DB00C0)
sync_request = request(SYNC, b"\x07\x07\x12\x20" + b"\x55" * 32)
banner = (b"ets Jun  8 2016 00:22:57\r\n\r\n"
          b"rst:0x1 (POWERON_RESET),boot:0x3 (DOWNLOAD_BOOT(UART0/UART1/SDIO_REI_REO_V2))\r\n"
          b"waiting for download\r\n")

# fuzz_slip: the wire, in reads.
write("slip", "sync-eight-replies", reads(slip(sync_reply) * 8))
magic = slip(magic_reply)
write("slip", "read-reg-in-two-reads", reads(magic[:5], magic[5:]))
md5 = slip(md5_reply)
write("slip", "md5-in-three-reads", reads(md5[:10], md5[10:30], md5[30:]))
escaped = slip(escaped_value)
cut = escaped.index(b"\xdb") + 1
write("slip", "escape-cut-between-reads", reads(escaped[:cut], escaped[cut:]))
write("slip", "banner-then-sync", reads(banner[:60], banner[60:], slip(sync_reply)))
write("slip", "errors-back-to-back", reads(slip(checksum_error) + slip(unknown_command)))
write("slip", "bad-escape", reads(b"\xc0\x01\xdb\x41\xc0"))
write("slip", "request", reads(slip(sync_request)))
write("slip", "empty-reads", reads(b"", b"\xc0", b"", b"\xc0\xc0"))

# fuzz_rom_reply: one unescaped frame.
write("rom_reply", "sync", sync_reply)
write("rom_reply", "read-reg-magic", magic_reply)
write("rom_reply", "md5", md5_reply)
write("rom_reply", "checksum-error", checksum_error)
write("rom_reply", "unknown-command", unknown_command)
write("rom_reply", "change-baud-leftover-value", baud_reply)
write("rom_reply", "stub-two-status-bytes", struct.pack("<BBHI", 1, SYNC, 2, 0) + b"\x00\x00")
write("rom_reply", "size-too-large", struct.pack("<BBHI", 1, READ_REG, 8, 0) + b"\x00" * 4)
write("rom_reply", "request", sync_request)
write("rom_reply", "short", b"\x01\x08\x04")

# fuzz_command_line: the arguments.
image = "/home/user/.local/share/Tavix Flash Tool/UIFlow-core2-Tavix-V2.2-0x0.bin"
global_options = ["--chip", "esp32", "--port", "/dev/ttyUSB0", "--baud", "460800",
                  "--before", "default-reset", "--after", "hard-reset"]
write("command_line", "app-flash", words(*global_options, "write-flash", "--compress",
                                         "--flash-mode", "dio", "--flash-freq", "80m",
                                         "--flash-size", "detect", "0x0", image))
write("command_line", "app-erase", words(*global_options, "erase-flash"))
write("command_line", "underscores-three-images",
      words("-c", "esp32", "-p", "/dev/ttyACM0", "-b", "115200", "--before", "default_reset",
            "--after", "no_reset", "write_flash", "-z", "--flash_mode", "qio", "--flash_freq",
            "40m", "--flash_size", "4MB", "0x1000", "boot.bin", "0x8000", "part.bin",
            "65536", "app.bin"))
write("command_line", "values-with-equals", words("--port=/dev/ttyUSB1", "--baud=921600",
                                                   "erase_flash"))
write("command_line", "dash-dash", words("-p", "/dev/ttyUSB0", "write-flash", "-u", "-fs",
                                         "keep", "--", "0x10000", "-odd name.bin"))
write("command_line", "help", words("--help"))
write("command_line", "write-help", words("write-flash", "-h"))
write("command_line", "version", words("version"))
write("command_line", "no-port", words("write-flash", "--flash-size", "3MB", "0x1001"))

# fuzz_progress_parser: one piece of output.
write("progress_parser", "older-flasher", "Writing at 0x00010000... (12 %)\n")
write("progress_parser", "newer-flasher",
      "\rWriting at 0x000013be [>                             ]   3.4% 1024/30256 bytes... \n")
write("progress_parser", "newer-flasher-done",
      "\rWriting at 0x0000fa60 [==============================] 100.0% 30256/30256 bytes... \n")
write("progress_parser", "newer-flasher-ansi",
      "\r\x1b[KWriting at 0x00000000 [                              ]   0.0% 0/30256 bytes... ")
write("progress_parser", "browser-flasher", "Writing at 0x1000... (12%)")
write("progress_parser", "no-percentage", "Connecting........\n")
write("progress_parser", "arabic-indic-digits", "\u0664\u0662%")
write("progress_parser", "utf16-line", "Writing... (42 %)".encode("utf-16-le"))

# fuzz_output_decoder: the output, in reads.
write("output_decoder", "progress-with-cr",
      reads(b"\rWriting at 0x00000000 [  ]   0.0% 0/30256 bytes... ",
            b"\rWriting at 0x000013be [> ]   3.4% 1024/30256 bytes... \r",
            b"\nHash of data verified.\r\n"))
write("output_decoder", "cr-lf-split", reads(b"Connecting...\r", b"\nChip is ESP32\r", b"\n"))
write("output_decoder", "two-byte-split", reads("caf\u00e9\n".encode()[:4],
                                                "caf\u00e9\n".encode()[4:]))
emoji = "ok \U0001F600\n".encode()
write("output_decoder", "four-byte-over-three-reads", reads(emoji[:4], emoji[4:6], emoji[6:]))
write("output_decoder", "invalid-bytes", reads(b"a\xff\xfeb\x80", b"\xc0\xafc"))
write("output_decoder", "incomplete-at-end", reads(b"done \xe2\x82"))

# fuzz_shell_quote: the words of one command line.
write("shell_quote", "app-flash",
      words("/home/user/.local/share/Tavix Flash Tool/esptool_amd64", *global_options,
            "write-flash", "--compress", "--flash-mode", "dio", "--flash-freq", "80m",
            "--flash-size", "detect", "0x0", image))
write("shell_quote", "quotes", words("it's", "''", "\"a b\"", "'\\''"))
write("shell_quote", "shell-characters", words("$HOME", "`id`", "*.bin", "~/x", "a\\b",
                                               "a\nb", "x;y|z&", "#c", "!", "{a,b}"))
write("shell_quote", "unicode", words("\u00dcn\u00efc\u00f8d\u00e9", "\u65e5\u672c\u8a9e",
                                      "e\u0301", "\u0661\u0662", "\U00010400x",
                                      "\U0001F600", "a\u00a0b"))
write("shell_quote", "empty-words", words("", "x", ""))
write("shell_quote", "utf16-lone-surrogate", "a\0b".encode("utf-16-le") + b"\x00\xd8")
