// A program with nothing in it, linked with the build's own options, for the security review's
// own tests: as linked here it passes every rule; each variant leaves one flag out, or adds a
// writable and executable section, and must fail that rule.
#ifdef ZARPO_WX_SECTION
__asm__(".section .wx,\"wx\"\n.byte 0\n.text");
#endif

int main(void) { return 0; }
