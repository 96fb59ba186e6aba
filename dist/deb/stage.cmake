# SPDX-License-Identifier: MIT
# Run by CPack on the Debian package's staged tree before it packs it: adds
# the files only the package holds, its copyright file (from LICENSE), its
# changelog and its lintian overrides, and strips the programs and libraries
# as Debian strips its own packages' (what dh_strip does), without the
# .comment and .note sections that name the compiler.
set(root "${CPACK_TEMPORARY_DIRECTORY}")
set(deb "${CPACK_ROMWICK_DEB_DIR}")
set(doc "${root}${CPACK_PACKAGING_INSTALL_PREFIX}/share/doc/${CPACK_PACKAGE_NAME}")
set(overrides "${root}${CPACK_PACKAGING_INSTALL_PREFIX}/share/lintian/overrides")
if(NOT CPACK_ROMWICK_GZIP)
  message(FATAL_ERROR "gzip not found: the package's changelog must be compressed")
endif()

# copyright: Debian's machine-readable format 1.0 around LICENSE, whose text
# after the copyright line is the licence. The format calls this licence
# Expat: "MIT" names several. Debian wants the years of copyright, which
# LICENSE leaves out: those from the first release in the changelog to the
# last.
file(STRINGS "${deb}/changelog" signatures REGEX "^ -- ")
set(years)
foreach(signature IN LISTS signatures)
  if(NOT signature MATCHES ", [0-9]+ [A-Z][a-z][a-z] ([0-9][0-9][0-9][0-9]) ")
    message(FATAL_ERROR "${deb}/changelog: no date in '${signature}'")
  endif()
  list(APPEND years ${CMAKE_MATCH_1})
endforeach()
list(SORT years COMPARE NATURAL)
list(GET years 0 first)
list(GET years -1 last)
if(first STREQUAL last)
  set(years ${first})
else()
  set(years ${first}-${last})
endif()
file(READ "${CPACK_ROMWICK_LICENSE}" licence)
if(NOT licence MATCHES "^MIT License\n+Copyright \\(c\\) ([^\n]+)\n+(.+)$")
  message(FATAL_ERROR "${CPACK_ROMWICK_LICENSE} is not the MIT licence under its copyright line")
endif()
set(holder "${CMAKE_MATCH_1}")
# Each line indented by a space, each blank line a lone ".".
string(REGEX REPLACE "\n+$" "" text "${CMAKE_MATCH_2}")
string(REPLACE "\n\n" "\n.\n" text "${text}")
string(REPLACE "\n" "\n " text "${text}")
file(WRITE "${doc}/copyright"
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${CPACK_PACKAGE_NAME}

Files: *
Copyright: ${years} ${holder}
License: Expat
 ${text}
")

# changelog.gz: compressed as policy wants (gzip -9), without the name and
# time of the file, so that the same source gives the same bytes.
configure_file("${deb}/changelog" "${doc}/changelog" COPYONLY)
execute_process(COMMAND "${CPACK_ROMWICK_GZIP}" -9 -n -f "${doc}/changelog" COMMAND_ERROR_IS_FATAL ANY)

configure_file("${deb}/lintian-overrides" "${overrides}/${CPACK_PACKAGE_NAME}" COPYONLY)
file(CHMOD "${doc}/copyright" "${doc}/changelog.gz" "${overrides}/${CPACK_PACKAGE_NAME}"
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# Libraries lose every symbol that linking them to others does not need;
# programs every symbol.
file(GLOB_RECURSE files LIST_DIRECTORIES false "${root}/*")
foreach(file IN LISTS files)
  file(READ "${file}" magic LIMIT 4 HEX)
  if(NOT magic STREQUAL "7f454c46" OR IS_SYMLINK "${file}")
    continue()
  endif()
  set(options --remove-section=.comment --remove-section=.note)
  if(file MATCHES "\\.so(\\.[0-9]+)*$")
    list(APPEND options --strip-unneeded)
  endif()
  execute_process(COMMAND "${CPACK_ROMWICK_STRIP}" ${options} "${file}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
