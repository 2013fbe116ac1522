#!/usr/bin/env bash
# The rules of a release's record (scripts/records.sh, record_check.sh),
# case by case, in a scratch repository: only the recorded commit, or one
# that differs from it in releases/ alone, with nothing uncommitted, takes
# the plain version; the files carry the time of the commit their name
# stands for; and a rebuild's files are checked against the record as
# sha256sum checks a download, with diffoscope saying how one differs.
#
#   release_records.sh PROJECT_ROOT WORK_DIRECTORY
set -euo pipefail
root=$1
work=$2

rm -rf "$work"
mkdir -p "$work/project"
cd "$work/project"
git init -q
git config user.email test@example.invalid
git config user.name test
echo one >source.txt
git add source.txt
GIT_COMMITTER_DATE=@1000000000 git commit -qm first
first=$(git rev-parse HEAD)

status=0
# scripts PROJECT COMMAND...: runs COMMAND with the record's functions, as
# scripts/release does for the project at PROJECT.
scripts() {
  (project_root=$1 && shift && fail() { echo "release: $*" >&2 && exit 1; } &&
    source "$root/scripts/records.sh" && source "$root/scripts/record_check.sh" &&
    "$@")
}
# expect CASE EXPECTED [DIRECTORY]: the name release_name gives version 9.9.9
# of the project at DIRECTORY (the scratch repository unless given).
expect() {
  local got project=${3:-$work/project}
  got=$(scripts "$project" release_name 9.9.9 \
    "$(git -C "$project" rev-parse HEAD)" 2>/dev/null)
  if [ "$got" != "$2" ]; then
    echo "$1: named $got, not $2" >&2
    status=1
  fi
}
# expect_time CASE EXPECTED LABEL [DIRECTORY]: the time release_time gives
# files named LABEL, or "refused".
expect_time() {
  local got project=${4:-$work/project}
  got=$(scripts "$project" release_time "$3" 9.9.9 \
    "$(git -C "$project" rev-parse HEAD)" 2>/dev/null) || got=refused
  if [ "$got" != "$2" ]; then
    echo "$1: the time is $got, not $2" >&2
    status=1
  fi
}
record() {
  mkdir -p releases/9.9.9
  echo "$1" >releases/9.9.9/commit
}
short() {
  git rev-parse --short=12 HEAD
}

expect "no record yet" "9.9.9+g$(short)"
record "$first"
expect "the recorded commit" 9.9.9
git add releases
GIT_COMMITTER_DATE=@1000000100 git commit -qm record
expect "the record committed after it" 9.9.9
expect_time "the record committed after it" 1000000000 9.9.9
expect_time "its build under another name" 1000000100 "9.9.9+g$(short)"
SOURCE_DATE_EPOCH=1000000000 expect_time "the recorded time, exported" \
  1000000000 9.9.9
SOURCE_DATE_EPOCH=1 expect_time "another time, exported" refused 9.9.9
SOURCE_DATE_EPOCH=1000000000 expect_time "the recorded time, under another" \
  refused "9.9.9+g$(short)"
echo two >source.txt
expect "uncommitted changes" "9.9.9+g$(short).dirty"
git commit -qam second
expect "a later commit" "9.9.9+g$(short)"
record 0123456789abcdef0123456789abcdef01234567
git commit -qam "record a commit the clone lacks"
expect "a commit not in the clone" "9.9.9+g$(short)"

# A copy without a repository of its own, inside another one.
record "$first"
copy=$work/project/copy
mkdir -p "$copy/releases"
cp -r releases/9.9.9 "$copy/releases/"
expect "a copy" 9.9.9+unverified "$copy"
SVCENTRY_RELEASE_NAME=9.9.9+gabc expect "a copy, named" 9.9.9+gabc "$copy"
SVCENTRY_RELEASE_NAME=9.9.9 expect "a checkout, named" "9.9.9+g$(short).dirty"
SOURCE_DATE_EPOCH=5 expect_time "a copy, dated" 5 9.9.9 "$copy"
expect_time "a copy, undated" refused 9.9.9 "$copy"

# check CASE EXPECTED_STATUS [PATTERN]: compares the rebuilt files in
# $work/rebuilt with the record in $work/record, the released files being in
# $work/released, and expects the status and a line matching PATTERN.
check() {
  local got=0 output
  output=$(scripts "$work/project" compare_files "$work/record" \
    "$work/rebuilt" "$work/released" "$work/diffoscope.txt" 2>&1) || got=$?
  if [ "$got" != "$2" ] || { [ -n "${3:-}" ] && ! grep -q -- "$3" <<<"$output"; }
  then
    printf '%s: status %s, not %s, or no line "%s" in:\n%s\n' "$1" "$got" \
      "$2" "${3:-}" "$output" >&2
    status=1
  fi
}
mkdir -p "$work/released" "$work/record"
printf 'MZ\x90\x00program' >"$work/released/svcentry.exe"
printf 'the notices\n' >"$work/released/NOTICES.txt"
(cd "$work/released" && sha256sum svcentry.exe NOTICES.txt) \
  >"$work/record/SHA256SUMS"
cp -r "$work/released" "$work/rebuilt"
check "the same files" 0
sed -i 's/$/\r/' "$work/record/SHA256SUMS"
check "a record checked out with CR LF" 0
printf '%s' "$(tr -d '\r' <"$work/record/SHA256SUMS")" >"$work/record/SHA256SUMS"
printf 'the notices!\n' >"$work/rebuilt/NOTICES.txt"
check "the last line without its line end, and its file changed" 1 \
  '^  NOTICES.txt$'
cp "$work/released/NOTICES.txt" "$work/rebuilt/"
printf 'MZ\x91\x00program' >"$work/rebuilt/svcentry.exe"
if command -v diffoscope >/dev/null; then
  check "one byte changed, with diffoscope" 1 '^  --- .*released/svcentry.exe'
  grep -q '^+++ .*rebuilt/svcentry.exe' "$work/diffoscope.txt" ||
    { echo "no whole diffoscope report where it was asked for" >&2 && status=1; }
else
  check "one byte changed, without diffoscope" 1 'install diffoscope'
fi
rm "$work/rebuilt/svcentry.exe"
check "a file not rebuilt" 1 '^  svcentry.exe$'
cp "$work/released/svcentry.exe" "$work/rebuilt/"
printf '\nnot a line of sha256sum\n' >>"$work/record/SHA256SUMS"
check "a record that cannot be read" 2 'cannot be checked'
# The packages a rebuild used that are not at their recorded versions, which
# decide whether a file that differs leaves the check unable to tell.
printf 'cmake\t3.25.1-1\r\nzip\t3.0-13\r\n' >"$work/record/packages"
printf 'zip\t3.0-13\ncmake\t3.25.1-1\n' >"$work/used"
got=$(scripts "$work/project" changed_packages "$work/record" "$work/used")
[ -z "$got" ] || { echo "the same packages, listed CR LF: $got" >&2 && status=1; }
printf 'cmake\t3.25.1-2\nwixl\t0.101\nzip\t3.0-13\n' >"$work/used"
got=$(scripts "$work/project" changed_packages "$work/record" "$work/used" |
  paste -sd ';')
if [ "$got" != "  cmake: recorded 3.25.1-1, installed 3.25.1-2;  wixl: not recorded, installed 0.101" ]
then
  echo "an update and a package not recorded: $got" >&2
  status=1
fi

# Which processes of a traced build count (build_trace.awk), from logs of
# strace -ff -ttt: 10 is the release script, 11 a compiler it started that
# wrote a file through a thread of its own (12) and read one through
# another (15), 13 git, which only read, and 14 a program that wrote after
# the build had ended.
trace=$work/trace
mkdir -p "$trace"
out=/release
cat >"$trace/strace.10" <<LOG
1.0 execve("/usr/bin/bash", ["bash"], 0x1 /* 1 vars */) = 0
1.1 clone(child_stack=NULL, flags=SIGCHLD) = 11
1.2 vfork() = 13
1.3 openat(AT_FDCWD, "/dev/null", O_WRONLY|O_CREAT|O_TRUNC, 0666) = 3
5.0 rename("$out/.staging/SHA256SUMS", "$out/SHA256SUMS") = 0
5.1 clone3({flags=CLONE_VM, exit_signal=SIGCHLD}, 88) = 14
LOG
cat >"$trace/strace.11" <<LOG
2.0 execve("/usr/bin/cc", ["cc"], 0x1 /* 1 vars */) = 0
2.1 openat(AT_FDCWD, "/usr/include/stdio.h", O_RDONLY|O_NOCTTY) = 3
2.2 openat(AT_FDCWD, "/usr/lib/O_WRONLY.h", O_RDONLY) = 3
2.3 openat(AT_FDCWD, "/usr/include", O_RDONLY|O_DIRECTORY) = 3
2.4 openat(AT_FDCWD, "/usr/include/missing.h", O_RDONLY) = -1 ENOENT (No such file)
2.5 clone(child_stack=0x1, flags=CLONE_VM|CLONE_THREAD|CLONE_SIGHAND) = 12
2.6 clone(child_stack=0x1, flags=CLONE_VM|CLONE_THREAD|CLONE_SIGHAND) = 15
LOG
cat >"$trace/strace.15" <<LOG
3.1 openat(AT_FDCWD, "/usr/share/cc/defaults", O_RDONLY) = 4
LOG
cat >"$trace/strace.12" <<LOG
3.0 openat(AT_FDCWD, "$out/tree/a.o", O_WRONLY|O_CREAT|O_TRUNC, 0666) = 4
LOG
cat >"$trace/strace.13" <<LOG
2.0 execve("/usr/bin/git", ["git"], 0x1 /* 1 vars */) = 0
2.1 openat(AT_FDCWD, "/etc/gitconfig", O_RDONLY) = 3
2.2 openat(AT_FDCWD, "/tmp/trace/ld.13", O_WRONLY|O_CREAT|O_APPEND, 0666) = 4
LOG
cat >"$trace/strace.14" <<LOG
6.0 execve("/usr/bin/sha256sum", ["sha256sum"], 0x1 /* 1 vars */) = 0
6.1 openat(AT_FDCWD, "$out/late.txt", O_WRONLY|O_CREAT, 0666) = 3
LOG
# expect_trace CASE EXPECTED: what build_trace.awk prints of the logs.
expect_trace() {
  local got
  got=$(awk -v output=$out -v ignored=/tmp/trace/ld. \
    -f "$root/scripts/build_trace.awk" "$trace"/strace.* 2>&1 | tr '\t' ' ' |
    sort | paste -sd ';') || got="failed: $got"
  if [ "$got" != "$2" ]; then
    printf '%s: the trace gave\n  %s\nnot\n  %s\n' "$1" "$got" "$2" >&2
    status=1
  fi
}
expect_trace "a build that moves SHA256SUMS into place" \
  "exec 10 /usr/bin/bash;exec 11 /usr/bin/cc;read /usr/include/stdio.h;read /usr/lib/O_WRONLY.h;read /usr/share/cc/defaults"
sed -i '/rename(/d' "$trace/strace.10"
echo "4.0 openat(AT_FDCWD, \"SHA256SUMS\", O_WRONLY|O_CREAT|O_TRUNC, 0666) = 3" \
  >>"$trace/strace.10"
expect_trace "a build that writes SHA256SUMS in place" \
  "exec 10 /usr/bin/bash;exec 11 /usr/bin/cc;read /usr/include/stdio.h;read /usr/lib/O_WRONLY.h;read /usr/share/cc/defaults"
sed -i '/SHA256SUMS/d' "$trace/strace.10"
expect_trace "a build that never ends" "failed: build_trace.awk: $out/SHA256SUMS was never moved into place"

# The project's own files are not the system's, even where it lies under
# /usr, as a clone in /usr/local/src does.
got=$(printf '%s\t%s\n' program /usr/local/src/svcentry/scripts/release-build \
  read /usr/local/src/svcentry/cmake/Sbom.cmake program /usr/bin/bash \
  read /usr/local/src/svcentry-other/x read /home/user/x |
  (source "$root/scripts/release_inputs.sh" &&
    system_files /usr/local/src/svcentry) | tr '\t' ' ' | paste -sd ';')
if [ "$got" != "program /usr/bin/bash;read /usr/local/src/svcentry-other/x" ]; then
  echo "the system's files of a project in /usr/local/src: $got" >&2
  status=1
fi

# Which libraries count (bound_libraries.awk), from the loader's logs: the
# program calls libc, which calls the loader; libcurl, which the program
# maps but never calls, binds to libssl.
cat >"$trace/ld.11" <<'LOG'
     11:	binding file cmake [0] to /lib/libc.so.6 [0]: normal symbol `getenv'
     11:	binding file /lib/libc.so.6 [0] to /lib64/ld-linux-x86-64.so.2 [0]: normal symbol `_dl_find_object'
     11:	binding file /lib/libcurl.so.4 [0] to /lib/libssl.so.3 [0]: normal symbol `SSL_new'
     11:	binding file /lib/libcurl.so.4 [0] to /lib/libc.so.6 [0]: normal symbol `malloc'
LOG
got=$(awk -f "$root/scripts/bound_libraries.awk" "$trace/ld.11" | sort | paste -sd ';')
if [ "$got" != "/lib/libc.so.6;/lib64/ld-linux-x86-64.so.2" ]; then
  echo "the libraries called into are $got" >&2
  status=1
fi
# A release script that runs under its caller's trace, as --check runs a
# recorded commit's, keeps the caller's loader log in its clean
# environment; none other does.
if command -v strace >/dev/null; then
  printf '%s\n' 'source "$1/scripts/release_inputs.sh"' \
    'clean_release_environment 2>/dev/null && echo "${LD_DEBUG:-none}"' \
    >"$work/child.sh"
  # expect_kept CASE EXPECTED TRACED CALLER: LD_DEBUG in the child's clean
  # environment when TRACED (yes or no) and SVCENTRY_RELEASE_TRACED_BY_CALLER
  # is CALLER.
  expect_kept() {
    local got
    got=$(source "$root/scripts/release_inputs.sh" &&
      export SVCENTRY_RELEASE_TRACED_BY_CALLER=$4 LD_DEBUG=bindings \
        LD_DEBUG_OUTPUT="$work/ld" &&
      if [ "$3" = yes ]; then
        traced "$work/traced" bash "$work/child.sh" "$root"
      else
        bash "$work/child.sh" "$root"
      fi)
    if [ "$got" != "$2" ]; then
      echo "$1: LD_DEBUG is $got, not $2" >&2
      status=1
    fi
  }
  expect_kept "traced by its caller" bindings yes 1
  expect_kept "traced, not asked to keep it" none yes ""
  expect_kept "asked to keep it, not traced" none no 1
fi
exit $status
