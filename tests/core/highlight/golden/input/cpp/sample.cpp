#include <stdio.h>
#include "my.h" // local
#define N 10
/* Block comment
   * over lines */
int main(int argc, char** argv) {
    char c = 'x', q = '\'';
    const char* s = "a \"quoted\" string";
    unsigned long n = 0x1Fu + 1'000 + 3.5e-2 + .5;
    EXEC SQL SELECT a FROM b;
    auto raw = R"(raw text)";
    return N + integer_count; // trailing
}
