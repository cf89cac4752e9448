# The Debian package that `make package` builds with CPack from what
# `make install` installs: both programs, tessel-plot and tessel-compare, the
# manual pages, the bash completion and the README. The libraries it needs
# (parallel HDF5, MPICH, ...) become dependencies through dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${ZARN_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${ZARN_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "compare HDF5 files in parallel (pmirlo), measure parallel I/O (tessel)")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "pmirlo compares two HDF5 files, groups or objects under MPI and reports every\ndifference beyond a tolerance with its position. tessel measures parallel I/O\nthroughput through POSIX, MPI-IO and parallel HDF5; tessel-plot charts its\nJSON reports and tessel-compare compares a run with a baseline.")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# mpiexec runs the programs; tessel-plot is a Python program.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "mpich, python3")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3-matplotlib, bash-completion")
include(CPack)
