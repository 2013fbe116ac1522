# What a release's bytes come from besides its sources: the environment it
# is built in, and the Debian packages whose files the build uses. The
# packages are not listed by hand. The build runs under strace and the
# dynamic loader's log, and a package counts when a process that made the
# release's files ran one of its programs, read one of its files, or called
# into one of its libraries (scripts/build_trace.awk and
# scripts/bound_libraries.awk say which processes and libraries).
# shellcheck shell=bash

# The variables through which the environment reaches CMake, the compiler,
# the linker, zip, faketime or the dynamic loader, and the prefixes of whole
# families of them (CMake's, faketime's, the loader's, GCC's).
release_cleared_variables=(CC CXX CPP RC ASM AR CFLAGS CXXFLAGS CPPFLAGS
  LDFLAGS RCFLAGS ASMFLAGS ASM_DIALECT CPATH C_INCLUDE_PATH
  CPLUS_INCLUDE_PATH LIBRARY_PATH COMPILER_PATH DEPENDENCIES_OUTPUT
  SUNPRO_DEPENDENCIES LDEMULATION GNUTARGET GLIBC_TUNABLES MAKEFLAGS MFLAGS
  ZIP ZIPOPT NO_FAKE_STAT DONT_FAKE_MONOTONIC TMPDIR TZ)
release_cleared_prefixes=(CMAKE_ FAKETIME FAKE_ LD_ GCC_)

# traced_by_caller: whether this script runs under the trace of a caller
# that asked it not to trace itself (scripts/release --check, which builds
# a recorded commit with that commit's scripts): strace cannot trace what it
# traces already. The caller's loader log and temporary directory stay.
traced_by_caller() {
  [ -n "${SVCENTRY_RELEASE_TRACED_BY_CALLER:-}" ] &&
    ! grep -q '^TracerPid:[[:space:]]*0$' /proc/$$/status
}

# clean_release_environment: builds in the same environment wherever the
# release is built: the variables above are cleared, the programs are
# Debian's (PATH), the locale is C and the time is UTC (UTC0, a rule that
# needs no time zone data). Says which variables were set.
clean_release_environment() {
  local name prefix set=() kept=()
  traced_by_caller && kept=(LD_DEBUG LD_DEBUG_OUTPUT TMPDIR)
  for name in $(compgen -e); do
    for prefix in "${release_cleared_variables[@]}" \
      "${release_cleared_prefixes[@]/%/*}"; do
      # shellcheck disable=SC2053 # the prefixes are patterns
      if [[ $name == $prefix ]] && [[ " ${kept[*]} " != *" $name "* ]]; then
        set+=("$name")
        unset "$name"
        break
      fi
    done
  done
  [ ${#set[@]} -eq 0 ] || echo "release: these are not used, as they would" \
    "change the files: ${set[*]}" >&2
  export PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C TZ=UTC0
}

# traceable_path PATH: whether strace prints PATH as it is, printable ASCII
# without quotes or backslashes, so that the trace can tell where the
# release's files went.
traceable_path() {
  [[ $1 != *[^[:print:]]* && $1 != *[\"\\]* ]]
}

# traced LOG COMMAND...: runs COMMAND under strace and the loader's log,
# both written into the directory LOG, with its temporary files in LOG/tmp.
traced() {
  local log=$1
  shift
  mkdir -p "$log/tmp"
  strace -ff -ttt -qq -s 4096 --seccomp-bpf -o "$log/strace" -e signal=none \
    -e trace=execve,open,openat,creat,rename,renameat,renameat2,clone,clone3,fork,vfork \
    -E TMPDIR="$log/tmp" -E LD_DEBUG=bindings -E LD_DEBUG_OUTPUT="$log/ld" \
    "$@"
}

# system_files PROJECT: of "KIND<TAB>PATH" lines, those of the system's
# files: under /usr, /etc, /bin, /sbin, /lib, /lib64 or /opt, and not the
# project's own, which may lie there too (in /usr/local/src, say).
system_files() {
  awk -F '\t' -v project="$1/" \
    '$2 ~ /^\/(usr|etc|bin|sbin|lib|lib64|opt)\// && index($2, project) != 1'
}

# used_files LOG OUTPUT: prints "program PATH", "library PATH" and "read
# PATH" lines, tab-separated, for the system's files that the processes
# that made the release in OUTPUT used, as LOG holds it. A shared library
# counts only when it was called into, so those that were merely read are
# left out.
used_files() {
  local trace ld_logs=() pid
  trace=$(awk -v output="$2" -v ignored="$1/ld." \
    -f "$project_root/scripts/build_trace.awk" "$1"/strace.*) || return 1
  for pid in $(awk -F '\t' '$1 == "exec" { print $2 }' <<<"$trace" | sort -u)
  do
    [ ! -f "$1/ld.$pid" ] || ld_logs+=("$1/ld.$pid")
  done
  {
    awk -F '\t' -v OFS='\t' '$1 == "exec" { print "program", $3 }
      $1 == "read" && $2 !~ /\.so(\.[0-9]+)*$/ { print "read", $2 }' \
      <<<"$trace"
    [ ${#ld_logs[@]} -eq 0 ] ||
      awk -f "$project_root/scripts/bound_libraries.awk" "${ld_logs[@]}" |
      sed 's/^/library\t/'
  } | system_files "$project_root"
}

# owners PATH...: prints "PACKAGE: PATH" for each PATH a package holds.
# Debian 12's package database names files under /lib and /bin, which the
# merged /usr also shows under /usr/lib and /usr/bin, so each file is asked
# for as given, resolved, and resolved without /usr.
owners() {
  local names=() file name
  for file in "$@"; do
    name=$(realpath -m "$file")
    names+=("$file" "$name" "${name#/usr}")
  done
  dpkg-query -S "${names[@]}" 2>/dev/null |
    grep -E '^[a-z0-9][a-z0-9.+:-]*(, [a-z0-9][a-z0-9.+:-]*)*: ' || true
}

# release_inputs LOG OUTPUT: prints "PACKAGE<TAB>VERSION" for each package
# the traced build into OUTPUT used, in byte order. Fails when the trace
# cannot be read, when a program or library the unsigned build used belongs
# to no package (a signed one only says so), or when dpkg cannot say a
# package's version. A file it read that
# no package holds (the loader's cache, say) is not a package's.
release_inputs() {
  local used files=() programs=() held file
  used=$(used_files "$1" "$2" | LC_ALL=C sort -u) || return 1
  mapfile -t files < <(cut -f 2 <<<"$used" | LC_ALL=C sort -u)
  mapfile -t programs < <(awk -F '\t' '$1 != "read" { print $2 }' <<<"$used")
  held=$(owners "${files[@]}")
  for file in "${programs[@]}"; do
    if ! awk -F ': ' -v a="$file" -v b="$(realpath -m "$file")" \
      '$2 == a || $2 == b || "/usr" $2 == b { found = 1 } END { exit !found }' \
      <<<"$held"; then
      echo "release: the build used $file, which no Debian package holds" >&2
      # A signing token's own module, say: the unsigned files, which the
      # record holds, do not come from it.
      [ -n "${SVCENTRY_SIGN_KEY:-}" ] || return 1
    fi
  done
  sed 's/: .*//; s/, /\n/g' <<<"$held" | LC_ALL=C sort -u |
    xargs -r dpkg-query -W -f='${binary:Package}\t${Version}\n'
}
