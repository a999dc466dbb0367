#pragma once
#include <stdexcept>
#include <string>

namespace lumets {

// A problem the user can act on (a missing file, a malformed flow, an unknown
// control): reported as one line on standard error with a non-zero exit status.
class UserError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Ctrl-C stopped a render after its current frame.
class Interrupted : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A newer request from the same client made this one pointless (a seek the
// user has already scrubbed past): the work stopped between frames.
class Superseded : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace lumets
