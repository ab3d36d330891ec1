#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("tarnwick-cli V 6.0   Build 0.8");
            return 0;
        }
    }
    std::puts("Usage: tarnwick-cli [keywords] [FILE]");
    return 0;
}
