// Pins the local time zone to UTC for one test (listing dates are local time).
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

namespace corvel::testing {

// Pins the local time zone to UTC for one test and restores it afterwards.
class UtcZone {
public:
    UtcZone() {
        const char* old = std::getenv("TZ");
        if (old) saved_ = old, hadZone_ = true;
        ::setenv("TZ", "UTC0", 1);
        ::tzset();
    }
    ~UtcZone() {
        if (hadZone_)
            ::setenv("TZ", saved_.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::string saved_;
    bool hadZone_ = false;
};

}  // namespace corvel::testing
