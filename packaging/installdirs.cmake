# Where the installed files go, relative to the installation prefix. Included
# by the client's extras layer (the image library loader needs the private
# folder relative to the program) and by the packaging rules.
include(GNUInstallDirs)

# libTransG32.so is loaded by the client only, never linked: it lives in a
# private folder under the multiarch library directory, whatever the prefix.
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(SKETORA_PRIVATE_LIBDIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}/sketora")
else()
  set(SKETORA_PRIVATE_LIBDIR "${CMAKE_INSTALL_LIBDIR}/sketora")
endif()

# The same folder as the program sees it from its own directory, for example
# "../lib/x86_64-linux-gnu/sketora"; both ends are below the prefix, so the
# path holds for every prefix.
file(RELATIVE_PATH SKETORA_PRIVATE_LIBDIR_FROM_BINDIR
     "/prefix/${CMAKE_INSTALL_BINDIR}" "/prefix/${SKETORA_PRIVATE_LIBDIR}")
