#!/usr/bin/env python3
"""The layer checker must report what breaks the order and pass what keeps it."""
import pathlib
import subprocess
import sys
import tempfile

CASES = [
    # (file, line, reported?)
    ("core/Bytes.h", '#include "core/Other.h"', False),
    ("fs/fat/FatParser.cpp", '#include "advanced/TableFinder.h"', False),
    ("fs/fat/FatParser.cpp", '#include "fs/FileSystemParser.h"', False),
    ("gui/Page.cpp", '#include "scan/ScanJob.h"', False),
    ("cli/main.cpp", '#include "fs/OutputWriter.h"', False),
    ("device/SectorReader.h", '#include "partition/VolumeEntry.h"', True),
    ("advanced/Finder.cpp", '#include "fs/ntfs/NtfsParser.h"', True),
    ("fs/Writer.cpp", '#include "carve/Carver.h"', True),
    ("scan/Job.cpp", '#include "gui/WizardApp.h"', True),
    ("scan/Job.cpp", '#include "cli/Terminal.h"', True),
    ("gui/Page.cpp", '#include "cli/Terminal.h"', True),
    ("carve/Carver.cpp", "#include <QString>", True),
    ("fs/Writer.cpp", '#include "app/Old.h"', True),
]


def run(checker: str, file: str, line: str) -> int:
    with tempfile.TemporaryDirectory() as root:
        path = pathlib.Path(root, file)
        path.parent.mkdir(parents=True)
        path.write_text(line + "\n")
        return subprocess.run([sys.executable, checker, root], capture_output=True).returncode


def main() -> int:
    checker = sys.argv[1]
    failures = 0
    for file, line, reported in CASES:
        code = run(checker, file, line)
        if (code != 0) != reported:
            print(f"{file}: {line}: expected {'a report' if reported else 'no report'}, exit code {code}")
            failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
