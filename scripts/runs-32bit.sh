#!/usr/bin/env bash
# Exits 0 where this machine's kernel runs 32-bit (i386) programs, 1 where it
# does not (32-bit emulation off), 2 where binutils is missing. Needs no
# 32-bit Wine or i386 package: a static i386 program that only exits 0 is
# made with binutils and run.
set -u
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
printf '.globl _start\n_start:\n movl $1, %%eax\n xorl %%ebx, %%ebx\n int $0x80\n' >"$dir/exit.s"
as --32 -o "$dir/exit.o" "$dir/exit.s" && ld -m elf_i386 -o "$dir/exit" "$dir/exit.o" || exit 2
"$dir/exit" 2>/dev/null || exit 1
