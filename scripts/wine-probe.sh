# Sourced: defines qef_can_run_32bit, the one answer to whether this machine runs
# 32-bit programs. It starts Wine's 32-bit loader, an i386 program: on a kernel
# without 32-bit emulation that fails with "Exec format error", and no Wine can run
# 32-bit Windows code there. QEF_NO_32BIT set to anything forces the answer to no.
# On no, qef_32bit_why says why.
qef_can_run_32bit() {
  qef_32bit_why=""
  if [ -n "${QEF_NO_32BIT:-}" ]; then
    qef_32bit_why="QEF_NO_32BIT is set"
    return 1
  fi
  local out
  if out=$(/usr/lib/wine/wine --version 2>&1); then
    return 0
  fi
  qef_32bit_why="this machine cannot run 32-bit programs: the 32-bit Wine loader fails with \"$(printf '%s\n' "$out" | head -n 1)\""
  return 1
}
