// SPDX-License-Identifier: MIT
// Reading what the documentation is checked against, for tests: the lists
// of the manual page's sections (options, exit codes, keys of a device name)
// and the options of the usage text.
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

/// The options the usage text lists, each as its line starts ("-d", "-id").
std::vector<std::string> UsageOptions();
