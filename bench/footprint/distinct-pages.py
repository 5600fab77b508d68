#!/usr/bin/python3
# The memory a set of processes keeps resident, each physical page counted once however many of the
# processes map it (a library shared by three Python processes counts once, at its full size;
# pages shared with processes outside the set count in full too, unlike PSS). Reads the page frame
# numbers from /proc/PID/pagemap, which the kernel shows only to root (CAP_SYS_ADMIN).
# Prints KiB, or "-" when the frame numbers are hidden.
#   distinct-pages.py PID...
import os
import struct
import sys

PRESENT, PFN_MASK = 1 << 63, (1 << 55) - 1
page = os.sysconf("SC_PAGE_SIZE")
frames, hidden = set(), False
for pid in sys.argv[1:]:
    try:
        with open(f"/proc/{pid}/maps") as maps, open(f"/proc/{pid}/pagemap", "rb") as pagemap:
            for line in maps:
                start, end = (int(x, 16) for x in line.split()[0].split("-"))
                if line.rstrip().endswith("[vsyscall]"):
                    continue
                pagemap.seek(start // page * 8)
                data = pagemap.read((end - start) // page * 8)
                for (entry,) in struct.iter_unpack("<Q", data):
                    if entry & PRESENT:
                        frame = entry & PFN_MASK
                        hidden |= frame == 0
                        frames.add((pid, entry) if frame == 0 else frame)
    except (FileNotFoundError, ProcessLookupError):
        pass  # ended meanwhile
print("-" if hidden else len(frames) * page // 1024)
