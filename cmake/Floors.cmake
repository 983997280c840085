# The product's folders from the ground up: FOLDER FLOOR KIT. The top-level
# CMakeLists.txt adds them in this order, and tests/layers/CheckIncludes.cmake holds their
# sources to it: a folder includes headers of its own folder and of lower floors only.
# KIT "std": standard library only, no Qt header and no Qt folder's header; "qt": may use Qt.
set(ORVELLA_FLOORS
  "files       0 std"  # orvella_files: file access per platform; UTF-8, Latin-1, UTF-16 text
  "nand        1 std"  # orvella_nand: Hamming codes, spare layouts, the sector check
  "digest      1 std"  # orvella_digest: message digests behind one interface (libcrypto, CNG)
  "settings    1 qt"   # orvella_settings: the settings store and the window's values in it
  "contract    1 std"  # orvella_contract, orvella_workfolder: what host and plug-in share
  "qtcontract  1 qt"   # orvella_qtcontract: what both sides do to the controls handed across
  "rows        1 std"  # orvella_rows: the list's row model, hex-field pieces, mouse buttons
  "fat         1 std"  # orvella_fat: FAT/RFS file systems over a byte source
  "image       2 std"  # orvella_image: full image model, files, export, blank check, health
  "phone       3 std"  # orvella_phone: the dump as the phone reads it
  "evidence    3 std"  # orvella_evidence: digests, comparison and report of whole images
  "device      3 std"  # orvella_device: device command frame and commands
  "ui          4 qt"   # window rules in plain C++ (orvella_*rules, orvella_hexdata), Qt widgets
  "cli         4 std"  # orvella: the command-line tool
  "host        4 qt"   # orvella-host: stand-in host with a virtual phone
  "plugin      5 qt"   # liborvella.so: the plug-in frame
)

# Includes on one floor that are allowed, as FROM>TO (none: every floor's folders stand
# side by side).
set(ORVELLA_SIDEWAYS_ALLOWED "")

# Folders only some others may include, as FOLDER>USER,USER: only the tool works with the
# evidence and its digests; the host's virtual phone digests the checksum file it keeps.
set(ORVELLA_ONLY_FOR
  "digest>evidence,cli,host"
  "evidence>cli"
)

# The only files of "std" folders that may include the operating system's headers: one
# back end per platform.
set(ORVELLA_PLATFORM_FILES "(Posix|Win32|Bcrypt|OpenSsl)\\.cpp$" "/WideText\\.cpp$")

# Folders the build without Qt (ORVELLA_CLI_ONLY) leaves out: the windows, the plug-in,
# the host and what only they use.
set(ORVELLA_DESKTOP_FOLDERS settings qtcontract device ui host plugin)
