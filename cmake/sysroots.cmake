# The FreeBSD and macOS sysroots: PICKCOPY_SYSROOTS (cache or environment),
# by default ../shared/sysroots beside the source tree.
#
# Their symbolic links were stored as small files holding the link's text
# (usr/include/fcntl.h holds "sys/fcntl.h", usr/lib/libm.so
# "../../lib/libm.so.5"), which neither the compiler nor the linker can
# follow. pickcopy_sysroot() gives the build a tree of its own, made once
# under the build folder: a symbolic link to every file, and a real link
# where a file is such a stored one. The sysroots themselves stay as they
# are. Headers named after the sysroot's name are headers it lacks that its
# own headers include without using them outside the kernel; the tree has
# them empty.
if(NOT PICKCOPY_SYSROOTS)
  if(DEFINED ENV{PICKCOPY_SYSROOTS})
    set(PICKCOPY_SYSROOTS $ENV{PICKCOPY_SYSROOTS})
  else()
    get_filename_component(PICKCOPY_SYSROOTS ${CMAKE_CURRENT_LIST_DIR}/../../shared/sysroots
                           ABSOLUTE)
  endif()
endif()
set(PICKCOPY_SYSROOTS ${PICKCOPY_SYSROOTS} CACHE PATH "FreeBSD and macOS sysroots")

# The tree for the sysroot `name`, in `out`. The try_compile projects of the
# feature tests read this file again and are handed the same tree.
function(pickcopy_sysroot name out)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "EMPTY_HEADERS")
  if(PICKCOPY_SYSROOT_TREE)
    set(${out} ${PICKCOPY_SYSROOT_TREE} PARENT_SCOPE)
    return()
  endif()
  set(source ${PICKCOPY_SYSROOTS}/${name})
  set(tree ${CMAKE_BINARY_DIR}/sysroot)
  if(NOT IS_DIRECTORY ${source})
    message(FATAL_ERROR "no sysroot ${source}: set PICKCOPY_SYSROOTS")
  endif()
  if(NOT EXISTS ${tree}/.made)
    file(REMOVE_RECURSE ${tree})
    file(GLOB_RECURSE files RELATIVE ${source} LIST_DIRECTORIES false ${source}/*)
    foreach(file IN LISTS files)
      set(from ${source}/${file})
      get_filename_component(from_dir ${from} DIRECTORY)
      get_filename_component(to_dir ${tree}/${file} DIRECTORY)
      file(MAKE_DIRECTORY ${to_dir})
      set(link ${from})
      file(SIZE ${from} size)
      if(size LESS 256)
        file(READ ${from} text)
        string(STRIP "${text}" text)
        # A stored link: one relative path, to a file that is there.
        if(text MATCHES "^[A-Za-z0-9_.+-][A-Za-z0-9_./+-]*$")
          if(EXISTS "${from_dir}/${text}")
            set(link "${text}")
          endif()
        endif()
      endif()
      file(CREATE_LINK ${link} ${tree}/${file} SYMBOLIC)
    endforeach()
    foreach(header IN LISTS arg_EMPTY_HEADERS)
      if(NOT EXISTS ${tree}/usr/include/${header})
        file(WRITE ${tree}/usr/include/${header}
             "/* Not in the stored sysroot; included by its headers, used only in the kernel. */\n")
      endif()
    endforeach()
    file(TOUCH ${tree}/.made)
  endif()
  set(PICKCOPY_SYSROOT_TREE ${tree} CACHE INTERNAL "")
  set(${out} ${tree} PARENT_SCOPE)
endfunction()

list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES PICKCOPY_SYSROOTS PICKCOPY_SYSROOT_TREE)

# Debian's clang for the target `triple`, with libc++ and the linker flags
# `link` (which choose the linker), and the sysroot's libraries only.
macro(pickcopy_clang_for triple link)
  set(CMAKE_C_COMPILER clang)
  set(CMAKE_CXX_COMPILER clang++)
  set(CMAKE_C_COMPILER_TARGET ${triple})
  set(CMAKE_CXX_COMPILER_TARGET ${triple})
  set(CMAKE_AR llvm-ar)
  set(CMAKE_RANLIB llvm-ranlib)
  # Debian's clang does not pick libc++ for these targets by itself.
  set(CMAKE_CXX_FLAGS_INIT "-stdlib=libc++")
  foreach(kind EXE SHARED MODULE)
    set(CMAKE_${kind}_LINKER_FLAGS_INIT "${link} -stdlib=libc++")
  endforeach()
  set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
  set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
endmacro()
