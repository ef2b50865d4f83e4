/* Does this kernel run 32-bit code in a 64-bit process? Wine's WoW64 mode needs nothing else: it
 * far-returns into the 32-bit user code segment (0x23) and back. Exit 0 when it works; 1, with the
 * reason, when the switch faults (a kernel or hypervisor without 32-bit compatibility mode). */
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

static void faulted(int sig)
{
    (void)sig;
    static const char text[] = "a far return into the 32-bit code segment 0x23 faults\n";
    if (write(1, text, sizeof text - 1) < 0) { }
    _exit(1);
}

int main(void)
{
    /* The fault comes with the stack pointer on the small stack below: the handler gets its own. */
    static char handlerStack[65536];
    stack_t alt = {.ss_sp = handlerStack, .ss_size = sizeof handlerStack, .ss_flags = 0};
    sigaltstack(&alt, NULL);
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = faulted;
    action.sa_flags = SA_ONSTACK;
    sigaction(SIGSEGV, &action, NULL);
    sigaction(SIGBUS, &action, NULL);
    /* Code and stack below 4 GiB, where 32-bit code reaches them. */
    unsigned char *low = mmap(NULL, 4096, PROT_READ | PROT_WRITE | PROT_EXEC,
                              MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    if (low == MAP_FAILED) {
        puts("no memory below 4 GiB");
        return 1;
    }
    static const unsigned char code32[] = {0xB8, 42, 0, 0, 0, /* mov eax, 42 */
                                           0xCB};             /* retf: back to 64-bit code */
    memcpy(low, code32, sizeof code32);
    uint32_t result;
    /* The way back is a 32-bit far return frame (EIP, CS 0x33) on a stack below 4 GiB; the
     * program is linked without PIE, so the label lies below 4 GiB too. */
    __asm__ volatile("mov %%rsp, %%r12\n\t"
                     "lea 2048(%1), %%rsp\n\t"
                     "lea 1f(%%rip), %%rax\n\t"
                     "movl $0x33, -4(%%rsp)\n\t"
                     "movl %%eax, -8(%%rsp)\n\t"
                     "sub $8, %%rsp\n\t"
                     "pushq $0x23\n\t"
                     "pushq %1\n\t"
                     "lretq\n"
                     "1:\n\t"
                     "mov %%r12, %%rsp\n\t"
                     : "=a"(result)
                     : "r"(low)
                     : "r12", "memory");
    if (result != 42) {
        puts("32-bit code gave a wrong result");
        return 1;
    }
    puts("32-bit code runs");
    return 0;
}
