#pragma once
// The one-line message a call refuses with.
#include <string>

#include "app/io/errors.h"

// The message of the UserError that f throws, or "" when it throws none.
template <class F>
std::string ErrorOf(F f) {
    try {
        f();
    } catch (const lumets::UserError& e) {
        return e.what();
    }
    return "";
}
