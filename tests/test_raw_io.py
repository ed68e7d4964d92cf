"""No system call on files, pipes or folders outside the one table (libs/syscalls), on either side of the
library's boundary, so that a test can fail each of them. The Windows sources call the system directly (the
table is POSIX's); a call inside a signal handler says why it is raw with a "raw I/O:" comment before it."""
import os
import re
import sys

top = sys.argv[1]
CALLS = ("open openat creat read write pread pwrite readv writev lseek stat fstat lstat fstatat statvfs fsync fdatasync "
         "ftruncate truncate fchmod chmod fchown chown flock fcntl dup dup2 dup3 pipe pipe2 rename renameat renameat2 "
         "link unlink unlinkat mkdir rmdir mkdtemp mkstemp mkostemp mkfifo realpath close fopen freopen fdopen tmpfile "
         "opendir remove").split()
# A call: the name, not after a member access, a scope other than the global one, or a word character.
PATTERN = re.compile(r"(?<![\w.>])(?<!\w::)(?:::)?(%s)\s*\(" % "|".join(CALLS))
FILESYSTEM = re.compile(r"std::filesystem::(remove|rename|create_director|file_size|canonical|status|copy)")
faults = []
for root in ("libs", "src", "tools"):
    for base, _, names in os.walk(os.path.join(top, root)):
        relative_base = os.path.relpath(base, top).replace(os.sep, "/")
        if relative_base.startswith("libs/syscalls") or "/win32" in relative_base:
            continue
        for name in names:
            if not name.endswith((".cpp", ".h")):
                continue
            path = os.path.join(base, name)
            previous = ""
            with open(path) as f:
                for number, line in enumerate(f, 1):
                    code = re.sub(r'"(\\.|[^"\\])*"', '""', line).split("//")[0]
                    declared = re.match(r"\s*(static\s+)?[\w:<>*& ]+\s+\w+\s*\(", code) and code.rstrip().endswith("{")
                    found = PATTERN.search(code) or FILESYSTEM.search(code)
                    if found and not declared and "raw I/O:" not in previous:
                        faults.append("%s/%s:%d: %s" % (relative_base, name, number, line.strip()))
                    previous = line if line.strip().startswith("//") else ""
if faults:
    print("\n".join(faults))
    print("raw system calls outside libs/syscalls: %d" % len(faults))
    sys.exit(1)
print("every system call on files goes through libs/syscalls")
