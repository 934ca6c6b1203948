/* A small program to sign: prints a line and exits with 7, so a test can see it still runs. */
#include <stdio.h>

int main(void) {
    puts("hello from a signed program");
    return 7;
}
