# awk -f bound_libraries.awk LD_DEBUG_OUTPUT.PID...
#
# Reads the dynamic loader's logs (LD_DEBUG=bindings) of the processes that
# made the release and prints each shared library that they called into,
# one a line. A program maps libraries it never calls: CMake maps libcurl,
# and libcurl maps libssl. A library counts when the program itself, or a
# library that counts, binds a symbol to it.

# "PID: binding file FROM [0] to TO [0]: normal symbol `NAME'"
$2 == "binding" && $3 == "file" && $6 == "to" {
  if ($4 !~ /\.so(\.[0-9]+)*$/) {
    counted[FILENAME, $4] = 1
  }
  edges[FILENAME, $4, $7] = 1
}

END {
  do {
    grown = 0
    for (edge in edges) {
      split(edge, ends, SUBSEP)
      from = ends[1] SUBSEP ends[2]
      to = ends[1] SUBSEP ends[3]
      if ((from in counted) && !(to in counted)) {
        counted[to] = 1
        grown = 1
      }
    }
  } while (grown)
  for (object in counted) {
    split(object, parts, SUBSEP)
    if (parts[2] ~ /^\//) {
      print parts[2]
    }
  }
}
