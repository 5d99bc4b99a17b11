# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build BUILD_DIR under PREFIX and checks that norvo-cli, its
# man page and its bash completion land in BINDIR, MANDIR and DATADIR (the
# GNUInstallDirs folders the build uses).
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()
foreach(file "${BINDIR}/norvo-cli" "${MANDIR}/man1/norvo-cli.1"
             "${DATADIR}/bash-completion/completions/norvo-cli")
  if(NOT EXISTS "${PREFIX}/${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
execute_process(COMMAND "${PREFIX}/${BINDIR}/norvo-cli" --version RESULT_VARIABLE status OUTPUT_VARIABLE version)
if(NOT status EQUAL 0 OR NOT version MATCHES "^norvo-cli [0-9]")
  message(FATAL_ERROR "the installed norvo-cli does not run: ${status} ${version}")
endif()
file(REMOVE_RECURSE "${PREFIX}")
