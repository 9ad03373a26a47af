/* Exits 0 when this 64-bit process can run 32-bit code: it jumps into the 32-bit user code
 * segment (selector 0x23), runs "mov eax, 42" there and jumps back. Wine's WoW64 mode needs
 * exactly that to run PE32 programs. Where the kernel or a hypervisor allows 64-bit user code
 * only, the jump faults; the probe then exits 1. */
#include <signal.h>
#include <stdint.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

static void refused(int sig) {
  (void)sig;
  _exit(1);
}

int main(void) {
  signal(SIGSEGV, refused);
  signal(SIGBUS, refused);
  signal(SIGILL, refused);
  unsigned char *page =
      mmap(NULL, 4096, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
  if (page == MAP_FAILED)
    return 2;
  /* 32-bit code: mov eax, 42; jmp far 0x33:page+32 */
  unsigned char *p = page;
  *p++ = 0xb8;
  uint32_t answer = 42;
  memcpy(p, &answer, 4);
  p += 4;
  *p++ = 0xea;
  uint32_t back = (uint32_t)(uintptr_t)(page + 32);
  memcpy(p, &back, 4);
  p += 4;
  *p++ = 0x33;
  *p++ = 0x00;
  /* 64-bit code at page+32: jmp [rip+0], followed by the address to return to */
  extern char cpu32_probe_back[];
  uint64_t target = (uint64_t)(uintptr_t)cpu32_probe_back;
  p = page + 32;
  memcpy(p, "\xff\x25\x00\x00\x00\x00", 6);
  memcpy(p + 6, &target, 8);
  uint32_t eax;
  __asm__ volatile("pushq $0x23\n\t"
                   "pushq %1\n\t"
                   "lretq\n"
                   ".globl cpu32_probe_back\n"
                   "cpu32_probe_back:\n\t"
                   : "=a"(eax)
                   : "r"((uint64_t)(uintptr_t)page)
                   : "memory");
  return eax == 42 ? 0 : 1;
}
