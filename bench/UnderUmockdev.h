#pragma once

#include <cstdio>
#include <cstdlib>
#include <umockdev.h>
#include <unistd.h>
#include <vector>

// The benchmarks that read a mocked device run themselves again under umockdev-run, which
// preloads the library that redirects /sys and /dev; returns only once running there.
inline void runUnderUmockdev(int argc, char** argv) {
    if (umockdev_in_mock_environment())
        return;
    std::vector<char*> again{const_cast<char*>("umockdev-run"), const_cast<char*>("--")};
    for (int n = 0; n < argc; ++n)
        again.push_back(argv[n]);
    again.push_back(nullptr);
    ::execvp("umockdev-run", again.data());
    std::perror("umockdev-run");
    std::exit(1);
}
