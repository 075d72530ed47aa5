// A library that leaves a marker file when it is loaded, and does nothing else: tests point
// connection strings and queries at it to see whether anything loaded it.
#include <cstdio>
#include <cstdlib>

namespace {

struct Marker
{
    Marker()
    {
        if (const char* path = std::getenv("TALLYFRAME_MARKER_FILE")) {
            if (std::FILE* file = std::fopen(path, "w")) {
                std::fputs("loaded\n", file);
                std::fclose(file);
            }
        }
    }
};

const Marker marker;

} // namespace
