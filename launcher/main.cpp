// vestibule: starts the product's setup program named in ./setup.ini with a
// language switch for the user's interface language. It prints nothing; the
// exit status tells whether the setup started (see README).

#include <cstdlib>

#include "launcher/launcher.h"

int main(int argc, char** argv) {
    return vestibule::RunVestibule(argc, argv, [](const char* name) { return std::getenv(name); });
}
