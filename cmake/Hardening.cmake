# The hardening Debian builds its packages with: stack protection, read-only relocations bound at
# start-up, position-independent programs, and glibc's checked string and memory functions
# (_FORTIFY_SOURCE, which needs the optimiser). `make package` turns it on for the package's -O2
# build; lintian then finds no hardening-no-* tag. Applied to every object and link of
# the project, as a package's build flags are, through directory options set before any target.
option(MARIGOLD_HARDENING "Build with the hardening flags of Debian packages" OFF)
if(MARIGOLD_HARDENING)
  include(CheckPIESupported)
  check_pie_supported(LANGUAGES C CXX)
  add_compile_options(-fstack-protector-strong)
  if(NOT MARIGOLD_SANITIZE)
    # AddressSanitizer checks these calls itself and does not mix with the fortified versions.
    add_compile_options($<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE>
                        $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
  endif()
  add_link_options(LINKER:-z,relro LINKER:-z,now)
endif()
