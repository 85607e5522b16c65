# Builds mimeunpack_<version>_<arch>.deb in BUILD_DIR from `cmake --install`
# staged under /usr; run by the `deb` target with BUILD_DIR, SOURCE_DIR,
# VERSION and STRIP set. Every input of the package's bytes is fixed here:
# time stamps (SOURCE_DATE_EPOCH), modes, owners and member order.
cmake_minimum_required(VERSION 3.25)

foreach(tool dpkg dpkg-deb dpkg-shlibdeps dpkg-parsechangelog gzip touch)
  find_program(found_${tool} ${tool})
  if(NOT found_${tool})
    message(FATAL_ERROR "The package needs ${tool} (Debian's dpkg-dev, gzip "
                        "and coreutils).")
  endif()
endforeach()
if(NOT STRIP)
  message(FATAL_ERROR "The package needs strip (binutils).")
endif()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status COMMAND_ECHO NONE)
  if(NOT status EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "Failed (${status}): ${command}")
  endif()
endfunction()

function(output_of var)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE out RESULT_VARIABLE status
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT status EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "Failed (${status}): ${command}")
  endif()
  set(${var} "${out}" PARENT_SCOPE)
endfunction()

# The changelog must say what this version brought before it ships.
set(changelog ${SOURCE_DIR}/packaging/changelog)
output_of(top_version dpkg-parsechangelog -l ${changelog} -S Version)
if(NOT top_version STREQUAL VERSION)
  message(FATAL_ERROR "packaging/changelog starts with ${top_version}, but "
                      "project() says ${VERSION}: add the entry for "
                      "${VERSION}.")
endif()

# Time stamps: SOURCE_DATE_EPOCH when set, else the last commit's time, else
# (sources without git) the date of the changelog's top entry.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
else()
  execute_process(COMMAND git -C ${SOURCE_DIR} rev-parse --show-toplevel
                  OUTPUT_VARIABLE top RESULT_VARIABLE status ERROR_QUIET
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(status EQUAL 0)
    file(REAL_PATH "${top}" top)
    file(REAL_PATH "${SOURCE_DIR}" source_real)
  endif()
  if(status EQUAL 0 AND top STREQUAL source_real)
    output_of(epoch git -C ${SOURCE_DIR} log -1 --format=%ct)
  else()
    output_of(epoch dpkg-parsechangelog -l ${changelog} -S Timestamp)
  endif()
endif()
if(NOT epoch MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH is not a number: '${epoch}'")
endif()
set(ENV{SOURCE_DATE_EPOCH} "${epoch}")

output_of(arch dpkg --print-architecture)
# dpkg-shlibdeps expects the tree at debian/<package> under where it runs.
set(work ${BUILD_DIR}/deb)
set(root ${work}/debian/mimeunpack)
set(doc ${root}/usr/share/doc/mimeunpack)
set(deb ${BUILD_DIR}/mimeunpack_${VERSION}_${arch}.deb)
file(REMOVE_RECURSE ${work})
file(REMOVE ${deb})

set(ENV{DESTDIR} ${root})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr
                OUTPUT_QUIET RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed")
endif()
unset(ENV{DESTDIR})

# Debian's layout: the licence lives in copyright, the manual page and the
# changelog are compressed without names or times, the binary is stripped the
# way dh_strip does it.
file(REMOVE ${doc}/LICENSE)
file(COPY_FILE ${SOURCE_DIR}/packaging/copyright ${doc}/copyright)
run(gzip -9n ${root}/usr/share/man/man1/mimeunpack.1)
execute_process(COMMAND gzip -9nc ${changelog}
                OUTPUT_FILE ${doc}/changelog.gz RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip of the changelog failed")
endif()
run(${STRIP} --remove-section=.comment --remove-section=.note
    ${root}/usr/bin/mimeunpack)

# Modes that do not depend on the umask; Installed-Size and md5sums the way
# dpkg-gencontrol and dh_md5sums work them out.
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${root} ${root}/*)
file(GLOB_RECURSE entries LIST_DIRECTORIES true RELATIVE ${root} ${root}/*)
list(SORT files)
set(size_kb 0)
set(md5sums "")
file(CHMOD ${root} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
     GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
foreach(entry IN LISTS entries)
  if(IS_DIRECTORY ${root}/${entry})
    file(CHMOD ${root}/${entry} PERMISSIONS OWNER_READ OWNER_WRITE
         OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    math(EXPR size_kb "${size_kb} + 1")
  endif()
endforeach()
foreach(file IN LISTS files)
  if(file MATCHES "^usr/bin/")
    file(CHMOD ${root}/${file} PERMISSIONS OWNER_READ OWNER_WRITE
         OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  else()
    file(CHMOD ${root}/${file} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ
         WORLD_READ)
  endif()
  file(SIZE ${root}/${file} bytes)
  math(EXPR size_kb "${size_kb} + (${bytes} + 1023) / 1024")
  file(MD5 ${root}/${file} sum)
  string(APPEND md5sums "${sum}  ${file}\n")
endforeach()

# Library dependencies with the minimum versions only dpkg-shlibdeps knows;
# it wants a debian/control to read, which need not say more than this, and
# finds the package's root by its DEBIAN directory.
file(MAKE_DIRECTORY ${root}/DEBIAN)
file(WRITE ${work}/debian/control
     "Source: mimeunpack\n\nPackage: mimeunpack\nArchitecture: any\n")
execute_process(COMMAND dpkg-shlibdeps -O -edebian/mimeunpack/usr/bin/mimeunpack
                WORKING_DIRECTORY ${work}
                OUTPUT_VARIABLE substvars RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT substvars MATCHES "shlibs:Depends=([^\n]+)")
  message(FATAL_ERROR "dpkg-shlibdeps failed: ${substvars}")
endif()
set(depends "${CMAKE_MATCH_1}")

file(WRITE ${root}/DEBIAN/md5sums "${md5sums}")
file(WRITE ${root}/DEBIAN/control "\
Package: mimeunpack
Version: ${VERSION}
Architecture: ${arch}
Maintainer: mimeunpack developers <maintainers@mimeunpack.invalid>
Installed-Size: ${size_kb}
Depends: ${depends}
Section: utils
Priority: optional
Description: unpack single-file web archives (.mht) into files
 mimeunpack turns the one-file web pages that office suites save (MIME
 multipart/related, parts in base64 or quoted-printable) back into the page,
 its pictures and its support files, exact to the byte and safe on archives
 from strangers.
")
foreach(entry DEBIAN DEBIAN/control DEBIAN/md5sums)
  if(entry STREQUAL "DEBIAN")
    file(CHMOD ${root}/${entry} PERMISSIONS OWNER_READ OWNER_WRITE
         OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  else()
    file(CHMOD ${root}/${entry} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ
         WORLD_READ)
  endif()
endforeach()

# Every entry gets the same time, older or newer than SOURCE_DATE_EPOCH.
file(GLOB_RECURSE entries LIST_DIRECTORIES true ${root}/*)
run(touch --no-dereference --date=@${epoch} ${root} ${entries})

run(dpkg-deb --root-owner-group -Zxz --build ${root} ${deb})
message(STATUS "Built ${deb}")
