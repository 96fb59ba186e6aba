// SPDX-License-Identifier: MIT
/* tohost <path>: copies standard input to <path> on the host, through
 * QEMU's semihosting, on 32-bit ARM and 64-bit RISC-V (QEMU runs with
 * -semihosting-config enable=on,userspace=on; a relative path is taken from
 * QEMU's working folder). The guests have no disk or network to hand
 * their results back on, and a serial console moves a 16 MB file in
 * minutes; this moves it in about a second. Exits non-zero, with the reason, when the host refuses. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

enum { SYS_OPEN = 0x01, SYS_CLOSE = 0x02, SYS_WRITE = 0x05 };
enum { MODE_WB = 5 }; /* fopen's "wb" */

/* One semihosting call, with the operation and a pointer to its argument
 * block; the result comes back in the operation's register. */
static intptr_t semihost(uintptr_t op, const void *args)
{
#if defined(__arm__)
	/* The A32 form, SVC 0x123456, with the operation in r0 and the block in
	 * r1. Built with -marm: the Thumb form would need SVC 0xAB. */
	register uintptr_t r0 __asm__("r0") = op;
	register const void *r1 __asm__("r1") = args;
	__asm__ volatile("svc 0x123456" : "+r"(r0) : "r"(r1) : "memory");
	return (intptr_t)r0;
#elif defined(__riscv)
	/* EBREAK between two marker instructions, the operation in a0 and the
	 * block in a1. QEMU recognises the three only as full-size instructions
	 * (no compressed forms) within one page, hence norvc and the
	 * alignment: 12 bytes that start on a 16-byte boundary never cross one. */
	register uintptr_t a0 __asm__("a0") = op;
	register const void *a1 __asm__("a1") = args;
	__asm__ volatile(".option push\n"
			 ".option norvc\n"
			 ".balign 16\n"
			 "slli x0, x0, 0x1f\n"
			 "ebreak\n"
			 "srai x0, x0, 7\n"
			 ".option pop"
			 : "+r"(a0)
			 : "r"(a1)
			 : "memory");
	return (intptr_t)a0;
#else
#error "tohost: no semihosting call for this processor"
#endif
}

int main(int argc, char **argv)
{
	if (argc != 2) {
		fprintf(stderr, "usage: tohost <host path> < file\n");
		return 2;
	}
	const uintptr_t open_args[3] = {(uintptr_t)argv[1], MODE_WB, strlen(argv[1])};
	const intptr_t handle = semihost(SYS_OPEN, open_args);
	if (handle < 0) {
		fprintf(stderr, "tohost: the host cannot create %s\n", argv[1]);
		return 1;
	}
	/* The host reads the buffer through the guest's page tables, so it
	 * must be mapped: read() has just written it, so it is. */
	static char buffer[65536];
	ssize_t n;
	int failed = 0;
	while (!failed && (n = read(0, buffer, sizeof buffer)) > 0) {
		const uintptr_t write_args[3] = {(uintptr_t)handle, (uintptr_t)buffer, (uintptr_t)n};
		/* The result is the number of bytes NOT written. */
		failed = semihost(SYS_WRITE, write_args) != 0;
	}
	if (n < 0) failed = 1;
	const uintptr_t close_args[1] = {(uintptr_t)handle};
	failed |= semihost(SYS_CLOSE, close_args) != 0;
	if (failed) fprintf(stderr, "tohost: writing %s failed\n", argv[1]);
	return failed;
}
