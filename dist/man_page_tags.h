// Reading the manual page's source for tests: what each list of its sections
// names (options, exit codes, keys of a device name).
#pragma once

#include <string>
#include <vector>

/// The tags of the tagged paragraphs (.TP) of the built manual page's
/// section `section` (.SH) and, when `subsection` is given, of its
/// subsection (.SS) whose text starts with it, as they read: "-d devname",
/// "-1, -2", "image=path", "128+n".
std::vector<std::string> ManPageTags(const std::string& section, const std::string& subsection = "");

/// What a tag names: its first word, or for a key that takes a value the
/// key with its equals sign ("-d devname" gives "-d", "image=path"
/// "image="); a tag that names several ("-1, -2") gives each.
std::vector<std::string> TagNames(const std::string& tag);

/// The built manual page (roff source, folders filled in).
std::string ManPageSource();
