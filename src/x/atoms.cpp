// Interning the manager's atoms.
#include "x/atoms.h"

Atom atoms[atom::count];

namespace {
#define TAVREL_ATOM_NAME(name) #name,
const char *const kAtomNames[atom::count] = {TAVREL_SUPPORTED_ATOMS(TAVREL_ATOM_NAME)
                                                 TAVREL_OTHER_ATOMS(TAVREL_ATOM_NAME)};
#undef TAVREL_ATOM_NAME
} // namespace

void intern_atoms(Display *d) {
    XInternAtoms(d, const_cast<char **>(kAtomNames), atom::count, False, atoms);
}

std::vector<long> supported_atoms() {
    return std::vector<long>(atoms, atoms + atom::kSupportedCount);
}
