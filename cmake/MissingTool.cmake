# Stands in for a test whose tools are missing, so that it fails with the
# reason instead of vanishing from the suite:
#   cmake -DWHAT=<tool> -DINSTALL=<packages> -P MissingTool.cmake
message(FATAL_ERROR "${WHAT} is missing: `make deps` installs it (Debian packages: ${INSTALL})")
