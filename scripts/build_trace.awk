# awk -v output=DIRECTORY -v ignored=PREFIX -f build_trace.awk
#     TRACE_DIRECTORY/strace.PID...
#
# Reads the per-process logs of `strace -ff -ttt` over a release build and
# prints what the processes that made the release's files ran and read,
# tab-separated: "exec PID PATH" for each program they ran and "read PATH"
# for each file they opened to read. A process takes part when it writes a file before
# the build ends, that is, before DIRECTORY/SHA256SUMS is moved into place,
# or when it started one that does. Processes that only ask something (git
# for the commit, dpkg for the packages) or that run after the build do not.
# Writes to /dev, /proc and /sys do not count, nor those to files whose
# path begins with PREFIX (the loader's log).

BEGIN {
  OFS = "\t"
}

# path_of(LINE): the first quoted string of LINE, the path; sets flags to
# what follows it.
function path_of(line) {
  flags = ""
  if (!match(line, /"([^"\\]|\\.)*"/)) {
    return ""
  }
  flags = substr(line, RSTART + RLENGTH)
  return substr(line, RSTART + 1, RLENGTH - 2)
}

function ignored_path(path) {
  return path ~ /^\/(dev|proc|sys)\// || index(path, ignored) == 1
}

function leader_of(pid) {
  while (pid in thread_of) {
    pid = thread_of[pid]
  }
  return pid
}

FNR == 1 {
  pid = FILENAME
  sub(/.*\./, "", pid)
}

# Only calls that succeeded: "... = 0" or "... = 5".
$NF !~ /^[0-9]+$/ || $(NF - 1) != "=" {
  next
}

$2 ~ /^(clone|clone3|fork|vfork)\(/ {
  if ($0 ~ /CLONE_THREAD/) {
    thread_of[$NF] = pid
  } else {
    parent_of[$NF] = pid
  }
  next
}

$2 ~ /^rename/ && index($0, "\"" output "/SHA256SUMS\"") {
  if (end == "" || $1 < end) {
    end = $1
  }
  next
}

$2 ~ /^execve\(/ {
  exec_count++
  exec_pid[exec_count] = pid
  exec_path[exec_count] = path_of($0)
  next
}

$2 ~ /^(open|openat|creat)\(/ {
  path = path_of($0)
  if (path == "" || ignored_path(path)) {
    next
  }
  if ($2 ~ /^creat/ || flags ~ /O_WRONLY|O_RDWR|O_CREAT/) {
    if (!(pid in first_write) || $1 < first_write[pid]) {
      first_write[pid] = $1
    }
    # A release that writes its SHA256SUMS in place, as 1.0.0's did, ends
    # when it last writes it.
    if (path == output "/SHA256SUMS" || path == "SHA256SUMS") {
      last_sums = $1
    }
  } else if (flags !~ /O_DIRECTORY/) {
    read_count++
    read_pid[read_count] = pid
    read_path[read_count] = path
    read_time[read_count] = $1
  }
}

END {
  if (end == "") {
    end = last_sums
  }
  if (end == "") {
    print "build_trace.awk: " output "/SHA256SUMS was never moved into place" \
      > "/dev/stderr"
    exit 1
  }
  for (pid in first_write) {
    if (first_write[pid] > end) {
      continue
    }
    p = leader_of(pid)
    while (p != "" && !(p in took_part)) {
      took_part[p] = 1
      p = p in parent_of ? leader_of(parent_of[p]) : ""
    }
  }
  for (i = 1; i <= exec_count; i++) {
    if (leader_of(exec_pid[i]) in took_part) {
      print "exec", exec_pid[i], exec_path[i]
    }
  }
  for (i = 1; i <= read_count; i++) {
    if (read_time[i] <= end && leader_of(read_pid[i]) in took_part) {
      print "read", read_path[i]
    }
  }
}
