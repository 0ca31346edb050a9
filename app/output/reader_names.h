// SPDX-License-Identifier: Apache-2.0
// --names: what an operator calls each reader ("North door"), read from a
// file of lines "SERIAL NAME".
#ifndef KESTRUNE_APP_READER_NAMES_H
#define KESTRUNE_APP_READER_NAMES_H

#include <map>
#include <string>
#include <string_view>

/// The longest name taken, in bytes.
constexpr size_t kLongestReaderName = 100;

/// Serial strings and their names.
using ReaderNames = std::map<std::string, std::string, std::less<>>;

/// Reads a names file's text: one reader per line, its serial string, then
/// spaces or tabs, then its name (which may hold spaces; surrounding blanks
/// are dropped). A serial string with a space, a '"' or a control byte at its
/// start is written in double quotes, in which \\, \" and \xNN (two hex
/// digits) stand for a backslash, a quote and any byte: as the human lines
/// show such a serial string, within quotes. Blank lines and lines whose
/// first other character is '#' are left aside; lines may end in LF or CR LF,
/// and a UTF-8 byte order mark at the start is dropped.
/// Returns false, with "line N: what is wrong" in problem, for anything else:
/// a line with no name, an unclosed quote, an unknown escape, a serial string
/// named twice, a name or serial string too long, a control byte in a name, a
/// NUL anywhere.
bool ParseReaderNames(std::string_view text, ReaderNames& names, std::string& problem);

/// Reads the file at path with ParseReaderNames; a file that cannot be read
/// is a problem too ("cannot be read (REASON)").
bool LoadReaderNames(const std::string& path, ReaderNames& names, std::string& problem);

/// Loads the file at path and uses its names for this run. Returns false,
/// naming the file and what is wrong in message ("names file PATH: line N:
/// WHAT", printable), when it cannot be used as meant: a station must not run
/// with its readers unnamed.
bool UseNamesFile(const std::string& path, std::string& message);

/// The names of this run, set before any reader starts and never changed
/// after, so that every thread may read them.
void UseReaderNames(ReaderNames names);
/// The name of a serial string (up to its NUL), or nullptr.
const std::string* ReaderName(std::string_view serial);
/// Whether a names file is in use.
bool ReadersNamed();
/// No names file any more (for tests that run one after another).
void ForgetReaderNames();

#endif
