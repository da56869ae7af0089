#include <cstdio>

int main() {
    std::fputs("usage: quobblefin --identity <path>\n", stderr);
    return 2;
}
