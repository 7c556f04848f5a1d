# shellcheck shell=bash
# Whether this machine's kernel runs 32-bit x86 programs at all. Some
# kernels refuse them outright (execve gives ENOEXEC), and no package
# changes that. Source it, then:
#
#   kernel_runs_32bit      # status 0 for yes, 1 for no; on no,
#                          # $kernel_no_32bit_reason says why
#
# It asks by running the smallest 32-bit program there is, assembled here
# with binutils (build-essential), so the answer needs neither Wine nor any
# i386 package: the set-up asks before it installs them. Anything other
# than a clean exit or the kernel's refusal is a broken tool chain and
# fails the script.

kernel_no_32bit_reason=
# Left by scripts/setup, with the reason in it, where the kernel runs 32-bit
# programs but the archive could not install 32-bit Wine.
wine32_unavailable_file=${BLADEPOST_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/bladepost}/wine32-not-installable

kernel_runs_32bit() {
  local dir out status=0
  dir=$(mktemp -d)
  printf '.globl _start\n_start:\n movl $1, %%eax\n xorl %%ebx, %%ebx\n int $0x80\n' > "$dir/exit.s"
  if ! as --32 -o "$dir/exit.o" "$dir/exit.s" || ! ld -m elf_i386 -o "$dir/exit" "$dir/exit.o"; then
    rm -rf "$dir"
    printf 'kernel-32bit: cannot assemble a 32-bit program (binutils missing?)\n' >&2
    exit 1
  fi
  # Through bash, which reports the kernel's ENOEXEC as it is: timeout alone
  # would hand the ELF file to /bin/sh as a script (execvp's fallback).
  out=$(timeout 20 bash -c '"$0"' "$dir/exit" 2>&1) || status=$?
  rm -rf "$dir"
  if ((status == 0)); then
    return 0
  fi
  if ((status == 126)) && [[ $out == *'cannot execute binary file'* ]]; then
    kernel_no_32bit_reason="this machine's kernel refuses 32-bit programs (Exec format error; \`dmesg | grep -i ia-32\` tells)"
    return 1
  fi
  printf 'kernel-32bit: a 32-bit program neither ran nor was refused (%s): %s\n' "$status" "$out" >&2
  exit 1
}
