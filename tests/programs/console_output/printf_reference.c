/* The C conversions behind program.lst's lines, with the same values:
   cc printf_reference.c -o ref && ./ref > expected */
#include <math.h>
#include <stdio.h>

int main(void) {
    printf("%d %d %d %d\n", 0, -42, 2147483647, -2147483647 - 1);
    printf("%*d%*d%*d%*d|\n", 6, 42, -6, 42, 1, -42, 0, 7);
    printf("%c%*c%*c%s%s%*s%*s|\n", 'a', 3, 'b', -3, 'c', "TRUE", "FALSE", 6, "TRUE", -7, "FALSE");
    printf("%f %f %f %f %f %f %f %f %f\n", 3.5, -0.25, 1e20, 0.1, -0.0, 0.0000005, INFINITY, -INFINITY, NAN);
    printf("%*f%*f|%*.*f%*.*f%*.*f|%*.*f %*.*f %*.*f|%*.*f %*.*f\n", 14, 123456.789, -12, -2.5, 8, 2, 3.14159, 8, 0,
           3.14159, 1, -3, 3.14159, 0, 2, 0.125, 0, 2, 2.675, -9, 3, -0.0001, 0, 30, 0.1, 0, 1, 1e300);
    printf("nil $%x %*s [ 1..3, 7 ][  ][ -5..-1 ]\n", 0xfffffff0u, 6, "$ff");
    printf("Ol\xa0, a\x87\xc6o%*s%*s|\n", 5, "ab", -5, "cd");
    printf("x\ry\a\bz\n");
    return 0;
}
