# A peer found through pkg-config: astrelon_bench_pkg_peer(PREFIX "what to install"
# module...) links the modules when all are there and otherwise names the peer in
# bench_missing. Extra libraries the modules do not list go in bench_pkg_extra.
macro(astrelon_bench_pkg_peer prefix what)
  pkg_check_modules(${prefix} QUIET IMPORTED_TARGET ${ARGN})
  if(${prefix}_FOUND)
    list(APPEND bench_libs PkgConfig::${prefix} ${bench_pkg_extra})
  else()
    list(APPEND bench_missing "${what}")
  endif()
  unset(bench_pkg_extra)
endmacro()
