#pragma once
// How a row is printed by list and search: a readable line, a JSON line, or
// a bodyfile line for The Sleuth Kit's mactime.

#include <string>

#include "fs/FileSystemParser.h"

namespace tarnwell::cli {

// A name from disk made safe for a terminal: control characters (C0, DEL, C1)
// as \n, \t, \r, \xHH or \u00HH, a backslash doubled so that the escapes stay
// unambiguous, bytes that are not UTF-8 as U+FFFD. A status line (which may
// hold a name) keeps its backslashes; a message keeps its line breaks too.
enum class TextKind { Name, Status, Message };
std::string VisibleText(const std::string& text, TextKind kind = TextKind::Name);

// "-*    15.08 KiB  2024-06-01 11:01:00  DCIM/IMG_0001.JPG  (deleted)", the path as VisibleText
// and the size in binary units (the exact bytes are in the JSON line).
std::string EntryTextLine(const EntryInfo& e, const std::string& path);
// {"path": ..., "type": ..., "deleted": ..., "orphan": ..., "size": ..., times, "attributes", "id"}
std::string EntryJsonLine(const EntryInfo& e, const std::string& path);
// "0|/DCIM/IMG_0001.JPG|37|r/rrwxrwxrwx|0|0|15444|atime|mtime|0|crtime", as `fls -m /` writes it:
// a control character below 0x20 in the name becomes '^', so a record stays one line.
std::string EntryBodyfileLine(const EntryInfo& e, const std::string& path);

}  // namespace tarnwell::cli
