// The host's entry point: the arguments joined by single blanks, so that one
// argument " AGTHLTHCHK" gives the command text Windows would give.
#include "os/entry.h"

#include <string>

int main(int argc, char** argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) text += ' ';
        text += argv[i];
    }
    return quillet::programMain(text);
}
